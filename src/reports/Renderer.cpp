#include "reports/Renderer.h"

#include "reports/Code39.h"

#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace qev::reports {

namespace {

QString footerText(QString text, int page, int pages) {
    text.replace(QLatin1String("{pagina}"), QString::number(page));
    text.replace(QLatin1String("{paginas}"), QString::number(pages));
    return text;
}

} // namespace

// A text laid out in device pixels, its lines placed from y = 0. Equal texts in the same font, width and first-line
// offset lay out alike, so the labels every page repeats are laid out once.
struct Renderer::TextBlock {
    std::unique_ptr<QTextLayout> layout;
    std::vector<double> tops; // mm from the top of the element
    std::vector<double> bottoms;
    double height = 0;      // mm of all lines
    double lastWidth = 0;   // mm from the element's left edge to the end of the last line's text
    double firstOffset = 0; // mm the first line starts right of the left edge
};

struct Renderer::Geometry {
    double height = 0;
    std::vector<QRectF> rects;                            // final element rects (mm, band-relative)
    std::vector<std::shared_ptr<const TextBlock>> blocks; // for text elements, by element index
};

Renderer::Renderer(QPagedPaintDevice& device)
    : m_adapter(std::make_unique<PagedDeviceTarget>(device)), m_target(*m_adapter), m_device(device) {}

Renderer::Renderer(PageTarget& target) : m_target(target), m_device(target.paintDevice()) {}

Renderer::~Renderer() {
    if (m_painter && m_painter->isActive()) m_painter->end();
}

std::shared_ptr<const Renderer::TextBlock> Renderer::layoutText(const QString& source, const QFont& font, bool wrap,
                                                                double width, double firstOffset) const {
    const QString key = source + QChar(0x1f) + font.key() + QChar(0x1f) + QString::number(width, 'f', 3) + QChar(0x1f) +
                        QString::number(firstOffset, 'f', 3) + (wrap ? QLatin1Char('w') : QLatin1Char('n'));
    if (auto it = m_textCache.find(key); it != m_textCache.end()) return it->second;
    auto b = std::make_shared<TextBlock>();
    QString text = source;
    text.replace(QLatin1Char('\n'), QChar::LineSeparator);
    b->layout = std::make_unique<QTextLayout>(text, font, &m_device);
    QTextOption opt;
    opt.setWrapMode(wrap ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap);
    // The font's own advances, not ones rounded to whole device pixels: lines measure on paper what they measure
    // in the embedded font.
    opt.setUseDesignMetrics(true);
    b->layout->setTextOption(opt);
    b->layout->setCacheEnabled(true);
    const double widthPx = px(std::max(1.0, width));
    double y = 0;
    bool first = true;
    b->layout->beginLayout();
    for (;;) {
        QTextLine line = b->layout->createLine();
        if (!line.isValid()) break;
        double offset = first ? firstOffset : 0;
        if (first && wrap && firstOffset > 0 && widthPx - px(firstOffset) < px(10)) {
            // No room left on the followed line: start on the next one.
            offset = 0;
            y += QFontMetricsF(font, &m_device).lineSpacing();
            firstOffset = 0;
        }
        line.setLineWidth(wrap ? std::max(1.0, widthPx - px(offset)) : 1e7);
        line.setPosition(QPointF(px(offset), y));
        b->tops.push_back(y / m_scale);
        y += line.height();
        b->bottoms.push_back(y / m_scale);
        first = false;
    }
    b->layout->endLayout();
    b->firstOffset = firstOffset;
    b->height = y / m_scale;
    if (b->layout->lineCount() > 0) {
        const QTextLine last = b->layout->lineAt(b->layout->lineCount() - 1);
        b->lastWidth = (last.naturalTextWidth() + (b->layout->lineCount() == 1 ? px(firstOffset) : 0)) / m_scale;
    }
    // Data texts differ from page to page: the cache is bounded.
    if (m_textCache.size() > 4000) m_textCache.clear();
    m_textCache.emplace(key, b);
    return b;
}

