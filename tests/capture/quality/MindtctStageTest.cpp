// Stage by stage agreement of the grader's block maps and minutiae with what the reference minutiae detector
// computed on twelve originals (more/mindtct/). Each stage asserts the share of agreeing blocks it reaches on every
// image, so a change that makes a stage worse fails here even while the final grades still agree.
#include "ReferenceData.h"
#include "capture/quality/Binarize.h"
#include "capture/quality/BlockMaps.h"

#include <gtest/gtest.h>

#include <random>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

using namespace qev::quality;

struct StageImage {
    std::string name; // NAME_WxH, as the files in mindtct/ are named
    std::string rawPath;
    int width;
    int height;
};

std::vector<StageImage> stageImages() {
    const char* more[] = {"sivv_card0001_01_545x498", "sivv_card0002_01_506x551", "sivv_card0003_05_372x388",
                          "sivv_card0004_02_456x503", "wvu3_r3_400x375",          "wvu3_r5_400x375",
                          "wvu3_r7_400x375",          "wvu3_r9_400x375",          "wvu3_r11_400x375",
                          "wvu3_r13_800x475"};
    std::vector<StageImage> images;
    for (const std::string name : {"nist_finger_500x500", "an2k_valid12_512x512"})
        images.push_back({name, qev::test::stageRawPath(name), 0, 0});
    for (const char* m : more)
        images.push_back({m, qev::test::stageRawPath(m), 0, 0});
    for (StageImage& image : images)
        std::tie(image.width, image.height) = qev::test::stageImageSize(image.name);
    return images;
}

std::string stagePath(const StageImage& image, const char* ext) {
    return qev::test::stagePath(image.name, ext);
}

using qev::test::readStageMap;

struct Loaded {
    StageImage image;
    std::vector<std::uint8_t> pixels;
    BlockMaps maps;
};

const std::vector<Loaded>& loaded() {
    static const std::vector<Loaded> all = [] {
        std::vector<Loaded> out;
        for (const auto& image : stageImages()) {
            std::ifstream in(image.rawPath, std::ios::binary);
            std::vector<std::uint8_t> pixels((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            if (pixels.size() != static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height))
                pixels.clear();
            Loaded l{image, pixels, {}};
            if (!pixels.empty()) l.maps = computeBlockMaps(GreyView{l.pixels.data(), image.width, image.height});
            out.push_back(std::move(l));
        }
        return out;
    }();
    return all;
}

template <typename T> double agreement(const std::vector<T>& ours, const std::vector<int>& reference) {
    if (ours.size() != reference.size() || ours.empty()) return -1.0;
    std::size_t same = 0;
    for (std::size_t i = 0; i < ours.size(); ++i)
        same += static_cast<int>(ours[i]) == reference[i] ? 1u : 0u;
    return static_cast<double>(same) / static_cast<double>(ours.size());
}

struct MapStage {
    const char* ext;
    // Least share of identical blocks the stage reaches today on every image; the aim is 0.97.
    double floor;
};

class MapStageTest : public ::testing::TestWithParam<MapStage> {};

TEST_P(MapStageTest, BlocksAgreeWithTheReference) {
    const MapStage stage = GetParam();
    for (const auto& l : loaded()) {
        ASSERT_FALSE(l.pixels.empty()) << l.image.rawPath;
        const auto reference = readStageMap(stagePath(l.image, stage.ext));
        const auto& m = l.maps;
        double share = -1.0;
        const std::string ext = stage.ext;
        if (ext == ".dm") {
            // The reference numbers its 16 directions a quarter turn (8 steps) from ours.
            auto direction = m.direction;
            for (auto& d : direction)
                if (d != kNoDirection) d = (d + kDirectionCount / 2) % kDirectionCount;
            share = agreement(direction, reference);
        } else if (ext == ".lcm")
            share = agreement(m.lowContrast, reference);
        else if (ext == ".lfm")
            share = agreement(m.lowFlow, reference);
        else if (ext == ".hcm")
            share = agreement(m.highCurvature, reference);
        else if (ext == ".qm")
            share = agreement(m.quality, reference);
        std::printf("%-26s %-4s %.4f\n", l.image.name.c_str(), stage.ext, share);
        EXPECT_GE(share, stage.floor) << l.image.name << stage.ext;
    }
}

INSTANTIATE_TEST_SUITE_P(Stages, MapStageTest,
                         ::testing::Values(MapStage{".dm", 0.993}, MapStage{".lcm", 0.9999}, MapStage{".lfm", 0.9999},
                                           MapStage{".hcm", 0.9995}, MapStage{".qm", 0.9999}),
                         [](const auto& p) { return std::string(p.param.ext + 1); });

} // namespace

