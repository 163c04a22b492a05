#include "BlockMaps.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace qev::quality {

namespace {

constexpr int kWindow = 24;           // ridge-flow analysis window, centred on the block
constexpr int kWaveCount = 4;         // DFT frequencies 1..4 cycles per window
constexpr double kPowerMin = 1.0e5;   // weakest wave power that can carry a direction
constexpr double kPowerNormMin = 3.8; // strongest power over mean power, for the winning wave
constexpr int kContrastPercent = 10;  // percentile pair used for the contrast test
constexpr int kContrastDeltaMin = 5;  // grey span below which a block is background
constexpr int kRemoveNeighboursMin = 3;
constexpr int kDirectionDistanceMax = 3;
constexpr double kDirectionStrengthMin = 0.2;
constexpr int kSmoothNeighboursMin = 7;
constexpr int kInterpolateNeighboursMin = 2;
constexpr int kVorticityNeighboursMin = 7;
constexpr int kVorticityMin = 8;
constexpr int kCurvatureMin = 5;
constexpr double kLowWavePowerMax = 5.0e8; // lowest-wave power above this is shading, not ridges
constexpr int kBorderBlocks = 2;

constexpr std::array<int, 8> kRingDx = {-1, 0, 1, 1, 1, 0, -1, -1};
constexpr std::array<int, 8> kRingDy = {-1, -1, -1, 0, 1, 1, 1, 0};

int directionDistance(int a, int b) {
    const int d = std::abs(a - b) % kDirectionCount;
    return std::min(d, kDirectionCount - d);
}

// Signed step from a to b in [-8, 7].
int directionStep(int a, int b) {
    return ((b - a + kDirectionCount + kDirectionCount / 2) % kDirectionCount) - kDirectionCount / 2;
}

struct DirectionVector {
    double c = 0.0;
    double s = 0.0;
    int count = 0;
    void add(int dir, double weight = 1.0) {
        const double a = 2.0 * std::numbers::pi * dir / kDirectionCount;
        c += weight * std::cos(a);
        s += weight * std::sin(a);
        ++count;
    }
    [[nodiscard]] int direction() const {
        double a = std::atan2(s, c);
        if (a < 0) a += 2.0 * std::numbers::pi;
        return static_cast<int>(std::lround(a * kDirectionCount / (2.0 * std::numbers::pi))) % kDirectionCount;
    }
};

// Sampling offsets of the rotated window for each direction: rows run along the direction.
struct WindowGrids {
    std::array<std::array<std::ptrdiff_t, kWindow * kWindow>, kDirectionCount> offsets{};
    std::array<std::array<double, kWindow>, kWaveCount> cosTable{};
    std::array<std::array<double, kWindow>, kWaveCount> sinTable{};

    explicit WindowGrids(int stride) {
        const double half = (kWindow - 1) / 2.0;
        for (int d = 0; d < kDirectionCount; ++d) {
            const double phi = std::numbers::pi * d / kDirectionCount;
            const double ux = std::cos(phi), uy = std::sin(phi);
            for (int r = 0; r < kWindow; ++r)
                for (int c = 0; c < kWindow; ++c) {
                    const double along = c - half, across = r - half;
                    const long x = std::lround(along * ux - across * uy);
                    const long y = std::lround(along * uy + across * ux);
                    offsets[static_cast<std::size_t>(d)][static_cast<std::size_t>(r * kWindow + c)] = y * stride + x;
                }
        }
        for (int k = 0; k < kWaveCount; ++k)
            for (int n = 0; n < kWindow; ++n) {
                const double a = 2.0 * std::numbers::pi * (k + 1) * n / kWindow;
                cosTable[static_cast<std::size_t>(k)][static_cast<std::size_t>(n)] = std::cos(a);
                sinTable[static_cast<std::size_t>(k)][static_cast<std::size_t>(n)] = std::sin(a);
            }
    }
};

bool isLowContrast(const GreyView& image, int bx, int by) {
    const int cx = bx * kBlockSize + kBlockSize / 2, cy = by * kBlockSize + kBlockSize / 2;
    const int x0 = std::max(0, cx - kWindow / 2), x1 = std::min(image.width, cx + kWindow / 2);
    const int y0 = std::max(0, cy - kWindow / 2), y1 = std::min(image.height, cy + kWindow / 2);
    std::array<int, 256> histogram{};
    int total = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            ++histogram[image.at(x, y)];
            ++total;
        }
    if (total == 0) return true;
    const int lowCount = total * kContrastPercent / 100;
    const int highCount = total - lowCount;
    int low = -1, high = 255, cumulative = 0;
    for (int v = 0; v < 256; ++v) {
        cumulative += histogram[static_cast<std::size_t>(v)];
        if (low < 0 && cumulative > lowCount) low = v;
        if (cumulative >= highCount) {
            high = v;
            break;
        }
    }
    return high - low < kContrastDeltaMin;
}

