#pragma once
// What every user of vmime here shares: the platform handler, set once, with UTF-8 as the local charset whatever
// the process locale (under the C locale vmime would otherwise encode "José" as question marks), and the decoding
// of header texts to QString.
#include <QString>

#include <vmime/vmime.hpp>

namespace qev::mail {

// Installs the platform handler on first use; safe from any thread.
void ensureVmime();

// A header text decoded: encoded words converted from their charset; plain words holding 8-bit bytes (raw UTF-8
// headers or careless senders) taken as UTF-8 when valid, else as Windows-1252.
QString decodeText(const vmime::text& text);
// A vmime string known to be UTF-8.
inline QString fromUtf8(const vmime::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}
inline vmime::string toUtf8(const QString& s) {
    const QByteArray b = s.toUtf8();
    return vmime::string(b.constData(), static_cast<size_t>(b.size()));
}
// A text for a header: one UTF-8 word, which vmime encodes as RFC 2047 words only when needed.
vmime::text utf8Text(const QString& s);
// Bytes that are valid UTF-8 as text, else the Windows-1252 reading of them.
QString bytesAsText(const vmime::string& bytes);
// Whether the charset converter can open this charset. vmime's converter leaks the side it opened when the other
// side cannot be opened, so a charset a sender made up is read as raw bytes instead of being handed to it.
bool charsetConvertible(const vmime::charset& cs);

} // namespace qev::mail