Renderer::Geometry Renderer::measure(const Band& band, const QString& footerPage) const {
    Geometry g;
    const size_t n = band.elements.size();
    g.rects.resize(n);
    g.blocks.resize(n);
    double grow = 0;
    for (size_t i = 0; i < n; ++i) {
        const Element& e = band.elements[i];
        QRectF r = e.rect;
        if (e.kind == ElementKind::Text) {
            double firstOffset = 0;
            if (e.follow >= 0 && static_cast<size_t>(e.follow) < i && g.blocks[static_cast<size_t>(e.follow)]) {
                const QRectF& base = g.rects[static_cast<size_t>(e.follow)];
                const TextBlock& bb = *g.blocks[static_cast<size_t>(e.follow)];
                const double lastTop = bb.tops.empty() ? 0 : bb.tops.back();
                const double start = base.left() + bb.lastWidth + e.followGap;
                r = QRectF(base.left(), base.top() + lastTop, e.rect.right() - base.left(), e.rect.height());
                firstOffset = std::max(0.0, start - base.left());
            }
            g.blocks[i] = layoutText(footerPage.isNull() ? e.text : footerPage, e.font, e.wrap, r.width(), firstOffset);
            const TextBlock& b = *g.blocks[i];
            if (e.wrap && b.height > r.height()) {
                // Keep the space the element had below it in the band.
                const double required = r.top() + b.height + std::max(0.0, band.height - e.rect.bottom());
                grow = std::max(grow, required - band.height);
                r.setHeight(b.height);
            }
        }
        g.rects[i] = r;
    }
    g.height = band.height + std::max(0.0, grow);
    const double dy = g.height - band.height;
    if (dy > 0) {
        for (size_t i = 0; i < n; ++i) {
            if (band.elements[i].growWithBand) g.rects[i].setBottom(g.rects[i].bottom() + dy);
        }
    }
    return g;
}

bool Renderer::startPage(const Layout& layout) {
    if (!m_painter) {
        m_target.setPageLayout(layout.page);
        m_painter = std::make_unique<QPainter>();
        if (!m_painter->begin(&m_device)) {
            m_result.error = QStringLiteral("No se pudo comenzar la impresión.");
            m_failed = true;
            return false;
        }
        m_scale = m_device.logicalDpiX() / 25.4;
    } else {
        m_target.setPageLayout(layout.page);
        if (!m_target.newPage()) {
            m_result.error = QStringLiteral("No se pudo agregar una página.");
            m_failed = true;
            return false;
        }
    }
    ++m_pages;
    return true;
}

void Renderer::paintBand(const Band& band, const Geometry& g, double pageY, double sliceTop, double sliceHeight,
                         int page, int pages) {
    QPainter& p = *m_painter;
    p.save();
    // Only a band split over pages is clipped: a whole band keeps the full width of its edge lines.
    const bool whole = sliceTop <= 1e-6 && sliceHeight >= g.height - 1e-6;
    if (!whole) p.setClipRect(QRectF(px(-5), px(pageY), px(1e4), px(sliceHeight)));
    p.translate(0, px(pageY - sliceTop));
    for (size_t i = 0; i < band.elements.size(); ++i) {
        const Element& e = band.elements[i];
        const QRectF& r = g.rects[i];
        const QRectF d(px(r.left()), px(r.top()), px(r.width()), px(r.height()));
        switch (e.kind) {
        case ElementKind::Text: {
            const TextBlock* b = g.blocks[i].get();
            Geometry fg;
            if (band.kind == BandKind::PageFooter && e.text.contains(QLatin1Char('{'))) {
                Band one;
                one.height = band.height;
                one.elements.push_back(e);
                one.elements.back().follow = -1;
                fg = measure(one, footerText(e.text, page, pages));
                b = fg.blocks[0].get();
            }
            if (!b || !b->layout) break;
            p.setPen(Qt::black);
            double vy = 0;
            if (e.align & Qt::AlignVCenter) vy = std::max(0.0, (r.height() - b->height) / 2);
            if (e.align & Qt::AlignBottom) vy = std::max(0.0, r.height() - b->height);
            for (int l = 0; l < b->layout->lineCount(); ++l) {
                const QTextLine line = b->layout->lineAt(l);
                // Lines of other slices are not drawn at all: clipped text would still be in the page's text.
                const double top = r.top() + vy + b->tops[static_cast<size_t>(l)];
                const double bottom = r.top() + vy + b->bottoms[static_cast<size_t>(l)];
                if (bottom <= sliceTop + 1e-6 || top >= sliceTop + sliceHeight - 1e-6) continue;
                double hx = 0;
                const double free = d.width() - line.naturalTextWidth() - line.x();
                if (e.align & Qt::AlignHCenter) hx = free / 2;
                if (e.align & Qt::AlignRight) hx = free;
                line.draw(&p, QPointF(d.left() + hx, d.top() + px(vy)));
            }
            break;
        }
        case ElementKind::Picture: {
            if (e.image.isNull()) break;
            QRectF target = d;
            if (e.keepAspect) {
                const QSizeF s = QSizeF(e.image.size()).scaled(d.size(), Qt::KeepAspectRatio);
                target = QRectF(d.left() + (d.width() - s.width()) / 2, d.top() + (d.height() - s.height()) / 2,
                                s.width(), s.height());
            }
            p.setRenderHint(QPainter::SmoothPixmapTransform, true);
            p.drawImage(target, e.image);
            break;
        }
        case ElementKind::Box: {
            QPen pen(Qt::black, px(e.penWidth));
            pen.setJoinStyle(Qt::MiterJoin);
            p.setPen(pen);
            p.setBrush(Qt::NoBrush);
            p.drawRect(d);
            break;
        }
        case ElementKind::Line: {
            p.setPen(QPen(Qt::black, px(e.penWidth)));
            p.drawLine(d.topLeft(), d.bottomRight());
            break;
        }
        case ElementKind::Barcode: {
            const Code39Pattern pattern = code39Pattern(e.text);
            if (pattern.ok()) {
                drawCode39(p, d, pattern, e.ratio);
            } else {
                // An empty ruled box: never bars that would read as other data.
                p.setPen(QPen(Qt::black, px(0.2)));
                p.setBrush(Qt::NoBrush);
                p.drawRect(d);
                QFont f = arial(7);
                p.setFont(QFont(f, &m_device));
                p.drawText(d, Qt::AlignCenter | Qt::TextWordWrap, QStringLiteral("Código de barras no disponible"));
                if (!m_result.warnings.contains(pattern.error)) m_result.warnings << pattern.error;
            }
            break;
        }
        }
    }
    p.restore();
}

