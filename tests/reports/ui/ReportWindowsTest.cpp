// The preview and printing windows offscreen: export to PDF from the preview, image printing, grid printing of a
// table view, the list window's printing and the documents window on a data module.
#include "../ReportTestUtil.h"
#include "FixedClock.h"
#include "ScriptedPrompter.h"
#include "TempAppDir.h"
#include "capture/ImageLib.h"
#include "core/OfficeSchema.h"
#include "core/ui/TFListado.h"
#include "dm/Tdm.h"
#include "reports/TrpOficio.h"
#include "reports/ui/ReportPreview.h"
#include "reports/ui/TFImgPrn.h"
#include "reports/ui/TFInformes.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QHeaderView>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QTableView>
#include <QTimer>

using namespace qev;
using namespace qev::reports;
using namespace qev::test;

namespace {

TEST(ReportPreview, ExportActionWritesThePdfAndSaysWhere) {
    ScriptedPrompter prompter;
    QTemporaryDir dir;
    TrpOficio::Data d;
    d.lugarYFecha = QStringLiteral("Córdoba, 05 de marzo de 2026");
    d.qrlbApe = QStringLiteral("PEREZ GIL");
    ReportPreview preview({TrpOficio::layout(d)}, prompter);
    const QString file = dir.filePath(QStringLiteral("carta.pdf"));
    QString suggested;
    preview.chooseFile = [&](const QString& s) {
        suggested = s;
        return file;
    };
    auto* action = preview.dialog()->findChild<QAction*>(QStringLiteral("exportarPdf"));
    ASSERT_NE(action, nullptr);
    EXPECT_EQ(action->text(), QStringLiteral("Exportar PDF…"));
    action->trigger();
    EXPECT_TRUE(suggested.endsWith(QLatin1String(".pdf")));
    EXPECT_EQ(pdfPages(file), 1);
    EXPECT_TRUE(pdfText(file).contains(QStringLiteral("PEREZ GIL")));
    ASSERT_EQ(prompter.messages().size(), 1u);
    EXPECT_EQ(prompter.lastText(), QStringLiteral("Se guardó el documento en \"%1\" (1 página).").arg(file));

    // A folder that cannot be written: an error, and no file claimed.
    prompter.clear();
    EXPECT_FALSE(preview.exportPdf(QStringLiteral("/proc/no/carta.pdf")));
    ASSERT_EQ(prompter.messages().size(), 1u);
    EXPECT_EQ(prompter.messages()[0].kind, QStringLiteral("error"));
    EXPECT_TRUE(prompter.lastText().startsWith(QStringLiteral("No se pudo escribir \"/proc/no/carta.pdf\"")));
}

TEST(TFImgPrn, PrintsEveryPageOfTheFileAndNothingForAMissingOne) {
    ScriptedPrompter prompter;
    QTemporaryDir dir;
    const QString tif = dir.filePath(QStringLiteral("resp.tif"));
    std::vector<capture::Page> pages(2);
    pages[0].raster = capture::Raster::grey(1240, 1754, 200);
    pages[1].raster = capture::Raster::grey(1754, 1240, 100);
    std::string error;
    ASSERT_TRUE(capture::savePages(tif.toStdString(), pages, &error)) << error;
    TFImgPrn window(prompter);
    const QString pdf = dir.filePath(QStringLiteral("resp.pdf"));
    {
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        EXPECT_TRUE(window.imprimir(tif, &printer));
    }
    EXPECT_EQ(pdfPages(pdf), 2);
    EXPECT_TRUE(prompter.messages().empty());
    EXPECT_EQ(prompter.busyDepth(), 0);
    EXPECT_FALSE(window.imprimir(dir.filePath(QStringLiteral("falta.tif"))));
    EXPECT_TRUE(prompter.messages().empty());
}

TEST(GridPrinting, PrintsTheVisibleColumnsInTheirShownOrder) {
    QStandardItemModel model(3, 3);
    model.setHorizontalHeaderLabels({QStringLiteral("Pedido"), QStringLiteral("Oculta"), QStringLiteral("Apellido")});
    for (int r = 0; r < 3; ++r) {
        model.setItem(r, 0, new QStandardItem(QString::number(10 + r)));
        model.setItem(r, 1, new QStandardItem(QStringLiteral("SECRETO")));
        model.setItem(r, 2, new QStandardItem(QStringLiteral("APELLIDO%1").arg(r)));
    }
    QTableView view;
    view.setModel(&model);
    view.setColumnHidden(1, true);
    view.horizontalHeader()->moveSection(2, 0);
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("g.pdf"));
    ASSERT_TRUE(renderPdf({gridOfView(view, QStringLiteral("Pedidos oficiales"))}, pdf).ok());
    const QString text = pdfText(pdf);
    EXPECT_FALSE(text.contains(QStringLiteral("SECRETO")));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("Apellido\\s+Pedido")).match(text).hasMatch()) << text.toStdString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("APELLIDO2\\s+12")).match(text).hasMatch());
}

