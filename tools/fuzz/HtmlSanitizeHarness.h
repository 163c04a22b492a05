#pragma once
// Feeds arbitrary text to the reduction of received HTML to safe markup, directly and as the HTML part of a
// message. What comes out may only hold tags of the form "<name>" or "</name>" without attributes; any other "<"
// (a script, an image, an attribute that survived) is a fault. Used by the fuzzer and by the regression test.
#include "exchange/MailDesk.h"

#include <cstdint>
#include <cstdlib>

namespace qev::fuzz {

inline void checkSafe(const QString& out) {
    for (qsizetype i = out.indexOf(QLatin1Char('<')); i >= 0; i = out.indexOf(QLatin1Char('<'), i + 1)) {
        qsizetype n = i + 1;
        if (n < out.size() && out.at(n) == QLatin1Char('/')) ++n;
        const qsizetype name = n;
        while (n < out.size() && ((out.at(n) >= QLatin1Char('a') && out.at(n) <= QLatin1Char('z')) ||
                                  (out.at(n) >= QLatin1Char('0') && out.at(n) <= QLatin1Char('9'))))
            ++n;
        if (n == name || n >= out.size() || out.at(n) != QLatin1Char('>')) std::abort();
        const QString tag = out.mid(name, n - name);
        if (tag == QLatin1String("script") || tag == QLatin1String("img") || tag == QLatin1String("a") ||
            tag == QLatin1String("style") || tag == QLatin1String("iframe"))
            std::abort();
    }
}

inline void exerciseHtmlSanitize(const uint8_t* data, size_t size) {
    const QString html = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    checkSafe(sanitizeHtml(html));
    MimeMessage m;
    m.htmlParts = {html};
    const QString page = messageViewHtml(m);
    // The page's own frame is fixed text around the sanitised part.
    checkSafe(page.mid(page.indexOf(QStringLiteral("<body>"))));
}

} // namespace qev::fuzz
