#include "dm/ReceptionOutput.h"

#include "core/Dataset.h"
#include "reports/Catalog.h"
#include "reports/ImagePrint.h"
#include "reports/PdfDocument.h"
#include "reports/Renderer.h"
#include "util/Clock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>

namespace qev {

void FolderReceptionViews::append(const QString& file, const QString& line) {
    QFile f(QDir(m_folder).filePath(file));
    if (f.open(QIODevice::Append | QIODevice::Text)) f.write(line.toUtf8() + '\n');
}

void FolderReceptionViews::activityLine(const QString& line) {
    append(QStringLiteral("logp.txt"), line);
    if (echo) echo(line);
}

void FolderReceptionViews::stateLine(const QString& line) {
    append(QStringLiteral("EstCent.log"), line);
    if (echo) echo(line);
}

void FolderReceptionViews::stateStatus(const QString& text) {
    if (echo) echo(text);
}

void FolderReceptionViews::status(const QString& text) {
    if (echo) echo(text);
}

QString PdfAnswerPrinter::target(const QString& stem) {
    const QString dir = m_host.appDir().file(QStringLiteral("impresos"));
    QDir().mkpath(dir);
    const QString base = stem + QLatin1Char('-') + m_host.clock().now().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString path = QDir(dir).filePath(base + QStringLiteral(".pdf"));
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = QDir(dir).filePath(base + QStringLiteral("-%1.pdf").arg(n));
    return path;
}

namespace {

// Painting text needs the fonts of a graphical application (the offscreen platform is enough).
bool canPaint(QString& error) {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return true;
    error = QStringLiteral("este programa no puede imprimir (no es una aplicación gráfica)");
    return false;
}

} // namespace

bool PdfAnswerPrinter::printImage(const QString& file, QString& error) {
    if (!canPaint(error)) return false;
    const QString out = target(QFileInfo(file).fileName());
    reports::PdfDocument pdf(out);
    pdf.setTitle(QFileInfo(file).fileName());
    const reports::RenderResult r = reports::printImageFile(file, pdf);
    if (!r.ok() || !pdf.errorString().isEmpty()) {
        error = r.ok() ? pdf.errorString() : r.error;
        return false;
    }
    m_written << out;
    return true;
}

bool PdfAnswerPrinter::printPersonalAnswer(QString& error) {
    if (!canPaint(error)) return false;
    reports::ReportSource source;
    source.folder = m_host.appDir().folder();
    source.table = [this](const QString& c) { return m_host.table(c); };
    source.today = m_host.clock().today();
    reports::Layout layout;
    if (!reports::buildReport(QStringLiteral("TrpContesPriv"), reports::RequestKind::Personal, source, layout, nullptr,
                              &error))
        return false;
    const QString out = target(QStringLiteral("ContestacionPedidoPersonal-") +
                               m_host.table(QStringLiteral("pedp"))->text(QStringLiteral("C_PED")));
    const reports::RenderResult r = reports::renderPdf({layout}, out);
    if (!r.ok()) {
        error = r.error;
        return false;
    }
    m_written << out;
    return true;
}

} // namespace qev
