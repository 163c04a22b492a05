// The scanner port and the capture logic over SANE's "test" backend (the test run loads only that backend).
#include "platform/SaneScanner.h"
#include "HangWatch.h"
#include "ScriptedPrompter.h"
#include "TempAppDir.h"
#include "capture/CardCapture.h"
#include "capture/DocumentCapture.h"
#include "capture/ImageRules.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <algorithm>

namespace qev {
namespace {

using namespace capture;

class Pages final : public ScanSink {
public:
    bool page(Raster&& p, int) override {
        pages.push_back(std::move(p));
        return true;
    }
    bool cancelRequested() override { return cancelAfter >= 0 && static_cast<int>(pages.size()) >= cancelAfter; }
    std::vector<Raster> pages;
    int cancelAfter = -1;
};

bool has(const std::vector<std::string>& v, const char* s) {
    return std::find(v.begin(), v.end(), std::string(s)) != v.end();
}

class SaneScannerTest : public ::testing::Test {
protected:
    // The backend's reader thread once left a feeder test stuck until the run's time limit; a stuck test now
    // prints where, and ends.
    test::HangWatch watch{std::chrono::seconds(120)};
    void SetUp() override { ASSERT_FALSE(qEnvironmentVariable("SANE_CONFIG_DIR").isEmpty()); }
    std::string openOrFail(const char* name) {
        std::string error;
        EXPECT_TRUE(scanner.open(name, &error)) << error;
        return error;
    }
    platform::SaneScanner scanner;
    test::TempAppDir dir;
    test::ScriptedPrompter prompter;
};

TEST_F(SaneScannerTest, ListsOnlyThePrivateTestDevicesAndRefusesAnUnknownOne) {
    std::vector<ScanSourceInfo> sources;
    std::string error;
    ASSERT_TRUE(scanner.listSources(sources, &error)) << error;
    ASSERT_EQ(sources.size(), 2u);
    EXPECT_EQ(sources[0].name, "test:0");
    EXPECT_EQ(sources[1].name, "test:1");
    EXPECT_FALSE(scanner.open("net:nowhere", &error));
    EXPECT_NE(error.find("No se pudo abrir el scanner net:nowhere"), std::string::npos) << error;
    EXPECT_FALSE(scanner.isOpen());
}

TEST_F(SaneScannerTest, MapsTheSettingsOntoTheDeviceAndNamesThoseItLacks) {
    openOrFail("test:0");
    ScanRequest r;
    r.dpi = 150;
    r.left = 10 / 25.4;
    r.top = 20 / 25.4;
    r.right = 60 / 25.4;
    r.bottom = 80 / 25.4;
    r.brightness = 300;
    r.contrast = -200;
    Pages sink;
    const ScanOutcome out = scanner.scan(r, sink);
    ASSERT_TRUE(out.ok()) << out.error;
    ASSERT_EQ(sink.pages.size(), 1u);
    // 50 x 60 mm at 150 dpi.
    EXPECT_EQ(sink.pages[0].width, 295);
    EXPECT_EQ(sink.pages[0].height, 354);
    EXPECT_EQ(sink.pages[0].channels, 1);
    EXPECT_DOUBLE_EQ(sink.pages[0].resolutionX, 150);
    // The test device has neither brightness nor contrast; everything else was taken.
    EXPECT_TRUE(has(out.notSet, kSettingBrightness));
    EXPECT_TRUE(has(out.notSet, kSettingContrast));
    EXPECT_FALSE(has(out.notSet, kSettingResolution));
    EXPECT_FALSE(has(out.notSet, kSettingArea));

    // Black and white: the device has no line-art mode, so one-bit grey is asked for.
    r.pixels = PixelKind::BlackWhite;
    r.brightness = r.contrast = 0;
    ASSERT_TRUE(scanner.setOption("test-picture", "Grid", nullptr));
    sink.pages.clear();
    const ScanOutcome bw = scanner.scan(r, sink);
    ASSERT_TRUE(bw.ok()) << bw.error;
    EXPECT_TRUE(bw.notSet.empty());
    const Raster& p = sink.pages.at(0);
    EXPECT_TRUE(p.bilevel);
    EXPECT_TRUE(std::all_of(p.pixels.begin(), p.pixels.end(), [](uint8_t v) { return v == 0 || v == 255; }));
    EXPECT_TRUE(std::count(p.pixels.begin(), p.pixels.end(), 0) > 0 &&
                std::count(p.pixels.begin(), p.pixels.end(), 255) > 0);

    // An area beyond the surface is clamped and said so; a feeder the flatbed device lacks is named.
    r.right = 400 / 25.4;
    r.feeder = true;
    sink.pages.clear();
    const ScanOutcome wide = scanner.scan(r, sink);
    ASSERT_TRUE(wide.ok()) << wide.error;
    EXPECT_TRUE(has(wide.notSet, kSettingArea));

    const std::vector<ScanOption> options = scanner.options();
    const auto res =
        std::find_if(options.begin(), options.end(), [](const ScanOption& o) { return o.name == "resolution"; });
    ASSERT_NE(res, options.end());
    EXPECT_EQ(res->constraint, "RANGE");
    EXPECT_EQ(res->value, "150");
    EXPECT_EQ(res->unit, "dpi");
}

TEST_F(SaneScannerTest, SixteenBitPagesAreReducedAndThreePassColourIsRefused) {
    openOrFail("test:0");
    ASSERT_TRUE(scanner.setOption("test-picture", "Solid white", nullptr));
    ScanRequest r;
    r.dpi = 50;
    r.right = 1;
    r.bottom = 1;
    r.depth = 16;
    Pages sink;
    const ScanOutcome wide = scanner.scan(r, sink);
    ASSERT_TRUE(wide.ok()) << wide.error;
    ASSERT_EQ(sink.pages.size(), 1u);
    // One byte a pixel: one inch at 50 dpi on a device whose area moves in whole millimetres (25 mm).
    EXPECT_EQ(sink.pages[0].width, 49);
    EXPECT_EQ(sink.pages[0].pixels.size(), size_t(sink.pages[0].width) * size_t(sink.pages[0].height));
    EXPECT_EQ(sink.pages[0].pixels.front(), 255) << "white stays white in the high byte";

    // A colour page sent in three passes, one colour each, is refused with a clear reason.
    ASSERT_TRUE(scanner.setOption("mode", "Color", nullptr));
    ASSERT_TRUE(scanner.setOption("three-pass", "yes", nullptr));
    r.pixels = PixelKind::Colour;
    r.depth = 8;
    sink.pages.clear();
    const ScanOutcome passes = scanner.scan(r, sink);
    EXPECT_EQ(passes.status, ScanOutcome::Status::Failed);
    EXPECT_EQ(passes.error, "El scanner entrega la página en tres pasadas de color, que no se admiten");
    EXPECT_TRUE(sink.pages.empty());
}

TEST_F(SaneScannerTest, FeederBatchesStopWhenEmptyAndCancelOrFailClearly) {
    openOrFail("test:1");
    ScanRequest r;
    r.dpi = 50;
    r.right = 2;
    r.bottom = 2;
    r.feeder = true;
    for (int asked : {0, 12}) { // 0 takes pages until the feeder is empty; the test device's feeder holds ten
        r.pages = asked;
        Pages all;
        const ScanOutcome out = scanner.scan(r, all);
        ASSERT_TRUE(out.ok()) << out.error;
        EXPECT_EQ(out.pages, 10);
        EXPECT_EQ(all.pages.size(), 10u);
        EXPECT_TRUE(out.notSet.empty());
    }

    r.pages = 3;
    Pages some;
    some.cancelAfter = 2;
    const ScanOutcome cancelled = scanner.scan(r, some);
    EXPECT_EQ(cancelled.status, ScanOutcome::Status::Cancelled);
    EXPECT_EQ(some.pages.size(), 2u);

    // A device that stops answering in the middle of a page.
    ASSERT_TRUE(scanner.setOption("read-return-value", "SANE_STATUS_IO_ERROR", nullptr));
    Pages broken;
    const ScanOutcome failed = scanner.scan(r, broken);
    EXPECT_EQ(failed.status, ScanOutcome::Status::Failed);
    EXPECT_NE(failed.error.find("El scanner dejó de responder durante la digitalización"), std::string::npos)
        << failed.error;
    EXPECT_TRUE(broken.pages.empty());
}

TEST_F(SaneScannerTest, ACardScannedAtTheCardSettingsPassesTheCardRules) {
    ScanSetup setup(scanner, dir.appDir(), prompter);
    setup.source = QStringLiteral("test:0");
    CardCapture card(dir.appDir(), prompter, setup);
    card.prepareShow(); // no "Huella.INI": 300 dpi grey, 0..210 mm by 0..110 mm
    ASSERT_TRUE(card.escanear(false)) << prompter.texts().join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(card.Modificado);
    EXPECT_EQ(card.shownImage(), dir.file(QStringLiteral("out.bmp")));
    ASSERT_TRUE(card.grabar(QStringLiteral("V1234"), QStringLiteral("_____")));
    EXPECT_EQ(card.ArchivoHuella, dir.file(QStringLiteral("huella1.TIF")));
    PageInfo info;
    ASSERT_TRUE(readPageInfo(card.ArchivoHuella.toStdString(), 1, info, nullptr));
    EXPECT_EQ(info.width, 2480);
    EXPECT_EQ(info.height, 1299);
    EXPECT_TRUE(ValidarImagenHuella(card.ArchivoHuella, prompter));
    EXPECT_TRUE(prompter.texts().isEmpty()) << prompter.texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(card.ClasDer, QStringLiteral("V1234"));
    card.cerrar();
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("out.tif"))));
    EXPECT_TRUE(QFile::exists(card.ArchivoHuella));
}

