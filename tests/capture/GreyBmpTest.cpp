// Grey BMP files: what we write reads back identically, foreign layouts (top-down, 24-bit, non-identity palette)
// read as grey, and damaged files are refused.
#include "capture/wsq/GreyBmp.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace qev::wsq;

namespace {

GreyImage pattern(int w, int h) {
    GreyImage g{w, h, std::vector<uint8_t>(size_t(w) * h)};
    for (size_t i = 0; i < g.pixels.size(); ++i)
        g.pixels[i] = static_cast<uint8_t>(i * 31 + i / size_t(w));
    return g;
}

void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + size_t(i)] = static_cast<uint8_t>(v >> (8 * i));
}

TEST(GreyBmpTest, WrittenFilesReadBackWithPaddingAndResolution) {
    for (int w : {1, 3, 4, 5, 130}) {
        const GreyImage g = pattern(w, 7);
        const auto bytes = writeGreyBmp(g, 500);
        const size_t row = (size_t(w) + 3) / 4 * 4;
        EXPECT_EQ(bytes.size(), 14 + 40 + 1024 + row * 7);
        auto back = readGreyBmp(bytes);
        ASSERT_TRUE(back) << back.error();
        EXPECT_EQ(back->image.width, w);
        EXPECT_EQ(back->image.height, 7);
        EXPECT_EQ(back->image.pixels, g.pixels);
        EXPECT_EQ(back->ppi, 500);
        // Bottom-up: the file's first pixel row is the image's last row.
        EXPECT_EQ(bytes[14 + 40 + 1024], g.pixels[size_t(6) * w]);
    }
}

TEST(GreyBmpTest, TopDownPaletteAndTrueColourFilesReadAsGrey) {
    GreyImage g = pattern(6, 4);
    auto b = writeGreyBmp(g, 0);
    // Top-down: negative height, rows reversed in the file.
    auto topDown = b;
    put32(topDown, 22, static_cast<uint32_t>(-4));
    const size_t data = 14 + 40 + 1024;
    for (int y = 0; y < 4; ++y)
        std::memcpy(&topDown[data + size_t(y) * 8], &b[data + size_t(3 - y) * 8], 8);
    auto td = readGreyBmp(topDown);
    ASSERT_TRUE(td) << td.error();
    EXPECT_EQ(td->image.pixels, g.pixels);
    EXPECT_EQ(td->ppi, -1);

    // An inverted palette maps index i to grey 255 - i.
    auto inv = b;
    for (int i = 0; i < 256; ++i)
        for (int c = 0; c < 3; ++c)
            inv[54 + size_t(i) * 4 + size_t(c)] = static_cast<uint8_t>(255 - i);
    auto iv = readGreyBmp(inv);
    ASSERT_TRUE(iv);
    for (size_t i = 0; i < g.pixels.size(); ++i)
        ASSERT_EQ(iv->image.pixels[i], 255 - g.pixels[i]);

    // 24-bit: grey pixels stay, a pure red pixel becomes its luminance.
    const int w = 3, h = 2;
    const size_t row = 12;
    std::vector<uint8_t> rgb(54 + row * h, 0);
    rgb[0] = 'B';
    rgb[1] = 'M';
    put32(rgb, 2, static_cast<uint32_t>(rgb.size()));
    put32(rgb, 10, 54);
    put32(rgb, 14, 40);
    put32(rgb, 18, w);
    put32(rgb, 22, h);
    rgb[26] = 1;
    rgb[28] = 24;
    for (int x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c)
            rgb[54 + size_t(x) * 3 + size_t(c)] = static_cast<uint8_t>(40 * x); // bottom row: greys
    rgb[54 + row + 2] = 255;                                                    // top row, first pixel: red
    auto tc = readGreyBmp(rgb);
    ASSERT_TRUE(tc) << tc.error();
    EXPECT_EQ(tc->image.pixels[0], 76);
    EXPECT_EQ(tc->image.pixels[3], 0);
    EXPECT_EQ(tc->image.pixels[4], 40);
    EXPECT_EQ(tc->image.pixels[5], 80);
}

TEST(GreyBmpTest, DamagedFilesAreRefused) {
    const auto good = writeGreyBmp(pattern(10, 10), 500);
    auto mutate = [&](auto f) {
        auto b = good;
        f(b);
        return readGreyBmp(b);
    };
    EXPECT_FALSE(readGreyBmp(std::vector<uint8_t>{}));
    EXPECT_FALSE(mutate([](auto& b) { b[0] = 'X'; }));
    EXPECT_FALSE(mutate([](auto& b) { b.resize(b.size() - 1); })); // last row cut
    EXPECT_FALSE(mutate([](auto& b) { b.resize(60); }));           // palette cut
    EXPECT_FALSE(mutate([](auto& b) { b[28] = 16; }));             // 16-bit pixels
    EXPECT_FALSE(mutate([](auto& b) { b[30] = 1; }));              // run-length compressed
    EXPECT_FALSE(mutate([](auto& b) { put32(b, 18, 0); }));        // no width
    EXPECT_FALSE(mutate([](auto& b) {
        put32(b, 18, 100000);
        put32(b, 22, 100000);
    }));                                                              // huge
    EXPECT_FALSE(mutate([](auto& b) { put32(b, 10, 0xFFFFFFF0u); })); // data offset past the end
    EXPECT_FALSE(mutate([](auto& b) { put32(b, 46, 300); }));         // palette too long
    EXPECT_FALSE(mutate([](auto& b) { put32(b, 14, 0x7FFFFFFF); }));  // header size
}

} // namespace
