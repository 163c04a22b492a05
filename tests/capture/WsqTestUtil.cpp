#include "WsqTestUtil.h"

#include <QImage>
#include <QString>

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>

namespace qev::test {

std::string fingerprintDir() {
    return QEV_FINGERPRINT_DIR;
}

std::vector<uint8_t> loadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << path;
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

wsq::GreyImage loadPng(const std::string& path) {
    QImage img(QString::fromStdString(path));
    EXPECT_FALSE(img.isNull()) << path;
    img = img.convertToFormat(QImage::Format_Grayscale8);
    wsq::GreyImage g;
    g.width = img.width();
    g.height = img.height();
    g.pixels.resize(static_cast<size_t>(g.width) * static_cast<size_t>(g.height));
    for (int y = 0; y < g.height; ++y)
        std::copy_n(img.constScanLine(y), g.width, g.pixels.data() + static_cast<size_t>(y) * g.width);
    return g;
}

wsq::GreyImage loadRaw(const std::string& path, int width, int height) {
    wsq::GreyImage g;
    g.width = width;
    g.height = height;
    g.pixels = loadBytes(path);
    EXPECT_EQ(g.pixels.size(), static_cast<size_t>(width) * height) << path;
    return g;
}

std::vector<Segment> walkSegments(const std::vector<uint8_t>& s) {
    std::vector<Segment> out;
    size_t p = 0;
    auto u16 = [&](size_t at) { return static_cast<uint16_t>(s.at(at) << 8 | s.at(at + 1)); };
    while (p + 2 <= s.size()) {
        const uint16_t m = u16(p);
        Segment seg{m, p, 0, 0};
        if ((m & 0xFF00) != 0xFF00) {
            ADD_FAILURE() << "no marker at offset " << p;
            return out;
        }
        if (m == 0xFFA0 || m == 0xFFA1) {
            out.push_back(seg);
            p += 2;
            if (m == 0xFFA1) break;
            continue;
        }
        seg.length = u16(p + 2);
        if (seg.length < 2 || p + 2 + seg.length > s.size()) {
            ADD_FAILURE() << "bad segment length at offset " << p;
            return out;
        }
        p += 2 + seg.length;
        if (m == 0xFFA3) {
            const size_t start = p;
            while (p + 1 < s.size()) {
                if (s[p] == 0xFF) {
                    if (s[p + 1] == 0x00) {
                        p += 2;
                        continue;
                    }
                    if (s[p + 1] >= 0xB0 && s[p + 1] <= 0xB7) {
                        p += 2;
                        continue;
                    }
                    break;
                }
                ++p;
            }
            seg.dataBytes = p - start;
        }
        out.push_back(seg);
    }
    EXPECT_EQ(p, s.size()) << "bytes after EOI or no EOI";
    return out;
}

double psnr(const wsq::GreyImage& a, const wsq::GreyImage& b) {
    double se = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i) {
        const double d = double(a.pixels[i]) - double(b.pixels[i]);
        se += d * d;
    }
    const double mse = se / static_cast<double>(a.pixels.size());
    return 10.0 * std::log10(255.0 * 255.0 / mse);
}

} // namespace qev::test