int blockDirection(const PaddedImage& padded, const WindowGrids& grids, int bx, int by) {
    const std::uint8_t* centre = padded.at(bx * kBlockSize + kBlockSize / 2, by * kBlockSize + kBlockSize / 2);
    std::array<std::array<double, kDirectionCount>, kWaveCount> power{};
    for (int d = 0; d < kDirectionCount; ++d) {
        const auto& offs = grids.offsets[static_cast<std::size_t>(d)];
        std::array<double, kWindow> rowSums{};
        for (int r = 0; r < kWindow; ++r) {
            int sum = 0;
            for (int c = 0; c < kWindow; ++c)
                sum += centre[offs[static_cast<std::size_t>(r * kWindow + c)]];
            rowSums[static_cast<std::size_t>(r)] = sum;
        }
        for (int k = 0; k < kWaveCount; ++k) {
            double re = 0.0, im = 0.0;
            for (int n = 0; n < kWindow; ++n) {
                re += rowSums[static_cast<std::size_t>(n)] *
                      grids.cosTable[static_cast<std::size_t>(k)][static_cast<std::size_t>(n)];
                im += rowSums[static_cast<std::size_t>(n)] *
                      grids.sinTable[static_cast<std::size_t>(k)][static_cast<std::size_t>(n)];
            }
            power[static_cast<std::size_t>(k)][static_cast<std::size_t>(d)] = re * re + im * im;
        }
    }
    double bestPower = -1.0, bestNorm = 0.0;
    int bestDir = kNoDirection;
    for (int k = 0; k < kWaveCount; ++k) {
        const auto& p = power[static_cast<std::size_t>(k)];
        double sum = 0.0;
        int arg = 0;
        for (int d = 0; d < kDirectionCount; ++d) {
            sum += p[static_cast<std::size_t>(d)];
            if (p[static_cast<std::size_t>(d)] > p[static_cast<std::size_t>(arg)]) arg = d;
        }
        const double mean = sum / kDirectionCount;
        const double norm = mean > 0.0 ? p[static_cast<std::size_t>(arg)] / mean : 0.0;
        // The wave whose power is most concentrated in one direction decides.
        if (p[static_cast<std::size_t>(arg)] >= kPowerMin && norm > bestNorm) {
            bestPower = p[static_cast<std::size_t>(arg)];
            bestNorm = norm;
            bestDir = arg;
        }
    }
    // A strong lowest wave across the chosen direction means shading or over-wide ridges, not ridge flow.
    if (bestDir >= 0 && power[0][static_cast<std::size_t>(bestDir)] > kLowWavePowerMax) return kNoDirection;
    if (bestPower < kPowerMin || bestNorm < kPowerNormMin) return kNoDirection;
    return bestDir;
}