namespace {

// The later stages fed with the reference's own earlier maps, so their rules are measured apart from the direction
// map they usually inherit: the high-curvature map from the reference's direction map, the quality map from its
// direction, low-contrast, low-flow and high-curvature maps.
TEST(MindtctStage, LaterStagesAgreeOnTheReferencesOwnInputs) {
    constexpr double kCurvatureFloor = 0.999;
    constexpr double kQualityFloor = 0.999;
    for (const auto& l : loaded()) {
        BlockMaps m = qev::test::referenceBlockMaps(l.image.name, l.image.width, l.image.height);
        const std::vector<int> referenceCurvature(m.highCurvature.begin(), m.highCurvature.end());
        const std::vector<int> referenceQuality(m.quality.begin(), m.quality.end());
        ASSERT_EQ(m.direction.size(), static_cast<std::size_t>(m.width) * static_cast<std::size_t>(m.height));
        const std::vector<std::uint8_t> curvatureGiven = m.highCurvature;
        computeHighCurvatureMap(m);
        const double curvature = agreement(m.highCurvature, referenceCurvature);
        m.highCurvature = curvatureGiven;
        computeQualityMap(m);
        const double quality = agreement(m.quality, referenceQuality);
        std::printf("%-26s from reference maps: hcm %.4f qm %.4f\n", l.image.name.c_str(), curvature, quality);
        EXPECT_GE(curvature, kCurvatureFloor) << l.image.name;
        EXPECT_GE(quality, kQualityFloor) << l.image.name;
    }
}

} // namespace

namespace {

// The binarisation against the reference's binarised image, over the blocks the reference grades (quality above 0):
// the share of pixels with the same ridge or valley. Once on the reference's own maps, which measures the
// binarisation alone, and once on ours, which is what the minutiae are found on.
struct BinarisationCase {
    const char* name;
    bool referenceMaps;
    double floor; // least share the binarisation reaches today on every image
};

class BinarisationStageTest : public ::testing::TestWithParam<BinarisationCase> {};

TEST_P(BinarisationStageTest, PixelsAgreeWithTheReference) {
    const BinarisationCase c = GetParam();
    for (const auto& l : loaded()) {
        ASSERT_FALSE(l.pixels.empty()) << l.image.rawPath;
        const BlockMaps reference = qev::test::referenceBlockMaps(l.image.name, l.image.width, l.image.height);
        const std::vector<std::uint8_t> referenceRidges =
            qev::test::referenceRidges(l.image.name, l.image.width, l.image.height);
        ASSERT_FALSE(referenceRidges.empty()) << l.image.name << ": no binarised image of the image's size";
        const auto ours = binarisedImage(GreyView{l.pixels.data(), l.image.width, l.image.height},
                                         c.referenceMaps ? reference : l.maps);
        std::size_t same = 0, counted = 0;
        for (int y = 0; y < l.image.height; ++y)
            for (int x = 0; x < l.image.width; ++x) {
                if (reference.quality[reference.index(x / kBlockSize, y / kBlockSize)] == 0) continue;
                const std::size_t at =
                    static_cast<std::size_t>(y) * static_cast<std::size_t>(l.image.width) + static_cast<std::size_t>(x);
                const bool refRidge = referenceRidges[at] != 0;
                const bool ourRidge = ours[at] != 0;
                same += refRidge == ourRidge ? 1u : 0u;
                ++counted;
            }
        ASSERT_GT(counted, 0u) << l.image.name;
        const double share = static_cast<double>(same) / static_cast<double>(counted);
        std::printf("%-26s binarised on %s maps: %.4f of %zu pixels\n", l.image.name.c_str(), c.name, share, counted);
        EXPECT_GE(share, c.floor) << l.image.name << " on " << c.name << " maps";
    }
}

INSTANTIATE_TEST_SUITE_P(Stages, BinarisationStageTest,
                         ::testing::Values(BinarisationCase{"reference", true, 0.967},
                                           BinarisationCase{"our", false, 0.967}),
                         [](const auto& p) {
                             return std::string(p.param.referenceMaps ? "ReferenceMaps" : "OurMaps");
                         });

} // namespace

