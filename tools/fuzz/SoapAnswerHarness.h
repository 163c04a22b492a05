#pragma once
// Feeds arbitrary bytes to the SOAP answer parser and walks whatever tree it gives through every accessor. A tree
// deeper than the depth limit, or an error without text, is a fault. Used by the fuzzer and by the regression test
// over saved inputs.

#include "exchange/soap/SoapAnswer.h"

#include <cstdint>
#include <cstdlib>

namespace qev::fuzz {

inline constexpr int kSoapFuzzDepth = 24;

inline void walkSoapElement(const SoapElement& e, int depth) {
    if (depth > kSoapFuzzDepth) std::abort();
    (void)e.toInt();
    (void)e.toLong();
    (void)e.toBool();
    (void)e.toDateTime();
    (void)e.toBase64();
    for (const SoapElement& c : e.children) {
        if (e.child(c.name) == nullptr || e.childrenNamed(c.name).empty()) std::abort();
        (void)e.childText(c.name);
        (void)e.childInt(c.name);
        (void)e.childLong(c.name);
        walkSoapElement(c, depth + 1);
    }
}

inline void exerciseSoapAnswer(const uint8_t* data, size_t size) {
    const QByteArray body(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    SoapParseLimits limits;
    limits.maxDepth = kSoapFuzzDepth;
    limits.maxElements = 20000;
    auto answer = parseSoapAnswer(body, limits);
    if (!answer) {
        if (answer.error().empty()) std::abort();
        return;
    }
    if (answer->fault) {
        if (answer->fault->detail) walkSoapElement(*answer->fault->detail, 4);
        return;
    }
    // The response element sits at depth 3: envelope, body, response.
    walkSoapElement(answer->response, 3);
}

} // namespace qev::fuzz