TEST_F(SaneScannerTest, ADocumentBatchIsEditedPageByPageKeepingEachPageEncoding) {
    ScanSetup setup(scanner, dir.appDir(), prompter);
    setup.source = QStringLiteral("test:1");
    ScanSettings a4;
    a4.derecha = 210;
    a4.abajo = 297;
    a4.uiMode = 4; // feeder, scanner dialog hidden
    a4.paginas = 3;
    a4.tipoImagen = kImageGray;
    ASSERT_TRUE(saveScanSettings(dir.file(QString::fromLatin1(kDocumentIni)), a4));
    DocumentCapture doc(dir.appDir(), prompter, setup);
    doc.ArchivoDocumento = QStringLiteral("7.tif");
    doc.prepareShow();
    EXPECT_FALSE(doc.hasDocument());
    setup.settings().paginas = 3; // the page count is not kept in the settings file
    ASSERT_TRUE(doc.digitalizar(DocumentCapture::Operacion::Redigitalizar))
        << prompter.texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(doc.pageCount(), 3);
    EXPECT_EQ(doc.caption(), QStringLiteral("Digitalización de la documentación (3 páginas)"));
    ASSERT_TRUE(ValidarImagenDocumento(doc.documentPath(), prompter));
    EXPECT_EQ(pageCount(doc.documentPath().toStdString(), nullptr), 3);

    const auto encodings = [&doc] {
        std::vector<std::pair<int, int>> out;
        const std::string f = doc.CopiaTrabajo.toStdString();
        for (int p = 1; p <= pageCount(f, nullptr); ++p) {
            PageInfo i;
            EXPECT_TRUE(readPageInfo(f, p, i, nullptr));
            out.emplace_back(i.pageType, i.compressionType);
        }
        return out;
    };
    const std::pair<int, int> grey{kPageGrey8, kCompressionJpeg};
    const std::pair<int, int> bw{kPageBlackWhite, kCompressionGroup4};

    // One black-and-white page inserted before page 2.
    setup.settings().tipoImagen = kImageBw;
    setup.settings().paginas = 1;
    ASSERT_TRUE(scanner.setOption("test-picture", "Grid", nullptr));
    ASSERT_EQ(doc.irAPagina(QStringLiteral("2")), 2);
    ASSERT_TRUE(doc.digitalizar(DocumentCapture::Operacion::Insertar));
    EXPECT_FALSE(doc.Guardado);
    EXPECT_EQ(encodings(), (std::vector<std::pair<int, int>>{grey, bw, grey, grey}));

    // Page 3 deleted: the others keep their own encodings.
    prompter.answerConfirm(true);
    ASSERT_EQ(doc.irAPagina(QStringLiteral("3")), 3);
    ASSERT_TRUE(doc.borrarPagina());
    EXPECT_EQ(encodings(), (std::vector<std::pair<int, int>>{grey, bw, grey}));

    // One grey page appended, then the whole document replaced by a new black-and-white scan.
    setup.settings().tipoImagen = kImageGray;
    ASSERT_TRUE(doc.digitalizar(DocumentCapture::Operacion::Agregar));
    EXPECT_EQ(doc.page(), 4);
    EXPECT_EQ(encodings(), (std::vector<std::pair<int, int>>{grey, bw, grey, grey}));
    setup.settings().tipoImagen = kImageBw;
    ASSERT_TRUE(doc.digitalizar(DocumentCapture::Operacion::Redigitalizar));
    EXPECT_EQ(encodings(), (std::vector<std::pair<int, int>>{bw}));
    EXPECT_TRUE(ValidarImagenDocumento(doc.CopiaTrabajo, prompter));

    // Saved and closed: the document file holds the working copy, which is gone.
    const QString copy = doc.CopiaTrabajo;
    doc.grabar();
    doc.alCerrar();
    doc.alOcultar();
    EXPECT_FALSE(QFile::exists(copy));
    EXPECT_EQ(pageCount(doc.documentPath().toStdString(), nullptr), 1);
    EXPECT_TRUE(prompter.messages().size() == 1 && prompter.messages()[0].kind == QStringLiteral("confirm"));
}

