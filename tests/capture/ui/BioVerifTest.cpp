// The biometric identification window offscreen, with the real service client against the central office simulator:
// fingers from the simulated livescan device (only while the window is active) and from a stand-in capture program
// started by Enter in the user field; a verification in progress refuses the next one.
#include "CentralSim.h"
#include "ScriptedPrompter.h"
#include "TempAppDir.h"
#include "WaitFor.h"
#include "capture/ui/ImageView.h"
#include "capture/ui/TFBioVerif.h"
#include "capture/wsq/GreyBmp.h"
#include "core/Dataset.h"
#include "core/OfficeSchema.h"
#include "core/Settings.h"
#include "exchange/BioQEV.h"
#include "platform/LiveScan.h"
#include "platform/SimulatedLiveScan.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>

namespace qev {
namespace {

const QByteArray kData = R"({"biometric": [
  {"app_id": "admin", "score": 5},
  {"app_id": "rechazado", "score": -1}
]})";

constexpr int kWidth = 300;
constexpr int kHeight = 360;

// A finger-like pattern of ridges, brighter towards the right so that a mirrored copy can be told apart.
wsq::GreyImage ridges() {
    wsq::GreyImage g{kWidth, kHeight, std::vector<uint8_t>(size_t(kWidth) * kHeight)};
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const double r = std::hypot(x - kWidth / 2.0, y - kHeight / 2.0);
            g.pixels[size_t(y) * kWidth + x] = static_cast<uint8_t>(60 + 50 * std::sin(r / 3.0) + x * 0.4);
        }
    return g;
}

bool waitFor(const std::function<bool()>& done, int ms = 10000) {
    return test::waitFor(done, ms);
}

class BioVerifTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.started()) << sim.error().toStdString();
        QString error;
        ASSERT_TRUE(createOfficeFolder(dir.path(), false, &error)) << error.toStdString();
        amb = std::make_unique<Dataset>(dir.path(), *findOfficeTable(QStringLiteral("amb")));
        ASSERT_TRUE(amb->open());
        settings = std::make_unique<Settings>(*amb);
        service.client().setTimeout(std::chrono::seconds(10));
        auto device = std::make_unique<platform::SimulatedLiveScan>(dir.path());
        simulated = device.get();
        scanner = std::make_unique<platform::TFingerScan>(std::move(device), dir.path());
        ASSERT_TRUE(scanner->start(&error)) << error.toStdString();
        window = std::make_unique<TFBioVerif>(
            *scanner,
            [this](const QString& appId, const QString& text) -> Result<int> {
                ++calls;
                if (duringCall) duringCall();
                return service.verificarHuella(appId, text);
            },
            *settings, dir.appDir(), prompter);
        edAppID = window->findChild<QLineEdit*>(QStringLiteral("edAppID"));
        btCap = window->findChild<QPushButton*>(QStringLiteral("btCap"));
        sbStat = window->findChild<QStatusBar*>(QStringLiteral("sbStat"));
        ASSERT_TRUE(edAppID && btCap && sbStat);
    }
    void TearDown() override {
        window.reset();
        scanner.reset();
    }

    void showActive() {
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    platform::LiveScanImage deviceImage() const {
        const wsq::GreyImage g = ridges();
        platform::LiveScanImage image;
        image.scannerId = QString::fromLatin1(platform::SimulatedLiveScan::kScannerId);
        image.width = g.width;
        image.height = g.height;
        image.ppi = 500;
        image.pixels = QByteArray(reinterpret_cast<const char*>(g.pixels.data()), qsizetype(g.pixels.size()));
        return image;
    }

    QString status() const { return sbStat->currentMessage(); }

    test::CentralSim sim{kData};
    test::TempAppDir dir;
    test::ScriptedPrompter prompter;
    std::unique_ptr<Dataset> amb;
    std::unique_ptr<Settings> settings;
    BioQEVService service{sim.root()};
    platform::SimulatedLiveScan* simulated = nullptr;
    std::unique_ptr<platform::TFingerScan> scanner;
    std::unique_ptr<TFBioVerif> window;
    QLineEdit* edAppID = nullptr;
    QPushButton* btCap = nullptr;
    QStatusBar* sbStat = nullptr;
    int calls = 0;
    std::function<void()> duringCall;
};

