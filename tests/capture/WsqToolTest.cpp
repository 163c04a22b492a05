// bmp2wsq and wsq2bmp run as processes, the way the livescan window runs the converter.
#include "WsqTestUtil.h"

#include "capture/wsq/GreyBmp.h"
#include "capture/wsq/Wsq.h"

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

using namespace qev;

namespace {

struct ToolRun {
    int exitCode;
    std::string err;
};

ToolRun runTool(const char* exe, const std::string& a, const std::string& b) {
    QProcess p;
    p.start(QString::fromUtf8(exe), {QString::fromStdString(a), QString::fromStdString(b)});
    EXPECT_TRUE(p.waitForFinished(30000));
    return {p.exitCode(), p.readAllStandardError().toStdString()};
}

void writeBytes(const std::string& path, const std::vector<uint8_t>& b) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

class WsqToolTest : public ::testing::Test {
protected:
    std::string path(const char* name) const { return (m_dir.path() + "/" + name).toStdString(); }
    QTemporaryDir m_dir;
};

TEST_F(WsqToolTest, ConvertsBmpToWsqAndBack) {
    const auto raw = test::loadRaw(test::fingerprintDir() + "/nist_finger_500x500.raw", 500, 500);
    writeBytes(path("dedo1.bmp"), wsq::writeGreyBmp(raw, 500));
    const ToolRun r = runTool(BMP2WSQ_EXE, path("dedo1.bmp"), path("dedo1.wsq"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(r.err.empty());
    const auto stream = test::loadBytes(path("dedo1.wsq"));
    auto dec = wsq::decode(stream);
    ASSERT_TRUE(dec) << dec.error();
    EXPECT_TRUE(dec->comments.empty()) << "the converter writes no comment segment";
    EXPECT_GE(test::psnr(raw, dec->image), 28.8);

    const ToolRun back = runTool(WSQ2BMP_EXE, path("dedo1.wsq"), path("back.bmp"));
    ASSERT_EQ(back.exitCode, 0) << back.err;
    auto bmp = wsq::readGreyBmp(test::loadBytes(path("back.bmp")));
    ASSERT_TRUE(bmp) << bmp.error();
    EXPECT_EQ(bmp->image.pixels, dec->image.pixels);
    EXPECT_EQ(bmp->ppi, -1) << "a stream that does not say its resolution gives a bitmap that does not either";
}

TEST_F(WsqToolTest, FailuresExitNonZeroWithOneSpanishLineAndNoOutput) {
    writeBytes(path("roto.bmp"), {'B', 'M', 1, 2, 3});
    wsq::GreyImage small{100, 100, std::vector<uint8_t>(100 * 100, 90)};
    writeBytes(path("chica.bmp"), wsq::writeGreyBmp(small, 500));
    writeBytes(path("roto.wsq"), {0xFF, 0xA0, 0xFF, 0xA2, 0x00});
    const std::pair<const char*, std::string> cases[] = {{BMP2WSQ_EXE, path("falta.bmp")},
                                                         {BMP2WSQ_EXE, path("roto.bmp")},
                                                         {BMP2WSQ_EXE, path("chica.bmp")},
                                                         {WSQ2BMP_EXE, path("falta.wsq")},
                                                         {WSQ2BMP_EXE, path("roto.wsq")}};
    for (const auto& [exe, input] : cases) {
        const std::string out = path("salida.out");
        const ToolRun r = runTool(exe, input, out);
        EXPECT_NE(r.exitCode, 0) << input;
        ASSERT_FALSE(r.err.empty()) << input;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
        EXPECT_EQ(r.err.rfind("Error: ", 0), 0u) << r.err;
        EXPECT_FALSE(std::filesystem::exists(out)) << input;
    }
    // Nothing half-written is left in the folder either.
    for (const auto& e : std::filesystem::directory_iterator(m_dir.path().toStdString()))
        EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();
    // An output folder that does not exist.
    const ToolRun r = runTool(BMP2WSQ_EXE, path("chica.bmp"), path("no/existe.wsq"));
    EXPECT_NE(r.exitCode, 0);
}

} // namespace
