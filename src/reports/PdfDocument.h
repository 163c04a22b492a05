#pragma once
// The program's own PDF writer: a paint device whose pages are written as PDF as they are painted. Texts go out as
// whole runs in the fonts' own encoding (one operator per run, not one per glyph), with the fonts embedded as
// subsets of the glyphs used; pictures are embedded once however many pages show them.
#include <QPageLayout>
#include <QPaintDevice>
#include <QString>

#include <memory>

class QPagedPaintDevice;

namespace qev::reports {

// What the layouts are painted on: a paint device with pages.
class PageTarget {
public:
    virtual ~PageTarget() = default;
    virtual QPaintDevice& paintDevice() = 0;
    // The layout of the page that starts next (or of the first page, before painting begins).
    virtual bool setPageLayout(const QPageLayout& layout) = 0;
    virtual bool newPage() = 0;
};

// A printer, the preview's printer or Qt's PDF writer as a page target.
class PagedDeviceTarget final : public PageTarget {
public:
    explicit PagedDeviceTarget(QPagedPaintDevice& device) : m_device(device) {}
    QPaintDevice& paintDevice() override;
    bool setPageLayout(const QPageLayout& layout) override;
    bool newPage() override;

private:
    QPagedPaintDevice& m_device;
};

class PdfEngine;

class PdfDocument final : public QPaintDevice, public PageTarget {
public:
    // Nothing is written until painting ends well: a failed document leaves no file (nor the one it replaced
    // damaged).
    explicit PdfDocument(const QString& file, int resolution = 300);
    ~PdfDocument() override;
    PdfDocument(const PdfDocument&) = delete;
    PdfDocument& operator=(const PdfDocument&) = delete;

    void setTitle(const QString& title);
    void setCreator(const QString& creator);
    // Why painting could not begin or the file could not be written.
    QString errorString() const;

    QPaintEngine* paintEngine() const override;
    QPaintDevice& paintDevice() override { return *this; }
    bool setPageLayout(const QPageLayout& layout) override;
    bool newPage() override;

protected:
    int metric(PaintDeviceMetric m) const override;

private:
    friend class PdfEngine;
    std::unique_ptr<PdfEngine> m_engine;
    QPageLayout m_layout;
    int m_resolution;
};

} // namespace qev::reports
