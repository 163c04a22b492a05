// The scanner set-up, the card and the document capture and the classification rules, on pages read from files.
#include "ScriptedPrompter.h"
#include "TempAppDir.h"
#include "capture/CardCapture.h"
#include "capture/Clasificacion.h"
#include "capture/DocumentCapture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <gtest/gtest.h>

#include <cmath>

namespace qev {
namespace {

using namespace capture;

Raster textPage(int w, int h) {
    Raster page = Raster::grey(w, h);
    page.resolutionX = page.resolutionY = 300;
    for (int y = h / 10; y + 6 < h * 9 / 10; y += 40)
        for (int yy = y; yy < y + 6; ++yy)
            for (int x = w / 10; x < w * 9 / 10; ++x)
                if ((x / 9) % 5 != 0) page.row(yy)[x] = 0;
    return page;
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

class CaptureTest : public ::testing::Test {
protected:
    CaptureTest() : pages(dir.filePath("paginas")), scanner(pages), setup(scanner, dir.appDir(), prompter) {
        QDir().mkpath(QString::fromStdString(pages));
    }
    void addPage(const char* name, const Raster& r, SaveFormat f = {kFileTiff, kPageGrey8, kCompressionNone, 0}) {
        std::string error;
        ASSERT_TRUE(saveAs(pages + "/" + name, r, f, &error)) << error;
    }
    QString joined() const { return prompter.texts().join(QLatin1Char('|')); }
    test::TempAppDir dir;
    test::ScriptedPrompter prompter;
    std::string pages;
    FileScanner scanner;
    ScanSetup setup;
};

TEST(ScanSettingsTest, AFreshInstallationScansTheCardAreaInGreyWithTheDialogHidden) {
    test::TempAppDir dir;
    const ScanSettings s = loadScanSettings(dir.file(QStringLiteral("Huella.INI")));
    const ScanRequest r = scanRequest(s, false);
    EXPECT_EQ(r.dpi, 300);
    EXPECT_EQ(r.pixels, PixelKind::Grey);
    EXPECT_EQ(r.depth, 8);
    EXPECT_DOUBLE_EQ(r.left, 0);
    EXPECT_DOUBLE_EQ(r.top, 0);
    EXPECT_DOUBLE_EQ(r.right, 210 / 25.4);
    EXPECT_DOUBLE_EQ(r.bottom, 110 / 25.4);
    EXPECT_FALSE(r.showDialog);
    EXPECT_FALSE(r.feeder);
    EXPECT_EQ(r.pages, 1);

    // Stored and read back; keys that are missing or not numbers take their defaults, values out of range are
    // brought into it.
    ScanSettings changed = s;
    changed.dpi = 200;
    changed.derecha = 150;
    changed.tipoImagen = kImageBw;
    changed.uiMode = 4;
    changed.rotarGrados = 90;
    changed.paginas = 7; // not stored
    ASSERT_TRUE(saveScanSettings(dir.file(QStringLiteral("Docu.INI")), changed));
    const ScanSettings back = loadScanSettings(dir.file(QStringLiteral("Docu.INI")));
    EXPECT_EQ(back.dpi, 200);
    EXPECT_EQ(back.derecha, 150);
    EXPECT_EQ(back.tipoImagen, kImageBw);
    EXPECT_EQ(back.uiMode, 4);
    EXPECT_EQ(back.rotarGrados, 90);
    EXPECT_EQ(back.paginas, 1);
    writeBytes(dir.file(QStringLiteral("odd.ini")), "[Config]\nDPI=muchos\nDerecha=9000\nBrillo=-5000\nUIMode=1\n");
    const ScanSettings odd = loadScanSettings(dir.file(QStringLiteral("odd.ini")));
    EXPECT_EQ(odd.dpi, 300);
    EXPECT_EQ(odd.derecha, 500);
    EXPECT_EQ(odd.brillo, -1000);
    EXPECT_EQ(odd.abajo, 110);
    EXPECT_TRUE(scanRequest(odd, false).showDialog);
}

struct CodesCase {
    const char* name;
    int tipoImagen;
    int uiMode;
    bool showFlag;
    AcquireCodes expected;
};

class AcquireCodesTest : public ::testing::TestWithParam<CodesCase> {};

TEST_P(AcquireCodesTest, ImageKindDepthAndDialogMode) {
    ScanSettings s;
    s.tipoImagen = GetParam().tipoImagen;
    s.uiMode = GetParam().uiMode;
    const AcquireCodes c = acquireCodes(s, GetParam().showFlag);
    EXPECT_EQ(c.imageKind, GetParam().expected.imageKind);
    EXPECT_EQ(c.bitDepth, GetParam().expected.bitDepth);
    EXPECT_EQ(c.dialogMode, GetParam().expected.dialogMode);
}

INSTANTIATE_TEST_SUITE_P(Codes, AcquireCodesTest,
                         ::testing::Values(CodesCase{"BwNone", kImageBw, 0, false, {1, 1, 0}},
                                           CodesCase{"GrayShown", kImageGray, 1, false, {2, 8, 2}},
                                           CodesCase{"Color8Hidden", kImageColor8, 2, false, {8, 0, 0}},
                                           CodesCase{"Color24FeederShown", kImageColor24, 3, false, {4, 0, 3}},
                                           CodesCase{"FeederHidden", kImageGray, 4, false, {2, 8, 1}},
                                           CodesCase{"FeederHiddenButFlagged", kImageGray, 4, true, {2, 8, 3}},
                                           CodesCase{"NoSelection", -1, -1, true, {1, 0, 2}}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(CaptureTest, PagesAreStraightenedThenTurnedAndOnlyACompletedBatchIsWritten) {
    addPage("a.tif", rotateBy(textPage(900, 700), 2.0));
    QStringList status;
    setup.status = [&status](const QString& s) { status << s; };
    setup.settings().deskew = true;
    setup.settings().izquierda = setup.settings().arriba = 0;
    setup.settings().derecha = setup.settings().abajo = 0; // no area: the whole page
    setup.settings().rotarGrados = 90;
    const ScanSetup::Result r = setup.scan();
    ASSERT_TRUE(r.ok) << joined().toStdString();
    ASSERT_EQ(status.size(), 3);
    EXPECT_EQ(status[0], QStringLiteral("DESKEWING"));
    const QString skew = status[1];
    ASSERT_TRUE(skew.startsWith(QStringLiteral("Skew value (in degree) is "))) << skew.toStdString();
    const double measured = skew.mid(26).trimmed().toDouble();
    EXPECT_NEAR(std::abs(measured), 2.0, 0.3);
    EXPECT_EQ(skew.mid(26).size(), 8) << "the angle is written as %8.2f";
    EXPECT_TRUE(status[2].contains(QStringLiteral("resolución")));

    Raster out;
    ASSERT_TRUE(loadPage(dir.filePath("OUT.TIF"), 1, out, nullptr));
    EXPECT_EQ(out.width, 700) << "turned by 90 degrees after the straightening";
    EXPECT_EQ(out.height, 900);
    double rest = 0;
    // Turned back, the lines are level again.
    if (measureSkew(rotate90(out, true), rest)) {
        EXPECT_LT(std::abs(rest), 0.4);
    }
    ASSERT_TRUE(QFile::exists(dir.file(QStringLiteral("OUT.BMP"))));

    // A cancelled batch writes nothing and keeps no page.
    QFile::remove(dir.file(QStringLiteral("OUT.TIF")));
    setup.cancelRequested = [] { return true; };
    const ScanSetup::Result cancelled = setup.scan();
    EXPECT_FALSE(cancelled.ok);
    EXPECT_TRUE(cancelled.cancelled);
    EXPECT_TRUE(cancelled.pages.empty());
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("OUT.TIF"))));
}

TEST_F(CaptureTest, TheCardRefusesWhileReadOnlyOrScanningAndLoadsOnlyImages) {
    CardCapture card(dir.appDir(), prompter, setup);
    card.SoloLectura = true;
    EXPECT_FALSE(card.escanear(false));
    EXPECT_TRUE(card.refuseLoad(CardCapture::LoadFrom::Button));
    EXPECT_TRUE(card.refuseLoad(CardCapture::LoadFrom::Menu));
    EXPECT_EQ(prompter.texts(),
              (QStringList{QStringLiteral("ERROR: Solo se puede modificar las impresiones dactilares\r antes de "
                                          "enviar ó si fue rechazada"),
                           QStringLiteral("ERROR: No se puede modificar las impresiones dactilares ya que el pedido "
                                          "esta en trámite ó ya fue contestado"),
                           QStringLiteral("ERROR: Solo se puede modificar la huella\r antes de enviar ó si fue "
                                          "rechazada")}));
    card.SoloLectura = false;
    EXPECT_FALSE(card.refuseLoad(CardCapture::LoadFrom::Button));

    // A second scan asked for while the first one runs is refused.
    Raster page = textPage(2480, 1300);
    addPage("card.tif", page);
    prompter.clear();
    bool reentered = false;
    setup.keepResponsive = [&] {
        if (!reentered) {
            reentered = true;
            EXPECT_FALSE(card.escanear(false));
        }
    };
    ASSERT_TRUE(card.escanear(false)) << joined().toStdString();
    EXPECT_TRUE(reentered);
    EXPECT_EQ(prompter.texts(), QStringList{QStringLiteral("Problema de scanner: existe una digitalización en "
                                                           "progreso\rpor favor, espere unos segundos y vuelva a "
                                                           "intentar")});
    setup.keepResponsive = nullptr;
    EXPECT_TRUE(card.Modificado);
    const QByteArray shown = [&] {
        QFile f(dir.file(QStringLiteral("out.tif")));
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }();
    ASSERT_FALSE(shown.isEmpty());

    // Not an image, and an image far too large: clear messages, the card shown stays as it was.
    writeBytes(dir.file(QStringLiteral("carta.tif")), "Estimado señor: adjunto la ficha");
    QByteArray huge("II*\0", 4);
    const auto le = [&huge](uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            huge.append(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    le(8, 4);
    le(6, 2); // six entries: width, length, bits, compression, photometric, strip offsets
    const uint16_t tags[6][2] = {{256, 4}, {257, 4}, {258, 3}, {259, 3}, {262, 3}, {273, 4}};
    const uint32_t values[6] = {20000, 20000, 8, 1, 1, 8};
    for (int i = 0; i < 6; ++i) {
        le(tags[i][0], 2);
        le(tags[i][1], 2);
        le(1, 4);
        le(values[i], 4);
    }
    le(0, 4);
    writeBytes(dir.file(QStringLiteral("enorme.tif")), huge);
    for (const char* bad : {"carta.tif", "enorme.tif"}) {
        prompter.clear();
        card.Modificado = false;
        EXPECT_FALSE(card.CargarArchivo(dir.file(QString::fromLatin1(bad)), true)) << bad;
        ASSERT_EQ(prompter.messages().size(), 1u) << bad;
        EXPECT_TRUE(
            prompter.lastText().startsWith(QStringLiteral("No se pudo cargar la imagen ") + QString::fromLatin1(bad)));
        EXPECT_FALSE(card.Modificado);
        QFile f(dir.file(QStringLiteral("out.tif")));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), shown);
    }
    EXPECT_EQ(card.Contador, 2);
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("huella2.TIF"))));

    // A BMP loads under the numbered names and then saves in the card form.
    page.resolutionX = page.resolutionY = 300;
    ASSERT_TRUE(saveGreyBmp(dir.filePath("ficha.bmp"), page, nullptr));
    ASSERT_TRUE(card.CargarArchivo(dir.file(QStringLiteral("ficha.bmp")), false));
    EXPECT_FALSE(card.Modificado);
    EXPECT_TRUE(QFile::exists(dir.file(QStringLiteral("huella3.BMP"))));
    ASSERT_TRUE(card.grabar(QStringLiteral("_____"), QStringLiteral("A1234")));
    EXPECT_EQ(card.ArchivoHuella, dir.file(QStringLiteral("huella4.TIF")));
    PageInfo info;
    ASSERT_TRUE(readPageInfo(card.ArchivoHuella.toStdString(), 1, info, nullptr));
    EXPECT_EQ(info.fileType, kFileTiff);
    EXPECT_EQ(info.pageType, kPageGrey8);
    EXPECT_EQ(info.compressionType, kCompressionJpeg);
    EXPECT_EQ(info.compressionInfo, kInfoJpegMedium);
    EXPECT_NEAR(info.resolutionX, 300, 0.01);
}

