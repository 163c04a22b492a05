// Our encoder against the reference encoder on the two originals: size, quality and quantiser bins; and the
// syntax of what we write.
#include "WsqTestUtil.h"

#include "capture/wsq/Wsq.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>

using namespace qev;

namespace {

struct Original {
    const char* stem;
    int width;
    int height;
    size_t refBytes;
    double refPsnr;
};

const Original kOriginals[] = {
    {"nist_finger_500x500", 500, 500, 22036, 28.847},
    {"an2k_valid12_512x512", 512, 512, 21455, 33.940},
};

uint16_t be16(const std::vector<uint8_t>& s, size_t at) {
    return static_cast<uint16_t>(s.at(at) << 8 | s.at(at + 1));
}

double scaled(const std::vector<uint8_t>& s, size_t at) {
    return be16(s, at + 1) / std::pow(10.0, s.at(at));
}

// Reference bins of one stream from wsq_dqt.csv: subband -> (Q, Z).
std::map<int, std::pair<double, double>> referenceBins(const std::string& file) {
    std::ifstream in(test::fingerprintDir() + "/wsq_dqt.csv");
    std::map<int, std::pair<double, double>> bins;
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::stringstream ss(line);
        std::vector<std::string> f;
        std::string cell;
        while (std::getline(ss, cell, ','))
            f.push_back(cell);
        if (f.size() < 9 || f[0] != file) continue;
        bins[std::stoi(f[1])] = {std::stod(f[5]), std::stod(f[8])};
    }
    return bins;
}

class WsqEncoderTest : public ::testing::TestWithParam<Original> {};

TEST_P(WsqEncoderTest, MatchesReferenceEncoderSizeQualityAndBins) {
    const Original& o = GetParam();
    const std::string dir = test::fingerprintDir() + "/";
    const wsq::GreyImage img = test::loadRaw(dir + o.stem + ".raw", o.width, o.height);
    auto stream = wsq::encode(img, 0.75f, 500);
    ASSERT_TRUE(stream) << stream.error();
    auto dec = wsq::decode(*stream);
    ASSERT_TRUE(dec) << dec.error();
    ASSERT_EQ(dec->image.width, o.width);
    ASSERT_EQ(dec->image.height, o.height);
    const double p = test::psnr(img, dec->image);
    const double sizeRatio = double(stream->size()) / double(o.refBytes);
    std::printf("[ encoder  ] %s: %zu bytes (reference %zu, %+.2f %%), PSNR %.3f dB (reference %.3f)\n", o.stem,
                stream->size(), o.refBytes, 100.0 * (sizeRatio - 1.0), p, o.refPsnr);
    EXPECT_NEAR(sizeRatio, 1.0, 0.03);
    EXPECT_GE(p, o.refPsnr - 0.1);
    EXPECT_TRUE(dec->comments.empty());
    EXPECT_EQ(dec->encoderNumber, 2);

    // Quantiser bins against the reference encoder's DQT of the same image.
    const auto ref = referenceBins(std::string(o.stem) + ".nbis075.wsq");
    ASSERT_EQ(ref.size(), 64u);
    const auto segs = test::walkSegments(*stream);
    size_t dqt = 0;
    for (const auto& s : segs)
        if (s.marker == 0xFFA5) dqt = s.offset;
    ASSERT_NE(dqt, 0u);
    double worst = 0;
    for (int k = 0; k < 64; ++k) {
        const double q = scaled(*stream, dqt + 7 + 6 * size_t(k));
        const double z = scaled(*stream, dqt + 10 + 6 * size_t(k));
        const auto [rq, rz] = ref.at(k);
        if (rq == 0) {
            EXPECT_EQ(q, 0.0) << "subband " << k;
            continue;
        }
        worst = std::max({worst, std::fabs(q / rq - 1.0), std::fabs(z / rz - 1.0)});
    }
    std::printf("[ encoder  ] %s: largest bin deviation from the reference %.4f %%\n", o.stem, 100.0 * worst);
    EXPECT_LT(worst, 0.0051);
}

INSTANTIATE_TEST_SUITE_P(Originals, WsqEncoderTest, ::testing::ValuesIn(kOriginals),
                         [](const auto& p) { return std::string(p.param.stem); });

