#include "reports/Layout.h"

namespace qev::reports {

Element& Band::text(const QRectF& r, const QString& t, const QFont& f, Qt::Alignment a) {
    Element e;
    e.kind = ElementKind::Text;
    e.rect = r;
    e.text = t;
    e.font = f;
    e.align = a;
    elements.push_back(std::move(e));
    return elements.back();
}

Element& Band::memo(const QRectF& r, const QString& t, const QFont& f) {
    Element& e = text(r, t, f);
    e.wrap = true;
    return e;
}

Element& Band::box(const QRectF& r, double pen) {
    Element e;
    e.kind = ElementKind::Box;
    e.rect = r;
    e.penWidth = pen;
    elements.push_back(std::move(e));
    return elements.back();
}

Element& Band::line(const QPointF& from, const QPointF& to, double pen) {
    Element e;
    e.kind = ElementKind::Line;
    e.rect = QRectF(from, to);
    e.penWidth = pen;
    elements.push_back(std::move(e));
    return elements.back();
}

Element& Band::picture(const QRectF& r, const QImage& image, bool keepAspect) {
    Element e;
    e.kind = ElementKind::Picture;
    e.rect = r;
    e.image = image;
    e.keepAspect = keepAspect;
    elements.push_back(std::move(e));
    return elements.back();
}

Element& Band::barcode(const QRectF& r, const QString& data, double ratio) {
    Element e;
    e.kind = ElementKind::Barcode;
    e.rect = r;
    e.text = data;
    e.ratio = ratio;
    elements.push_back(std::move(e));
    return elements.back();
}

Band& Layout::add(BandKind kind, double height) {
    Band b;
    b.kind = kind;
    b.height = height;
    bands.push_back(std::move(b));
    return bands.back();
}

double Layout::contentWidth() const {
    return page.paintRect(QPageLayout::Millimeter).width();
}

double Layout::contentHeight() const {
    return page.paintRect(QPageLayout::Millimeter).height();
}

const Element* Layout::find(const QString& name) const {
    for (const Band& b : bands) {
        for (const Element& e : b.elements) {
            if (e.name == name) return &e;
        }
    }
    return nullptr;
}

QFont font(const QString& family, double points, bool bold, bool underline) {
    QFont f(family);
    f.setPointSizeF(points);
    f.setBold(bold);
    f.setUnderline(underline);
    // Metrics must not depend on the device's hinting, so a preview and a PDF break lines alike.
    f.setHintingPreference(QFont::PreferNoHinting);
    f.setStyleStrategy(QFont::PreferOutline);
    return f;
}

QFont arial(double points, bool bold, bool underline) {
    return font(QStringLiteral("Arial"), points, bold, underline);
}

QFont times(double points, bool bold) {
    return font(QStringLiteral("Times New Roman"), points, bold);
}

QFont courier(double points, bool bold, bool underline) {
    return font(QStringLiteral("Courier New"), points, bold, underline);
}

} // namespace qev::reports
