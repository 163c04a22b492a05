// The livescan window on a real office folder: fingers from the simulated device through the scanner wrapper,
// graded off the UI thread, saved by the converter program into the archive the request rules file; the external
// capture programs played by small shell scripts; a stored archive that cannot be opened.
#include "NistFingers.h"
#include "RequestFixture.h"
#include "WaitFor.h"
#include "capture/FingerArchive.h"
#include "capture/LiveScanCard.h"
#include "capture/ui/TFLiveScanPlano.h"
#include "capture/wsq/GreyBmp.h"
#include "capture/wsq/Wsq.h"
#include "platform/LiveScan.h"
#include "platform/SimulatedLiveScan.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

#include "NistFingers.h"

namespace qev {
namespace {

using capture::LiveScanSession;
using platform::SimulatedLiveScan;
using platform::TFingerScan;

using test::nistFinger;
const auto& kFingerFiles = test::kNistFingerFiles;

QByteArray bytesOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The grade the command-line grader gives a file.
int gradeOf(const QString& bmp) {
    QProcess p;
    p.start(QStringLiteral(QEV_FINGERQUALITY), {bmp});
    if (!p.waitForFinished(60000) || p.exitCode() != 0) return -1;
    const auto m =
        QRegularExpression(QStringLiteral("nfiq=(\\d)")).match(QString::fromLatin1(p.readAllStandardOutput()));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

wsq::GreyImage decodeWsq(const std::vector<uint8_t>& stream) {
    auto decoded = wsq::decode(stream);
    return decoded ? decoded->image : wsq::GreyImage{};
}

using test::waitFor;

class LiveScanPlanoTest : public test::RequestFixture {
protected:
    void SetUp() override {
        RequestFixture::SetUp();
        ASSERT_TRUE(device.isValid() && programs.isValid());
        auto sim = std::make_unique<SimulatedLiveScan>(device.path());
        simulated = sim.get();
        scan = std::make_unique<TFingerScan>(std::move(sim), dir.path());
        QString error;
        ASSERT_TRUE(scan->start(&error)) << error.toStdString();
        session = std::make_unique<LiveScanSession>(dir.path());
        session->setConverter(QStringLiteral(QEV_BMP2WSQ));
        window = std::make_unique<TFLiveScanPlano>(*session, scan.get(), prompter);
        options.autoAvance = true;
        options.liveScanFolder = programs.path();
        window->options = [this] { return options; };
        window->viewFinger = [](const QString&, const QString&) {};
    }
    void TearDown() override {
        window.reset();
        scan.reset();
    }

    // A shell script of the livescan folder standing in for a capture program.
    void writeProgram(const QString& name, const QByteArray& body) {
        const QString path = programs.filePath(name);
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\n" + body);
        f.close();
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    // Ten finger BMPs in the "fuente" folder of the livescan folder, for the stand-in programs to hand over.
    void writeSourceFingers() {
        ASSERT_TRUE(QDir(programs.path()).mkpath(QStringLiteral("fuente")));
        for (int i = 0; i < capture::kFingers; ++i) {
            const QByteArray bmp = platform::imageToBmp500(nistFinger(i), 500, nullptr);
            QFile f(programs.filePath(QStringLiteral("fuente/dedo%1.bmp").arg(i + 1)));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(bmp);
        }
    }

    QTemporaryDir device;
    QTemporaryDir programs;
    SimulatedLiveScan* simulated = nullptr;
    std::unique_ptr<TFingerScan> scan;
    std::unique_ptr<LiveScanSession> session;
    std::unique_ptr<TFLiveScanPlano> window;
    LiveScanOptions options;
};

TEST_F(LiveScanPlanoTest, TenFingersFromTheDeviceAreGradedSavedAndFiledWithTheRequest) {
    const double pedido = savedOfficialRequest();
    ASSERT_TRUE(window->prepare(int(pedido), 7, false, true, QString(), QString()));
    window->show();

    // An image the wrapper refuses is said in the status bar and taken for no finger.
    platform::LiveScanImage tiny = nistFinger(0);
    tiny.width = tiny.height = 1;
    tiny.pixels.truncate(1);
    ASSERT_TRUE(simulated->push(tiny));
    ASSERT_TRUE(waitFor([&] {
        return window->statusText().startsWith(QStringLiteral("Imagen del lector descartada"));
    })) << window->statusText().toStdString();
    EXPECT_FALSE(session->hasImage(1));

    // The device delivers; the window takes each image for the current finger and moves on by itself.
    for (int n = 1; n <= capture::kFingers; ++n) {
        ASSERT_EQ(window->dedoActual(), n);
        const platform::LiveScanImage image = nistFinger(n - 1);
        ASSERT_FALSE(image.pixels.isEmpty()) << kFingerFiles[n - 1];
        ASSERT_TRUE(simulated->push(image));
        ASSERT_TRUE(waitFor([&] {
            return session->hasImage(n) && (n == capture::kFingers || window->dedoActual() > n);
        })) << "finger "
            << n;
    }
    window->waitForGrades();
    ASSERT_EQ(window->pendingGrades(), 0);
    for (int n = 1; n <= capture::kFingers; ++n) {
        EXPECT_EQ(session->code(n), 0) << "finger " << n;
        EXPECT_EQ(session->quality(n), gradeOf(session->fingerBmp(n))) << "finger " << n;
    }

    // Finger 3 is amputated: the office's image takes its place, its grade stays.
    const int grade3 = session->quality(3);
    wsq::GreyImage amputated;
    amputated.width = amputated.height = 400;
    amputated.pixels.assign(400 * 400, 255);
    for (int i = 0; i < 400; ++i)
        amputated.pixels[size_t(i * 400 + i)] = 0;
    const std::vector<uint8_t> amputatedBmp = wsq::writeGreyBmp(amputated, 500);
    writeFile(QString::fromLatin1(capture::kAmputatedImage),
              QByteArray(reinterpret_cast<const char*>(amputatedBmp.data()), qsizetype(amputatedBmp.size())));
    window->amputar(3);
    EXPECT_EQ(bytesOf(session->fingerBmp(3)), contents(QString::fromLatin1(capture::kAmputatedImage)));
    EXPECT_EQ(session->quality(3), grade3);

    // The card: without the form it is refused; with it, the ten fingers go on the form, to the printer, and the
    // assembled file is not left behind.
    QString printed, printedCaption;
    QSize printedSize;
    window->printCard = [&](const QString& file, const QString& caption) {
        printed = file;
        printedCaption = caption;
        printedSize = QImage(file).size();
    };
    window->imprimirFicha();
    EXPECT_EQ(prompter.lastText(), QStringLiteral("Error: no existe la ficha completa \"fmodelo.bemepe\""));
    ASSERT_TRUE(capture::LiveScanCard::writeBlankForm(dir.filePath("fmodelo.bemepe")));
    window->imprimirFicha();
    EXPECT_EQ(printedCaption, QStringLiteral("Ped:%1 Reg:7").arg(pedido));
    EXPECT_EQ(printedSize, QSize(capture::kBlankFormWidth, capture::kBlankFormHeight));
    EXPECT_FALSE(printed.isEmpty() || QFile::exists(printed));

    // A poor card makes the operator think twice: answering "retake" saves nothing.
    const auto grades = session->grades();
    for (int n = 1; n <= capture::kFingers; ++n)
        session->setGrade(n, 0, 5);
    prompter.answerConfirm(true);
    EXPECT_FALSE(window->grabar());
    EXPECT_TRUE(texts().contains(QStringLiteral("La ficha del trámite es de baja calidad"))) << texts().toStdString();
    EXPECT_FALSE(exists(QString::fromLatin1(capture::kFingerArchive)));
    for (int n = 1; n <= capture::kFingers; ++n)
        session->setGrade(n, grades[size_t(n - 1)].first, grades[size_t(n - 1)].second);
    ASSERT_LE(session->averageQuality(), 3);

    // The in-process round trip of each BMP, to compare the archive's fingers with.
    std::vector<wsq::GreyImage> expected;
    for (int n = 1; n <= capture::kFingers; ++n) {
        const QByteArray bytes = bytesOf(session->fingerBmp(n));
        auto bmp =
            wsq::readGreyBmp(std::span(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size())));
        ASSERT_TRUE(bmp) << bmp.error();
        auto stream = wsq::encode(bmp->image, wsq::kDefaultBitRate, wsq::kDefaultPpi);
        ASSERT_TRUE(stream) << stream.error();
        expected.push_back(decodeWsq(*stream));
    }

    prompter.clear();
    ASSERT_TRUE(window->grabar()) << window->statusText().toStdString();
    EXPECT_TRUE(window->statusText().contains(QStringLiteral("grabada exitosamente!")));
    EXPECT_TRUE(prompter.texts().isEmpty()) << texts().toStdString();
    EXPECT_EQ(window->result(), QDialog::Accepted);
    const QString archive = session->archivoZip();
    ASSERT_TRUE(QFileInfo(archive).isFile());

    QTemporaryDir out;
    const auto members = capture::FingerArchive::unpack(archive.toStdString(), out.path().toStdString());
    ASSERT_TRUE(members) << members.error();
    ASSERT_EQ(members->size(), size_t(capture::kFingers));
    for (int n = 1; n <= capture::kFingers; ++n) {
        const QByteArray bytes = bytesOf(QString::fromStdString(members.value()[size_t(n - 1)]));
        const wsq::GreyImage got = decodeWsq(std::vector<uint8_t>(bytes.begin(), bytes.end()));
        const wsq::GreyImage& want = expected[size_t(n - 1)];
        ASSERT_EQ(got.width, want.width) << "finger " << n;
        ASSERT_EQ(got.height, want.height) << "finger " << n;
        int worst = 0;
        for (size_t i = 0; i < got.pixels.size(); ++i)
            worst = std::max(worst, std::abs(got.pixels[i] - want.pixels[i]));
        EXPECT_LE(worst, 1) << "finger " << n;
    }

    // The request window, editing the request, hands the archive over as its livescan work file.
    Dataset& ped = dm->ped();
    ASSERT_TRUE(ped.edit());
    ASSERT_TRUE(QFile::copy(archive, dir.file(QStringLiteral("edit.zip"))));
    ASSERT_TRUE(save(ped)) << texts().toStdString();
    const QString filed = dm->requestFile(ped, QLatin1Char('z'));
    EXPECT_TRUE(filed.startsWith(QLatin1Char('z'))) << filed.toStdString();
    EXPECT_EQ(contents(filed), bytesOf(archive));
    EXPECT_FALSE(exists(QStringLiteral("edit.zip")));

    // Opened again read-only, the stored card comes back finger by finger.
    TFLiveScanPlano again(*session, scan.get(), prompter);
    again.options = [this] { return options; };
    ASSERT_TRUE(again.prepare(int(pedido), dm->settings().read(QStringLiteral("c_reg")).toInt(), true, true, QString(),
                              QString()))
        << texts().toStdString();
    for (int n = 1; n <= capture::kFingers; ++n)
        EXPECT_TRUE(session->hasImage(n)) << "finger " << n;
    again.waitForGrades();
    EXPECT_EQ(session->quality(1), gradeOf(session->fingerBmp(1)));
}

// Stand-in capture programs: the whole hand at once, one finger, and one that never ends.
TEST_F(LiveScanPlanoTest, ExternalProgramsHandOverTheirFilesAndAHangingOneIsStopped) {
    writeSourceFingers();
    writeProgram(QStringLiteral("manos.sh"),
                 "printf '%s\\n' \"$@\" > argumentos.txt\n"
                 "for i in 1 2 3 4 5 6 7 8 9 10; do cp fuente/dedo$i.bmp dedo$i.bmp; done\nexit 1\n");
    writeProgram(QStringLiteral("dedo.sh"), "printf '%s\\n' \"$@\" > argumentos.txt\ncp fuente/dedo9.bmp huella.bmp\n");
    writeProgram(QStringLiteral("cuelga.sh"), "exec sleep 60\n");
    options.autoAvance = false;
    options.programTimeoutSeconds = 1;
    options.program.exeLiveScan = QStringLiteral("manos.sh");
    options.program.exeCaptura = QStringLiteral("dedo.sh");
    ASSERT_TRUE(window->prepare(1234, 7, false, true, QString(), QString()));
    window->show();

    // It ends with an error code after writing the fingers: they are taken, and the code is said.
    window->capturar();
    EXPECT_TRUE(window->statusText().contains(QStringLiteral("código 1"))) << window->statusText().toStdString();
    EXPECT_EQ(QString::fromUtf8(bytesOf(programs.filePath(QStringLiteral("argumentos.txt")))).trimmed(),
              QStringLiteral("Ped: 1234 Reg: 7"));
    for (int n = 1; n <= capture::kFingers; ++n)
        EXPECT_EQ(bytesOf(session->fingerBmp(n)),
                  bytesOf(programs.filePath(QStringLiteral("fuente/dedo%1.bmp").arg(n))))
            << "finger " << n;

    window->selectFinger(2);
    window->capturarDedo();
    EXPECT_EQ(bytesOf(session->fingerBmp(2)), bytesOf(programs.filePath(QStringLiteral("fuente/dedo9.bmp"))));
    EXPECT_FALSE(QString::fromUtf8(bytesOf(programs.filePath(QStringLiteral("argumentos.txt")))).trimmed().isEmpty());
    window->waitForGrades();
    EXPECT_EQ(session->quality(2), session->quality(9));

    // A program that hangs is stopped after the configured time; an earlier person's files it left are never
    // taken for this one's, and the fingers already taken stay.
    options.program.exeLiveScan = QStringLiteral("cuelga.sh");
    const QByteArray before = bytesOf(session->fingerBmp(1));
    QElapsedTimer t;
    t.start();
    window->capturar();
    EXPECT_LT(t.elapsed(), 10000);
    EXPECT_TRUE(window->statusText().contains(QStringLiteral("no terminó"))) << window->statusText().toStdString();
    EXPECT_FALSE(QFile::exists(programs.filePath(QStringLiteral("dedo1.bmp"))));
    EXPECT_EQ(bytesOf(session->fingerBmp(1)), before);

    // A converter that fails on one finger leaves no archive of the other nine and an earlier archive as it was.
    writeProgram(QStringLiteral("convertidor.sh"),
                 "case \"$1\" in *dedo5.bmp) echo 'sin memoria' >&2; exit 1;; esac\nexec " QEV_BMP2WSQ
                 " \"$1\" \"$2\"\n");
    session->setConverter(programs.filePath(QStringLiteral("convertidor.sh")));
    writeFile(QString::fromLatin1(capture::kFingerArchive), "archivo anterior");
    EXPECT_FALSE(window->grabar());
    EXPECT_TRUE(window->statusText().contains(QStringLiteral("sin memoria"))) << window->statusText().toStdString();
    EXPECT_EQ(window->dedoActual(), 5);
    EXPECT_EQ(contents(QString::fromLatin1(capture::kFingerArchive)), QByteArray("archivo anterior"));
    for (int n = 1; n <= capture::kFingers; ++n)
        EXPECT_FALSE(QFile::exists(session->fingerWsq(n))) << "finger " << n;
    EXPECT_TRUE(window->isVisible());

    // A program the description names but the folder lacks is reported to the operator.
    options.program.exeLiveScan = QStringLiteral("no-esta.exe");
    window->capturar();
    EXPECT_EQ(prompter.lastText(), platform::missingProgramText(programs.filePath(QStringLiteral("no-esta.exe"))));

    // Escape is "Salir": the operator is asked before the ten modified fingers go.
    prompter.clear();
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_EQ(prompter.lastText(), QStringLiteral("La huella ha sido modificada. ¿Desea guardarla?"));
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->result(), QDialog::Rejected);
}

// A stored archive that lacks a finger or holds something else than WSQ is not opened, and says why.
TEST_F(LiveScanPlanoTest, AStoredArchiveThatCannotBeOpenedIsReported) {
    QTemporaryDir work;
    const QByteArray raw = nistFinger(9).pixels;
    wsq::GreyImage image{500, 500, std::vector<uint8_t>(raw.begin(), raw.end())};
    const auto stream = wsq::encode(image, wsq::kDefaultBitRate, 500);
    ASSERT_TRUE(stream);
    std::vector<std::string> nine;
    for (int n = 1; n <= 9; ++n) {
        const QString path = work.filePath(QStringLiteral("dedo%1.wsq").arg(n));
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(reinterpret_cast<const char*>(stream->data()), qsizetype(stream->size()));
        nine.push_back(path.toStdString());
    }
    ASSERT_TRUE(capture::FingerArchive::pack(nine, dir.filePath("z1234.7")));
    EXPECT_FALSE(window->prepare(1234, 7, true, true, QString(), QString()));
    EXPECT_EQ(prompter.lastText(),
              QStringLiteral("ERROR: No existe archivo a decodificar: ") + dir.file(QStringLiteral("dedo10.wsq")))
        << texts().toStdString();

    QFile text(work.filePath(QStringLiteral("dedo10.wsq")));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("esto no es una huella");
    text.close();
    nine.push_back(text.fileName().toStdString());
    ASSERT_TRUE(capture::FingerArchive::pack(nine, dir.filePath("zp1234.7")));
    prompter.clear();
    EXPECT_FALSE(window->prepare(1234, 7, true, false, QString(), QString()));
    EXPECT_TRUE(prompter.lastText().startsWith(QStringLiteral("ERROR: No se pudo descomprimir archivo zip")))
        << texts().toStdString();
    for (int n = 1; n <= capture::kFingers; ++n)
        EXPECT_FALSE(session->hasImage(n));
}

} // namespace
} // namespace qev