TEST(TFListado, PrintButtonWorksOnlyWithAPrinting) {
    TFListado list;
    auto* button = list.findChild<QPushButton*>(QStringLiteral("btImprimir"));
    ASSERT_NE(button, nullptr);
    EXPECT_FALSE(button->isEnabled());
    EXPECT_FALSE(button->toolTip().isEmpty());
    QString title, text;
    list.setPrintHandler([&](const QString& t, const QString& x) {
        title = t;
        text = x;
    });
    list.begin(QStringLiteral("Pedidos personales sin enviar"), 0, 2);
    list.addLine(QStringLiteral("1 MARTINEZ"));
    list.addLine(QStringLiteral("6 ALVAREZ"));
    ASSERT_TRUE(button->isEnabled());
    button->click();
    EXPECT_EQ(title, QStringLiteral("Pedidos personales sin enviar"));
    EXPECT_EQ(text, QStringLiteral("1 MARTINEZ\n6 ALVAREZ"));
}

TEST(TFInformes, BuildsTheChosenDocumentOfTheChosenRequest) {
    TempAppDir dir;
    const FixedClock clock(QDateTime(QDate(2026, 3, 5), QTime(9, 0)));
    QString error;
    ASSERT_TRUE(createOfficeFolder(dir.path(), true, clock, &error)) << error.toStdString();
    ScriptedPrompter prompter;
    Tdm dm(dir.appDir(), prompter, clock);
    ASSERT_TRUE(dm.create());
    prompter.clear();
    TFInformes window(dm, prompter, clock);
    auto* kind = window.findChild<QComboBox*>(QStringLiteral("cbTipo"));
    auto* report = window.findChild<QComboBox*>(QStringLiteral("cbInforme"));
    auto* number = window.findChild<QSpinBox*>(QStringLiteral("edPedido"));
    ASSERT_TRUE(kind && report && number);
    EXPECT_EQ(report->count(), 2); // the official letter and the card

    number->setValue(3);
    Layout l;
    ASSERT_TRUE(window.prepare(l));
    EXPECT_EQ(dm.ped().text(QStringLiteral("C_PED")), QStringLiteral("3"));
    ASSERT_NE(l.find(QStringLiteral("qrlbApeSup")), nullptr);
    EXPECT_EQ(l.find(QStringLiteral("qrlbApeSup"))->text, QStringLiteral(" o  RODRIGUES  o  RODRIGUEZ "));

    kind->setCurrentIndex(1);
    EXPECT_EQ(report->count(), 4);
    report->setCurrentIndex(report->findData(QStringLiteral("TrpCompr")));
    number->setValue(4);
    ASSERT_TRUE(window.prepare(l));
    EXPECT_EQ(l.find(QStringLiteral("bcPedReg1"))->text, QStringLiteral("4/7"));
    EXPECT_TRUE(prompter.messages().empty());

    number->setValue(77);
    EXPECT_FALSE(window.prepare(l));
    EXPECT_EQ(prompter.lastText(), QStringLiteral("No existe el pedido personal 77."));
    report->setCurrentIndex(report->findData(QStringLiteral("TrpFicha")));
    number->setValue(4);
    EXPECT_FALSE(window.prepare(l));
    EXPECT_EQ(prompter.lastText(),
              QStringLiteral("Imágen: \"%1\" inexistente.").arg(dir.file(QStringLiteral("4_7.bmp"))));
}

} // namespace
