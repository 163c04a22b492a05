#pragma once
// The address check used before a message is sent to an address typed by an operator: a local part of dot-separated
// atoms or quoted strings, an at sign, and a domain of at least two labels, each starting with a letter, holding
// letters, digits and inner hyphens.
#include <QByteArray>
#include <QString>

namespace qev {

// `text` is taken byte by byte in Windows-1252: letters and digits are ASCII; bytes 128-255 are atom characters.
bool EsEmailValido(const QString& text);
bool EsEmailValido(const QByteArray& bytes);

} // namespace qev
