#include "capture/quality/QualityGrader.h"
#include "capture/quality/BlockMaps.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

using namespace qev::quality;

namespace {

// Straight parallel ridges: grey 128 +- 70, period 10 px, ridge lines at angle ridgeAngle from the x axis.
std::vector<std::uint8_t> parallelRidges(int w, int h, double ridgeAngle) {
    std::vector<std::uint8_t> px(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    const double nx = -std::sin(ridgeAngle), ny = std::cos(ridgeAngle);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            px[static_cast<std::size_t>(y * w + x)] =
                static_cast<std::uint8_t>(128.0 + 70.0 * std::sin(2.0 * std::numbers::pi * (x * nx + y * ny) / 10.0));
    return px;
}

bool definedOutcome(const GradeResult& r) {
    switch (r.code) {
    case kGraded:
        return r.quality >= 1 && r.quality <= 5;
    case kEmptyImage:
    case kTooFewMinutiae:
        return r.quality == 5;
    case kNoImage:
    case kOutOfMemory:
        return r.quality == 0;
    default:
        return false;
    }
}

} // namespace

TEST(QualityGrader, MissingImageGivesNoImageCode) {
    const std::vector<std::uint8_t> px(100, 0);
    for (const auto& [p, w, h] :
         {std::tuple{px.data(), 0, 10}, std::tuple{px.data(), 10, 0}, std::tuple{px.data(), -5, 10},
          std::tuple<const std::uint8_t*, int, int>{nullptr, 10, 10}}) {
        const GradeResult r = grade(p, w, h);
        EXPECT_EQ(r.code, kNoImage) << w << "x" << h;
        EXPECT_EQ(r.quality, 0);
    }
}

TEST(QualityGrader, OversizedImageIsRefusedAsOutOfMemoryWithoutReadingIt) {
    const std::uint8_t one = 0;
    const GradeResult r = grade(&one, 1 << 20, 1 << 20);
    EXPECT_EQ(r.code, kOutOfMemory);
    EXPECT_EQ(r.quality, 0);
}

TEST(QualityGrader, BlankImagesLeaveThroughTheFewMinutiaeRule) {
    for (const int value : {0, 128, 255}) {
        const std::vector<std::uint8_t> px(512 * 512, static_cast<std::uint8_t>(value));
        const GradeDetails d = gradeDetailed(px.data(), 512, 512);
        EXPECT_EQ(d.code, kTooFewMinutiae) << value;
        EXPECT_EQ(d.quality, 5) << value;
        EXPECT_FLOAT_EQ(d.confidence, 1.0f);
        EXPECT_FALSE(d.networkRan);
        EXPECT_EQ(d.blockCounts[0], 64 * 64) << "a blank image has no foreground";
    }
}

TEST(QualityGrader, TinyImageHasNoMinutiaeAndGradesFive) {
    const std::vector<std::uint8_t> px = parallelRidges(10, 10, 0.3);
    const GradeResult r = grade(px.data(), 10, 10);
    EXPECT_EQ(r.code, kTooFewMinutiae);
    EXPECT_EQ(r.quality, 5);
}

TEST(QualityGrader, DirectionMapFollowsStraightRidges) {
    for (const int d : {0, 3, 4, 8, 11, 15}) {
        const double angle = std::numbers::pi * d / kDirectionCount;
        const auto px = parallelRidges(160, 160, angle);
        const BlockMaps maps = computeBlockMaps({px.data(), 160, 160});
        ASSERT_EQ(maps.width, 20);
        ASSERT_EQ(maps.height, 20);
        for (int by = 1; by < maps.height - 1; ++by)
            for (int bx = 1; bx < maps.width - 1; ++bx) {
                const int got = maps.direction[maps.index(bx, by)];
                const int diff = std::abs(got - d) % kDirectionCount;
                EXPECT_LE(std::min(diff, kDirectionCount - diff), 1) << "block " << bx << "," << by << " dir " << d;
            }
    }
}

TEST(QualityGrader, QualityMapOfCleanRidgesIsBestInsideItsBorderRings) {
    const auto px = parallelRidges(160, 160, 0.7);
    const BlockMaps maps = computeBlockMaps({px.data(), 160, 160});
    for (int by = 0; by < maps.height; ++by)
        for (int bx = 0; bx < maps.width; ++bx) {
            const int ring = std::min({bx, by, maps.width - 1 - bx, maps.height - 1 - by});
            // The direction-less outer ring also costs its 5x5 neighbours two levels.
            const int expected = ring == 0 ? 0 : ring == 1 ? 1 : ring == 2 ? 2 : 4;
            EXPECT_EQ(maps.quality[maps.index(bx, by)], expected) << bx << "," << by;
        }
}

TEST(QualityGrader, CleanParallelRidgesHaveNoMinutiae) {
    const auto px = parallelRidges(300, 300, 1.1);
    const GradeDetails d = gradeDetailed(px.data(), 300, 300);
    EXPECT_EQ(d.code, kTooFewMinutiae);
    EXPECT_LE(d.minutiae.size(), 5u);
}

TEST(QualityGrader, ArbitraryInputsGiveDefinedCodes) {
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> byte(0, 255);
    const std::vector<std::pair<int, int>> sizes = {{1, 1},    {1, 300},  {300, 1},   {7, 9},    {31, 257},
                                                    {257, 31}, {99, 101}, {256, 256}, {401, 333}};
    for (const auto& [w, h] : sizes) {
        std::vector<std::uint8_t> px(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
        for (auto& p : px)
            p = static_cast<std::uint8_t>(byte(rng));
        for (const int ppi : {500, 0, -1, 1000}) {
            const GradeResult r = grade(px.data(), w, h, ppi);
            EXPECT_TRUE(definedOutcome(r))
                << w << "x" << h << " ppi " << ppi << " code " << r.code << " q " << r.quality;
        }
    }
}

TEST(QualityGrader, GradeAgreesWithDetailsAndIsDeterministic) {
    const auto px = parallelRidges(200, 200, 0.4);
    std::vector<std::uint8_t> noisy = px;
    std::mt19937 rng(7);
    for (std::size_t i = 0; i < noisy.size(); i += 13)
        noisy[i] = static_cast<std::uint8_t>(rng() & 0xff);
    const GradeDetails d1 = gradeDetailed(noisy.data(), 200, 200);
    const GradeDetails d2 = gradeDetailed(noisy.data(), 200, 200);
    const GradeResult r = grade(noisy.data(), 200, 200);
    EXPECT_EQ(d1.code, r.code);
    EXPECT_EQ(d1.quality, r.quality);
    EXPECT_EQ(d1.minutiae.size(), d2.minutiae.size());
    EXPECT_EQ(d1.blockCounts, d2.blockCounts);
}
