#include "Binarize.h"

#include <array>
#include <cstddef>

namespace qev::quality {

namespace {

constexpr int kAcrossHalf = 4; // binarisation grid: 9 rows across the ridge flow
constexpr int kAlongHalf = 3;  // ... of 7 pixels along it
constexpr int kGreyShift = 2;  // compared on grey >> 2, like the block maps
constexpr int kHolePasses = 3;

} // namespace

std::vector<std::uint8_t> binarize(const GreyView& image, const BlockMaps& maps) {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height), 0);
    const int pad = kAcrossHalf + kAlongHalf + 2;
    const PaddedImage padded(image, pad, kGreyShift);
    constexpr int rows = 2 * kAcrossHalf + 1, cols = 2 * kAlongHalf + 1;
    std::array<std::array<std::ptrdiff_t, rows * cols>, kDirectionCount> offsets{};
    for (int d = 0; d < kDirectionCount; ++d)
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < cols; ++c)
                offsets[static_cast<std::size_t>(d)][static_cast<std::size_t>(r * cols + c)] =
                    rotatedOffset(d, c - kAlongHalf, r - kAcrossHalf, padded.stride());
    // Each pixel is decided on its own, so the image rows are shared out between the cores.
    forEachRowBand(image.height, [&](int firstRow, int endRow) {
        for (int y = firstRow; y < endRow; ++y)
            for (int x = 0; x < image.width; ++x) {
                const int d = maps.direction[maps.index(x / kBlockSize, y / kBlockSize)];
                if (d < 0) continue;
                const std::uint8_t* p = padded.at(x, y);
                const auto& offs = offsets[static_cast<std::size_t>(d)];
                // A pixel is ridge when the row through it, along the flow, is darker than the grid's mean row.
                int centre = 0;
                for (int c = 0; c < cols; ++c)
                    centre += p[offs[static_cast<std::size_t>(kAcrossHalf * cols + c)]];
                // The whole grid in three running sums, so the gathered loads overlap.
                int s0 = 0, s1 = 0, s2 = 0;
                constexpr std::size_t cells = rows * cols;
                static_assert(cells % 3 == 0);
                for (std::size_t k = 0; k < cells; k += 3) {
                    s0 += p[offs[k]];
                    s1 += p[offs[k + 1]];
                    s2 += p[offs[k + 2]];
                }
                if (centre * rows < s0 + s1 + s2)
                    out[static_cast<std::size_t>(y) * static_cast<std::size_t>(image.width) +
                        static_cast<std::size_t>(x)] = 1;
            }
    });
    return out;
}

void fillHoles(std::vector<std::uint8_t>& ridges, int width, int height, int passes) {
    const auto w = static_cast<std::size_t>(width);
    const auto h = static_cast<std::size_t>(height);
    for (int pass = 0; pass < passes; ++pass) {
        for (std::size_t y = 0; y < h && w >= 3; ++y) {
            std::uint8_t* row = ridges.data() + y * w;
            for (std::size_t x = 1; x + 1 < w; ++x)
                if (row[x - 1] == row[x + 1] && row[x] != row[x - 1]) row[x] = row[x - 1];
        }
        for (std::size_t x = 0; x < w && h >= 3; ++x)
            for (std::size_t y = 1; y + 1 < h; ++y) {
                std::uint8_t* p = ridges.data() + y * w + x;
                if (p[-static_cast<std::ptrdiff_t>(w)] == p[w] && *p != p[w]) *p = p[w];
            }
    }
}

std::vector<std::uint8_t> binarisedImage(const GreyView& image, const BlockMaps& maps) {
    std::vector<std::uint8_t> ridges = binarize(image, maps);
    fillHoles(ridges, image.width, image.height, kHolePasses);
    return ridges;
}

} // namespace qev::quality