namespace {

// The maps and the binarisation share their rows out between threads: every row must be worked on exactly once,
// whatever the count (none, fewer than are worth a second thread, not a multiple of the band width, many).
TEST(MindtctStage, RowBandsCoverEveryRowOnce) {
    for (const int rows : {0, 1, 15, 16, 17, 63, 64, 501, 2000}) {
        std::vector<std::atomic<int>> visits(static_cast<std::size_t>(rows));
        std::atomic<int> badBands{0};
        forEachRowBand(rows, 4096, [&](int first, int end) {
            if (first < 0 || end > rows || first > end) ++badBands;
            for (int r = std::max(first, 0); r < std::min(end, rows); ++r)
                ++visits[static_cast<std::size_t>(r)];
        });
        EXPECT_EQ(badBands.load(), 0) << rows << " rows";
        for (int r = 0; r < rows; ++r)
            EXPECT_EQ(visits[static_cast<std::size_t>(r)].load(), 1) << "row " << r << " of " << rows;
    }
}

} // namespace

namespace {

// Hole filling settles many pixels of a row at once; it must still give what the sweep one pixel at a time gives,
// each change counting for the next triplet, on any width (shorter and longer than one vector, and not a multiple of
// it), any share of ridge pixels and long alternating stretches.
TEST(MindtctStage, HoleFillingMatchesTheSweepPixelByPixel) {
    auto sweep = [](std::vector<std::uint8_t>& r, int w, int h, int passes) {
        auto at = [&](int x, int y) -> std::uint8_t& { return r[static_cast<std::size_t>(y * w + x)]; };
        for (int pass = 0; pass < passes; ++pass) {
            for (int y = 0; y < h; ++y)
                for (int x = 1; x + 1 < w; ++x)
                    if (at(x - 1, y) == at(x + 1, y) && at(x, y) != at(x - 1, y)) at(x, y) = at(x - 1, y);
            for (int y = 1; y + 1 < h; ++y)
                for (int x = 0; x < w; ++x)
                    if (at(x, y - 1) == at(x, y + 1)) at(x, y) = at(x, y + 1);
        }
    };
    std::mt19937 random(13);
    for (int trial = 0; trial < 400; ++trial) {
        const int w = 1 + static_cast<int>(random() % 80), h = 1 + static_cast<int>(random() % 30);
        const auto ridgeShare = random() % 101;
        std::vector<std::uint8_t> ours(static_cast<std::size_t>(w * h));
        // Every fourth image alternates along its rows with few breaks: long stretches where each pixel takes its
        // left neighbour's value.
        const bool alternating = trial % 4 == 0;
        for (std::size_t i = 0; i < ours.size(); ++i)
            ours[i] = alternating ? static_cast<std::uint8_t>((i + (random() % 50 == 0 ? 1 : 0)) % 2)
                                  : (random() % 100 < ridgeShare ? 1 : 0);
        std::vector<std::uint8_t> expected = ours;
        fillHoles(ours, w, h, 3);
        sweep(expected, w, h, 3);
        ASSERT_EQ(ours, expected) << w << "x" << h << ", " << ridgeShare << " % ridge";
    }
}

} // namespace
