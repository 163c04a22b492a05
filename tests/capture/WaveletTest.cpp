// The filter bank: analysis then synthesis over the whole decomposition tree gives back the image for odd and
// even filter pairs and awkward sizes; pairs that cannot reconstruct are refused.
#include "capture/wsq/Wavelet.h"
#include "capture/wsq/WsqTree.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace qev::wsq;

namespace {

struct Pair {
    const char* name;
    std::vector<double> low;
    int lowLength;
    std::vector<double> high;
    int highLength;
};

class WaveletTest : public ::testing::TestWithParam<Pair> {};

TEST_P(WaveletTest, SynthesisInvertsAnalysis) {
    const Pair& p = GetParam();
    auto bank = makeFilterBank(p.low, p.lowLength, p.high, p.highLength);
    ASSERT_TRUE(bank) << bank.error();
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(-100.0f, 100.0f);
    for (auto [w, h] : {std::pair{32, 32}, {33, 47}, {64, 61}, {97, 130}, {250, 251}}) {
        std::vector<float> img(size_t(w) * h);
        for (float& v : img)
            v = u(rng);
        const std::vector<float> orig = img;
        const Tree tree = buildTree(w, h);
        analyse(img, w, tree, *bank);
        synthesise(img, w, tree, *bank);
        float worst = 0;
        for (size_t i = 0; i < img.size(); ++i)
            worst = std::max(worst, std::fabs(img[i] - orig[i]));
        EXPECT_LT(worst, 2e-3f) << p.name << " " << w << "x" << h;
    }
}

const double kR2 = std::sqrt(0.5);

INSTANTIATE_TEST_SUITE_P(Pairs, WaveletTest,
                         ::testing::Values(Pair{"cdf97",
                                                {standardLowHalf().begin(), standardLowHalf().end()},
                                                9,
                                                {standardHighHalf().begin(), standardHighHalf().end()},
                                                7},
                                           Pair{"legall53", {0.75, 0.25, -0.125}, 5, {1.0, -0.5}, 3},
                                           Pair{"haar", {kR2}, 2, {kR2}, 2},
                                           Pair{"even26", {kR2}, 2, {kR2, -kR2 / 8, -kR2 / 8}, 6}),
                         [](const auto& pi) { return std::string(pi.param.name); });

TEST(WaveletBankTest, NonReconstructingPairsAreRefused) {
    EXPECT_FALSE(makeFilterBank(std::vector<double>{0.8, 0.3, 0.1}, 5, std::vector<double>{0.7, 0.2}, 3));
    EXPECT_FALSE(makeFilterBank(std::vector<double>{0.8, 0.3}, 3, std::vector<double>{0.7}, 2)); // odd with even
    EXPECT_FALSE(makeFilterBank(std::vector<double>{0.8, 0.3}, 3, std::vector<double>{0.7, 0.1, 0.2}, 3));
    EXPECT_FALSE(makeFilterBank(std::vector<double>(20, 0.1), 39, std::vector<double>{0.7, 0.2}, 3));
}

TEST(WsqTreeTest, SubbandsTileTheImage) {
    for (auto [w, h] : {std::pair{500, 500}, {784, 1133}, {33, 47}}) {
        const Tree t = buildTree(w, h);
        std::vector<int> cover(size_t(w) * h, 0);
        for (const Region& r : t.subbands) {
            ASSERT_GT(r.w, 0);
            ASSERT_GT(r.h, 0);
            for (int y = r.y; y < r.y + r.h; ++y)
                for (int x = r.x; x < r.x + r.w; ++x)
                    ++cover.at(size_t(y) * w + x);
        }
        for (int c : cover)
            ASSERT_EQ(c, 1) << w << "x" << h;
        // The four lowest subbands are the smallest corner; the coded ones exclude the last quarter.
        EXPECT_EQ(t.subbands[0].x, 0);
        EXPECT_EQ(t.subbands[0].y, 0);
        EXPECT_EQ(t.subbands[60].x, (w + 1) / 2);
        EXPECT_EQ(t.subbands[60].y, (h + 1) / 2);
    }
}

} // namespace
