#pragma once
// A banded page layout: page settings, and bands of labels, data fields, memo texts, pictures, ruled boxes, lines
// and Code 39 barcodes. Positions and sizes are millimetres from the band's top left corner inside the page
// margins; fonts are in points. A report builds one Layout from its data and hands it to the renderer.
#include <QFont>
#include <QImage>
#include <QPageLayout>
#include <QRectF>
#include <QString>

#include <vector>

namespace qev::reports {

// Millimetres of a length given in dots of the 96-dot design grid.
constexpr double dots(double n) {
    return n * 25.4 / 96.0;
}

enum class ElementKind { Text, Picture, Box, Line, Barcode };

struct Element {
    ElementKind kind = ElementKind::Text;
    QString name; // the report's name for the element ("qrlbApe"), for callers and tests
    QRectF rect;  // mm, relative to the band
    QString text; // text, or the barcode's data
    QFont font;
    Qt::Alignment align = Qt::AlignLeft | Qt::AlignTop;
    // Text: wrap at word boundaries inside the width; the band grows to hold every line.
    bool wrap = false;
    // Text: starts `followGap` mm after the end of the text of element `follow` (an index in the same band) on
    // that element's line, keeping the right edge of `rect`.
    int follow = -1;
    double followGap = 0;
    // Box, Line, Text: the bottom edge moves down with the band when the band grows.
    bool growWithBand = false;
    double penWidth = 0.3; // mm, boxes and lines
    // Picture: drawn stretched to the rect, or keeping its proportions centred in it.
    QImage image;
    bool keepAspect = false;
    // Barcode: wide-to-narrow ratio, and the text under the bars (empty for none).
    double ratio = 2.5;
};

enum class BandKind {
    PageHeader,   // top of every page
    ColumnHeader, // after the page header on every page that holds detail bands
    Title,        // once, in order with the detail bands
    Detail,       // once per data row
    PageFooter,   // bottom of every page; "{pagina}" and "{paginas}" in its texts become the page numbers
};

struct Band {
    BandKind kind = BandKind::Title;
    double height = 0; // mm, before growing
    std::vector<Element> elements;
    // A detail band that must not start on a page whose remaining space is smaller than this (mm).
    bool forceNewPage = false;

    Element& text(const QRectF& r, const QString& t, const QFont& f, Qt::Alignment a = Qt::AlignLeft | Qt::AlignTop);
    Element& memo(const QRectF& r, const QString& t, const QFont& f);
    Element& box(const QRectF& r, double pen = 0.3);
    Element& line(const QPointF& from, const QPointF& to, double pen = 0.3);
    Element& picture(const QRectF& r, const QImage& image, bool keepAspect = false);
    Element& barcode(const QRectF& r, const QString& data, double ratio = 2.5);
    int lastIndex() const { return static_cast<int>(elements.size()) - 1; }
};

struct Layout {
    QString title; // document title (printer job, PDF title)
    QPageLayout page{QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(10, 10, 10, 10),
                     QPageLayout::Millimeter};
    std::vector<Band> bands;
    // A frame around the column header and detail bands of each page, and lines between the columns at these
    // x positions (mm).
    bool frameDetails = false;
    std::vector<double> columnLines;
    int maxPages = 0; // 0 for no limit

    Band& add(BandKind kind, double height);
    // Width and height of the printable area in mm.
    double contentWidth() const;
    double contentHeight() const;
    // The first element with this name, or null.
    const Element* find(const QString& name) const;
};

// A font by family, points and style; underline and bold as flags.
QFont font(const QString& family, double points, bool bold = false, bool underline = false);
QFont arial(double points, bool bold = false, bool underline = false);
QFont times(double points, bool bold = false);
QFont courier(double points, bool bold = false, bool underline = false);

} // namespace qev::reports
