#include "capture/FingerImages.h"
#include "TempAppDir.h"
#include "capture/quality/QualityTexts.h"
#include "capture/wsq/Wsq.h"

#include <QFile>
#include <cstring>
#include <gtest/gtest.h>

namespace qev::capture {
namespace {

Raster ridges(int w, int h) {
    Raster r = Raster::grey(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            r.row(y)[x] = static_cast<uint8_t>(128 + 100 * std::sin((x + y * 0.3) * 0.6));
    return r;
}

TEST(FingerImages, BitmapToWsqAndBackKeepsTheFinger) {
    test::TempAppDir dir;
    const Raster finger = ridges(400, 420);
    std::string error;
    const std::vector<uint8_t> data = bitmapToWsq(finger, &error);
    ASSERT_FALSE(data.empty()) << error;
    auto decoded = wsq::decode(data);
    ASSERT_TRUE(decoded) << decoded.error();
    EXPECT_TRUE(decoded->comments.empty()) << "the bitmap is compressed without a comment segment";
    {
        QFile f(dir.file(QStringLiteral("d1.wsq")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(reinterpret_cast<const char*>(data.data()), static_cast<qint64>(data.size()));
    }
    ASSERT_TRUE(wsqFileToBitmapFile(dir.filePath("d1.wsq"), dir.filePath("d1.bmp"), &error)) << error;
    PageInfo info;
    ASSERT_TRUE(readPageInfo(dir.filePath("d1.bmp"), 1, info, &error));
    EXPECT_EQ(info.fileType, kFileBmp);
    EXPECT_EQ(info.pageType, kPageGrey8);
    EXPECT_EQ(info.width, 400);
    EXPECT_EQ(info.resolutionX, 500);
    Raster back;
    ASSERT_TRUE(loadPage(dir.filePath("d1.bmp"), 1, back, &error));
    double err = 0;
    for (size_t i = 0; i < back.pixels.size(); ++i)
        err += std::abs(int(back.pixels[i]) - int(finger.pixels[i]));
    EXPECT_LT(err / static_cast<double>(back.pixels.size()), 8.0);

    EXPECT_TRUE(bitmapToWsq(Raster{}, &error).empty());
    QFile bad(dir.file(QStringLiteral("bad.wsq")));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("\xFF\xA0\xFF\xA8garbage");
    bad.close();
    EXPECT_FALSE(wsqFileToBitmapFile(dir.filePath("bad.wsq"), dir.filePath("bad.bmp"), &error));
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("bad.bmp")))) << "no partial bitmap";
    EXPECT_FALSE(wsqFileToBitmapFile(dir.filePath("none.wsq"), dir.filePath("none.bmp"), &error));
}

TEST(FingerImages, CropToMultipleOfFourAndFlips) {
    Raster r = ridges(401, 10);
    std::string error;
    ASSERT_TRUE(cropWidthToMultipleOf4(r, &error));
    EXPECT_EQ(r.width, 400);
    EXPECT_EQ(r.pixels.size(), 4000u);
    Raster empty;
    EXPECT_FALSE(cropWidthToMultipleOf4(empty, &error));
    EXPECT_EQ(error, "Input image is empty");

    Raster src = Raster::grey(3, 2);
    for (int i = 0; i < 6; ++i)
        src.pixels[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    Raster dst;
    ASSERT_TRUE(copyWithFlips(true, true, src, dst));
    EXPECT_EQ(dst.pixels, (std::vector<uint8_t>{5, 4, 3, 2, 1, 0}));
    ASSERT_TRUE(copyWithFlips(false, false, src, dst));
    EXPECT_EQ(dst.pixels, src.pixels);
    EXPECT_FALSE(copyWithFlips(false, false, Raster{}, dst));
}

TEST(FingerImages, GradingCropsFirstAndAnEmptyViewerNeverReachesTheGrader) {
    int quality = 7;
    Raster empty;
    EXPECT_EQ(gradeImage(empty, quality), -2);
    EXPECT_EQ(quality, 7) << "nothing graded, nothing reset";

    // A real finger, one column wider than a multiple of 4.
    QFile raw(QStringLiteral(QEV_FINGERPRINT_DIR "/nist_finger_500x500.raw"));
    ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
    const QByteArray bytes = raw.readAll();
    ASSERT_EQ(bytes.size(), 500 * 500);
    Raster finger = Raster::grey(501, 500, 255);
    for (int y = 0; y < 500; ++y)
        std::memcpy(finger.row(y), bytes.constData() + y * 500, 500);
    const int code = gradeImage(finger, quality);
    EXPECT_EQ(finger.width, 500) << "cropped to a multiple of 4 before grading";
    EXPECT_EQ(code, 0);
    EXPECT_EQ(quality, 1) << "the reference grades this finger 1";
    EXPECT_EQ(quality::qualityText(code, quality), "1 (Excelente)");
    EXPECT_EQ(quality::qualityText(0, 7), "7 ()");
    EXPECT_EQ(quality::qualityText(-1, 0), "0 (Error: falta huella!, ERROR: Falta QKNFIQ.DLL)");
}

} // namespace
} // namespace qev::capture
