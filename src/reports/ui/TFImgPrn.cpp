#include "reports/ui/TFImgPrn.h"

#include "reports/ImagePrint.h"
#include "reports/ui/ReportPreview.h"
#include "util/Prompter.h"

#include <QFileInfo>
#include <QPrinter>
#include <QPrinterInfo>
#include <QWidget>

namespace qev::reports {

TFImgPrn::TFImgPrn(Prompter& prompter, QWidget* parent) : QObject(parent), m_prompter(prompter), m_parent(parent) {}

bool TFImgPrn::imprimir(const QString& file, QPrinter* printer) {
    if (!QFileInfo::exists(file)) return false;
    auto report = [this](const RenderResult& r) {
        if (!r.ok()) m_prompter.error(r.error, QStringLiteral("Error"));
        return r.ok();
    };
    if (printer) {
        BusyScope busy(m_prompter);
        return report(printImageFile(file, *printer));
    }
    if (!QPrinterInfo::availablePrinters().isEmpty()) {
        BusyScope busy(m_prompter);
        QPrinter p(QPrinter::HighResolution);
        p.setDocName(QFileInfo(file).fileName());
        return report(printImageFile(file, p));
    }
    // Without a printer: the preview, from which the pages can be exported to PDF.
    bool ok = true;
    ReportPreview preview(
        QFileInfo(file).completeBaseName(),
        [file, &ok](PageTarget& target) {
            RenderResult r = printImageFile(file, target);
            ok = ok && r.ok();
            return r;
        },
        m_prompter, m_parent);
    preview.printDirect();
    return ok;
}

} // namespace qev::reports
