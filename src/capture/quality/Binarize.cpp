#include "Binarize.h"

#include <array>
#include <cstddef>

namespace qev::quality {

namespace {

constexpr int kAcrossHalf = 4; // binarisation grid: 9 rows across the ridge flow
constexpr int kAlongHalf = 3;  // ... of 7 pixels along it

} // namespace

std::vector<std::uint8_t> binarize(const GreyView& image, const BlockMaps& maps) {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height), 0);
    const int pad = kAcrossHalf + kAlongHalf + 2;
    const PaddedImage padded(image, pad);
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
                if (d < 0 || maps.quality[maps.index(x / kBlockSize, y / kBlockSize)] == 0) continue;
                const std::uint8_t* p = padded.at(x, y);
                const auto& offs = offsets[static_cast<std::size_t>(d)];
                // The centre row, then the whole grid in four running sums so the gathered loads overlap.
                int centre = 0;
                for (int c = 0; c < cols; ++c)
                    centre += p[offs[static_cast<std::size_t>(kAcrossHalf * cols + c)]];
                int s0 = 0, s1 = 0, s2 = 0;
                constexpr std::size_t cells = rows * cols;
                static_assert(cells % 3 == 0);
                for (std::size_t k = 0; k < cells; k += 3) {
                    s0 += p[offs[k]];
                    s1 += p[offs[k + 1]];
                    s2 += p[offs[k + 2]];
                }
                const int total = s0 + s1 + s2;
                if (centre * rows < total)
                    out[static_cast<std::size_t>(y) * static_cast<std::size_t>(image.width) +
                        static_cast<std::size_t>(x)] = 1;
            }
    });
    return out;
}

void smoothRidges(std::vector<std::uint8_t>& ridges, int width, int height) {
    if (width < 3 || height < 3) return;
    const std::vector<std::uint8_t> src = ridges;
    const auto w = static_cast<std::size_t>(width);
    for (std::size_t y = 1; y + 1 < static_cast<std::size_t>(height); ++y) {
        const std::uint8_t* up = src.data() + (y - 1) * w;
        const std::uint8_t* mid = up + w;
        const std::uint8_t* down = mid + w;
        for (std::size_t x = 1; x + 1 < w; ++x) {
            const int on =
                up[x - 1] + up[x] + up[x + 1] + mid[x - 1] + mid[x] + mid[x + 1] + down[x - 1] + down[x] + down[x + 1];
            ridges[y * w + x] = on >= 5 ? 1 : 0;
        }
    }
}

std::vector<std::uint8_t> binarisedImage(const GreyView& image, const BlockMaps& maps) {
    std::vector<std::uint8_t> ridges = binarize(image, maps);
    smoothRidges(ridges, image.width, image.height);
    return ridges;
}

} // namespace qev::quality
