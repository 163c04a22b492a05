#pragma once
// Feeds arbitrary text to the request data text splitter and checks what it promises: the items joined back,
// each followed by "|", are the text up to its last "|"; every item's name finds the value of its first item;
// a name no item has finds nothing. Used by the fuzzer and by the regression test over saved inputs.

#include "requests/RequestDataText.h"

#include <cstdint>
#include <cstdlib>

namespace qev::fuzz {

inline void exerciseRequestDataText(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const RequestDataText d(text);
    QString joined;
    for (const QString& item : d.items())
        joined += item + QLatin1Char('|');
    if (joined != text.left(text.lastIndexOf(QLatin1Char('|')) + 1)) std::abort();
    if (d.hasData() != (d.size() >= 2)) std::abort();
    for (int i = 0; i < d.size(); ++i) {
        const QString& item = d.items().at(i);
        const qsizetype eq = item.indexOf(QLatin1Char('='));
        if (eq < 0) continue;
        const QString name = item.left(eq);
        // The first item carrying this name decides.
        int first = 0;
        while (d.items().at(first).indexOf(QLatin1Char('=')) != eq || !d.items().at(first).startsWith(name))
            ++first;
        const auto v = d.value(name);
        if (!v || *v != d.items().at(first).mid(eq + 1) || d.text(name) != *v) std::abort();
    }
    // "|" cannot be inside a name, so this one is never found.
    if (d.value(QStringLiteral("no|name")) || !d.text(QStringLiteral("no|name")).isEmpty()) std::abort();
}

} // namespace qev::fuzz