wsq::GreyImage ridges(int w, int h) {
    wsq::GreyImage g{w, h, {}};
    g.pixels.resize(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            g.pixels[size_t(y) * w + x] =
                static_cast<uint8_t>(128 + 90 * std::sin(0.35 * x + 0.1 * y) * std::cos(0.05 * (x - y)));
    return g;
}

TEST(WsqEncoderSyntaxTest, SegmentsFollowTheFormat) {
    const wsq::GreyImage img = ridges(301, 257);
    auto stream = wsq::encode(img, 0.75f, 500);
    ASSERT_TRUE(stream) << stream.error();
    const auto segs = test::walkSegments(*stream);
    std::string order;
    for (const auto& s : segs) {
        static const std::map<uint16_t, const char*> names = {{0xFFA0, "SOI"}, {0xFFA1, "EOI"}, {0xFFA2, "SOF"},
                                                              {0xFFA3, "SOB"}, {0xFFA4, "DTT"}, {0xFFA5, "DQT"},
                                                              {0xFFA6, "DHT"}, {0xFFA8, "COM"}};
        ASSERT_TRUE(names.count(s.marker)) << std::hex << s.marker;
        order += std::string(order.empty() ? "" : " ") + names.at(s.marker);
    }
    EXPECT_EQ(order, "SOI DTT DQT SOF DHT SOB DHT SOB SOB EOI");
    for (const auto& s : segs) {
        if (s.marker == 0xFFA2) {
            EXPECT_EQ(s.length, 17u);
            EXPECT_EQ(be16(*stream, s.offset + 6), 257); // height
            EXPECT_EQ(be16(*stream, s.offset + 8), 301); // width
            EXPECT_EQ(stream->at(s.offset + 16), 2);     // encoder number
        }
        if (s.marker == 0xFFA4) {
            EXPECT_EQ(s.length, 58u);
        }
        if (s.marker == 0xFFA5) {
            EXPECT_EQ(s.length, 389u);
        }
        if (s.marker == 0xFFA3) {
            EXPECT_EQ(s.length, 3u);
            EXPECT_GT(s.dataBytes, 0u);
            // Inside entropy data every 0xFF is followed by a stuffed zero.
            for (size_t i = s.offset + 5; i < s.offset + 5 + s.dataBytes; ++i)
                if ((*stream)[i] == 0xFF) {
                    EXPECT_EQ((*stream)[i + 1], 0x00) << "offset " << i;
                }
        }
    }
    auto dec = wsq::decode(*stream);
    ASSERT_TRUE(dec) << dec.error();
    EXPECT_GT(test::psnr(img, dec->image), 30.0);
}

TEST(WsqEncoderSyntaxTest, CommentsAndLimits) {
    const wsq::GreyImage img = ridges(128, 140);
    auto own = wsq::encode(img, 0.75f, 500, std::string("operador 7"));
    ASSERT_TRUE(own) << own.error();
    auto dec = wsq::decode(*own);
    ASSERT_TRUE(dec);
    ASSERT_EQ(dec->comments.size(), 1u);
    EXPECT_EQ(dec->comments[0], "operador 7");
    EXPECT_EQ(dec->ppi, -1);

    auto none = wsq::encode(img, 0.75f, 500, std::string());
    ASSERT_TRUE(none);
    auto dn = wsq::decode(*none);
    ASSERT_TRUE(dn);
    EXPECT_TRUE(dn->comments.empty());

    auto bare = wsq::encode(img, 0.75f, 500);
    ASSERT_TRUE(bare);
    EXPECT_EQ(*bare, *none) << "without a comment no comment segment is written";

    auto nist = wsq::encode(img, 0.75f, 1000, wsq::nistComment(img, 1000, 0.75f));
    ASSERT_TRUE(nist);
    auto dd = wsq::decode(*nist);
    ASSERT_TRUE(dd);
    ASSERT_EQ(dd->comments.size(), 1u);
    EXPECT_EQ(dd->ppi, 1000);
    EXPECT_NE(dd->comments[0].find("WSQ_BITRATE 0.750000"), std::string::npos);

    // A higher bit rate spends more bytes and gives a better image.
    auto rich = wsq::encode(img, 2.0f, 500);
    ASSERT_TRUE(rich);
    auto dr = wsq::decode(*rich);
    ASSERT_TRUE(dr);
    EXPECT_GT(rich->size(), nist->size());
    EXPECT_GT(test::psnr(img, dr->image), test::psnr(img, dd->image));

    EXPECT_FALSE(wsq::encode(ridges(127, 300), 0.75f, 500));
    EXPECT_FALSE(wsq::encode(ridges(300, 100), 0.75f, 500));
    EXPECT_FALSE(wsq::encode(img, 0.0f, 500));
    wsq::GreyImage shortData = img;
    shortData.pixels.pop_back();
    EXPECT_FALSE(wsq::encode(shortData, 0.75f, 500));
}

TEST(WsqEncoderSyntaxTest, FlatImagesRoundTripExactly) {
    for (uint8_t level : {0, 128, 255}) {
        wsq::GreyImage img{200, 160, std::vector<uint8_t>(200 * 160, level)};
        auto stream = wsq::encode(img, 0.75f, 500);
        ASSERT_TRUE(stream) << stream.error();
        auto dec = wsq::decode(*stream);
        ASSERT_TRUE(dec) << dec.error();
        EXPECT_EQ(dec->image.pixels, img.pixels) << int(level);
    }
}

} // namespace
