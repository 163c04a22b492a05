// The livescan device port: what reaches a capture window from a device (resampled, refused, dropped), the
// simulated device's files, the capture programs run from the livescan folder and the "LiveScan.INI" file.
#include "platform/LiveScan.h"
#include "platform/LiveScanPrograms.h"
#include "platform/SimulatedLiveScan.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace qev::platform;

namespace {

int le32(const QByteArray& b, int at) {
    return int(uint8_t(b[at])) | int(uint8_t(b[at + 1])) << 8 | int(uint8_t(b[at + 2])) << 16 |
           int(uint8_t(b[at + 3])) << 24;
}

// A device image whose grey at (x, y) tells where it came from.
LiveScanImage pattern(int width, int height, int ppi = 500) {
    LiveScanImage image;
    image.scannerId = QString::fromLatin1(SimulatedLiveScan::kScannerId);
    image.width = width;
    image.height = height;
    image.ppi = ppi;
    image.pixels.resize(qsizetype(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.pixels[qsizetype(y) * width + x] = char((x * 7 + y * 13) & 0xFF);
    return image;
}

uint8_t sourceAt(const LiveScanImage& image, int x, int y) {
    return uint8_t(image.pixels[qsizetype(y) * image.width + x]);
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    f.write(bytes);
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void waitUntil(const std::function<bool()>& done, int ms = 5000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

} // namespace

struct ResampleCase {
    int width, height, ppi, outWidth, outHeight;
};

class LiveScanResample : public ::testing::TestWithParam<ResampleCase> {};

// The BMP a window receives: 500 ppi, width a multiple of 4, grey palette, bottom row first, each pixel the
// nearest source pixel (columns past the source's last one repeat it).
TEST_P(LiveScanResample, GivesA500PpiGreyBitmapOfTheNearestPixels) {
    const ResampleCase c = GetParam();
    const LiveScanImage image = pattern(c.width, c.height, c.ppi);
    QString error;
    const QByteArray bmp = imageToBmp500(image, c.ppi, &error);
    ASSERT_FALSE(bmp.isEmpty()) << error.toStdString();

    ASSERT_EQ(bmp.left(2), QByteArray("BM"));
    EXPECT_EQ(le32(bmp, 2), bmp.size());
    const int offset = le32(bmp, 10);
    EXPECT_EQ(offset, 1078);
    EXPECT_EQ(le32(bmp, 18), c.outWidth);
    EXPECT_EQ(le32(bmp, 22), c.outHeight);
    EXPECT_EQ(le32(bmp, 28) & 0xFFFF, 8);
    EXPECT_EQ(le32(bmp, 38), 19685);
    ASSERT_EQ(bmp.size(), offset + c.outWidth * c.outHeight);
    for (int i : {0, 1, 128, 255})
        EXPECT_EQ(uint8_t(bmp[54 + 4 * i + 1]), i);

    const double d = c.ppi / 500.0;
    // Rows counted from the bottom, as the bitmap keeps them: bitmap row b holds source row round(d * b) from the
    // bottom.
    for (int b : {0, 1, c.outHeight / 3, c.outHeight - 1}) {
        const int sy = c.height - 1 - std::min(c.height - 1, int(std::lround(d * b)));
        const char* row = bmp.constData() + offset + qsizetype(b) * c.outWidth;
        for (int x = 0; x < c.outWidth; ++x) {
            const int sx = std::min(c.width - 1, int(std::lround(d * x)));
            ASSERT_EQ(uint8_t(row[x]), sourceAt(image, sx, sy)) << "x " << x << " bitmap row " << b;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, LiveScanResample,
                         ::testing::Values(ResampleCase{400, 500, 500, 400, 500},   // already right
                                           ResampleCase{402, 500, 500, 404, 500},   // padded with its last column
                                           ResampleCase{800, 1000, 1000, 400, 500}, // 1000 ppi halves
                                           ResampleCase{300, 300, 333, 452, 450},   // low resolution grows
                                           ResampleCase{64, 64, 2000, 16, 16}));

// What a window never receives, each with the operator's reason.
TEST(LiveScan, RefusesImagesOutsideTheLimits) {
    struct Case {
        LiveScanImage image;
        const char* why;
    };
    LiveScanImage onePixel = pattern(1, 1);
    LiveScanImage deep = pattern(400, 400);
    deep.bitsPerPixel = 16;
    deep.pixels.append(deep.pixels);
    LiveScanImage shortBuffer = pattern(400, 400);
    shortBuffer.pixels.chop(1);
    LiveScanImage huge;
    huge.width = 5000;
    huge.height = 400;
    const std::vector<Case> cases{{onePixel, "1 x 1"},
                                  {deep, "16 bits"},
                                  {pattern(400, 400, 100), "100 ppp"},
                                  {pattern(400, 400, 5000), "5000 ppp"},
                                  {shortBuffer, "159999 bytes"},
                                  {huge, "5000 x 400"}};
    for (const Case& c : cases) {
        QString error;
        EXPECT_TRUE(imageToBmp500(c.image, c.image.ppi, &error).isEmpty()) << c.why;
        EXPECT_TRUE(error.startsWith(QStringLiteral("Imagen del lector descartada: "))) << error.toStdString();
        EXPECT_TRUE(error.contains(QString::fromUtf8(c.why))) << error.toStdString();
    }
}

TEST(LiveScan, ScannerConfigOverridesOnlyWithWholeNumbers) {
    const auto overrides = parseScannerConfig("\r\nSIMULADO-1=1000\r\nsin igual\r\nOTRO=abc\nTERCERO = 700 \r\n");
    EXPECT_EQ(effectiveResolution(overrides, QStringLiteral("SIMULADO-1"), 500), 1000);
    EXPECT_EQ(effectiveResolution(overrides, QStringLiteral("OTRO"), 500), 500);
    EXPECT_EQ(effectiveResolution(overrides, QStringLiteral("NINGUNO"), 620), 620);
    EXPECT_EQ(effectiveResolution(overrides, QStringLiteral("TERCERO"), 500), 700);
    EXPECT_EQ(overrides.count(QStringLiteral("sin igual")), 0u);
    EXPECT_EQ(scanManErrorText(kSmNotInitialized).count(QLatin1Char('\r')), 2);
}

// The wrapper between the device's threads and a window.
class LiveScanWrapper : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        auto device = std::make_unique<SimulatedLiveScan>(folder.path());
        sim = device.get();
        scan = std::make_unique<TFingerScan>(std::move(device), folder.path());
        QObject::connect(scan.get(), &TFingerScan::refused, [this](const QString& why) { refusals << why; });
    }
    void attach() {
        scan->attach(
            &owner, [this] { return !busy; }, [this](const QByteArray& bmp) { received << bmp; });
    }

    QTemporaryDir folder;
    SimulatedLiveScan* sim = nullptr;
    std::unique_ptr<TFingerScan> scan;
    QObject owner;
    bool busy = false;
    QList<QByteArray> received;
    QStringList refusals;
};

TEST_F(LiveScanWrapper, HandsOnlyWhatAVisibleIdleWindowCanTake) {
    QString error;
    ASSERT_TRUE(scan->start(&error)) << error.toStdString();
    EXPECT_EQ(scan->scannerCount(), 1);
    attach();

    EXPECT_TRUE(sim->push(pattern(400, 400))); // no window shown yet
    QCoreApplication::processEvents();
    EXPECT_TRUE(received.isEmpty());

    scan->setWindowVisible(true);
    busy = true;
    sim->push(pattern(400, 400));
    QCoreApplication::processEvents();
    EXPECT_TRUE(received.isEmpty());

    busy = false;
    sim->push(pattern(1, 1));
    sim->push(pattern(400, 400)); // still pending behind the refused one: dropped
    waitUntil([&] { return !refusals.isEmpty(); });
    ASSERT_EQ(refusals.size(), 1);
    EXPECT_TRUE(refusals[0].contains(QStringLiteral("1 x 1")));
    sim->push(pattern(400, 400));
    waitUntil([&] { return !received.isEmpty(); });
    ASSERT_EQ(received.size(), 1);

    // A window that is gone no longer receives, and detaching someone else's handlers does nothing.
    QObject stranger;
    scan->detach(&stranger);
    sim->push(pattern(400, 400));
    waitUntil([&] { return received.size() == 2; });
    EXPECT_EQ(received.size(), 2);
    scan->detach(&owner);
    sim->push(pattern(400, 400));
    waitUntil([&] { return !refusals.filter(QStringLiteral("not Attached")).isEmpty(); });
    EXPECT_EQ(received.size(), 2);
}

// A device at 1000 ppi that reports 500: the office's "ScannerConfig.CFG" names its true resolution.
TEST_F(LiveScanWrapper, TakesTheResolutionOfTheConfigurationFile) {
    writeFile(folder.filePath(QStringLiteral("ScannerConfig.CFG")), "SIMULADO-1=1000\r\n");
    auto device = std::make_unique<SimulatedLiveScan>(folder.path());
    sim = device.get();
    scan = std::make_unique<TFingerScan>(std::move(device), folder.path());
    ASSERT_TRUE(scan->start(nullptr));
    attach();
    scan->setWindowVisible(true);
    sim->push(pattern(800, 1000, 500));
    waitUntil([&] { return !received.isEmpty(); });
    ASSERT_EQ(received.size(), 1);
    EXPECT_EQ(le32(received[0], 18), 400);
    EXPECT_EQ(le32(received[0], 22), 500);
    EXPECT_EQ(scan->currentResolution(), 1000);
}

// A hundred images a second for a second: the window gets a few, never a queue of a hundred; the wrapper stops
// while the device is still pushing, and images already posted die with it.
TEST_F(LiveScanWrapper, AFloodIsThinnedAndStoppingWhilePushingIsSafe) {
    ASSERT_TRUE(scan->start(nullptr));
    attach();
    scan->setWindowVisible(true);
    int handled = 0;
    scan->attach(
        &owner, [] { return true; },
        [&](const QByteArray&) {
            ++handled;
            std::this_thread::sleep_for(std::chrono::milliseconds(50)); // a slow window
        });
    std::atomic<bool> stop{false};
    std::atomic<int> pushed{0};
    std::thread device([&] {
        const LiveScanImage image = pattern(400, 400);
        while (!stop.load()) {
            if (sim->push(image)) ++pushed;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 1000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_GT(pushed.load(), 50);
    EXPECT_GE(handled, 3);
    EXPECT_LT(handled, pushed.load() / 2);

    scan->stop(); // while the device's thread pushes
    EXPECT_FALSE(sim->push(pattern(400, 400)));
    stop = true;
    device.join();
    const int after = handled;
    scan.reset();
    QCoreApplication::processEvents();
    EXPECT_EQ(handled, after);
}

TEST(SimulatedLiveScanFiles, ReadsGreyFilesAsTheDeviceDeliversThem) {
    QTemporaryDir dir;
    QImage plain(120, 80, QImage::Format_Grayscale8);
    plain.fill(200);
    ASSERT_TRUE(plain.save(dir.filePath(QStringLiteral("a.png"))));
    QImage fine(120, 80, QImage::Format_Grayscale8);
    fine.fill(10);
    fine.setDotsPerMeterX(39370); // 1000 ppi
    fine.setDotsPerMeterY(39370);
    ASSERT_TRUE(fine.save(dir.filePath(QStringLiteral("b.png"))));
    QImage deep(120, 80, QImage::Format_Grayscale16);
    deep.fill(Qt::gray);
    ASSERT_TRUE(deep.save(dir.filePath(QStringLiteral("c.png"))));
    writeFile(dir.filePath(QStringLiteral("d.png")), "not an image");

    QString error;
    auto a = SimulatedLiveScan::load(dir.filePath(QStringLiteral("a.png")), &error);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->ppi, 500);
    EXPECT_EQ(a->bitsPerPixel, 8);
    EXPECT_EQ(uint8_t(a->pixels[0]), 200);
    auto b = SimulatedLiveScan::load(dir.filePath(QStringLiteral("b.png")), &error);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->ppi, 1000);
    auto c = SimulatedLiveScan::load(dir.filePath(QStringLiteral("c.png")), &error);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->bitsPerPixel, 16);
    EXPECT_EQ(c->pixels.size(), 120 * 80 * 2);
    EXPECT_FALSE(SimulatedLiveScan::load(dir.filePath(QStringLiteral("d.png")), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("d.png")));

    SimulatedLiveScan sim(dir.path());
    EXPECT_EQ(sim.files().size(), 4);
    EXPECT_FALSE(sim.pushFile(dir.filePath(QStringLiteral("a.png")), &error)); // not capturing
    EXPECT_EQ(SimulatedLiveScan(dir.filePath(QStringLiteral("none"))).initialize(), kSmFailed);
}

// The simulated device delivering by itself: the folder's files in turn, until stopped.
TEST(SimulatedLiveScanFiles, DeliversTheFolderInTurn) {
    QTemporaryDir dir;
    for (int i = 0; i < 2; ++i) {
        QImage img(100 + i, 90, QImage::Format_Grayscale8);
        img.fill(i * 100);
        ASSERT_TRUE(img.save(dir.filePath(QStringLiteral("f%1.png").arg(i))));
    }
    SimulatedLiveScan sim(dir.path(), 20);
    ASSERT_EQ(sim.initialize(), 0);
    std::mutex m;
    std::vector<int> widths;
    ASSERT_EQ(sim.startCapturing(
                  QString::fromLatin1(SimulatedLiveScan::kScannerId),
                  [&](const LiveScanImage& im) {
                      std::lock_guard lock(m);
                      widths.push_back(im.width);
                  },
                  nullptr),
              0);
    EXPECT_EQ(sim.startCapturing(QString::fromLatin1(SimulatedLiveScan::kScannerId), nullptr, nullptr),
              kSmAlreadyCapturing);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    sim.finalize();
    std::lock_guard lock(m);
    ASSERT_GE(widths.size(), 3u);
    EXPECT_EQ(widths[0], 100);
    EXPECT_EQ(widths[1], 101);
    EXPECT_EQ(widths[2], 100);
    const size_t seen = widths.size();
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(widths.size(), seen);
}

// Capture programs: started directly with their arguments as data, in their own folder, and never waited for
// forever.
TEST(LiveScanPrograms, RunsProgramsDirectlyAndReportsEveryEnd) {
    QTemporaryDir dir;
    const QString script = dir.filePath(QStringLiteral("captura con espacio.sh"));
    writeFile(script, "#!/bin/sh\n"
                      "pwd > donde.txt\n"
                      "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > args.txt\n"
                      "case \"$1\" in fallo) exit 3;; cuelga) exec sleep 60;; muere) kill -9 $$;; esac\n"
                      "exit 0\n");
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    const QStringList hostile{QStringLiteral("a b"), QStringLiteral("$HOME;rm -rf x"), QStringLiteral("\"c\"")};
    ProgramRun run = runProgramAndWait(script, hostile, std::chrono::seconds(10));
    ASSERT_TRUE(run.ok()) << run.message.toStdString();
    EXPECT_EQ(QString::fromUtf8(readFile(dir.filePath(QStringLiteral("args.txt"))))
                  .split(QLatin1Char('\n'), Qt::SkipEmptyParts),
              hostile);
    EXPECT_EQ(QDir(QString::fromUtf8(readFile(dir.filePath(QStringLiteral("donde.txt")))).trimmed()).canonicalPath(),
              QDir(dir.path()).canonicalPath());

    run = runProgramAndWait(script, {QStringLiteral("fallo")}, std::chrono::seconds(10));
    EXPECT_EQ(run.outcome, ProgramRun::Outcome::ErrorExit);
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_TRUE(run.message.contains(QStringLiteral("código 3"))) << run.message.toStdString();

    run = runProgramAndWait(script, {QStringLiteral("muere")}, std::chrono::seconds(10));
    EXPECT_EQ(run.outcome, ProgramRun::Outcome::Crashed);

    QElapsedTimer t;
    t.start();
    run = runProgramAndWait(script, {QStringLiteral("cuelga")}, std::chrono::milliseconds(500));
    EXPECT_EQ(run.outcome, ProgramRun::Outcome::TimedOut);
    EXPECT_LT(t.elapsed(), 5000);
    EXPECT_TRUE(run.message.contains(QStringLiteral("se detuvo")));

    const QString missing = dir.filePath(QStringLiteral("no-esta.exe"));
    run = runProgramAndWait(missing, {}, std::chrono::seconds(1));
    EXPECT_EQ(run.outcome, ProgramRun::Outcome::Missing);
    EXPECT_EQ(run.message, missingProgramText(missing));
    EXPECT_EQ(startProgramDetached(missing, {}).outcome, ProgramRun::Outcome::Missing);

    const QString plain = dir.filePath(QStringLiteral("sin-permiso.sh"));
    writeFile(plain, "#!/bin/sh\nexit 0\n");
    EXPECT_EQ(runProgramAndWait(plain, {}, std::chrono::seconds(1)).outcome, ProgramRun::Outcome::NotStarted);
}

// "LiveScan.INI" and the program descriptions as an office's editor leaves them.
TEST(LiveScanPrograms, ReadsAndWritesTheOfficeFiles) {
    QTemporaryDir office;
    writeFile(office.filePath(QStringLiteral("LiveScan.INI")),
              "; comentario \xF1\r\n[Otra]\r\nClave=valor\r\n[Config]\r\nPathLiveScan=C:\\LiveScan\\IB\\\r\n"
              "LiveScanIni=Lector.ini\r\nTiempoMaximo=5\r\n[Simulador]\r\nCarpeta=/srv/dedos\r\nIntervalo=1500\r\n");
    LiveScanIni ini = readLiveScanIni(office.path());
    EXPECT_EQ(ini.pathLiveScan, QStringLiteral("C:\\LiveScan\\IB\\"));
    EXPECT_EQ(ini.liveScanIni, QStringLiteral("Lector.ini"));
    EXPECT_EQ(ini.programTimeoutSeconds, 5);
    EXPECT_EQ(ini.simulatorFolder, QStringLiteral("/srv/dedos"));
    EXPECT_EQ(ini.simulatorIntervalMs, 1500);

    ini.pathLiveScan = QStringLiteral("/oficina/Lectores/");
    ini.liveScanIni = QStringLiteral("Nuevo.ini");
    QString error;
    ASSERT_TRUE(writeLiveScanIni(office.path(), ini, &error)) << error.toStdString();
    const QByteArray written = readFile(office.filePath(QStringLiteral("LiveScan.INI")));
    EXPECT_TRUE(written.contains("[Otra]\r\nClave=valor\r\n"));
    EXPECT_TRUE(written.contains("; comentario \xF1\r\n")); // a Latin-1 file stays Latin-1
    EXPECT_TRUE(written.contains("Carpeta=/srv/dedos"));
    const LiveScanIni again = readLiveScanIni(office.path());
    EXPECT_EQ(again.pathLiveScan, ini.pathLiveScan);
    EXPECT_EQ(again.liveScanIni, ini.liveScanIni);
    EXPECT_EQ(again.programTimeoutSeconds, 5);

    // Missing or blank values take the defaults; a time beyond a day is cut to a day.
    QTemporaryDir empty;
    EXPECT_EQ(readLiveScanIni(empty.path()).pathLiveScan, empty.path() + QStringLiteral("/LiveScanIB/"));
    EXPECT_EQ(readLiveScanIni(empty.path()).programTimeoutSeconds, 300);
    writeFile(empty.filePath(QStringLiteral("LiveScan.INI")),
              "[Config]\r\nPathLiveScan= \r\nTiempoMaximo=99999999\r\n");
    EXPECT_EQ(readLiveScanIni(empty.path()).pathLiveScan, empty.path() + QStringLiteral("/LiveScanIB/"));
    EXPECT_EQ(readLiveScanIni(empty.path()).programTimeoutSeconds, kMaxProgramTimeoutSeconds);

    QTemporaryDir folder;
    writeFile(folder.filePath(QStringLiteral("Lector.ini")),
              "[Config]\r\nTitulo=Lector de la oficina \xF1\r\nExeLiveScan=captura.sh\r\nExeConfig=\r\n");
    writeFile(folder.filePath(QStringLiteral("Roto.ini")), "[Config]\r\nExeLiveScan=x\r\n");
    const auto programs = listLiveScanPrograms(folder.path());
    ASSERT_EQ(programs.size(), 1u);
    EXPECT_EQ(programs[0].titulo, QStringLiteral("Lector de la oficina ñ")); // not UTF-8: read as Latin-1
    EXPECT_EQ(programPath(folder.path(), programs[0].exeLiveScan), folder.filePath(QStringLiteral("captura.sh")));
    EXPECT_TRUE(programPath(folder.path(), programs[0].exeConfig).isEmpty());
}