TEST_F(BioVerifTest, DeviceFingersVerifyOnlyWhileTheWindowIsActive) {
    ASSERT_TRUE(settings->write(QStringLiteral("flip_hor"), QStringLiteral("S")));
    // Hidden: the device's image reaches nobody.
    ASSERT_TRUE(simulated->push(deviceImage()));
    QTest::qWait(100);
    EXPECT_EQ(calls, 0);
    EXPECT_FALSE(scanner->windowVisible());

    showActive();
    EXPECT_TRUE(scanner->windowVisible());
    const QRegularExpression done(QStringLiteral("^Resultado: (-?\\d+) - Tiempo: \\d+ ms\\.$"));
    const struct {
        const char* user;
        int result;
    } attempts[] = {{"nadie", 0}, {"rechazado", -1}, {"admin", 5}};
    for (const auto& a : attempts) {
        SCOPED_TRACE(a.user);
        edAppID->setText(QString::fromLatin1(a.user));
        const int before = calls;
        ASSERT_TRUE(simulated->push(deviceImage()));
        ASSERT_TRUE(waitFor([&] { return calls > before && !window->verifying(); }));
        const auto match = done.match(status());
        ASSERT_TRUE(match.hasMatch()) << status().toStdString();
        EXPECT_EQ(match.captured(1).toInt(), a.result);
        EXPECT_EQ(window->verificationResult(), a.result);
        EXPECT_EQ(window->user(), QString::fromLatin1(a.user));
        EXPECT_EQ(window->isVisible(), a.result <= 0) << "only a positive answer closes the window";
    }
    EXPECT_EQ(window->result(), QDialog::Accepted);
    EXPECT_FALSE(scanner->windowVisible()) << "a closed window stops listening";
    EXPECT_TRUE(prompter.messages().empty()) << prompter.lastText().toStdString();
    EXPECT_EQ(prompter.busyDepth(), 0);
    // The finger shown is the device's image mirrored left to right.
    const QImage shown = window->findChild<ImageView*>(QStringLiteral("img"))->image();
    const wsq::GreyImage g = ridges();
    ASSERT_EQ(shown.width(), kWidth);
    EXPECT_EQ(qGray(shown.pixel(0, 7)), g.pixels[size_t(7) * kWidth + kWidth - 1]);
    EXPECT_EQ(qGray(shown.pixel(kWidth - 1, 7)), g.pixels[size_t(7) * kWidth]);
}

