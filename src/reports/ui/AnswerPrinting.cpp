#include "reports/ui/AnswerPrinting.h"

#include "dm/ReceptionOutput.h"
#include "dm/Tdm.h"
#include "reports/Catalog.h"
#include "reports/ImagePrint.h"
#include "reports/Renderer.h"
#include "util/Clock.h"

#include <QPrinter>
#include <QPrinterInfo>

namespace qev::reports {

namespace {

bool hasPrinter() {
    return !QPrinterInfo::defaultPrinterName().isEmpty();
}

} // namespace

bool SystemAnswerPrinter::printImage(const QString& file, QString& error) {
    if (!hasPrinter()) return m_dm.pdfPrinter().printImage(file, error);
    QPrinter printer(QPrinterInfo::defaultPrinter(), QPrinter::HighResolution);
    const RenderResult r = printImageFile(file, printer);
    if (!r.ok()) error = r.error;
    return r.ok();
}

bool SystemAnswerPrinter::printPersonalAnswer(QString& error) {
    if (!hasPrinter()) return m_dm.pdfPrinter().printPersonalAnswer(error);
    ReportSource source;
    source.folder = m_dm.appDir().folder();
    source.table = [this](const QString& c) { return m_dm.table(c); };
    source.today = m_dm.clock().today();
    Layout layout;
    if (!buildReport(QStringLiteral("TrpContesPriv"), RequestKind::Personal, source, layout, nullptr, &error))
        return false;
    QPrinter printer(QPrinterInfo::defaultPrinter(), QPrinter::HighResolution);
    const RenderResult r = render(layout, printer);
    if (!r.ok()) error = r.error;
    return r.ok();
}

} // namespace qev::reports
