#pragma once
// Feeds arbitrary bytes to the reading of received mail: the header, the parts and their attachment names, the
// decoding of each attachment and of a single-part body, the file name made safe, and the address check. A safe
// name with a folder separator or a ".." name is a fault. Used by the fuzzer and by the regression test.

#include "exchange/mail/MimeRead.h"
#include "exchange/mail/ValidEmail.h"

#include <cstdint>
#include <cstdlib>

namespace qev::fuzz {

// One of the other readings of the message: its header, its first attachment alone, all its attachments, its
// single-part body.
inline void exerciseMimeReading(const QByteArray& raw, size_t which) {
    switch (which) {
    case 0: {
        (void)readMimeHeader(raw);
        auto bytes = mimeAttachmentBytes(raw, 1);
        if (!bytes && bytes.error().empty()) std::abort();
        break;
    }
    case 1: {
        auto all = mimeAttachments(raw);
        if (!all && all.error().empty()) std::abort();
        break;
    }
    default: {
        auto body = mimeSingleBody(raw);
        if (!body && body.error().empty()) std::abort();
    }
    }
}

inline QByteArray exerciseMimeMessage(const uint8_t* data, size_t size) {
    QByteArray raw(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const MimeMessage m = readMimeMessage(raw);
    (void)EsEmailValido(raw.left(320));
    (void)EsEmailValido(m.header.from);
    int expected = 0;
    for (const MimeAttachment& a : m.attachments) {
        if (a.index != ++expected) std::abort();
        const QString safe = safeAttachmentName(a.fileName);
        if (safe.contains(QLatin1Char('/')) || safe.contains(QLatin1Char('\\')) || safe == QLatin1String(".."))
            std::abort();
    }
    return raw;
}

// The fuzzer's entry: every reading parses the whole message again, so each input takes one reading, chosen by its
// length: the whole message with its names and addresses, or one of the other three. That is one parse an input,
// and the mutations that change the length visit every reading.
inline void exerciseMimeRead(const uint8_t* data, size_t size) {
    if (size % 4 == 0) {
        (void)exerciseMimeMessage(data, size);
        return;
    }
    const QByteArray raw(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    exerciseMimeReading(raw, size % 4 - 1);
}

// The regression test's entry: every reading of each saved input.
inline void exerciseMimeReadEveryWay(const uint8_t* data, size_t size) {
    const QByteArray raw = exerciseMimeMessage(data, size);
    for (size_t which = 0; which < 3; ++which)
        exerciseMimeReading(raw, which);
}

} // namespace qev::fuzz
