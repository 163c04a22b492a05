#include "reports/Code39.h"

#include <zint.h>

#include <memory>

namespace qev::reports {

namespace {

bool inCode39Set(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9') return true;
    if (u >= u'A' && u <= u'Z') return true;
    return u == u' ' || u == u'-' || u == u'.' || u == u'$' || u == u'/' || u == u'+' || u == u'%';
}

struct SymbolDeleter {
    void operator()(zint_symbol* s) const { ZBarcode_Delete(s); }
};

bool moduleSet(const zint_symbol& s, int x) {
    return ((s.encoded_data[0][x >> 3] >> (x & 7)) & 1) != 0;
}

} // namespace

double Code39Pattern::units(double ratio) const {
    double u = 0;
    for (bool w : wide)
        u += w ? ratio : 1.0;
    return u;
}

bool code39Valid(const QString& data, QString* error) {
    QString why;
    if (data.isEmpty()) {
        why = QStringLiteral("El código de barras está vacío.");
    } else {
        for (QChar c : data) {
            if (!inCode39Set(c)) {
                why = QStringLiteral("El código de barras \"%1\" tiene el carácter \"%2\", que Code 39 no representa.")
                          .arg(data, QString(c));
                break;
            }
        }
    }
    if (error) *error = why;
    return why.isEmpty();
}

Code39Pattern code39Pattern(const QString& data) {
    Code39Pattern p;
    if (!code39Valid(data, &p.error)) return p;
    std::unique_ptr<zint_symbol, SymbolDeleter> symbol(ZBarcode_Create());
    if (!symbol) {
        p.error = QStringLiteral("No se pudo crear el código de barras.");
        return p;
    }
    symbol->symbology = BARCODE_CODE39;
    symbol->option_2 = 0; // no check character
    const QByteArray bytes = data.toLatin1();
    const int rc =
        ZBarcode_Encode(symbol.get(), reinterpret_cast<const unsigned char*>(bytes.constData()), bytes.size());
    if (rc >= ZINT_ERROR) {
        p.error =
            QStringLiteral("No se pudo codificar \"%1\" en Code 39: %2").arg(data, QString::fromLatin1(symbol->errtxt));
        return p;
    }
    // zint draws at 2:1, so every run of modules is one (narrow) or two (wide) long, alternating bar and space.
    const int width = symbol->width;
    int x = 0;
    bool bar = true;
    while (x < width) {
        int run = 0;
        while (x < width && moduleSet(*symbol, x) == bar) {
            ++run;
            ++x;
        }
        if (run < 1 || run > 2) {
            p.wide.clear();
            p.error = QStringLiteral("Patrón de barras inesperado para \"%1\".").arg(data);
            return p;
        }
        p.wide.push_back(run == 2);
        bar = !bar;
    }
    // Each character is nine elements and the characters are separated by one narrow space.
    const size_t characters = static_cast<size_t>(data.size()) + 2;
    if (p.wide.size() != characters * 10 - 1) {
        p.wide.clear();
        p.error = QStringLiteral("Patrón de barras inesperado para \"%1\".").arg(data);
    }
    return p;
}

void drawCode39(QPainter& painter, const QRectF& area, const Code39Pattern& pattern, double ratio) {
    if (!pattern.ok() || area.width() <= 0 || area.height() <= 0) return;
    const double total = pattern.units(ratio) + 2 * kCode39QuietUnits;
    const double narrow = area.width() / total;
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.fillRect(area, Qt::white);
    double x = area.left() + kCode39QuietUnits * narrow;
    bool bar = true;
    for (bool w : pattern.wide) {
        const double width = (w ? ratio : 1.0) * narrow;
        if (bar) painter.fillRect(QRectF(x, area.top(), width, area.height()), Qt::black);
        x += width;
        bar = !bar;
    }
    painter.restore();
}

} // namespace qev::reports
