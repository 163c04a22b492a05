#include "Binarize.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qev::quality {

namespace {

constexpr int kAcrossHalf = 4; // binarisation grid: 9 rows across the ridge flow
constexpr int kAlongHalf = 3;  // ... of 7 pixels along it
constexpr int kGreyShift = 2;  // compared on grey >> 2, like the block maps
constexpr int kHolePasses = 3;

} // namespace

std::vector<std::uint8_t> binarize(const GreyView& image, const BlockMaps& maps) {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height), 0);
    // The grid reaches 5 pixels from its centre; up to four blocks' pixels are worked out together, so the last block
    // of a row may reach a further 7 pixels past the image (those pixels are not kept).
    const int pad = kAcrossHalf + kAlongHalf + kBlockSize + 2;
    const PaddedImage padded(image, pad, kGreyShift);
    constexpr int rows = 2 * kAcrossHalf + 1, cols = 2 * kAlongHalf + 1;
    constexpr std::size_t cells = rows * cols;
    std::array<std::array<std::ptrdiff_t, cells>, kDirectionCount> offsets{};
    for (int d = 0; d < kDirectionCount; ++d)
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < cols; ++c)
                offsets[static_cast<std::size_t>(d)][static_cast<std::size_t>(r * cols + c)] =
                    rotatedOffset(d, c - kAlongHalf, r - kAcrossHalf, padded.stride());
    // The grid sums of `lanes` pixels of a row side by side, up to four blocks that share a direction: the whole
    // grid, and its centre row along the flow (at most 63 cells of 63 each, so 16 bits hold them). A pixel is ridge
    // when the row through it, along the flow, is darker than the grid's mean row.
    auto decide = [&]<std::size_t lanes>(std::integral_constant<std::size_t, lanes>, const std::uint8_t* p,
                                         const std::array<std::ptrdiff_t, cells>& offs, std::uint8_t* outPixels,
                                         int kept) {
        std::array<std::uint8_t, lanes> ridge{};
#if defined(__SSE2__)
        static_assert(lanes % 8 == 0);
        constexpr std::size_t vectors = lanes / 8; // eight 16-bit sums to a vector
        const __m128i zero = _mm_setzero_si128();
        // (Plain arrays: a std::array of vectors drops their alignment.)
        __m128i total[vectors], centre[vectors]; // NOLINT(*-avoid-c-arrays)
        for (std::size_t g = 0; g < vectors; ++g)
            total[g] = centre[g] = zero;
        auto add = [&](__m128i* sums, const std::uint8_t* q) {
            for (std::size_t g = 0; g + 1 < vectors; g += 2) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 8 * g));
                sums[g] = _mm_add_epi16(sums[g], _mm_unpacklo_epi8(v, zero));
                sums[g + 1] = _mm_add_epi16(sums[g + 1], _mm_unpackhi_epi8(v, zero));
            }
            if constexpr (vectors % 2 == 1) {
                const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(q + 8 * (vectors - 1)));
                sums[vectors - 1] = _mm_add_epi16(sums[vectors - 1], _mm_unpacklo_epi8(v, zero));
            }
        };
        for (std::size_t k = 0; k < cells; ++k)
            add(total, p + offs[k]);
        for (std::size_t c = 0; c < cols; ++c)
            add(centre, p + offs[kAcrossHalf * cols + c]);
        const __m128i one = _mm_set1_epi16(1);
        for (std::size_t g = 0; g < vectors; ++g) {
            const __m128i scaled = _mm_mullo_epi16(centre[g], _mm_set1_epi16(rows));
            const __m128i dark = _mm_and_si128(_mm_cmplt_epi16(scaled, total[g]), one);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(ridge.data() + 8 * g), _mm_packus_epi16(dark, zero));
        }
#else
        std::array<std::uint16_t, lanes> total{}, centre{};
        for (std::size_t k = 0; k < cells; ++k) {
            const std::uint8_t* q = p + offs[k];
            for (std::size_t j = 0; j < lanes; ++j)
                total[j] = static_cast<std::uint16_t>(total[j] + q[j]);
        }
        for (std::size_t c = 0; c < cols; ++c) {
            const std::uint8_t* q = p + offs[kAcrossHalf * cols + c];
            for (std::size_t j = 0; j < lanes; ++j)
                centre[j] = static_cast<std::uint16_t>(centre[j] + q[j]);
        }
        for (std::size_t j = 0; j < lanes; ++j)
            ridge[j] = centre[j] * rows < total[j] ? 1 : 0;
