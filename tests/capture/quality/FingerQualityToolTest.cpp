// fingerquality runs as a process on a raw original, its WSQ stream and the same pixels as a BMP; bad input leaves
// with exit 2 and one Spanish line, and the maps it writes read back to the grader's own maps.
#include "ReferenceData.h"
#include "capture/quality/BlockMaps.h"
#include "capture/quality/MapText.h"
#include "capture/quality/QualityGrader.h"
#include "capture/wsq/GreyBmp.h"
#include "capture/wsq/Wsq.h"

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <array>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

using namespace qev;

struct ToolRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

ToolRun runTool(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(FINGERQUALITY_EXE), args);
    EXPECT_TRUE(p.waitForFinished(60000));
    return {p.exitCode(), p.readAllStandardOutput().toStdString(), p.readAllStandardError().toStdString()};
}

void writeBytes(const std::string& path, const std::vector<uint8_t>& b) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string expectedOutput(const std::vector<uint8_t>& px, int w, int h) {
    const quality::GradeDetails d = quality::gradeDetailed(px.data(), w, h, 500);
    char line[64];
    std::snprintf(line, sizeof line, "nfiq=%d confidence=%.2f\n", d.quality, static_cast<double>(d.confidence));
    return line + std::string("features=") + quality::formatFeatures(d.features) + "\n";
}

class FingerQualityTool : public ::testing::Test {
protected:
    QString path(const char* name) const { return m_dir.path() + QLatin1Char('/') + QLatin1String(name); }
    QTemporaryDir m_dir;
};

TEST_F(FingerQualityTool, RawBmpAndWsqInputsGradeLikeTheLibrary) {
    const std::string dir = test::fingerprintDir();
    const auto raw = readBytes(dir + "nist_finger_500x500.raw");
    ASSERT_EQ(raw.size(), 250000u);
    const std::string expected = expectedOutput(raw, 500, 500);
    EXPECT_EQ(expected.substr(0, 6), "nfiq=1");

    const ToolRun fromRaw = runTool({QStringLiteral("--raw"), QStringLiteral("500,500"), QStringLiteral("--features"),
                                     QString::fromStdString(dir + "nist_finger_500x500.raw")});
    EXPECT_EQ(fromRaw.exitCode, 0) << fromRaw.err;
    EXPECT_EQ(fromRaw.out, expected);

    writeBytes(path("dedo.bmp").toStdString(), wsq::writeGreyBmp({500, 500, raw}, 500));
    const ToolRun fromBmp = runTool({QStringLiteral("--features"), path("dedo.bmp")});
    EXPECT_EQ(fromBmp.exitCode, 0) << fromBmp.err;
    EXPECT_EQ(fromBmp.out, expected);

    // A stream is graded on its decode, and without --features prints the one line.
    auto decoded = wsq::decode(readBytes(dir + "nist_finger_500x500.nbis075.wsq"));
    ASSERT_TRUE(decoded) << decoded.error();
    const std::string fromDecode = expectedOutput(decoded->image.pixels, 500, 500);
    const ToolRun fromWsq = runTool({QString::fromStdString(dir + "nist_finger_500x500.nbis075.wsq")});
    EXPECT_EQ(fromWsq.exitCode, 0) << fromWsq.err;
    EXPECT_EQ(fromWsq.out, fromDecode.substr(0, fromDecode.find('\n') + 1));
}

TEST_F(FingerQualityTool, BadInputExitsWithTwoAndASpanishLine) {
    const std::string dir = test::fingerprintDir();
    writeBytes(path("chica.bmp").toStdString(),
               wsq::writeGreyBmp({255, 300, std::vector<uint8_t>(255 * 300, 90)}, 500));
    writeBytes(path("roto.wsq").toStdString(), {0xFF, 0xA0, 0xFF, 0xA8, 0x00});
    struct Case {
        QStringList args;
        const char* message;
    };
    const Case cases[] = {
        {{path("no-existe.bmp")}, "no existe o no se puede leer"},
        {{path("chica.bmp")}, "al menos 256 x 256"},
        {{path("roto.wsq")}, "no se puede leer"},
        {{QString::fromStdString(dir + "MANIFEST.md")}, "--raw ANCHO,ALTO"},
        {{QStringLiteral("--raw"), QStringLiteral("499,500"), QString::fromStdString(dir + "nist_finger_500x500.raw")},
         "no tiene 499 x 500 bytes"},
        {{QStringLiteral("--raw"), QStringLiteral("500"), QString::fromStdString(dir + "nist_finger_500x500.raw")},
         "Uso: fingerquality"},
        {{}, "Uso: fingerquality"},
    };
    for (const Case& c : cases) {
        const ToolRun r = runTool(c.args);
        EXPECT_EQ(r.exitCode, 2) << c.message;
        EXPECT_TRUE(r.out.empty()) << r.out;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
}

TEST_F(FingerQualityTool, MapsReadBackToTheGradersOwn) {
    const std::string dir = test::fingerprintDir();
    const auto raw = readBytes(dir + "an2k_valid12_512x512.raw");
    ASSERT_EQ(raw.size(), 512u * 512u);
    const ToolRun r = runTool({QStringLiteral("--raw"), QStringLiteral("512,512"), QStringLiteral("--maps"),
                               path("mapas"), QString::fromStdString(dir + "an2k_valid12_512x512.raw")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const quality::GradeDetails d = quality::gradeDetailed(raw.data(), 512, 512, 500);
    auto readInts = [&](const char* ext) {
        std::ifstream in((path("mapas") + "/an2k_valid12_512x512" + ext).toStdString());
        std::vector<int> v;
        int x = 0;
        while (in >> x)
            v.push_back(x);
        return v;
    };
    auto asInts = [](const std::vector<std::uint8_t>& v) { return std::vector<int>(v.begin(), v.end()); };
    std::vector<int> turned = d.maps.direction;
    for (int& t : turned)
        if (t >= 0) t = (t + 8) % 16;
    EXPECT_EQ(readInts(".dm"), turned);
    EXPECT_EQ(readInts(".lcm"), asInts(d.maps.lowContrast));
    EXPECT_EQ(readInts(".lfm"), asInts(d.maps.lowFlow));
    EXPECT_EQ(readInts(".hcm"), asInts(d.maps.highCurvature));
    EXPECT_EQ(readInts(".qm"), asInts(d.maps.quality));
    EXPECT_EQ(readInts(".dm").size(), 64u * 64u);

    std::ifstream min((path("mapas") + "/an2k_valid12_512x512.min").toStdString());
    std::string line;
    std::vector<std::array<int, 3>> points;
    while (std::getline(min, line)) {
        int index = 0, x = 0, y = 0, direction = 0;
        char colon = 0, comma = 0, colon2 = 0;
        std::istringstream s(line);
        if (s >> index >> colon >> x >> comma >> y >> colon2 >> direction && colon == ':' && comma == ',')
            points.push_back({x, y, direction});
    }
    ASSERT_EQ(points.size(), d.minutiae.size());
    for (std::size_t i = 0; i < points.size(); ++i)
        EXPECT_EQ(points[i], (std::array<int, 3>{d.minutiae[i].x, d.minutiae[i].y, d.minutiae[i].direction}));
}

} // namespace
