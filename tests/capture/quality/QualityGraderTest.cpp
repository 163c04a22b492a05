#include "capture/quality/QualityGrader.h"
#include "capture/quality/Binarize.h"
#include "capture/quality/BlockMaps.h"
#include "capture/quality/Minutiae.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// Paper-like page: grey `base` with uniform grain of +-`grain` levels.
std::vector<std::uint8_t> paper(int w, int h, int base, int grain, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> noise(-grain, grain);
    std::vector<std::uint8_t> px(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    for (auto& p : px)
        p = static_cast<std::uint8_t>(std::clamp(base + noise(rng), 0, 255));
    return px;
}

int countLevel(const BlockMaps& maps, int level) {
    return static_cast<int>(std::count(maps.quality.begin(), maps.quality.end(), static_cast<std::uint8_t>(level)));
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

TEST(QualityMaps, PaperGrainIsBackgroundButRidgeContrastIsNot) {
    // Grain spanning 16 grey levels is below the 6-bit contrast threshold; ridges of +-70 are far above it.
    // The outer ring's windows reach into the grey pad, so only the inner blocks are tested for contrast.
    const auto grain = paper(160, 160, 215, 8, 3);
    const BlockMaps blank = computeBlockMaps({grain.data(), 160, 160});
    for (int by = 1; by < blank.height - 1; ++by)
        for (int bx = 1; bx < blank.width - 1; ++bx)
            EXPECT_EQ(blank.lowContrast[blank.index(bx, by)], 1) << bx << "," << by;
    EXPECT_EQ(countLevel(blank, 0), blank.width * blank.height);

    const auto ridges = parallelRidges(160, 160, 0.5);
    const BlockMaps fingers = computeBlockMaps({ridges.data(), 160, 160});
    EXPECT_EQ(std::count(fingers.lowContrast.begin(), fingers.lowContrast.end(), 1), 0);
}

TEST(QualityMaps, PrintedFormPageIsMostlyLevelZero) {
    // A grainy white page with a box grid of 2-pixel black lines and a few solid bars, like a card form.
    const int w = 480, h = 480;
    auto px = paper(w, h, 225, 6, 5);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool gridLine = (x % 120) < 2 || (y % 96) < 2;
            const bool bar = y >= 300 && y < 312 && x >= 40 && x < 200;
            if (gridLine || bar) px[static_cast<std::size_t>(y * w + x)] = 20;
        }
    const GradeDetails d = gradeDetailed(px.data(), w, h);
    const int blocks = d.mapWidth * d.mapHeight;
    EXPECT_GE(d.blockCounts[0] * 10, blocks * 7) << "level 0 on " << d.blockCounts[0] << " of " << blocks;
    EXPECT_EQ(d.blockCounts[4], 0) << "printed lines are never top-quality ridge flow";
}

TEST(QualityMaps, SmoothShadingHasNoDirection) {
    // One bright-dark cycle across the analysis window is shading, not ridges.
    const int w = 160, h = 160;
    std::vector<std::uint8_t> px(static_cast<std::size_t>(w * h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            px[static_cast<std::size_t>(y * w + x)] =
                static_cast<std::uint8_t>(128.0 + 120.0 * std::sin(2.0 * std::numbers::pi * x / 24.0));
    const BlockMaps maps = computeBlockMaps({px.data(), w, h});
    // No block whose turned window stays inside the image finds a flow of its own (the outer two rings also see the
    // grey outside the image, and a direction found there may be smoothed inwards later).
    int ownDirection = 0;
    for (int by = 2; by < maps.height - 2; ++by)
        for (int bx = 2; bx < maps.width - 2; ++bx)
            ownDirection += maps.lowFlow[maps.index(bx, by)] || maps.lowContrast[maps.index(bx, by)] ? 0 : 1;
    EXPECT_EQ(ownDirection, 0);
}

TEST(QualityMaps, NoisePatchInsideRidgesIsFilledAndMarkedLowFlow) {
    const int w = 200, h = 200;
    auto px = parallelRidges(w, h, std::numbers::pi * 4 / kDirectionCount);
    std::mt19937 rng(9);
    for (int y = 80; y < 120; ++y)
        for (int x = 80; x < 120; ++x)
            px[static_cast<std::size_t>(y * w + x)] = static_cast<std::uint8_t>(rng() & 0xff);
    const BlockMaps maps = computeBlockMaps({px.data(), w, h});
    int lowFlow = 0;
    for (int by = 0; by < maps.height; ++by)
        for (int bx = 0; bx < maps.width; ++bx) {
            const std::size_t i = maps.index(bx, by);
            const bool inPatch = bx >= 10 && bx < 15 && by >= 10 && by < 15;
            if (!maps.lowFlow[i]) continue;
            ++lowFlow;
            EXPECT_TRUE(inPatch) << bx << "," << by;
            // No flow of its own, but the surroundings give it one. Low flow itself costs a level, and the
            // other low-flow blocks of the patch within two blocks cost one more.
            ASSERT_GE(maps.direction[i], 0) << bx << "," << by;
            EXPECT_LE(std::abs(maps.direction[i] - 4), 1) << bx << "," << by;
            EXPECT_EQ(maps.quality[i], 2) << bx << "," << by;
        }
    EXPECT_GE(lowFlow, 2);
    EXPECT_EQ(maps.quality[maps.index(4, 4)], 4);
}

TEST(QualityMaps, IsolatedDirectionIsRemovedNotSpread) {
    // A single ridge patch on a background page has too few valid neighbours to keep its direction.
    const int w = 160, h = 160;
    auto px = paper(w, h, 230, 2, 4);
    const auto ridges = parallelRidges(w, h, 0.3);
    for (int y = 76; y < 84; ++y)
        for (int x = 76; x < 84; ++x)
            px[static_cast<std::size_t>(y * w + x)] = ridges[static_cast<std::size_t>(y * w + x)];
    const BlockMaps maps = computeBlockMaps({px.data(), w, h});
    EXPECT_EQ(countLevel(maps, 0), maps.width * maps.height);
}

TEST(QualityMaps, MarginRingHasNoDirection) {
    const auto px = parallelRidges(120, 96, 1.2);
    const BlockMaps maps = computeBlockMaps({px.data(), 120, 96});
    for (int by = 0; by < maps.height; ++by)
        for (int bx = 0; bx < maps.width; ++bx) {
            const bool margin = bx == 0 || by == 0 || bx == maps.width - 1 || by == maps.height - 1;
            EXPECT_EQ(maps.direction[maps.index(bx, by)] < 0, margin) << bx << "," << by;
        }
}

// Black strips lower or narrower than the analysis window: against the grey pad they are not background, so their
// flow is measured, and the turned windows must stay inside the padded copy (the address sanitizer run catches a
// read past it). The maps keep their shape and ranges.
TEST(QualityMaps, StripsSmallerThanTheWindowAreMeasuredInsideTheImageBuffer) {
    for (const auto& [w, h] : {std::pair{15, 4}, std::pair{23, 3}, std::pair{4, 15}, std::pair{60, 1}}) {
        const std::vector<std::uint8_t> px(static_cast<std::size_t>(w * h), 0);
        const BlockMaps maps = computeBlockMaps({px.data(), w, h});
        ASSERT_EQ(maps.width, (w + 7) / 8) << w << "x" << h;
        ASSERT_EQ(maps.height, (h + 7) / 8) << w << "x" << h;
        for (std::size_t i = 0; i < maps.direction.size(); ++i) {
            EXPECT_GE(maps.direction[i], kNoDirection);
            EXPECT_LT(maps.direction[i], kDirectionCount);
            EXPECT_LE(maps.quality[i], 4);
        }
    }
}

TEST(QualityMaps, CurvedFlowIsFlaggedAroundAWhorlCentre) {
    // Concentric rings of period 10: directions turn all the way round the centre.
    const int w = 240, h = 240;
    std::vector<std::uint8_t> px(static_cast<std::size_t>(w * h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            px[static_cast<std::size_t>(y * w + x)] = static_cast<std::uint8_t>(
                128.0 + 70.0 * std::sin(2.0 * std::numbers::pi * std::hypot(x - 120.0, y - 120.0) / 10.0));
    const BlockMaps maps = computeBlockMaps({px.data(), w, h});
    int nearCentre = 0, far = 0;
    for (int by = 0; by < maps.height; ++by)
        for (int bx = 0; bx < maps.width; ++bx) {
            if (!maps.highCurvature[maps.index(bx, by)]) continue;
            const int ring = std::max(std::abs(bx * 8 + 4 - 120), std::abs(by * 8 + 4 - 120));
            (ring <= 24 ? nearCentre : far) += 1;
        }
    EXPECT_GT(nearCentre, 0);
    EXPECT_EQ(far, 0);
}

TEST(RidgeImage, FillHolesClosesOnePixelGapsAndDropsStrayPixels) {
    const int w = 7, h = 5;
    // Rows 1 to 3 are ridge with a one-pixel gap at (3, 2) and a two-pixel gap at (1..2, 3); (5, 0) is a stray pixel.
    std::vector<std::uint8_t> r(static_cast<std::size_t>(w * h), 0);
    auto at = [&](std::vector<std::uint8_t>& v, int x, int y) -> std::uint8_t& {
        return v[static_cast<std::size_t>(y * w + x)];
    };
    for (int x = 0; x < w; ++x)
        for (int y = 1; y <= 3; ++y)
            at(r, x, y) = 1;
    at(r, 3, 2) = 0;
    at(r, 1, 3) = at(r, 2, 3) = 0;
    at(r, 5, 0) = 1;
    fillHoles(r, w, h, 1);
    EXPECT_EQ(at(r, 3, 2), 1) << "one-pixel gap filled";
    EXPECT_EQ(at(r, 5, 0), 0) << "stray pixel dropped";
    EXPECT_EQ(at(r, 1, 3) + at(r, 2, 3), 0) << "a two-pixel gap is no hole";
    std::vector<std::uint8_t> tiny = {1, 0, 1, 0};
    fillHoles(tiny, 2, 2, 3);
    EXPECT_EQ(tiny, (std::vector<std::uint8_t>{1, 0, 1, 0})) << "too small for a triplet";
}
