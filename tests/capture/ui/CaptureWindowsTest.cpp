// The capture windows offscreen: the classification edit's keys, the card window's read-only and save rules, the
// document window's page field, space key and close semantics, the viewer's fit.
#include "ScriptedPrompter.h"
#include "TempAppDir.h"
#include "capture/ui/ImageView.h"
#include "capture/ui/TClasFundEdit.h"
#include "capture/ui/TFDigFich.h"
#include "capture/ui/TFImgDig.h"
#include "capture/ui/TFVerImg.h"
#include "capture/ui/TTwainCaps.h"
#include "capture/ui/TTwainForm.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

namespace qev {
namespace {

using namespace capture;

TEST(TClasFundEditTest, KeysOverwriteLeftToRightAndNeverInsertOrErase) {
    TClasFundEdit edit;
    edit.show();
    EXPECT_EQ(edit.text(), QStringLiteral("_____"));
    edit.setCursorPosition(0);
    QTest::keyClicks(&edit, QStringLiteral("v1234"));
    EXPECT_EQ(edit.clasificacion(), QStringLiteral("V1234"));
    EXPECT_EQ(edit.text(), QStringLiteral("V1234"));
    edit.setCursorPosition(1);
    QTest::keyClicks(&edit, QStringLiteral("5b "));
    QTest::keyClick(&edit, Qt::Key_Backspace);
    QTest::keyClick(&edit, Qt::Key_Delete);
    EXPECT_EQ(edit.text(), QStringLiteral("V1234"));
    EXPECT_EQ(edit.cursorPosition(), 1);
    QTest::keyClick(&edit, Qt::Key_Minus);
    EXPECT_EQ(edit.clasificacion(), QStringLiteral("V_234"));
    edit.selectAll();
    QTest::keyClicks(&edit, QStringLiteral("x"));
    EXPECT_EQ(edit.text(), QStringLiteral("X_234")) << "a selection is overwritten one character at a time";

    edit.setProperty("Clasificacion", QStringLiteral("a12"));
    EXPECT_EQ(edit.text(), QStringLiteral("A12__"));
    edit.setClasificacion(QStringLiteral("A123456"));
    EXPECT_EQ(edit.clasificacion(), QStringLiteral("A1234"));
    edit.setClasificacion(QStringLiteral("1____"));
    EXPECT_EQ(edit.clasificacion(), QStringLiteral("_____"));
}

class CardWindowTest : public ::testing::Test {
protected:
    CardWindowTest()
        : pages(dir.filePath("paginas")), scanner(pages), setup(scanner, dir.appDir(), prompter),
          card(dir.appDir(), prompter, setup), window(card, setup, prompter) {
        QDir().mkpath(QString::fromStdString(pages));
        Raster r = Raster::grey(2480, 1300, 230);
        r.resolutionX = r.resolutionY = 300;
        for (int y = 100; y < 1200; y += 30)
            for (int x = 100; x < 2380; ++x)
                r.row(y)[x] = 10;
        EXPECT_TRUE(saveAs(pages + "/card.tif", r, {kFileTiff, kPageGrey8, kCompressionNone, 0}, nullptr));
        window.resize(1000, 500);
    }
    template <typename T> T* child(const char* name) { return window.findChild<T*>(QString::fromLatin1(name)); }
    test::TempAppDir dir;
    test::ScriptedPrompter prompter;
    std::string pages;
    FileScanner scanner;
    ScanSetup setup;
    CardCapture card;
    TFDigFich window;
};

TEST_F(CardWindowTest, ReadOnlyDisablesTheEditsAndRefusesScanAndLoadWithTheirMessages) {
    window.prepare(true, QStringLiteral("V1234"), QStringLiteral("A_3X0"));
    window.show();
    EXPECT_FALSE(child<TClasFundEdit>("edClasDer")->isEnabled());
    EXPECT_FALSE(child<TClasFundEdit>("edClasIzq")->isEnabled());
    EXPECT_EQ(child<TClasFundEdit>("edClasIzq")->text(), QStringLiteral("A_3X0"));
    QTest::mouseClick(child<QPushButton>("btReScan"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>("btPagLoad"), Qt::LeftButton);
    child<QAction>("miCargarImagen")->trigger();
    // The space bar in the zoom field starts a scan instead of typing.
    auto* zoom = child<QSpinBox>("edZoom");
    const int before = zoom->value();
    QTest::keyClick(zoom, Qt::Key_Space);
    EXPECT_EQ(zoom->value(), before);
    ASSERT_EQ(prompter.messages().size(), 4u);
    const QString scanRefused = QStringLiteral("ERROR: Solo se puede modificar las impresiones dactilares\r antes de "
                                               "enviar ó si fue rechazada");
    EXPECT_EQ(prompter.messages()[0].text, scanRefused);
    EXPECT_TRUE(prompter.messages()[1].text.startsWith(QStringLiteral("ERROR: No se puede modificar")));
    EXPECT_TRUE(prompter.messages()[2].text.startsWith(QStringLiteral("ERROR: Solo se puede modificar la huella")));
    EXPECT_EQ(prompter.messages()[3].text, scanRefused);
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("out.tif"))));
}

