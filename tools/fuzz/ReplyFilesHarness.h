#pragma once
// Feeds arbitrary bytes to the readers of the central office's reply data file and of its state and result lists,
// and checks what they promise: keys in lower case without surrounding blanks, values of at most 2047 characters,
// a reply that names a request only with numbers above 0; lines without breaks, one per break; list lines that
// name a request only with a number above 0 and whose parts hold no separator they were cut at. Used by the
// fuzzers and by the regression test over saved inputs.
#include "exchange/ReplyFiles.h"

#include <cstdint>
#include <cstdlib>

namespace qev::fuzz {

inline void exerciseRespDat(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    for (const auto& [key, value] : readProfileSection(bytes, QStringLiteral("DATA"))) {
        if (key.isEmpty() || key != key.trimmed() || key != key.toLower()) std::abort();
        if (value.size() > 2047) std::abort();
    }
    const RespDat r = readRespDat(bytes);
    if (r.namesRequest() && (*r.c_ped <= 0 || *r.c_reg <= 0)) std::abort();
    for (const QString* t : {&r.c_est, &r.x_obs, &r.n_cert, &r.c_rechazo, &r.c_res})
        if (t->size() > 2047) std::abort();
}

inline void exerciseStateLists(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QStringList lines = DividirLineas(bytes);
    qsizetype breaks = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n' || bytes[i] == '\r') ++breaks;
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    }
    const bool tail = !bytes.isEmpty() && bytes.back() != '\n' && bytes.back() != '\r';
    if (lines.size() != breaks + (tail ? 1 : 0)) std::abort();
    for (const QString& line : lines) {
        if (line.contains(QLatin1Char('\n')) || line.contains(QLatin1Char('\r'))) std::abort();
        if (const auto s = parseStateLine(line)) {
            if (s->pedido <= 0 || s->estado.contains(QLatin1Char('|')) || !s->resultado.isEmpty()) std::abort();
        }
        if (const auto r = parseResultLine(line)) {
            if (r->pedido <= 0 || r->estado.contains(QLatin1Char('|')) || r->expediente.contains(QLatin1Char(',')))
                std::abort();
        }
    }
    (void)classifyList(lines);
}

} // namespace qev::fuzz
