#include "capture/ImageLib.h"
#include "TempAppDir.h"

#include <QFile>
#include <array>
#include <cmath>
#include <gtest/gtest.h>

namespace qev::capture {
namespace {

// A grey test card: a gradient with a dark frame, so that pixels and orientation can be checked.
Raster card(int w, int h, double dpi) {
    Raster r = Raster::grey(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            r.row(y)[x] = static_cast<uint8_t>(x < 8 || y < 8 ? 0 : 40 + (x * 150) / w + (y * 50) / h);
    r.resolutionX = r.resolutionY = dpi;
    return r;
}

Raster bilevel(int w, int h) {
    Raster r = Raster::grey(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            r.row(y)[x] = ((x / 16 + y / 16) % 2) ? 0 : 255;
    r.bilevel = true;
    r.resolutionX = r.resolutionY = 300;
    return r;
}

double meanAbsDiff(const Raster& a, const Raster& b) {
    double sum = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i)
        sum += std::abs(int(a.pixels[i]) - int(b.pixels[i]));
    return sum / static_cast<double>(a.pixels.size());
}

class ImageLibTest : public ::testing::Test {
protected:
    std::string file(const char* name) const { return dir.filePath(name); }
    PageInfo info(const std::string& path, int page = 1) {
        PageInfo p;
        std::string error;
        EXPECT_TRUE(readPageInfo(path, page, p, &error)) << error;
        return p;
    }
    test::TempAppDir dir;
};

TEST_F(ImageLibTest, EveryEncodingReadsBackWithItsCodes) {
    struct Case {
        const char* name;
        SaveFormat format;
        int pageType, compression, compressionInfo;
        bool exactPixels;
    };
    const Case cases[] = {
        {"jpeg.tif",
         {kFileTiff, kPageGrey8, kCompressionJpeg, kInfoJpegMedium},
         kPageGrey8,
         kCompressionJpeg,
         kInfoJpegMedium,
         false},
        {"g4.tif",
         {kFileTiff, kPageBlackWhite, kCompressionGroup4, kInfoGroup4},
         kPageBlackWhite,
         kCompressionGroup4,
         kInfoGroup4,
         true},
        {"plain.tif",
         {kFileTiff, kPageGrey8, kCompressionNone, kInfoNone},
         kPageGrey8,
         kCompressionNone,
         kInfoNone,
         true},
        {"lzw.tif", {kFileTiff, kPageGrey8, kCompressionLzw, kInfoNone}, kPageGrey8, kCompressionLzw, kInfoNone, true},
        {"grey.bmp",
         {kFileBmp, kPageGrey8, kCompressionNone, kInfoNone},
         kPageGrey8,
         kCompressionNone,
         kInfoNone,
         true},
        {"bw.bmp",
         {kFileBmp, kPageBlackWhite, kCompressionNone, kInfoNone},
         kPageBlackWhite,
         kCompressionNone,
         kInfoNone,
         true},
        {"photo.jpg",
         {kFileJpeg, kPageGrey8, kCompressionJpeg, kInfoJpegMedium},
         kPageGrey8,
         kCompressionJpeg,
         kInfoJpegMedium,
         false},
        {"high.tif",
         {kFileTiff, kPageGrey8, kCompressionJpeg, kInfoJpegLowCompression},
         kPageGrey8,
         kCompressionJpeg,
         kInfoJpegLowCompression,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool bw = c.format.pageType == kPageBlackWhite;
        const Raster src = bw ? bilevel(333, 201) : card(333, 201, 300);
        std::string error;
        ASSERT_TRUE(saveAs(file(c.name), src, c.format, &error)) << error;
        const PageInfo p = info(file(c.name));
        EXPECT_EQ(p.fileType, c.format.fileType);
        EXPECT_EQ(p.pageType, c.pageType);
        EXPECT_EQ(p.compressionType, c.compression);
        EXPECT_EQ(p.compressionInfo, c.compressionInfo);
        EXPECT_EQ(p.width, 333);
        EXPECT_EQ(p.height, 201);
        EXPECT_EQ(p.resolutionX, 300);
        EXPECT_EQ(p.resolutionY, 300);
        Raster back;
        ASSERT_TRUE(loadPage(file(c.name), 1, back, &error)) << error;
        ASSERT_EQ(back.pixels.size(), src.pixels.size());
        if (c.exactPixels)
            EXPECT_EQ(back.pixels, src.pixels);
        else
            EXPECT_LT(meanAbsDiff(back, src), 3.0);
    }
}

TEST_F(ImageLibTest, JpegQualityIsEstimatedFromTheTables) {
    for (int compressionInfo : {kInfoJpegHighCompression, kInfoJpegMedium, kInfoJpegLowCompression}) {
        std::string error;
        ASSERT_TRUE(saveAs(file("q.jpg"), card(64, 64, 96), {kFileJpeg, kPageGrey8, kCompressionJpeg, compressionInfo},
                           &error));
        const PageInfo p = info(file("q.jpg"));
        EXPECT_EQ(p.compressionInfo, compressionInfo);
        EXPECT_EQ(p.resolutionX, 96);
    }
    EXPECT_EQ(info(file("q.jpg")).jpegQuality, 92);
    ASSERT_TRUE(saveAs(file("m.tif"), card(64, 64, 300), {}, nullptr));
    EXPECT_EQ(info(file("m.tif")).jpegQuality, kMediumJpegQuality);
    EXPECT_EQ(estimateJpegQuality(nullptr, 0), 0);
}

// Pages are told apart by a flat grey level.
Raster flat(uint8_t level, int w = 120, int h = 90) {
    Raster r = Raster::grey(w, h, level);
    r.resolutionX = r.resolutionY = 300;
    return r;
}

uint8_t levelOf(const std::string& path, int page) {
    Raster r;
    std::string error;
    EXPECT_TRUE(loadPage(path, page, r, &error)) << error;
    return r.empty() ? 0 : r.pixels[r.pixels.size() / 2];
}

TEST_F(ImageLibTest, PagesAreAppendedInsertedDeletedAndRotatedInPlace) {
    const std::string doc = file("docu.tif");
    const std::string more = file("more.tif");
    std::string error;
    ASSERT_TRUE(
        savePages(doc, {{flat(10), {}}, {flat(200), {kFileTiff, kPageBlackWhite, kCompressionGroup4, 26}}}, &error))
        << error;
    ASSERT_TRUE(savePages(more, {{flat(60), {}}, {flat(90), {}}, {flat(120), {}}}, &error));
    EXPECT_EQ(pageCount(doc, &error), 2);

    ASSERT_TRUE(appendPages(doc, more, 2, 2, &error)) << error;
    ASSERT_TRUE(insertPages(doc, more, 1, 1, 1, &error)) << error;
    ASSERT_EQ(pageCount(doc, &error), 5);
    const int expected[] = {60, 10, 255, 90, 120};
    for (int i = 0; i < 5; ++i)
        EXPECT_NEAR(levelOf(doc, i + 1), expected[i], 2) << "page " << i + 1;
    EXPECT_EQ(info(doc, 3).compressionType, kCompressionGroup4) << "a page keeps its encoding";
    EXPECT_EQ(info(doc, 3).compressionInfo, kInfoGroup4);
    EXPECT_EQ(info(doc, 1).compressionInfo, kInfoJpegMedium);

    ASSERT_TRUE(deletePage(doc, 2, &error));
    ASSERT_EQ(pageCount(doc, &error), 4);
    EXPECT_NEAR(levelOf(doc, 2), 255, 2);
    ASSERT_TRUE(rotatePageInFile(doc, 1, true, &error));
    EXPECT_EQ(info(doc, 1).width, 90);
    EXPECT_EQ(info(doc, 1).height, 120);
    EXPECT_EQ(info(doc, 2).width, 120) << "other pages untouched";

    EXPECT_FALSE(deletePage(doc, 9, &error));
    EXPECT_FALSE(insertPages(doc, more, 3, 2, 1, &error)) << "pages beyond the source";
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(pageCount(doc, &error), 4) << "a refused edit changes nothing";
}

TEST_F(ImageLibTest, RotationFlipAndCropMovePixelsWhereExpected) {
    Raster r = Raster::grey(3, 2);
    // 1 2 3
    // 4 5 6
    for (int i = 0; i < 6; ++i)
        r.pixels[static_cast<size_t>(i)] = static_cast<uint8_t>(i + 1);
    const Raster left = rotate90(r, true);
    EXPECT_EQ(left.width, 2);
    EXPECT_EQ(left.pixels, (std::vector<uint8_t>{3, 6, 2, 5, 1, 4}));
    const Raster right = rotate90(r, false);
    EXPECT_EQ(right.pixels, (std::vector<uint8_t>{4, 1, 5, 2, 6, 3}));
    EXPECT_EQ(rotate90(left, false).pixels, r.pixels);
    EXPECT_EQ(flip(r, true, false).pixels, (std::vector<uint8_t>{4, 5, 6, 1, 2, 3}));
    EXPECT_EQ(flip(r, false, true).pixels, (std::vector<uint8_t>{3, 2, 1, 6, 5, 4}));
    const Raster c = crop(r, 1, 0, 5, 5);
    EXPECT_EQ(c.width, 2);
    EXPECT_EQ(c.height, 2);
    EXPECT_EQ(c.pixels, (std::vector<uint8_t>{2, 3, 5, 6}));
    EXPECT_TRUE(crop(r, 4, 0, 2, 2).empty());
}

TEST_F(ImageLibTest, SkewIsMeasuredAndCorrectedOnWhite) {
    // Lines of "text" on a white page, turned by 2 degrees.
    Raster page = Raster::grey(800, 600);
    for (int line = 0; line < 12; ++line)
        for (int y = 60 + line * 40; y < 66 + line * 40; ++y)
            for (int x = 80; x < 720; ++x)
                if ((x / 9) % 5 != 0) page.row(y)[x] = 0;
    const Raster turned = rotateBy(page, 2.0);
    EXPECT_EQ(turned.row(0)[0], 255) << "corners come in white";
    double skew = 0;
    ASSERT_TRUE(measureSkew(turned, skew));
    EXPECT_NEAR(skew, -2.0, 0.3);
    const Raster straight = rotateBy(turned, skew);
    double rest = 0;
    if (measureSkew(straight, rest)) {
        EXPECT_LT(std::abs(rest), 0.3);
    }
    double none = 0;
    EXPECT_FALSE(measureSkew(Raster::grey(200, 200), none)) << "a blank page has no skew";
}

TEST_F(ImageLibTest, DamagedOrForeignFilesGiveErrorsAndNothingIsLost) {
    std::string error;
    PageInfo p;
    Raster r;
    EXPECT_FALSE(readPageInfo(file("missing.tif"), 1, p, &error));
    EXPECT_FALSE(error.empty());

    auto write = [this](const char* name, const QByteArray& bytes) {
        QFile f(QString::fromStdString(file(name)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    };
    write("text.tif", "just some text");
    EXPECT_FALSE(readPageInfo(file("text.tif"), 1, p, &error));
    // A BMP header claiming an enormous image with no pixels behind it.
    QByteArray bmp(54, '\0');
    bmp[0] = 'B';
    bmp[1] = 'M';
    bmp[10] = 54;
    bmp[14] = 40;
    bmp[18] = char(0xFF);
    bmp[19] = char(0xFF);
    bmp[22] = char(0xFF);
    bmp[23] = char(0xFF);
    bmp[26] = 1;
    bmp[28] = 8;
    write("huge.bmp", bmp);
    EXPECT_FALSE(loadPage(file("huge.bmp"), 1, r, &error));
    bmp[20] = 0;
    bmp[19] = 0;
    bmp[18] = 100;
    bmp[22] = 100;
    bmp[23] = 0;
    bmp[28] = 24;
    write("short.bmp", bmp);
    EXPECT_FALSE(loadPage(file("short.bmp"), 1, r, &error));
    EXPECT_NE(error.find("truncado"), std::string::npos) << error;

    // A TIFF page of 64 x 16 pixels whose header claims 65,280 samples a pixel: refused before any decoding, which
    // would ask for gigabytes.
    {
        QByteArray tif("II*\0\x08\0\0\0", 8);
        const std::array<std::array<uint32_t, 3>, 9> tags = {{{256, 3, 64},
                                                              {257, 3, 16},
                                                              {258, 3, 8},
                                                              {259, 3, 1},
                                                              {262, 3, 1},
                                                              {273, 4, 200},
                                                              {277, 3, 65280},
                                                              {278, 3, 16},
                                                              {279, 4, 1024}}};
        auto put = [&tif](uint32_t v, int bytes) {
            for (int i = 0; i < bytes; ++i)
                tif.append(static_cast<char>((v >> (8 * i)) & 0xFF));
        };
        put(static_cast<uint32_t>(tags.size()), 2);
        for (const auto& [tag, type, value] : tags) {
            put(tag, 2);
            put(type, 2);
            put(1, 4);
            put(value, 4);
        }
        put(0, 4);
        tif.append(QByteArray(1224 - tif.size(), '\0'));
        write("samples.tif", tif);
        EXPECT_FALSE(loadPage(file("samples.tif"), 1, r, &error));
        EXPECT_NE(error.find("formato de píxel"), std::string::npos) << error;
    }

    // A truncated TIFF: its first half.
    ASSERT_TRUE(saveAs(file("whole.tif"), card(300, 300, 300), {}, &error));
    QFile whole(QString::fromStdString(file("whole.tif")));
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
    write("half.tif", whole.readAll().left(static_cast<int>(whole.size() / 2)));
    EXPECT_FALSE(loadPage(file("half.tif"), 1, r, &error));
    EXPECT_FALSE(loadPage(file("whole.tif"), 2, r, &error));

    // A refused save leaves the existing file as it was.
    const QByteArray before = [&] {
        QFile f(QString::fromStdString(file("whole.tif")));
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }();
    EXPECT_FALSE(
        saveAs(file("whole.tif"), bilevel(50, 50), {kFileTiff, kPageBlackWhite, kCompressionJpeg, 1024}, &error));
    EXPECT_FALSE(saveAs(file("whole.tif"), Raster{}, {}, &error));
    EXPECT_EQ(error, "Input image is empty");
    QFile after(QString::fromStdString(file("whole.tif")));
    ASSERT_TRUE(after.open(QIODevice::ReadOnly));
    EXPECT_EQ(after.readAll(), before);
    EXPECT_FALSE(saveAs(dir.filePath("no/such/dir/x.tif"), card(10, 10, 300), {}, &error));
}

} // namespace
} // namespace qev::capture
