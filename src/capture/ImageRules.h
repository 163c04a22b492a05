#pragma once
// The forms in which the central office accepts a ten-print card image and a scanned documentation file. Each check
// reads the first page's properties and shows at most one message (the last failing rule's), captioned "Error".
#include <QString>

namespace qev {

class Prompter;

// False without a message when the file does not exist.
bool ValidarImagenHuella(const QString& file, Prompter& prompter);
bool ValidarImagenDocumento(const QString& file, Prompter& prompter);

} // namespace qev