TEST_F(CaptureTest, SavingWithoutACardReturnsOnlyTheClassifications) {
    CardCapture card(dir.appDir(), prompter, setup);
    ASSERT_TRUE(card.grabar(QStringLiteral("V1234"), QStringLiteral("_____")));
    EXPECT_TRUE(card.ArchivoHuella.isEmpty());
    EXPECT_EQ(card.ClasDer, QStringLiteral("V1234"));
    EXPECT_EQ(card.Contador, 0);
    EXPECT_TRUE(prompter.texts().isEmpty());
}

struct NormCase {
    const char* name;
    const char* given;
    const char* expected;
};
class ClasificacionTest : public ::testing::TestWithParam<NormCase> {};

TEST_P(ClasificacionTest, IsNormalised) {
    EXPECT_EQ(normalizarClasificacion(QString::fromUtf8(GetParam().given)), QString::fromUtf8(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(Values, ClasificacionTest,
                         ::testing::Values(NormCase{"PaddedLowerCase", "a12", "A12__"},
                                           NormCase{"Cut", "A123456", "A1234"},
                                           NormCase{"DigitOneNotAThumb", "1____", "_____"},
                                           NormCase{"Empty", "", "_____"}, NormCase{"FiveNotAFinger", "V1534", "_____"},
                                           NormCase{"AllSets", "x0x4_", "X0X4_"},
                                           NormCase{"NonAscii", "É1234", "_____"}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(ClasificacionKeysTest, TypingOverwritesLeftToRightAndRefusesWhatDoesNotFit) {
    QString text = QString::fromLatin1(kClasificacionVacia);
    int caret = 0;
    for (QChar c : QStringLiteral("v1234"))
        EXPECT_TRUE(teclearClasificacion(text, caret, c));
    EXPECT_EQ(text, QStringLiteral("V1234"));
    EXPECT_EQ(caret, 5);
    EXPECT_FALSE(teclearClasificacion(text, caret, QLatin1Char('0'))) << "nothing beyond the fifth finger";
    caret = 1;
    EXPECT_FALSE(teclearClasificacion(text, caret, QLatin1Char('5')));
    EXPECT_FALSE(teclearClasificacion(text, caret, QLatin1Char('b')));
    EXPECT_FALSE(teclearClasificacion(text, caret, QLatin1Char('A'))) << "a letter of the thumb at the index";
    EXPECT_EQ(text, QStringLiteral("V1234"));
    EXPECT_EQ(caret, 1);
    EXPECT_TRUE(teclearClasificacion(text, caret, QLatin1Char('-')));
    EXPECT_EQ(text, QStringLiteral("V_234"));
    caret = 0;
    EXPECT_TRUE(teclearClasificacion(text, caret, QLatin1Char('E')));
    EXPECT_EQ(text, QStringLiteral("E_234"));
}

class DocumentTest : public CaptureTest {
protected:
    void makeDocument(const QString& path, int count) {
        std::vector<Page> doc;
        for (int i = 0; i < count; ++i) {
            Raster r = textPage(2480, 3508);
            doc.push_back(Page{r, DocumentCapture::pageEncoding(i % 2 ? kImageBw : kImageGray)});
        }
        std::string error;
        ASSERT_TRUE(savePages(path.toStdString(), doc, &error)) << error;
    }
};

TEST_F(DocumentTest, TheOnlyPageStaysAndThePageFieldIsBounded) {
    DocumentCapture doc(dir.appDir(), prompter, setup);
    EXPECT_FALSE(doc.borrarPagina()) << "no document";
    EXPECT_TRUE(prompter.texts().isEmpty());
    makeDocument(doc.documentPath(), 1);
    doc.prepareShow();
    ASSERT_TRUE(doc.hasDocument());
    EXPECT_EQ(doc.caption(), QStringLiteral("Digitalización de la documentación (1 página)"));
    EXPECT_FALSE(doc.borrarPagina());
    ASSERT_EQ(prompter.messages().size(), 1u);
    EXPECT_EQ(prompter.lastText(), QStringLiteral("No se puede borrar esta página porque\run documento no puede "
                                                  "quedar vacío"));
    EXPECT_EQ(prompter.messages()[0].caption, QStringLiteral("Advertencia"));
    EXPECT_FALSE(doc.Guardado) << "even a refused deletion counts as a change";

    makeDocument(doc.documentPath(), 3);
    ASSERT_TRUE(doc.cargar(doc.documentPath()));
    EXPECT_EQ(doc.irAPagina(QStringLiteral("0")), 1);
    EXPECT_EQ(doc.irAPagina(QStringLiteral("x")), 1);
    EXPECT_EQ(doc.irAPagina(QStringLiteral("99")), 3);
    EXPECT_EQ(doc.irAPagina(QStringLiteral(" 2 ")), 2);
    prompter.clear();
    EXPECT_FALSE(doc.borrarPagina()) << "answered No";
    EXPECT_EQ(prompter.messages().at(0).text, QStringLiteral("¿Está seguro que desea borrar esta página?"));
    EXPECT_EQ(prompter.messages().at(0).caption, QStringLiteral("Atención"));
    EXPECT_EQ(doc.pageCount(), 3);
    prompter.answerConfirm(true);
    ASSERT_TRUE(doc.borrarPagina());
    std::vector<Page> left;
    ASSERT_TRUE(loadPages(doc.CopiaTrabajo.toStdString(), left, nullptr));
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[0].format.pageType, kPageGrey8);
    EXPECT_EQ(left[1].format.pageType, kPageGrey8) << "page 3 (grey) now second, with its own encoding";
}

TEST_F(DocumentTest, BadFilesAreRefusedAndTheDocumentIsKept) {
    DocumentCapture doc(dir.appDir(), prompter, setup);
    makeDocument(doc.documentPath(), 2);
    doc.prepareShow();
    ASSERT_EQ(doc.pageCount(), 2);
    const QString copy = doc.CopiaTrabajo;

    // A file whose last page is cut off: it claims more than it holds.
    makeDocument(dir.file(QStringLiteral("cortado.tif")), 3);
    QFile whole(dir.file(QStringLiteral("cortado.tif")));
    ASSERT_TRUE(whole.open(QIODevice::ReadWrite));
    const QByteArray bytes = whole.readAll();
    whole.close();
    // Strips of the last page zeroed: its directory still counts it.
    QByteArray damaged = bytes;
    for (qsizetype i = damaged.size() * 2 / 3; i < damaged.size() - 400; ++i)
        damaged[i] = '\0';
    writeBytes(dir.file(QStringLiteral("cortado.tif")), damaged);
    writeBytes(dir.file(QStringLiteral("nota.tif")), "no soy una imagen");
    for (const char* bad : {"nota.tif", "cortado.tif"}) {
        prompter.clear();
        EXPECT_FALSE(doc.cargarDesdeDisco(dir.file(QString::fromLatin1(bad)))) << bad;
        ASSERT_EQ(prompter.messages().size(), 1u) << bad;
        EXPECT_TRUE(prompter.lastText().startsWith(QStringLiteral("El archivo ") + QString::fromLatin1(bad) +
                                                   QStringLiteral(" no es un documento TIFF")));
        EXPECT_EQ(pageCount(doc.documentPath().toStdString(), nullptr), 2) << bad;
        EXPECT_EQ(doc.CopiaTrabajo, copy);
        EXPECT_EQ(doc.pageCount(), 2);
    }
}

TEST_F(DocumentTest, ClosingWithUnsavedPagesAsksAndKeepsTheDocumentOnlyOnYes) {
    DocumentCapture doc(dir.appDir(), prompter, setup);
    doc.ArchivoDocumento = QStringLiteral("5.tif");
    makeDocument(doc.documentPath(), 2);
    const QDateTime given = QFileInfo(doc.documentPath()).lastModified();
    QThread::msleep(20);

    // Shown and closed with "&Cerrar" without a change: the document is back as it was given, not newer.
    doc.prepareShow();
    doc.cerrarSinGrabar();
    doc.alCerrar();
    doc.alOcultar();
    EXPECT_TRUE(prompter.texts().isEmpty());
    ASSERT_TRUE(QFile::exists(doc.documentPath()));
    EXPECT_EQ(QFileInfo(doc.documentPath()).lastModified(), given);

    // A page turned and the window closed: asked; No removes the document, the caller then keeps its own.
    for (bool keep : {false, true}) {
        prompter.clear();
        makeDocument(doc.documentPath(), 2);
        doc.prepareShow();
        ASSERT_TRUE(doc.rotar(true));
        prompter.answerConfirm(keep);
        doc.cerrarSinGrabar();
        doc.alCerrar();
        doc.alOcultar();
        ASSERT_EQ(prompter.messages().size(), 1u);
        EXPECT_EQ(prompter.lastText(), QStringLiteral("¿Desea guardar la imágen?"));
        EXPECT_EQ(QFile::exists(doc.documentPath()), keep);
        EXPECT_TRUE(doc.CopiaTrabajo.isEmpty());
        if (keep) {
            Raster first;
            ASSERT_TRUE(loadPage(doc.documentPath().toStdString(), 1, first, nullptr));
            EXPECT_EQ(first.width, 3508) << "the turned page was kept";
        }
    }
    // "&Grabar" keeps it without asking.
    prompter.clear();
    makeDocument(doc.documentPath(), 2);
    doc.prepareShow();
    ASSERT_TRUE(doc.rotar(false));
    doc.grabar();
    doc.alCerrar();
    doc.alOcultar();
    EXPECT_TRUE(prompter.texts().isEmpty());
    EXPECT_TRUE(QFile::exists(doc.documentPath()));
    EXPECT_EQ(QDir(dir.path()).entryList({QStringLiteral("scan*.tif")}).size(), 0);
}

} // namespace
} // namespace qev
