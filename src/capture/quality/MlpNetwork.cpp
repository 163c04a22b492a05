#include "MlpNetwork.h"

#include <cmath>

namespace qev::quality {

namespace {

float sinusoid(float x) {
    return static_cast<float>(0.5 * (1.0 + std::sin(static_cast<double>(x) / 2.0)));
}

} // namespace

Activations runQualityNetwork(const FeatureVector& features) {
    FeatureVector z{};
    for (std::size_t i = 0; i < kFeatureCount; ++i)
        z[i] = (features[i] - kZnormMeans[i]) / kZnormStds[i];

    const float* w1 = kNetworkWeights.data();
    const float* b1 = w1 + kHiddenCount * kFeatureCount;
    const float* w2 = b1 + kHiddenCount;
    const float* b2 = w2 + kClassCount * kHiddenCount;

    std::array<float, kHiddenCount> hidden{};
    for (std::size_t j = 0; j < kHiddenCount; ++j) {
        float sum = 0.0f;
        for (std::size_t i = 0; i < kFeatureCount; ++i)
            sum += w1[j * kFeatureCount + i] * z[i];
        hidden[j] = sinusoid(b1[j] + sum);
    }
    Activations out{};
    for (std::size_t k = 0; k < kClassCount; ++k) {
        float sum = 0.0f;
        for (std::size_t j = 0; j < kHiddenCount; ++j)
            sum += w2[k * kHiddenCount + j] * hidden[j];
        out[k] = sinusoid(b2[k] + sum);
    }
    return out;
}

int qualityFromActivations(const Activations& activations) {
    std::size_t best = 0;
    for (std::size_t k = 1; k < kClassCount; ++k)
        if (activations[k] > activations[best]) best = k;
    return static_cast<int>(best) + 1;
}

} // namespace qev::quality