TEST_F(CardWindowTest, SaveIsOfferedOnlyForAChangeAndAClassificationAloneCloses) {
    window.prepare(false, QStringLiteral("V1234"), QStringLiteral("_____"));
    window.show();
    auto* save = child<QPushButton>("btSave");
    EXPECT_FALSE(save->isEnabled()) << "nothing changed";
    auto* izq = child<TClasFundEdit>("edClasIzq");
    izq->setFocus();
    izq->setCursorPosition(0);
    QTest::keyClicks(izq, QStringLiteral("e"));
    EXPECT_TRUE(save->isEnabled());
    QTest::mouseClick(child<QToolButton>("sbGomaIzq"), Qt::LeftButton);
    EXPECT_FALSE(save->isEnabled()) << "erased back to the value it was shown with";
    QTest::keyClicks(izq, QStringLiteral("i"));
    QTest::mouseClick(save, Qt::LeftButton);
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(card.ArchivoHuella.isEmpty());
    EXPECT_EQ(card.ClasIzq, QStringLiteral("I____"));
    EXPECT_EQ(card.ClasDer, QStringLiteral("V1234"));
}

TEST_F(CardWindowTest, AScannedCardIsShownFittedAndSavedThenTheWorkFilesGo) {
    window.prepare(false, QStringLiteral("_____"), QStringLiteral("_____"));
    window.show();
    QTest::keyClick(&window, Qt::Key_Space);
    ASSERT_TRUE(card.Modificado) << prompter.texts().join(QLatin1Char('|')).toStdString();
    auto* view = child<ImageView>("ImgDoc");
    ASSERT_TRUE(view->isVisible());
    EXPECT_EQ(view->imageWidth(), 2480);
    // Fit to width: the zoom field shows the scale that fits the image into the viewer.
    const int expected = static_cast<int>(std::lround(view->viewport()->width() * 100.0 / 2480));
    EXPECT_EQ(child<QSpinBox>("edZoom")->value(), expected);
    child<QAction>("miFreeSize")->trigger();
    child<QSpinBox>("edZoom")->setValue(25);
    EXPECT_DOUBLE_EQ(view->scalePercent(), 25);
    EXPECT_TRUE(child<QPushButton>("btSave")->isEnabled());
    QTest::mouseClick(child<QPushButton>("btSave"), Qt::LeftButton);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(card.ArchivoHuella, dir.file(QStringLiteral("huella1.TIF")));
    EXPECT_TRUE(QFile::exists(card.ArchivoHuella));
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("out.tif"))));
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("out.bmp"))));
}

