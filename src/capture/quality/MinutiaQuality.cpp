// Reliability of each minutia: the quality level of its block sets the range (level 4: 0.50 .. 0.99, 3: 0.25 ..
// 0.49, 2: 0.10 .. 0.24, 1: 0.05 .. 0.09, 0: 0.01), and how well the grey levels of the 23 x 23 pixels around it are
// spread places it within that range: the lesser of the mean's closeness to mid-grey and the standard deviation
// against 64.
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
        static constexpr double kBase[5] = {0.01, 0.05, 0.10, 0.25, 0.50};
        static constexpr double kSpan[5] = {0.0, 0.04, 0.14, 0.24, 0.49};
        // A window that does not fit in the image says nothing about the grey levels: the level's floor.
        if (m.x < kRadius || m.y < kRadius || m.x + kRadius >= image.width || m.y + kRadius >= image.height) {
            m.reliability = kBase[level];
            continue;
        }
        const int x0 = m.x - kRadius, x1 = m.x + kRadius;
        const int y0 = m.y - kRadius, y1 = m.y + kRadius;
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
        m.reliability = kBase[level] + kSpan[level] * grey;
    }
}

} // namespace qev::quality