#endif
        std::copy(ridge.begin(), ridge.begin() + kept, outPixels);
    };
    // Each pixel is decided on its own, so the image rows are shared out between the cores.
    forEachRowBand(image.height, static_cast<std::size_t>(image.width) * kBlockSize, [&](int firstRow, int endRow) {
        for (int y = firstRow; y < endRow; ++y) {
            std::uint8_t* outRow = out.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(image.width);
            const int by = y / kBlockSize;
            for (int bx = 0; bx < maps.width;) {
                const int d = maps.direction[maps.index(bx, by)];
                int run = 1;
                while (run < 4 && bx + run < maps.width && maps.direction[maps.index(bx + run, by)] == d)
                    ++run;
                if (d >= 0) {
                    const int x0 = bx * kBlockSize;
                    const auto& offs = offsets[static_cast<std::size_t>(d)];
                    const std::uint8_t* p = padded.at(x0, y);
                    const int kept = std::min(run * kBlockSize, image.width - x0);
                    if (run == 4)
                        decide(std::integral_constant<std::size_t, 4 * kBlockSize>{}, p, offs, outRow + x0, kept);
                    else if (run >= 2) {
                        run = 2;
                        decide(std::integral_constant<std::size_t, 2 * kBlockSize>{}, p, offs, outRow + x0,
                               std::min(kept, 2 * kBlockSize));
                    } else
                        decide(std::integral_constant<std::size_t, kBlockSize>{}, p, offs, outRow + x0, kept);
                }
                bx += run;
            }
        }
    });
    return out;
}

#if defined(__SSE2__)
namespace {

// The row sweep of fillHoles on a 0/1 image, sixteen pixels at a time, from x = 1 while sixteen are left before the
// last pixel; returns where the pixel-by-pixel sweep goes on, with `left` the pixel settled just before it. With two
// values a pixel keeps its own value when its right neighbour has it too, and otherwise takes the value just settled
// on its left: that value is carried along each such stretch in four doubling steps.
std::size_t sweepSixteenAtATime(std::uint8_t* row, std::size_t width, std::uint8_t& left) {
    const __m128i ones = _mm_set1_epi8(-1);
    std::size_t x = 1;
    for (; x + 16 < width; x += 16) {
        const __m128i own = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
        const __m128i right = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x + 1));
        __m128i settled = _mm_cmpeq_epi8(own, right); // lanes whose value is known
        __m128i value = _mm_and_si128(own, settled);
        const __m128i before = _mm_set1_epi8(static_cast<char>(left));
        auto carry = [&]<int step>(std::integral_constant<int, step>) {
            const __m128i fromLeft = _mm_or_si128(_mm_slli_si128(value, step), _mm_srli_si128(before, 16 - step));
            const __m128i knownLeft = _mm_or_si128(_mm_slli_si128(settled, step), _mm_srli_si128(ones, 16 - step));
            value = _mm_or_si128(_mm_and_si128(settled, value), _mm_andnot_si128(settled, fromLeft));
            settled = _mm_or_si128(settled, knownLeft);
        };
        carry(std::integral_constant<int, 1>{});
        carry(std::integral_constant<int, 2>{});
        carry(std::integral_constant<int, 4>{});
        carry(std::integral_constant<int, 8>{});
        // The steps reach fifteen lanes back: a lane still unknown has changes all the way from the left neighbour.
        value = _mm_or_si128(_mm_and_si128(settled, value), _mm_andnot_si128(settled, before));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row + x), value);
        left = row[x + 15];
    }
    return x;
}

} // namespace
#endif

void fillHoles(std::vector<std::uint8_t>& ridges, int width, int height, int passes) {
    const auto w = static_cast<std::size_t>(width);
    const auto h = static_cast<std::size_t>(height);
    for (int pass = 0; pass < passes; ++pass) {
        // The rows do not touch one another, so they are shared out between the cores. Along a row the pixel just
        // settled is kept at hand rather than read back, which frees each step from waiting on the last one's store.
        if (w >= 3)
            forEachRowBand(height, w, [&](int firstRow, int endRow) {
                for (auto y = static_cast<std::size_t>(firstRow); y < static_cast<std::size_t>(endRow); ++y) {
                    std::uint8_t* row = ridges.data() + y * w;
                    std::uint8_t left = row[0];
                    std::size_t x = 1;
#if defined(__SSE2__)
                    x = sweepSixteenAtATime(row, w, left);
#endif
                    std::uint8_t here = row[x];
                    for (; x + 1 < w; ++x) {
                        const std::uint8_t right = row[x + 1];
                        here = left == right && here != left ? left : here;
                        row[x] = here;
                        left = here;
                        here = right;
                    }
                }
            });
        // Each column is swept top to bottom on its own; the columns do not touch one another, so they are swept
        // side by side, a row of all of them at a time, which reads the image in its own order, in column bands
        // shared out between the cores.
        forEachRowBand(width, h, [&](int firstColumn, int endColumn) {
            const auto x0 = static_cast<std::size_t>(firstColumn), x1 = static_cast<std::size_t>(endColumn);
            for (std::size_t y = 1; y + 1 < h; ++y) {
                const std::uint8_t* above = ridges.data() + (y - 1) * w;
                std::uint8_t* row = ridges.data() + y * w;
                const std::uint8_t* below = row + w;
                for (std::size_t x = x0; x < x1; ++x)
                    row[x] = above[x] == below[x] ? below[x] : row[x];
            }
        });
    }
}

std::vector<std::uint8_t> binarisedImage(const GreyView& image, const BlockMaps& maps) {
    std::vector<std::uint8_t> ridges = binarize(image, maps);
    fillHoles(ridges, image.width, image.height, kHolePasses);
    return ridges;
}

} // namespace qev::quality