TEST_F(SaneScannerTest, AScannerThatFailsLeavesTheShownDocumentUntouched) {
    ScanSetup setup(scanner, dir.appDir(), prompter);
    setup.source = QStringLiteral("test:1");
    DocumentCapture doc(dir.appDir(), prompter, setup);
    Raster page = Raster::grey(2480, 3508, 180);
    page.resolutionX = page.resolutionY = 300;
    ASSERT_TRUE(savePages(
        doc.documentPath().toStdString(),
        {Page{page, DocumentCapture::pageEncoding(kImageGray)}, Page{page, DocumentCapture::pageEncoding(kImageBw)}},
        nullptr));
    doc.prepareShow();
    ASSERT_EQ(doc.pageCount(), 2);
    std::string error;
    ASSERT_TRUE(scanner.open("test:1", &error)) << error;
    ASSERT_TRUE(scanner.setOption("read-return-value", "SANE_STATUS_IO_ERROR", nullptr));
    EXPECT_FALSE(doc.digitalizar(DocumentCapture::Operacion::Agregar));
    ASSERT_FALSE(prompter.messages().empty());
    EXPECT_TRUE(prompter.lastText().startsWith(QStringLiteral("El scanner dejó de responder")));
    EXPECT_TRUE(doc.OperacionEnCurso.isEmpty());
    EXPECT_EQ(doc.pageCount(), 2);
    EXPECT_EQ(pageCount(doc.CopiaTrabajo.toStdString(), nullptr), 2);
    EXPECT_EQ(pageCount(doc.documentPath().toStdString(), nullptr), 2);
}

} // namespace
} // namespace qev
