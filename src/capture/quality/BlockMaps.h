#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <numbers>
#include <vector>

namespace qev::quality {

inline constexpr int kBlockSize = 8;
inline constexpr int kDirectionCount = 16;
inline constexpr int kNoDirection = -1;

// Pixel offset, on rows `stride` apart, of the point `along` direction d and `across` it: the sampling grid that
// both the direction waves and the ridge binarisation turn with the ridge flow.
inline std::ptrdiff_t rotatedOffset(int d, double along, double across, std::ptrdiff_t stride) {
    const double phi = std::numbers::pi * d / kDirectionCount;
    const double ux = std::cos(phi), uy = std::sin(phi);
    const long x = std::lround(along * ux - across * uy);
    const long y = std::lround(along * uy + across * ux);
    return y * stride + x;
}

// Borrowed view of an 8-bit grey image, rows top first, `width` bytes per row.
struct GreyView {
    const std::uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    [[nodiscard]] std::uint8_t at(int x, int y) const {
        return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)];
    }
};

// Per-block maps on ceil(W/8) x ceil(H/8) blocks. direction holds 0..15 (ridge orientation k*pi/16, measured
// from the x axis towards +y in image coordinates) or kNoDirection; quality holds levels 0..4.
struct BlockMaps {
    int width = 0;
    int height = 0;
    std::vector<int> direction;
    std::vector<std::uint8_t> lowContrast;
    std::vector<std::uint8_t> lowFlow;
    std::vector<std::uint8_t> highCurvature;
    std::vector<std::uint8_t> quality;

    [[nodiscard]] std::size_t index(int bx, int by) const {
        return static_cast<std::size_t>(by) * static_cast<std::size_t>(width) + static_cast<std::size_t>(bx);
    }
    [[nodiscard]] bool inside(int bx, int by) const { return bx >= 0 && by >= 0 && bx < width && by < height; }
};

// Builds the direction, low-contrast, low-flow, high-curvature and quality maps of an image (any size >= 1x1).
[[nodiscard]] BlockMaps computeBlockMaps(const GreyView& image);

// The later stages on their own, from maps already filled in: the high-curvature map from the direction map, and
// the quality map from the direction, low-contrast, low-flow and high-curvature maps.
void computeHighCurvatureMap(BlockMaps& maps);
void computeQualityMap(BlockMaps& maps);

// Runs work(first, end) over row bands that together cover 0..rows, on up to two threads, each taking the next band
// when it is free; returns when all bands are done. `rowCost` is about how many pixels one row's work touches: work
// smaller than starting a thread costs, or a machine with one core, runs on this thread alone. The bands are
// disjoint and work may be called with them in any order, so each must write to its own rows only.
void forEachRowBand(int rows, std::size_t rowCost, const std::function<void(int, int)>& work);

// Image padded on every side with grey 128, so rotated sampling grids never leave the buffer. With shift > 0
// every pixel (and the pad) is stored as value >> shift, e.g. 2 for the 6-bit copy the maps are measured on.
class PaddedImage {
public:
    PaddedImage(const GreyView& image, int pad, int shift = 0);
    [[nodiscard]] int pad() const { return m_pad; }
    [[nodiscard]] int stride() const { return m_stride; }
    // Pointer to image pixel (x, y); x and y may reach pad pixels outside the image.
    [[nodiscard]] const std::uint8_t* at(int x, int y) const {
        return m_data.data() + static_cast<std::ptrdiff_t>(y + m_pad) * m_stride + (x + m_pad);
    }

private:
    int m_pad;
    int m_stride;
    std::vector<std::uint8_t> m_data;
};

} // namespace qev::quality
