#include "reports/GridReport.h"

#include <algorithm>

namespace qev::reports {

namespace {

// The fixed margins of grid printing: 30 and 40 points on the right and at the bottom.
QPageLayout gridPage() {
    return QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                       QMarginsF(10, 10, 30 * 25.4 / 72, 40 * 25.4 / 72), QPageLayout::Millimeter);
}

void pageNumbers(Layout& l) {
    Band& f = l.add(BandKind::PageFooter, 6);
    f.text(QRectF(0, 1.5, l.contentWidth(), 4), QStringLiteral("Página {pagina} de {paginas}"), arial(7),
           Qt::AlignRight | Qt::AlignTop);
}

} // namespace

Layout gridLayout(const QString& header, const QAbstractItemModel& model, std::vector<GridColumn> columns) {
    Layout l;
    l.title = header;
    l.page = gridPage();
    l.maxPages = kGridMaxPages;
    l.frameDetails = true;
    if (columns.empty()) {
        for (int c = 0; c < model.columnCount(); ++c)
            columns.push_back({model.headerData(c, Qt::Horizontal).toString(), c});
    }
    const double w = l.contentWidth();
    Band& h = l.add(BandKind::PageHeader, 8);
    h.text(QRectF(0, 0, w, 6), header, arial(8, true), Qt::AlignHCenter | Qt::AlignTop).name = QStringLiteral("header");
    pageNumbers(l);
    if (columns.empty()) return l;

    // Widths in characters: the longest of the title and the first rows' texts, at least 4.
    const int rows = model.rowCount();
    std::vector<double> chars(columns.size(), 4);
    for (size_t c = 0; c < columns.size(); ++c) {
        chars[c] = std::max<double>(chars[c], static_cast<double>(columns[c].title.size()));
        for (int r = 0; r < std::min(rows, 500); ++r) {
            const QString t = model.data(model.index(r, columns[c].modelColumn)).toString();
            chars[c] = std::max<double>(chars[c], std::min<double>(60, static_cast<double>(t.size())));
        }
    }
    double total = 0;
    for (double c : chars)
        total += c;
    std::vector<double> x(columns.size() + 1, 0);
    for (size_t c = 0; c < columns.size(); ++c)
        x[c + 1] = x[c] + w * chars[c] / total;
    for (size_t c = 1; c < columns.size(); ++c)
        l.columnLines.push_back(x[c]);

    Band& titles = l.add(BandKind::ColumnHeader, 5);
    for (size_t c = 0; c < columns.size(); ++c)
        titles.memo(QRectF(x[c] + 1, 0.8, x[c + 1] - x[c] - 2, 4), columns[c].title, arial(8, true));
    titles.line(QPointF(0, 5), QPointF(w, 5)).growWithBand = false;
    for (int r = 0; r < rows; ++r) {
        Band& b = l.add(BandKind::Detail, 4.2);
        for (size_t c = 0; c < columns.size(); ++c) {
            const QString t = model.data(model.index(r, columns[c].modelColumn)).toString();
            b.memo(QRectF(x[c] + 1, 0.5, x[c + 1] - x[c] - 2, 3.7), t, arial(8));
        }
    }
    return l;
}

Layout textListLayout(const QString& title, const QString& text) {
    Layout l;
    l.title = title;
    l.page = gridPage();
    l.maxPages = kGridMaxPages;
    const double w = l.contentWidth();
    Band& h = l.add(BandKind::PageHeader, 8);
    h.text(QRectF(0, 0, w, 6), title, arial(8, true), Qt::AlignHCenter | Qt::AlignTop);
    pageNumbers(l);
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        Band& b = l.add(BandKind::Detail, 4.2);
        b.memo(QRectF(0, 0.5, w, 3.7), line, arial(8));
    }
    return l;
}

} // namespace qev::reports