class DocumentWindowTest : public CardWindowTest {
protected:
    DocumentWindowTest() : doc(dir.appDir(), prompter, setup), docWindow(doc, setup, prompter) {
        QFile::remove(QString::fromStdString(pages + "/card.tif"));
        Raster a4 = Raster::grey(2480, 3508, 240);
        a4.resolutionX = a4.resolutionY = 300;
        EXPECT_TRUE(saveAs(pages + "/page.tif", a4, {kFileTiff, kPageGrey8, kCompressionNone, 0}, nullptr));
        doc.ArchivoDocumento = QStringLiteral("3.tif");
        EXPECT_TRUE(savePages(
            doc.documentPath().toStdString(),
            {Page{a4, DocumentCapture::pageEncoding(kImageGray)}, Page{a4, DocumentCapture::pageEncoding(kImageBw)}},
            nullptr));
        docWindow.resize(900, 600);
    }
    DocumentCapture doc;
    TFImgDig docWindow;
};

TEST_F(DocumentWindowTest, SpaceAppendsThePageFieldIsBoundedAndAnUnsavedCloseAsks) {
    docWindow.show();
    ASSERT_TRUE(doc.hasDocument());
    EXPECT_EQ(docWindow.windowTitle(), QStringLiteral("Digitalización de la documentación (2 páginas)"));
    QTest::keyClick(&docWindow, Qt::Key_Space);
    EXPECT_EQ(doc.pageCount(), 3) << prompter.texts().join(QLatin1Char('|')).toStdString();
    auto* pag = docWindow.findChild<QLineEdit*>(QStringLiteral("edPag"));
    EXPECT_EQ(pag->text(), QStringLiteral("3")) << "after an append the last page is shown";
    EXPECT_EQ(docWindow.windowTitle(), QStringLiteral("Digitalización de la documentación (3 páginas)"));
    for (auto [typed, shown] : {std::pair{"0", "1"}, std::pair{"b", "1"}, std::pair{"99", "3"}, std::pair{"2", "2"}}) {
        pag->setText(QString::fromLatin1(typed));
        QTest::keyClick(pag, Qt::Key_Return);
        EXPECT_EQ(pag->text(), QString::fromLatin1(shown)) << typed;
        EXPECT_EQ(doc.page(), pag->text().toInt());
    }
    prompter.answerConfirm(false);
    QTest::mouseClick(docWindow.findChild<QPushButton*>(QStringLiteral("btSalir")), Qt::LeftButton);
    EXPECT_FALSE(docWindow.isVisible());
    ASSERT_FALSE(prompter.messages().empty());
    EXPECT_EQ(prompter.lastText(), QStringLiteral("¿Desea guardar la imágen?"));
    EXPECT_FALSE(QFile::exists(doc.documentPath())) << "not saved: the caller keeps its stored document";
    EXPECT_TRUE(QDir(dir.path()).entryList({QStringLiteral("scan*.tif")}).isEmpty());
}

TEST_F(DocumentWindowTest, SavedPagesSurviveTheCloseWithoutAQuestion) {
    docWindow.show();
    prompter.answerConfirm(true);
    docWindow.borrarPagina();
    EXPECT_EQ(doc.pageCount(), 1);
    QTest::mouseClick(docWindow.findChild<QPushButton*>(QStringLiteral("btSave")), Qt::LeftButton);
    EXPECT_EQ(prompter.messages().size(), 1u) << "only the deletion was asked";
    EXPECT_EQ(pageCount(doc.documentPath().toStdString(), nullptr), 1);
    PageInfo info;
    ASSERT_TRUE(readPageInfo(doc.documentPath().toStdString(), 1, info, nullptr));
    EXPECT_EQ(info.compressionType, kCompressionGroup4) << "page 2, now the only one, keeps its encoding";
    EXPECT_EQ(info.pageType, kPageBlackWhite);
}

