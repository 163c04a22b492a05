#pragma once
// The print preview of a layout (Qt's preview in the workstation's language) with "Exportar PDF…" beside printing,
// and straight printing that falls back to the preview when the workstation has no printer.
#include "reports/Layout.h"
#include "reports/Renderer.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QPrintPreviewDialog;
class QTableView;
class QPrinter;
class QWidget;

namespace qev {
class Prompter;
}

namespace qev::reports {

class ReportPreview : public QObject {
    Q_OBJECT
public:
    using RenderFn = std::function<RenderResult(PageTarget&)>;
    ReportPreview(std::vector<Layout> layouts, Prompter& prompter, QWidget* parent = nullptr);
    // Any pages: `render` paints them on the device it is given; `title` names the document.
    ReportPreview(QString title, RenderFn render, Prompter& prompter, QWidget* parent = nullptr);
    ~ReportPreview() override;

    // Asks for the PDF file to export to; empty for cancel. Tests replace it.
    std::function<QString(const QString& suggested)> chooseFile;

    // The preview dialog (built on first use) and its export action ("exportarPdf").
    QPrintPreviewDialog* dialog();
    // Shows the preview modally.
    void exec();
    // Writes the layouts to `file` and tells the operator the result; false when nothing was written.
    bool exportPdf(const QString& file);
    // Prints on the default printer; without a printer, says so and opens the preview.
    void printDirect();

    // Renders on a printer of the preview or the print dialog; warnings go to the operator.
    RenderResult paint(QPrinter& printer);
    const QString& title() const { return m_title; }

private:
    QString m_title;
    RenderFn m_render;
    std::optional<QPageLayout> m_firstPage;
    Prompter& m_prompter;
    QWidget* m_parent;
    QPrintPreviewDialog* m_dialog = nullptr;
    std::unique_ptr<QPrinter> m_printer;
};

// Convenience: preview or print one layout.
void previewReport(const Layout& layout, Prompter& prompter, QWidget* parent = nullptr);
void printReport(const Layout& layout, Prompter& prompter, QWidget* parent = nullptr);
// Grid printing of a data grid: its visible columns in their shown order, under `header`, to the printer.
Layout gridOfView(const QTableView& grid, const QString& header);
void printGrid(const QTableView& grid, const QString& header, Prompter& prompter, QWidget* parent = nullptr);

} // namespace qev::reports
