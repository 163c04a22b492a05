#pragma once
// Paints layouts on a paged device (a printer, the print preview's printer or a PDF writer): page headers and
// footers on every page, column headers above the detail bands, bands that grow with their wrapped texts and
// continue on the next page between two text lines when they do not fit.
#include "reports/Layout.h"
#include "reports/PdfDocument.h"

#include <QPagedPaintDevice>
#include <QPainter>
#include <QStringList>

#include <memory>
#include <unordered_map>

namespace qev::reports {

struct RenderResult {
    int pages = 0;
    QStringList warnings; // sound pages were printed, but something is missing (a barcode that cannot be drawn)
    QString error;        // nothing could be printed
    bool ok() const { return error.isEmpty(); }
};

class Renderer {
public:
    explicit Renderer(QPagedPaintDevice& device);
    explicit Renderer(PageTarget& target);
    ~Renderer();
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;

    // Adds the pages of one layout; each layout starts on a new page.
    void add(const Layout& layout);
    RenderResult finish();

private:
    struct TextBlock;
    struct Geometry;
    struct Placement;
    std::shared_ptr<const TextBlock> layoutText(const QString& text, const QFont& font, bool wrap, double width,
                                                double firstOffset) const;
    Geometry measure(const Band& band, const QString& footerPage = {}) const;
    void paintBand(const Band& band, const Geometry& g, double pageY, double sliceTop, double sliceHeight, int page,
                   int pages);
    bool startPage(const Layout& layout);
    double px(double mm) const { return mm * m_scale; }

    std::unique_ptr<PagedDeviceTarget> m_adapter; // when painting on a printer or Qt's PDF writer
    PageTarget& m_target;
    QPaintDevice& m_device;
    std::unique_ptr<QPainter> m_painter;
    double m_scale = 1; // device pixels per mm
    int m_pages = 0;
    bool m_failed = false;
    RenderResult m_result;
    mutable std::unordered_map<QString, std::shared_ptr<const TextBlock>> m_textCache;
};

// One layout on a device.
RenderResult render(const Layout& layout, QPagedPaintDevice& device);
RenderResult render(const Layout& layout, PageTarget& target);
// Layouts in order into one PDF file (A4, 300 dpi for the pictures); the error names the file when it cannot be
// written.
RenderResult renderPdf(const std::vector<Layout>& layouts, const QString& file);

} // namespace qev::reports