DirectionVector neighbourVector(const BlockMaps& maps, const std::vector<int>& dirs, int bx, int by) {
    DirectionVector v;
    for (std::size_t i = 0; i < kRingDx.size(); ++i) {
        const int nx = bx + kRingDx[i], ny = by + kRingDy[i];
        if (maps.inside(nx, ny) && dirs[maps.index(nx, ny)] >= 0) v.add(dirs[maps.index(nx, ny)]);
    }
    return v;
}

void removeInconsistentDirections(BlockMaps& maps) {
    for (int pass = 0; pass < 2; ++pass) {
        std::vector<int> dirs = maps.direction;
        for (int by = 0; by < maps.height; ++by)
            for (int bx = 0; bx < maps.width; ++bx) {
                const std::size_t i = maps.index(bx, by);
                if (dirs[i] < 0) continue;
                const DirectionVector v = neighbourVector(maps, dirs, bx, by);
                if (v.count < kRemoveNeighboursMin) {
                    maps.direction[i] = kNoDirection;
                    continue;
                }
                const double strength = std::hypot(v.c, v.s) / v.count;
                if (strength >= kDirectionStrengthMin &&
                    directionDistance(dirs[i], v.direction()) > kDirectionDistanceMax)
                    maps.direction[i] = kNoDirection;
            }
    }
}

void smoothDirections(BlockMaps& maps) {
    const std::vector<int> dirs = maps.direction;
    for (int by = 0; by < maps.height; ++by)
        for (int bx = 0; bx < maps.width; ++bx) {
            const std::size_t i = maps.index(bx, by);
            if (dirs[i] < 0) continue;
            DirectionVector v = neighbourVector(maps, dirs, bx, by);
            if (v.count < kSmoothNeighboursMin) continue;
            v.add(dirs[i]);
            if (std::hypot(v.c, v.s) / v.count >= kDirectionStrengthMin) maps.direction[i] = v.direction();
        }
}

void interpolateDirections(BlockMaps& maps) {
    const std::vector<int> dirs = maps.direction;
    constexpr std::array<int, 4> dx = {0, 0, -1, 1};
    constexpr std::array<int, 4> dy = {-1, 1, 0, 0};
    for (int by = 0; by < maps.height; ++by)
        for (int bx = 0; bx < maps.width; ++bx) {
            const std::size_t i = maps.index(bx, by);
            if (dirs[i] >= 0 || maps.lowContrast[i] || bx == 0 || by == 0 || bx == maps.width - 1 ||
                by == maps.height - 1)
                continue;
            DirectionVector v;
            for (std::size_t k = 0; k < dx.size(); ++k) {
                int nx = bx + dx[k], ny = by + dy[k], dist = 1;
                while (maps.inside(nx, ny) && !maps.lowContrast[maps.index(nx, ny)] && dirs[maps.index(nx, ny)] < 0) {
                    nx += dx[k];
                    ny += dy[k];
                    ++dist;
                }
                if (maps.inside(nx, ny) && dirs[maps.index(nx, ny)] >= 0) v.add(dirs[maps.index(nx, ny)], 1.0 / dist);
            }
            if (v.count >= kInterpolateNeighboursMin && std::hypot(v.c, v.s) > 1e-9) maps.direction[i] = v.direction();
            maps.lowFlow[i] = 1;
        }
}

void markHighCurvature(BlockMaps& maps) {
    for (int by = 0; by < maps.height; ++by)
        for (int bx = 0; bx < maps.width; ++bx) {
            const std::size_t i = maps.index(bx, by);
            const int centre = maps.direction[i];
            if (centre < 0) continue;
            std::array<int, 8> ring{};
            int valid = 0, curvature = 0;
            for (std::size_t k = 0; k < ring.size(); ++k) {
                const int nx = bx + kRingDx[k], ny = by + kRingDy[k];
                ring[k] = maps.inside(nx, ny) ? maps.direction[maps.index(nx, ny)] : kNoDirection;
                if (ring[k] >= 0) {
                    ++valid;
                    curvature = std::max(curvature, directionDistance(centre, ring[k]));
                }
            }
            if (valid < kVorticityNeighboursMin) continue;
            int winding = 0;
            for (std::size_t k = 0; k < ring.size(); ++k) {
                const int a = ring[k], b = ring[(k + 1) % ring.size()];
                if (a >= 0 && b >= 0) winding += directionStep(a, b);
            }
            if (std::abs(winding) >= kVorticityMin || curvature >= kCurvatureMin) maps.highCurvature[i] = 1;
        }
}

