#pragma once
// The images of the demo office's requests: ten-print cards and scanned documents in the formats the central
// office accepts, so that every demo request can be sent as it stands.
#include <QString>

namespace qev::tools {

bool writeDemoImages(const QString& folder, QString* error);

} // namespace qev::tools
