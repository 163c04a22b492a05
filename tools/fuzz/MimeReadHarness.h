#pragma once
// Feeds arbitrary bytes to the reading of received mail: the header, the parts and their attachment names, the
// decoding of each attachment and of a single-part body, the file name made safe, and the address check. A safe
// name with a folder separator or a ".." name is a fault. Used by the fuzzer and by the regression test.

#include "exchange/mail/MimeRead.h"
#include "exchange/mail/ValidEmail.h"

#include <cstdint>
#include <cstdlib>

namespace qev::fuzz {

inline void exerciseMimeRead(const uint8_t* data, size_t size) {
    const QByteArray raw(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    (void)readMimeHeader(raw);
    const MimeMessage m = readMimeMessage(raw);
    (void)EsEmailValido(raw.left(320));
    (void)EsEmailValido(m.header.from);
    int expected = 0;
    for (const MimeAttachment& a : m.attachments) {
        if (a.index != ++expected) std::abort();
        const QString safe = safeAttachmentName(a.fileName);
        if (safe.contains(QLatin1Char('/')) || safe.contains(QLatin1Char('\\')) || safe == QLatin1String(".."))
            std::abort();
        auto bytes = mimeAttachmentBytes(raw, a.index);
        if (!bytes && bytes.error().empty()) std::abort();
        // Each attachment is decoded from a fresh reading of the message: two show that it works, more only cost.
        if (a.index >= 2) break;
    }
    auto body = mimeSingleBody(raw);
    if (!body && body.error().empty()) std::abort();
}

} // namespace qev::fuzz