void buildQualityMap(BlockMaps& maps) {
    auto bad = [&](std::size_t i) { return maps.lowContrast[i] || maps.direction[i] < 0; };
    for (int by = 0; by < maps.height; ++by)
        for (int bx = 0; bx < maps.width; ++bx) {
            const std::size_t i = maps.index(bx, by);
            if (bad(i)) {
                maps.quality[i] = 0;
                continue;
            }
            if (bx < kBorderBlocks || by < kBorderBlocks || bx >= maps.width - kBorderBlocks ||
                by >= maps.height - kBorderBlocks) {
                maps.quality[i] = 1;
                continue;
            }
            int q = (maps.lowFlow[i] || maps.highCurvature[i]) ? 3 : 4;
            bool nearBad = false, nearWeak = false;
            for (int ny = by - 2; ny <= by + 2; ++ny)
                for (int nx = bx - 2; nx <= bx + 2; ++nx) {
                    if ((nx == bx && ny == by) || !maps.inside(nx, ny)) continue;
                    const std::size_t n = maps.index(nx, ny);
                    nearBad = nearBad || bad(n);
                    nearWeak = nearWeak || maps.lowFlow[n] || maps.highCurvature[n];
                }
            if (nearBad)
                q -= 2;
            else if (nearWeak)
                q -= 1;
            maps.quality[i] = static_cast<std::uint8_t>(std::max(q, 1));
        }
}

} // namespace

PaddedImage::PaddedImage(const GreyView& image, int pad)
    : m_pad(pad), m_stride(image.width + 2 * pad),
      m_data(static_cast<std::size_t>(image.width + 2 * pad) * static_cast<std::size_t>(image.height + 2 * pad), 128) {
    for (int y = 0; y < image.height; ++y)
        std::copy_n(image.pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(image.width), image.width,
                    m_data.begin() + static_cast<std::ptrdiff_t>(y + pad) * m_stride + pad);
}

BlockMaps computeBlockMaps(const GreyView& image) {
    BlockMaps maps;
    maps.width = (image.width + kBlockSize - 1) / kBlockSize;
    maps.height = (image.height + kBlockSize - 1) / kBlockSize;
    const std::size_t n = static_cast<std::size_t>(maps.width) * static_cast<std::size_t>(maps.height);
    maps.direction.assign(n, kNoDirection);
    maps.lowContrast.assign(n, 0);
    maps.lowFlow.assign(n, 0);
    maps.highCurvature.assign(n, 0);
    maps.quality.assign(n, 0);

    const PaddedImage padded(image, kWindow);
    const WindowGrids grids(padded.stride());
    for (int by = 0; by < maps.height; ++by)
        for (int bx = 0; bx < maps.width; ++bx) {
            const std::size_t i = maps.index(bx, by);
            maps.lowContrast[i] = isLowContrast(image, bx, by) ? 1 : 0;
            // The outermost block ring has no full analysis window inside the image: no direction there.
            const bool edge = bx == 0 || by == 0 || bx == maps.width - 1 || by == maps.height - 1;
            if (!maps.lowContrast[i] && !edge) maps.direction[i] = blockDirection(padded, grids, bx, by);
        }
    removeInconsistentDirections(maps);
    smoothDirections(maps);
    interpolateDirections(maps);
    markHighCurvature(maps);
    buildQualityMap(maps);
    return maps;
}

} // namespace qev::quality
