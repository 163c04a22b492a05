#include "ReferenceData.h"

#include "capture/quality/BlockMaps.h"
#include "capture/quality/QualityGrader.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace qev::quality;

// Our grade of every reference image against the reference grade: at least 80 % equal, none more than 1 away.
TEST(QualityReference, GradesMatchTheReferenceImages) {
    const auto rows = qev::test::loadReferenceRows();
    ASSERT_EQ(rows.size(), 11u);
    int equal = 0;
    std::printf("%-40s %4s %4s | %-34s | %s\n", "image", "ours", "ref", "f1 f2 f3 f5 f6 f7 ours (ref)",
                "q0..q4 ours (ref)");
    for (const auto& row : rows) {
        const auto px = qev::test::loadFingerprint(row);
        ASSERT_FALSE(px.empty()) << row.file;
        const GradeDetails d = gradeDetailed(px.data(), row.width, row.height, 500);
        EXPECT_EQ(d.code, kGraded) << row.file;
        EXPECT_LE(std::abs(d.quality - row.nfiq), 1) << row.file;
        equal += d.quality == row.nfiq ? 1 : 0;
        std::printf("%-40s %4d %4d | %.0f %.0f %.0f %.0f %.0f %.0f (%.0f %.0f %.0f %.0f %.0f %.0f) | %d %d %d %d %d "
                    "(%d %d %d %d %d)\n",
                    row.file.c_str(), d.quality, row.nfiq, d.features[0], d.features[1], d.features[2], d.features[4],
                    d.features[5], d.features[6], row.features[0], row.features[1], row.features[2], row.features[4],
                    row.features[5], row.features[6], d.blockCounts[0], d.blockCounts[1], d.blockCounts[2],
                    d.blockCounts[3], d.blockCounts[4], row.blocks[0], row.blocks[1], row.blocks[2], row.blocks[3],
                    row.blocks[4]);
    }
    std::printf("equal on %d of %zu images\n", equal, rows.size());
    EXPECT_GE(equal * 10, static_cast<int>(rows.size()) * 8);
}

// The block maps of a reference image stay near the reference's block counts per quality level.
TEST(QualityReference, QualityZonesOfTheSingleFingersAreClose) {
    for (const auto& row : qev::test::loadReferenceRows()) {
        if (row.file.find("valid1.8") != std::string::npos || row.file.find("valid1.9_r4") != std::string::npos)
            continue; // slaps and the card page are regression values only
        const auto px = qev::test::loadFingerprint(row);
        ASSERT_FALSE(px.empty()) << row.file;
        const GradeDetails d = gradeDetailed(px.data(), row.width, row.height, 500);
        const double blocks = d.mapWidth * d.mapHeight;
        for (std::size_t q = 0; q < 5; ++q)
            EXPECT_NEAR(d.blockCounts[q] / blocks, row.blocks[q] / blocks, 0.15) << row.file << " level " << q;
    }
}

// Foreground (blocks above level 0) of every reference image, the card page and the slaps included.
TEST(QualityReference, ForegroundOfEveryImageIsWithinThreePercent) {
    for (const auto& row : qev::test::loadReferenceRows()) {
        const auto px = qev::test::loadFingerprint(row);
        ASSERT_FALSE(px.empty()) << row.file;
        const BlockMaps maps = computeBlockMaps({px.data(), row.width, row.height});
        int foreground = 0;
        for (const std::uint8_t q : maps.quality)
            foreground += q > 0 ? 1 : 0;
        EXPECT_NEAR(foreground, row.features[0], 0.03 * row.features[0]) << row.file;
        const double blocks = maps.width * maps.height;
        EXPECT_NEAR((blocks - foreground) / blocks, row.blocks[0] / blocks, 0.02) << row.file;
    }
}
