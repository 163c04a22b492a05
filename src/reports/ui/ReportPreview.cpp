#include "reports/ui/ReportPreview.h"

#include "reports/GridReport.h"
#include "util/Prompter.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QRegularExpression>
#include <QStandardItemModel>
#include <QTableView>
#include <QToolBar>

namespace qev::reports {

ReportPreview::ReportPreview(std::vector<Layout> layouts, Prompter& prompter, QWidget* parent)
    : ReportPreview(layouts.empty() ? QStringLiteral("documento") : layouts.front().title, RenderFn(), prompter,
                    parent) {
    if (!layouts.empty()) m_firstPage = layouts.front().page;
    m_render = [layouts = std::move(layouts)](PageTarget& target) {
        Renderer r(target);
        for (const Layout& l : layouts)
            r.add(l);
        return r.finish();
    };
}

ReportPreview::ReportPreview(QString title, RenderFn render, Prompter& prompter, QWidget* parent)
    : QObject(parent), m_title(std::move(title)), m_render(std::move(render)), m_prompter(prompter), m_parent(parent) {
    chooseFile = [this](const QString& suggested) {
        return QFileDialog::getSaveFileName(m_parent, QStringLiteral("Exportar PDF"), suggested,
                                            QStringLiteral("Documentos PDF (*.pdf)"));
    };
}

ReportPreview::~ReportPreview() {
    delete m_dialog;
}

RenderResult ReportPreview::paint(QPrinter& printer) {
    printer.setDocName(m_title);
    PagedDeviceTarget target(printer);
    RenderResult result = m_render(target);
    if (!result.ok())
        m_prompter.error(result.error, QStringLiteral("Error"));
    else if (!result.warnings.isEmpty())
        m_prompter.warn(result.warnings.join(QLatin1Char('\r')), QStringLiteral("Advertencia"));
    return result;
}

QPrintPreviewDialog* ReportPreview::dialog() {
    if (m_dialog) return m_dialog;
    m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    if (m_firstPage) m_printer->setPageLayout(*m_firstPage);
    m_dialog = new QPrintPreviewDialog(m_printer.get(), m_parent);
    m_dialog->setWindowTitle(QStringLiteral("Vista previa - ") + m_title);
    connect(m_dialog, &QPrintPreviewDialog::paintRequested, this, [this](QPrinter* p) { (void)paint(*p); });
    auto* exportAction = new QAction(QStringLiteral("Exportar PDF…"), m_dialog);
    exportAction->setObjectName(QStringLiteral("exportarPdf"));
    exportAction->setToolTip(QStringLiteral("Guarda el documento como archivo PDF"));
    connect(exportAction, &QAction::triggered, this, [this] {
        QString suggested = m_title;
        suggested.replace(QRegularExpression(QStringLiteral("[^\\w\\- ]")), QStringLiteral("_"));
        const QString file = chooseFile(QDir::current().filePath(suggested + QStringLiteral(".pdf")));
        if (!file.isEmpty()) (void)exportPdf(file);
    });
    if (auto* bar = m_dialog->findChild<QToolBar*>()) {
        bar->addSeparator();
        bar->addAction(exportAction);
    } else {
        m_dialog->addAction(exportAction);
    }
    return m_dialog;
}

void ReportPreview::exec() {
    dialog()->exec();
}

bool ReportPreview::exportPdf(const QString& file) {
    RenderResult r;
    {
        // The program's own writer: whole text runs in embedded font subsets, and nothing is left behind when
        // writing fails.
        PdfDocument pdf(file, 300);
        pdf.setTitle(m_title);
        pdf.setCreator(QStringLiteral("QEV - Regional"));
        if (m_firstPage) pdf.setPageLayout(*m_firstPage);
        r = m_render(pdf);
        if (r.ok() && !pdf.errorString().isEmpty()) r.error = pdf.errorString();
    }
    if (r.ok() && r.pages == 0) r.error = QStringLiteral("No hay páginas para imprimir.");
    if (!r.ok()) {
        r.error = QStringLiteral("No se pudo escribir \"%1\": %2").arg(file, r.error);
        m_prompter.error(r.error, QStringLiteral("Error"));
        return false;
    }
    QString text = QStringLiteral("Se guardó el documento en \"%1\" (%2 %3).")
                       .arg(QDir::toNativeSeparators(file))
                       .arg(r.pages)
                       .arg(r.pages == 1 ? QStringLiteral("página") : QStringLiteral("páginas"));
    if (!r.warnings.isEmpty()) text += QLatin1Char('\r') + r.warnings.join(QLatin1Char('\r'));
    m_prompter.inform(text, QStringLiteral("Exportar PDF"));
    return true;
}

void ReportPreview::printDirect() {
    if (QPrinterInfo::availablePrinters().isEmpty()) {
        m_prompter.warn(QStringLiteral("No hay ninguna impresora instalada.\rSe muestra la vista previa: desde ella "
                                       "puede exportar el documento a PDF."),
                        QStringLiteral("Advertencia"));
        exec();
        return;
    }
    QPrinter printer(QPrinter::HighResolution);
    if (m_firstPage) printer.setPageLayout(*m_firstPage);
    (void)paint(printer);
}

void previewReport(const Layout& layout, Prompter& prompter, QWidget* parent) {
    ReportPreview p({layout}, prompter, parent);
    p.exec();
}

void printReport(const Layout& layout, Prompter& prompter, QWidget* parent) {
    ReportPreview p({layout}, prompter, parent);
    p.printDirect();
}

Layout gridOfView(const QTableView& grid, const QString& header) {
    std::vector<GridColumn> columns;
    const QAbstractItemModel* model = grid.model();
    if (!model) {
        const QStandardItemModel empty;
        return gridLayout(header, empty);
    }
    const QHeaderView* h = grid.horizontalHeader();
    for (int visual = 0; visual < h->count(); ++visual) {
        const int logical = h->logicalIndex(visual);
        if (grid.isColumnHidden(logical)) continue;
        columns.push_back({model->headerData(logical, Qt::Horizontal).toString(), logical});
    }
    return gridLayout(header, *model, std::move(columns));
}

void printGrid(const QTableView& grid, const QString& header, Prompter& prompter, QWidget* parent) {
    ReportPreview p({gridOfView(grid, header)}, prompter, parent);
    p.printDirect();
}

} // namespace qev::reports
