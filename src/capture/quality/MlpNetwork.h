#pragma once

#include <array>
#include <cstddef>

namespace qev::quality {

inline constexpr std::size_t kFeatureCount = 11;
inline constexpr std::size_t kHiddenCount = 22;
inline constexpr std::size_t kClassCount = 5;
inline constexpr std::size_t kWeightCount =
    kHiddenCount * kFeatureCount + kHiddenCount + kClassCount * kHiddenCount + kClassCount;

// Embedded network constants (MlpWeights.cpp, generated). Weight layout: hidden weights unit by unit
// (11 each), hidden biases, output weights unit by unit (22 each), output biases.
extern const std::array<float, kFeatureCount> kZnormMeans;
extern const std::array<float, kFeatureCount> kZnormStds;
extern const std::array<float, kWeightCount> kNetworkWeights;

using FeatureVector = std::array<float, kFeatureCount>;
using Activations = std::array<float, kClassCount>;

// Z-normalises the features and runs the 11-22-5 sinusoid network in single precision.
[[nodiscard]] Activations runQualityNetwork(const FeatureVector& features);

// Index of the largest activation (lowest index on a tie) + 1, i.e. the quality value 1..5.
[[nodiscard]] int qualityFromActivations(const Activations& activations);

} // namespace qev::quality