TEST_F(BioVerifTest, EnterRunsTheCaptureProgramAndRefusesASecondVerification) {
    const QString folder = dir.file(QStringLiteral("LiveScanIB"));
    ASSERT_TRUE(QDir().mkpath(folder));
    auto write = [](const QString& path, const QByteArray& text) {
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
    };
    ASSERT_TRUE(write(dir.file(QStringLiteral("LiveScan.INI")),
                      "[Config]\r\nPathLiveScan=" + folder.toUtf8() + "/\r\nLiveScanIni=prueba.ini\r\n"));
    ASSERT_TRUE(
        write(folder + QStringLiteral("/prueba.ini"), "[Config]\r\nTitulo=Prueba\r\nExeCaptura=captura.sh\r\n"));
    showActive();

    // No program yet: the operator is told which one is missing and nothing is sent.
    edAppID->setText(QStringLiteral("admin"));
    QTest::keyClick(edAppID, Qt::Key_Return);
    ASSERT_EQ(prompter.messages().size(), 1u);
    EXPECT_EQ(prompter.lastText(), QStringLiteral("Error: no existe el programa \"%1/captura.sh\"").arg(folder));
    prompter.clear();

    // The stand-in program notes its argument and takes a finger for anyone but "nadie".
    const std::vector<uint8_t> bmp = wsq::writeGreyBmp(ridges(), 500);
    ASSERT_TRUE(write(folder + QStringLiteral("/dedo.bmp"),
                      QByteArray(reinterpret_cast<const char*>(bmp.data()), qsizetype(bmp.size()))));
    const QString script = folder + QStringLiteral("/captura.sh");
    ASSERT_TRUE(write(script, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> argumentos.txt\n"
                              "[ \"$1\" = nadie ] || cp dedo.bmp huella.bmp\n"));
    ASSERT_TRUE(QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const QString huella = folder + QStringLiteral("/huella.bmp");

    // A picture left by an earlier capture is deleted before the program starts, never sent.
    ASSERT_TRUE(write(huella, "viejo"));
    edAppID->setText(QStringLiteral("nadie"));
    QTest::keyClick(edAppID, Qt::Key_Return);
    EXPECT_FALSE(QFile::exists(huella));
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(prompter.messages().empty()) << prompter.lastText().toStdString();

    // During the call the operator presses Enter again and clicks the button; a device image arrives too.
    duringCall = [this] {
        QTest::keyClick(edAppID, Qt::Key_Return);
        btCap->click();
        (void)simulated->push(deviceImage());
        QTest::qWait(50);
    };
    edAppID->setText(QStringLiteral("admin"));
    QTest::keyClick(edAppID, Qt::Key_Return);
    ASSERT_TRUE(waitFor([&] { return !window->isVisible(); }));
    QTest::qWait(100);
    EXPECT_EQ(calls, 1) << "the second verification was refused";
    QFile args(folder + QStringLiteral("/argumentos.txt"));
    ASSERT_TRUE(args.open(QIODevice::ReadOnly));
    EXPECT_EQ(args.readAll(), QByteArray("nadie\nadmin\n"));
    EXPECT_EQ(window->result(), QDialog::Accepted);
    EXPECT_EQ(window->verificationResult(), 5);
    EXPECT_TRUE(status().startsWith(QStringLiteral("Resultado: 5 - Tiempo: "))) << status().toStdString();
    EXPECT_TRUE(prompter.messages().empty()) << prompter.lastText().toStdString();
    EXPECT_EQ(prompter.busyDepth(), 0);
}

TEST_F(BioVerifTest, ServiceErrorIsShownAndTheWaitingTextStays) {
    BioQEVService dead(QStringLiteral("http://127.0.0.1:%1/").arg(test::deadPort()));
    dead.client().setTimeout(std::chrono::seconds(5));
    TFBioVerif offline(
        *scanner, [&dead](const QString& appId, const QString& text) { return dead.verificarHuella(appId, text); },
        *settings, dir.appDir(), prompter);
    offline.findChild<QLineEdit*>(QStringLiteral("edAppID"))->setText(QStringLiteral("admin"));
    capture::Raster finger;
    const wsq::GreyImage g = ridges();
    finger.width = g.width;
    finger.height = g.height;
    finger.pixels = g.pixels;
    EXPECT_TRUE(offline.verify(finger));
    ASSERT_EQ(prompter.messages().size(), 1u);
    EXPECT_EQ(prompter.messages()[0].kind, QStringLiteral("error"));
    EXPECT_TRUE(prompter.lastText().contains(QStringLiteral("refused"))) << prompter.lastText().toStdString();
    EXPECT_EQ(offline.findChild<QStatusBar*>(QStringLiteral("sbStat"))->currentMessage(),
              QStringLiteral("Verificando identidad, por favor espere..."));
    EXPECT_EQ(offline.verificationResult(), 0);
    EXPECT_EQ(prompter.busyDepth(), 0) << "the cursor is restored";
}

} // namespace
} // namespace qev
