#include "ReferenceData.h"

#include "capture/quality/MlpNetwork.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

using namespace qev::quality;

namespace {

std::vector<std::string> constantsFileNumbers() {
    std::ifstream in(qev::test::fingerprintDir() + "nfiq_mlp.txt");
    std::vector<std::string> numbers;
    std::string line;
    while (std::getline(in, line))
        if (!line.empty() && line[0] != '#') numbers.push_back(line);
    return numbers;
}

} // namespace

TEST(QualityNetwork, EmbeddedConstantsEqualTheConstantsFile) {
    const auto numbers = constantsFileNumbers();
    ASSERT_EQ(numbers.size(), 2 * kFeatureCount + kWeightCount);
    for (std::size_t i = 0; i < kFeatureCount; ++i) {
        EXPECT_EQ(kZnormMeans[i], std::strtof(numbers[i].c_str(), nullptr)) << "mean " << i;
        EXPECT_EQ(kZnormStds[i], std::strtof(numbers[kFeatureCount + i].c_str(), nullptr)) << "std " << i;
    }
    for (std::size_t i = 0; i < kWeightCount; ++i)
        EXPECT_EQ(kNetworkWeights[i], std::strtof(numbers[2 * kFeatureCount + i].c_str(), nullptr)) << "weight " << i;
}

TEST(QualityNetwork, ReproducesReferenceActivationsFromReferenceFeatures) {
    const auto rows = qev::test::loadReferenceRows();
    ASSERT_EQ(rows.size(), 11u);
    for (const auto& row : rows) {
        FeatureVector f{};
        ASSERT_EQ(row.features.size(), kFeatureCount);
        std::copy(row.features.begin(), row.features.end(), f.begin());
        // The shares are printed rounded; the reference network was fed the exact quotients.
        for (std::size_t level = 1; level <= 4; ++level)
            f[6 + level] = static_cast<float>(row.blocks[level]) / f[0];
        const Activations a = runQualityNetwork(f);
        for (std::size_t k = 0; k < kClassCount; ++k)
            EXPECT_NEAR(a[k], row.activations[k], 1e-6) << row.file << " output " << k + 1;
        EXPECT_EQ(qualityFromActivations(a), row.nfiq) << row.file;
    }
}

TEST(QualityNetwork, QualityIsTheLargestOutputAndTheLowestOnATie) {
    EXPECT_EQ(qualityFromActivations({0.1f, 0.2f, 0.9f, 0.3f, 0.0f}), 3);
    EXPECT_EQ(qualityFromActivations({0.1f, 0.2f, 0.3f, 0.4f, 0.5f}), 5);
    EXPECT_EQ(qualityFromActivations({0.7f, 0.2f, 0.7f, 0.4f, 0.7f}), 1);
    EXPECT_EQ(qualityFromActivations({0.0f, 0.6f, 0.1f, 0.6f, 0.1f}), 2);
}