TEST_F(DocumentWindowTest, TheViewerShowsTheGivenFileAndFitsIt) {
    TFVerImg viewer(prompter);
    viewer.resize(600, 400);
    viewer.setArchivo(doc.documentPath());
    viewer.show();
    ImageView* view = viewer.view();
    ASSERT_EQ(view->imageWidth(), 2480);
    EXPECT_NEAR(view->scalePercent(), view->viewport()->width() * 100.0 / 2480, 0.01);
    auto* pag = viewer.findChild<QLineEdit*>(QStringLiteral("edPag"));
    pag->setText(QStringLiteral("7"));
    QTest::keyClick(pag, Qt::Key_Return);
    EXPECT_EQ(pag->text(), QStringLiteral("2"));
    EXPECT_EQ(viewer.page(), 2);
}

} // namespace
} // namespace qev

namespace qev {
namespace {

TEST(ScannerWindowsTest, CardSettingsGoToHuellaIniAndImageLibIniWaitsForTheEnd) {
    test::TempAppDir dir;
    test::ScriptedPrompter prompter;
    const std::string pages = dir.filePath("paginas");
    QDir().mkpath(QString::fromStdString(pages));
    FileScanner scanner(pages);
    ScanSetup setup(scanner, dir.appDir(), prompter);
    const QString imageLib = dir.file(QStringLiteral("ImageLib.INI"));
    ScanSettings own;
    own.dpi = 200;
    ASSERT_TRUE(saveScanSettings(imageLib, own));
    CardCapture card(dir.appDir(), prompter, setup);
    {
        TTwainForm form(setup, prompter, imageLib);
        EXPECT_EQ(form.findChild<QSpinBox*>(QStringLiteral("DPI"))->value(), 200);
        card.prepareShow(); // no Huella.INI: the defaults
        form.show();
        auto* dpi = form.findChild<QSpinBox*>(QStringLiteral("DPI"));
        EXPECT_EQ(dpi->value(), 300);
        EXPECT_EQ(form.findChild<QComboBox*>(QStringLiteral("cbImageType"))->currentText(), QStringLiteral("GRAY"));
        EXPECT_EQ(form.findChild<QComboBox*>(QStringLiteral("UIC"))->currentText(),
                  QStringLiteral("Ocultar Interface de Usuario"));
        dpi->setValue(400);
        form.findChild<QCheckBox*>(QStringLiteral("CheckBox1"))->setChecked(true);
        QTest::mouseClick(form.findChild<QToolButton*>(QStringLiteral("ExitBtn")), Qt::LeftButton);
        EXPECT_EQ(setup.settings().dpi, 400);
        EXPECT_TRUE(setup.settings().deskew);
        ASSERT_TRUE(card.guardarConfiguracion());
        EXPECT_EQ(loadScanSettings(dir.file(QStringLiteral("Huella.INI"))).dpi, 400);
        EXPECT_EQ(loadScanSettings(imageLib).dpi, 200) << "kept until the program ends";

        // The source's options, each with the field of its kind.
        TTwainCaps caps(scanner, prompter);
        caps.getCaps();
        auto* list = caps.findChild<QListWidget*>(QStringLiteral("ListBox1"));
        ASSERT_EQ(list->count(), 2);
        list->setCurrentRow(1);
        caps.show();
        EXPECT_EQ(caps.findChild<QLineEdit*>(QStringLiteral("Edit1"))->text(), QStringLiteral("SANE_TYPE_INT"));
        EXPECT_TRUE(caps.findChild<QLineEdit*>(QStringLiteral("edLongint"))->isVisible());
        EXPECT_FALSE(caps.findChild<QLineEdit*>(QStringLiteral("edPchar"))->isVisible());
        EXPECT_EQ(caps.findChild<QLineEdit*>(QStringLiteral("edLongint"))->text(), QStringLiteral("0"));
        list->setCurrentRow(0);
        EXPECT_TRUE(caps.findChild<QLineEdit*>(QStringLiteral("edPchar"))->isVisible());
        EXPECT_EQ(caps.findChild<QLineEdit*>(QStringLiteral("edPchar"))->text(), QString::fromStdString(pages));
    }
    EXPECT_EQ(loadScanSettings(imageLib).dpi, 400) << "saved when the window is destroyed";
}

} // namespace
} // namespace qev
