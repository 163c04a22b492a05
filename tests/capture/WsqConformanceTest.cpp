// Every reference stream decodes to exactly the reference decoder's pixels.
#include "WsqTestUtil.h"

#include "capture/wsq/Wsq.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

using namespace qev;

namespace {

struct Stream {
    const char* stem;
    int width;
    int height;
    int ppi;
};

class WsqConformanceTest : public ::testing::TestWithParam<Stream> {};

TEST_P(WsqConformanceTest, DecodesToReferencePixels) {
    const Stream& s = GetParam();
    const std::string dir = test::fingerprintDir() + "/";
    const auto bytes = test::loadBytes(dir + s.stem + ".wsq");
    auto dec = wsq::decode(bytes);
    ASSERT_TRUE(dec) << dec.error();
    const wsq::GreyImage ref = test::loadPng(dir + s.stem + ".dec.png");
    ASSERT_EQ(dec->image.width, s.width);
    ASSERT_EQ(dec->image.height, s.height);
    ASSERT_EQ(ref.width, s.width);
    ASSERT_EQ(ref.height, s.height);
    EXPECT_EQ(dec->ppi, s.ppi);
    EXPECT_EQ(dec->depth, 8);
    size_t same = 0, offByOne = 0, worse = 0;
    for (size_t i = 0; i < ref.pixels.size(); ++i) {
        const int d = std::abs(int(ref.pixels[i]) - int(dec->image.pixels[i]));
        (d == 0 ? same : d == 1 ? offByOne : worse)++;
    }
    const double share = double(same) / double(ref.pixels.size());
    std::printf("[ conform  ] %s %dx%d: %zu identical, %zu off by 1, %zu worse (%.5f %% identical)\n", s.stem, s.width,
                s.height, same, offByOne, worse, 100.0 * share);
    EXPECT_EQ(same, ref.pixels.size()) << offByOne << " pixels off by one, " << worse << " worse";
}

const Stream kStreams[] = {
    {"nist_finger_500x500.nbis075", 500, 500, 500},
    {"an2k_valid12_512x512.nbis075", 512, 512, 500},
    {"an2k_valid1.1_r3", 512, 512, -1},
    {"an2k_valid1.14_r3", 784, 1133, -1},
    {"an2k_valid1.9_r3", 800, 800, -1},
    {"an2k_valid1.9_r4", 2000, 2000, -1},
    {"an2k_valid1.8_r3", 1600, 976, -1},
    {"an2k_valid1.8_r4", 1600, 976, -1},
    {"an2k_valid1.8_r5", 1600, 800, -1},
};

std::string streamName(const ::testing::TestParamInfo<Stream>& info) {
    std::string n = info.param.stem;
    for (char& c : n)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return n;
}

INSTANTIATE_TEST_SUITE_P(ReferenceStreams, WsqConformanceTest, ::testing::ValuesIn(kStreams), streamName);

} // namespace
