// Reliability of each minutia: the quality level of its block sets the range, and how well the grey levels around
// it are spread (mean near mid-grey, a wide standard deviation) places it within that range.
#include "Minutiae.h"

#include <algorithm>
#include <cmath>

namespace qev::quality {

namespace {

constexpr int kRadius = 11;
constexpr double kFullSigma = 64.0;

} // namespace

void rateMinutiae(std::vector<Minutia>& minutiae, const GreyView& image, const BlockMaps& maps) {
    for (Minutia& m : minutiae) {
        const int level = maps.quality[maps.index(m.x / kBlockSize, m.y / kBlockSize)];
        const int x0 = std::max(0, m.x - kRadius), x1 = std::min(image.width - 1, m.x + kRadius);
        const int y0 = std::max(0, m.y - kRadius), y1 = std::min(image.height - 1, m.y + kRadius);
        double sum = 0.0, sum2 = 0.0;
        int n = 0;
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) {
                const double v = image.at(x, y);
                sum += v;
                sum2 += v * v;
                ++n;
            }
        const double mean = sum / n;
        const double sigma = std::sqrt(std::max(0.0, sum2 / n - mean * mean));
        const double meanFactor = std::max(0.0, 1.0 - std::abs(mean - 127.0) / 127.0);
        const double sigmaFactor = std::min(sigma, kFullSigma) / kFullSigma;
        const double grey = std::min(meanFactor, sigmaFactor);
        static constexpr double kBase[5] = {0.01, 0.05, 0.10, 0.25, 0.50};
        static constexpr double kSpan[5] = {0.0, 0.04, 0.14, 0.24, 0.49};
        m.reliability = kBase[level] + kSpan[level] * grey;
    }
}

} // namespace qev::quality