struct Renderer::Placement {
    const Band* band = nullptr;
    size_t geometry = 0;
    double y = 0;
    double sliceTop = 0;
    double sliceHeight = 0;
};

void Renderer::add(const Layout& layout) {
    if (m_failed) return;
    // The scale must be known before measuring, so the first page is started first.
    if (!startPage(layout)) return;
    const double width = layout.contentWidth();
    const double height = layout.contentHeight();

    std::vector<const Band*> headers, columnHeaders, footers, body;
    for (const Band& b : layout.bands) {
        switch (b.kind) {
        case BandKind::PageHeader:
            headers.push_back(&b);
            break;
        case BandKind::ColumnHeader:
            columnHeaders.push_back(&b);
            break;
        case BandKind::PageFooter:
            footers.push_back(&b);
            break;
        default:
            body.push_back(&b);
        }
    }
    std::vector<Geometry> geometries;
    auto geometryOf = [&](const Band* b) {
        geometries.push_back(measure(*b));
        return geometries.size() - 1;
    };
    std::vector<size_t> headerG, columnG, footerG;
    double headerH = 0, columnH = 0, footerH = 0;
    for (const Band* b : headers) {
        headerG.push_back(geometryOf(b));
        headerH += geometries.back().height;
    }
    for (const Band* b : columnHeaders) {
        columnG.push_back(geometryOf(b));
        columnH += geometries.back().height;
    }
    for (const Band* b : footers) {
        footerG.push_back(geometryOf(b));
        footerH += geometries.back().height;
    }
    const double bottom = height - footerH;

    struct PageFrame {
        double top = -1;
        double bottom = -1;
    };
    std::vector<std::vector<Placement>> pages(1);
    std::vector<PageFrame> frames(1);
    double y = headerH;
    bool columnsPlaced = false;
    bool truncated = false;
    auto newPage = [&]() -> bool {
        if (layout.maxPages > 0 && static_cast<int>(pages.size()) >= layout.maxPages) {
            truncated = true;
            return false;
        }
        pages.emplace_back();
        frames.emplace_back();
        y = headerH;
        columnsPlaced = false;
        return true;
    };
    auto placeColumns = [&]() {
        if (columnsPlaced || columnG.empty()) return;
        if (frames.back().top < 0) frames.back().top = y;
        for (size_t k = 0; k < columnHeaders.size(); ++k) {
            const double h = geometries[columnG[k]].height;
            pages.back().push_back({columnHeaders[k], columnG[k], y, 0, h});
            y += h;
        }
        frames.back().bottom = y;
        columnsPlaced = true;
    };
    const double available = bottom - headerH;
    for (const Band* b : body) {
        if (truncated) break;
        const size_t gi = geometryOf(b);
        const Geometry& g = geometries[gi];
        const bool detail = b->kind == BandKind::Detail;
        const double before = detail && !columnsPlaced ? columnH : 0;
        const bool pageHasBody = y > headerH + 1e-6;
        if (pageHasBody && (y + before + std::min(g.height, available - before) > bottom + 1e-6 || b->forceNewPage)) {
            if (!newPage()) break;
        }
        if (detail) placeColumns();
        if (detail && frames.back().top < 0) frames.back().top = y;
        double sliceTop = 0;
        for (;;) {
            const double room = bottom - y;
            double cut = sliceTop + room;
            if (cut >= g.height - 1e-6) {
                pages.back().push_back({b, gi, y, sliceTop, g.height - sliceTop});
                y += g.height - sliceTop;
                break;
            }
            // Move the cut up to the top of any text line it would split.
            bool moved = true;
            while (moved) {
                moved = false;
                for (size_t i = 0; i < g.blocks.size(); ++i) {
                    if (!g.blocks[i]) continue;
                    const TextBlock& tb = *g.blocks[i];
                    const double top = g.rects[i].top();
                    for (size_t l = 0; l < tb.tops.size(); ++l) {
                        const double lt = top + tb.tops[l], lb = top + tb.bottoms[l];
                        if (lt < cut - 1e-6 && lb > cut + 1e-6 && lt > sliceTop + 1e-6) {
                            cut = lt;
                            moved = true;
                        }
                    }
                }
            }
            pages.back().push_back({b, gi, y, sliceTop, cut - sliceTop});
            y = bottom;
            if (detail) frames.back().bottom = y;
            sliceTop = cut;
            if (!newPage()) break;
            if (detail) placeColumns();
            if (detail && frames.back().top < 0) frames.back().top = y;
        }
        if (detail) frames.back().bottom = y;
    }
    if (truncated)
        m_result.warnings << QStringLiteral("Se imprimieron sólo las primeras %1 páginas.").arg(layout.maxPages);

    const int count = static_cast<int>(pages.size());
    for (int pi = 0; pi < count; ++pi) {
        if (pi > 0 && !startPage(layout)) return;
        double hy = 0;
        for (size_t k = 0; k < headers.size(); ++k) {
            const Geometry& g = geometries[headerG[k]];
            paintBand(*headers[k], g, hy, 0, g.height, pi + 1, count);
            hy += g.height;
        }
        for (const Placement& pl : pages[static_cast<size_t>(pi)])
            paintBand(*pl.band, geometries[pl.geometry], pl.y, pl.sliceTop, pl.sliceHeight, pi + 1, count);
        double fy = bottom;
        for (size_t k = 0; k < footers.size(); ++k) {
            const Geometry& g = geometries[footerG[k]];
            paintBand(*footers[k], g, fy, 0, g.height, pi + 1, count);
            fy += g.height;
        }
        const PageFrame& f = frames[static_cast<size_t>(pi)];
        if (layout.frameDetails && f.top >= 0 && f.bottom > f.top) {
            QPainter& p = *m_painter;
            p.save();
            p.setPen(QPen(Qt::black, px(0.3)));
            p.setBrush(Qt::NoBrush);
            p.drawRect(QRectF(0, px(f.top), px(width), px(f.bottom - f.top)));
            for (double x : layout.columnLines)
                p.drawLine(QPointF(px(x), px(f.top)), QPointF(px(x), px(f.bottom)));
            p.restore();
        }
    }
}

RenderResult Renderer::finish() {
    if (m_painter && m_painter->isActive()) m_painter->end();
    m_result.pages = m_pages;
    return m_result;
}

RenderResult render(const Layout& layout, QPagedPaintDevice& device) {
    Renderer r(device);
    r.add(layout);
    return r.finish();
}

RenderResult render(const Layout& layout, PageTarget& target) {
    Renderer r(target);
    r.add(layout);
    return r.finish();
}

RenderResult renderPdf(const std::vector<Layout>& layouts, const QString& file) {
    PdfDocument pdf(file, 300);
    pdf.setCreator(QStringLiteral("QEV - Regional"));
    if (!layouts.empty()) pdf.setTitle(layouts.front().title);
    RenderResult result;
    {
        Renderer r(pdf);
        for (const Layout& l : layouts)
            r.add(l);
        result = r.finish();
    }
    if (result.ok() && result.pages == 0) result.error = QStringLiteral("No hay páginas para imprimir.");
    if (result.ok() && !pdf.errorString().isEmpty()) result.error = pdf.errorString();
    if (!result.ok()) result.error = QStringLiteral("No se pudo escribir \"%1\": %2").arg(file, result.error);
    return result;
}

} // namespace qev::reports
