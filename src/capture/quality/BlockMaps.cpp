#include "BlockMaps.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <system_error>
#include <thread>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The wave sums are built a second time for processors with 256-bit vectors, picked when the program starts. Only
// the vector width changes: no fused multiply-add, so every product and sum is rounded as in the plain build.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__linux__)
#define QEV_WIDE_VECTORS __attribute__((target_clones("avx2", "default")))
#else
#define QEV_WIDE_VECTORS
#endif

namespace qev::quality {

namespace {

// The maps are measured on a 6-bit copy of the image (grey >> 2); the thresholds below are in those units.
constexpr int kMapShift = 2;
constexpr int kWindow = 24; // ridge-flow analysis window, centred on the block
// The turned window reaches 5 pixels past its square, and an image lower or narrower than the window still has its
// window start at 0: a pad this wide keeps every sample inside the buffer for any image of at least 1x1.
constexpr int kWindowPad = kWindow + 8;
constexpr int kWaveCount = 4;              // DFT frequencies 1..4 cycles per window
constexpr double kPowerMin = 1.0e5;        // weakest wave power that can carry a direction
constexpr double kPowerNormMin = 3.8;      // strongest power over mean power, for the winning wave
constexpr double kLowWavePowerMax = 5.0e7; // one-cycle wave power above this is shading, not ridges
constexpr int kForkInterval = 2;           // a fork shows a second strong direction this many steps away
constexpr double kForkPowerShare = 0.7;
constexpr double kForkNormShare = 0.75;
constexpr int kContrastPercent = 10; // percentile pair used for the contrast test
constexpr int kContrastDeltaMin = 5; // 6-bit grey span below which a block is background
constexpr int kRemoveNeighboursMin = 3;
constexpr int kDirectionDistanceMax = 3;
constexpr double kDirectionStrengthMin = 0.2; // squared length of the mean neighbour direction vector
constexpr int kFillNeighboursMin = 7;         // a direction-less block is filled by smoothing only when this surrounded
constexpr int kInterpolateNeighboursMin = 2;
constexpr int kVorticityNeighboursMin = 7;
constexpr int kVorticityMin = 5;
constexpr int kCurvatureMin = 5;
constexpr int kBorderBlocks = 2;
constexpr int kVerticalDirection = kDirectionCount / 2; // ridges running up and down
constexpr double kTieTolerance = 1e-6;                  // in direction steps: absorbs the rounding of sums
constexpr double kGridTie = 1e-9;                       // in pixels: the same for the turned grid's points

constexpr std::array<int, 8> kRingDx = {-1, 0, 1, 1, 1, 0, -1, -1};
constexpr std::array<int, 8> kRingDy = {-1, -1, -1, 0, 1, 1, 1, 0};

int directionDistance(int a, int b) {
    const int d = std::abs(a - b) % kDirectionCount;
    return std::min(d, kDirectionCount - d);
}

// Unit vectors of the doubled direction angles, so that opposite flows (d and d + 16 over 360 degrees) agree.
struct UnitVectors {
    std::array<double, kDirectionCount> cos{};
    std::array<double, kDirectionCount> sin{};
    UnitVectors() {
        for (int d = 0; d < kDirectionCount; ++d) {
            const double a = 2.0 * std::numbers::pi * d / kDirectionCount;
            cos[static_cast<std::size_t>(d)] = std::cos(a);
            sin[static_cast<std::size_t>(d)] = std::sin(a);
        }
    }
};

const UnitVectors& unitVectors() {
    static const UnitVectors table;
    return table;
}

struct DirectionVector {
    double c = 0.0;
    double s = 0.0;
    int count = 0;
    void add(const UnitVectors& units, int dir) {
        c += units.cos[static_cast<std::size_t>(dir)];
        s += units.sin[static_cast<std::size_t>(dir)];
        ++count;
    }
    // Squared length of the mean unit vector: 1 when all agree, near 0 when they cancel.
    [[nodiscard]] double strength() const {
        if (count == 0) return 0.0;
        return (c * c + s * s) / (static_cast<double>(count) * count);
    }
    // The nearest direction to the mean angle. A mean exactly between two directions, as on the border of two
    // flows that the neighbours share evenly, goes to the higher one; the tolerance absorbs the rounding of the sums.
    [[nodiscard]] int direction() const {
        double a = std::atan2(s, c);
        if (a < 0) a += 2.0 * std::numbers::pi;
        const double steps = a * kDirectionCount / (2.0 * std::numbers::pi);
        return static_cast<int>(std::floor(steps + 0.5 + kTieTolerance)) % kDirectionCount;
    }
};

// The points of the turned window for each direction, in pixels from the window's top-left pixel, and the tables
// of the ridge waves: the same for every image, so worked out once.
struct TurnedPoints {
    std::array<std::array<int, kWindow * kWindow>, kDirectionCount> x{};
    std::array<std::array<int, kWindow * kWindow>, kDirectionCount> y{};
    std::array<std::array<double, kWindow>, kWaveCount> cosTable{};
    std::array<std::array<double, kWindow>, kWaveCount> sinTable{};

    TurnedPoints() {
        const double half = (kWindow - 1) / 2.0;
        for (int d = 0; d < kDirectionCount; ++d)
            for (int r = 0; r < kWindow; ++r)
                for (int c = 0; c < kWindow; ++c) {
                    // The grid turns about the window's centre.
                    const double phi = std::numbers::pi * d / kDirectionCount;
                    const double ux = std::cos(phi), uy = std::sin(phi);
                    // The turn is worked out about the centre first and the centre added after, with exact
                    // halves (the diagonal points of the 45-degree grids) rounded up: a point shifted by one pixel
                    // moves the direction of blocks whose flow lies between two steps.
                    const double fx = (c - half) * ux - (r - half) * uy;
                    const double fy = (c - half) * uy + (r - half) * ux;
                    const auto at = static_cast<std::size_t>(r * kWindow + c);
                    x[static_cast<std::size_t>(d)][at] =
                        static_cast<int>(std::lround(std::floor(half + fx + 0.5 + kGridTie)));
                    y[static_cast<std::size_t>(d)][at] =
                        static_cast<int>(std::lround(std::floor(half + fy + 0.5 + kGridTie)));
                }
        for (int k = 0; k < kWaveCount; ++k)
            for (int n = 0; n < kWindow; ++n) {
                const double a = 2.0 * std::numbers::pi * (k + 1) * n / kWindow;
                cosTable[static_cast<std::size_t>(k)][static_cast<std::size_t>(n)] = std::cos(a);
                sinTable[static_cast<std::size_t>(k)][static_cast<std::size_t>(n)] = std::sin(a);
            }
    }
};

const TurnedPoints& turnedPoints() {
    static const TurnedPoints points;
    return points;
}

// Sampling offsets of the rotated window for each direction: rows run along the direction. 32-bit offsets keep
// the tables in cache; at most 17 rows times a stride of the grader's 64 Mpixel limit fits.
struct WindowGrids {
    std::array<std::array<std::int32_t, kWindow * kWindow>, kDirectionCount> offsets{};
    std::array<std::array<double, kWindow>, kWaveCount> cosTable{};
    std::array<std::array<double, kWindow>, kWaveCount> sinTable{};
    // Whether each grid of the second eight directions is one of the first eight turned a quarter, so that one
    // gathered window serves two directions (it is, up to the rounding of the turned points, which is checked).
    bool quarterTurnShared = false;
    // Whether the first direction's grid is the window itself, row by row, so that it can be copied a row at a time.
    bool firstIsSquare = false;
    int stride = 0;

    explicit WindowGrids(int imageStride) : stride(imageStride) {
        const TurnedPoints& points = turnedPoints();
        for (std::size_t d = 0; d < kDirectionCount; ++d)
            for (std::size_t p = 0; p < kWindow * kWindow; ++p)
                offsets[d][p] = static_cast<std::int32_t>(points.y[d][p] * stride + points.x[d][p]);
        cosTable = points.cosTable;
        sinTable = points.sinTable;
        firstIsSquare = true;
        for (std::size_t r = 0; r < kWindow; ++r)
            for (std::size_t c = 0; c < kWindow; ++c)
                firstIsSquare =
                    firstIsSquare && offsets[0][r * kWindow + c] ==
                                         static_cast<std::int32_t>(static_cast<int>(r) * stride + static_cast<int>(c));
        quarterTurnShared = true;
        for (std::size_t d = 0; d < kDirectionCount / 2; ++d)
            for (std::size_t r = 0; r < kWindow; ++r)
                for (std::size_t c = 0; c < kWindow; ++c)
                    quarterTurnShared = quarterTurnShared && offsets[d + kDirectionCount / 2][r * kWindow + c] ==
                                                                 offsets[d][c * kWindow + (kWindow - 1 - r)];
    }
};

// The offsets depend only on the row stride of the padded image: fingers of one size, graded one after another,
// share them, and each thread keeps those of the last stride it met.
const WindowGrids& windowGrids(int stride) {
    thread_local std::unique_ptr<WindowGrids> last;
    if (!last || last->stride != stride) last = std::make_unique<WindowGrids>(stride);
    return *last;
}

// Top-left corner of a block's analysis window: centred on the block, but moved inwards where it would reach past
// the image, so the outermost blocks are measured on the same pixels as their inner neighbours. On the right and at
// the bottom the window stops one pixel short of the image's last column or row.
int windowStart(int block, int imageSide) {
    const int start = block * kBlockSize - (kWindow - kBlockSize) / 2;
    return std::max(0, std::min(start, imageSide - kWindow - 1));
}

constexpr int kGreyLevels = 256 >> kMapShift; // the 6-bit copy holds 0..63 only
using Histogram = std::array<std::uint16_t, kGreyLevels>;

// Background test on a window's grey histogram: the spread between its 10th and 90th percentile grey.
bool spreadIsLow(const Histogram& histogram) {
    constexpr int total = kWindow * kWindow;
    constexpr int tailCount = total * kContrastPercent / 100;
    int low = 0, high = kGreyLevels - 1, cumulative = 0;
    for (int v = 0; v < kGreyLevels; ++v) {
        cumulative += histogram[static_cast<std::size_t>(v)];
        if (cumulative > tailCount) {
            low = v;
            break;
        }
    }
    cumulative = 0;
    for (int v = kGreyLevels - 1; v >= 0; --v) {
        cumulative += histogram[static_cast<std::size_t>(v)];
        if (cumulative > tailCount) {
            high = v;
            break;
        }
    }
    return high - low < kContrastDeltaMin;
}

// Grey histograms of the image's whole 8x8 blocks. A window that starts on a block corner covers three by three of
// them, so its histogram is their sum instead of a count over its 576 pixels; the windows moved inwards at the
// image's right and bottom edges, and those of images smaller than a window, are counted pixel by pixel.
class BlockHistograms {
public:
    BlockHistograms(const PaddedImage& padded, int width, int height)
        : m_columns(width / kBlockSize), m_rows(height / kBlockSize),
          m_counts(static_cast<std::size_t>(m_columns) * static_cast<std::size_t>(m_rows) * kGreyLevels, 0) {
        static_assert(kBlockSize * kBlockSize <= 255, "a block's count of one grey fits a byte");
        forEachRowBand(m_rows, static_cast<std::size_t>(width) * kBlockSize, [&](int firstRow, int endRow) {
            for (int by = firstRow; by < endRow; ++by)
                for (int bx = 0; bx < m_columns; ++bx) {
                    std::uint8_t* counts = m_counts.data() + offset(bx, by);
                    for (int y = 0; y < kBlockSize; ++y) {
                        const std::uint8_t* row = padded.at(bx * kBlockSize, by * kBlockSize + y);
                        for (int x = 0; x < kBlockSize; ++x)
                            ++counts[row[x]];
                    }
                }
        });
    }

    // Whether the window with top-left pixel (x0, y0) is made of whole blocks, and its histogram then.
    [[nodiscard]] bool covers(int x0, int y0) const {
        constexpr int span = kWindow / kBlockSize;
        return x0 % kBlockSize == 0 && y0 % kBlockSize == 0 && x0 / kBlockSize + span <= m_columns &&
               y0 / kBlockSize + span <= m_rows;
    }
    void windowHistogram(int x0, int y0, Histogram& histogram) const {
        histogram.fill(0);
        constexpr int span = kWindow / kBlockSize;
        for (int by = y0 / kBlockSize; by < y0 / kBlockSize + span; ++by)
            for (int bx = x0 / kBlockSize; bx < x0 / kBlockSize + span; ++bx) {
                const std::uint8_t* counts = m_counts.data() + offset(bx, by);
                for (std::size_t v = 0; v < histogram.size(); ++v)
                    histogram[v] = static_cast<std::uint16_t>(histogram[v] + counts[v]);
            }
    }

private:
    [[nodiscard]] std::size_t offset(int bx, int by) const {
        return (static_cast<std::size_t>(by) * static_cast<std::size_t>(m_columns) + static_cast<std::size_t>(bx)) *
               kGreyLevels;
    }

    int m_columns;
    int m_rows;
    std::vector<std::uint8_t> m_counts;
};

// Background test for the window with top-left pixel (x0, y0).
bool isLowContrast(const PaddedImage& padded, const BlockHistograms& blocks, int x0, int y0) {
    static_assert(kWindow % kBlockSize == 0);
    Histogram histogram{};
    if (blocks.covers(x0, y0))
        blocks.windowHistogram(x0, y0, histogram);
    else
        for (int y = 0; y < kWindow; ++y) {
            const std::uint8_t* row = padded.at(x0, y0 + y);
            for (int x = 0; x < kWindow; ++x)
                ++histogram[row[x]];
        }
    return spreadIsLow(histogram);
}

int wrapDirection(int d) {
    return ((d % kDirectionCount) + kDirectionCount) % kDirectionCount;
}

// Sums of the turned window's rows for every direction: element r of direction d sums row r of that direction's grid.
using RowSums = std::array<std::array<int, kWindow>, kDirectionCount>;

// Row sums and column sums of a gathered window (each at most 24 pixels of 63, so 16 bits hold a column).
void sumRowsAndColumns(const std::array<std::uint8_t, kWindow * kWindow>& window, std::array<int, kWindow>& rows,
                       std::array<std::uint16_t, kWindow>& columns) {
#if defined(__SSE2__)
    // A row is 16 + 8 bytes: the byte sums of each eight come from one instruction, the columns are added as 16-bit
    // lanes.
    static_assert(kWindow == 24);
    const __m128i zero = _mm_setzero_si128();
    __m128i low = zero, middle = zero, high = zero;
    for (std::size_t r = 0; r < kWindow; ++r) {
        const std::uint8_t* row = window.data() + r * kWindow;
        const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row));
        const __m128i last = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + 16));
        const __m128i firstSums = _mm_sad_epu8(first, zero);
        const __m128i lastSums = _mm_sad_epu8(last, zero);
        rows[r] = _mm_cvtsi128_si32(firstSums) + _mm_extract_epi16(firstSums, 4) + _mm_cvtsi128_si32(lastSums);
        low = _mm_add_epi16(low, _mm_unpacklo_epi8(first, zero));
        middle = _mm_add_epi16(middle, _mm_unpackhi_epi8(first, zero));
        high = _mm_add_epi16(high, _mm_unpacklo_epi8(last, zero));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(columns.data()), low);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(columns.data() + 8), middle);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(columns.data() + 16), high);
#else
    columns.fill(0);
    for (std::size_t r = 0; r < kWindow; ++r) {
        const std::uint8_t* row = window.data() + r * kWindow;
        int sum = 0;
        for (std::size_t c = 0; c < kWindow; ++c) {
            sum += row[c];
            columns[c] = static_cast<std::uint16_t>(columns[c] + row[c]);
        }
        rows[r] = sum;
    }
#endif
}

void sumTurnedRows(const std::uint8_t* origin, const WindowGrids& grids, RowSums& sums) {
    if (!grids.quarterTurnShared) {
        for (int d = 0; d < kDirectionCount; ++d) {
            const auto& offs = grids.offsets[static_cast<std::size_t>(d)];
            for (int r = 0; r < kWindow; ++r) {
                int sum = 0;
                for (int c = 0; c < kWindow; ++c)
                    sum += origin[offs[static_cast<std::size_t>(r * kWindow + c)]];
                sums[static_cast<std::size_t>(d)][static_cast<std::size_t>(r)] = sum;
            }
        }
        return;
    }
    // The grid of direction d + 8 is that of d turned a quarter: its rows are d's columns, last column first. Each
    // window is gathered once for two directions, then summed by rows and by columns.
    constexpr int half = kDirectionCount / 2;
    for (int d = 0; d < half; ++d) {
        const auto& offs = grids.offsets[static_cast<std::size_t>(d)];
        // Gathered four pixels to a word, two offsets to a load (on little-endian machines, where the first of two
        // offsets is the low half of the pair and the first pixel the low byte of the word).
        alignas(16) std::array<std::uint8_t, kWindow * kWindow> window;
        static_assert(kWindow * kWindow % 4 == 0);
        if (d == 0 && grids.firstIsSquare)
            for (std::size_t r = 0; r < kWindow; ++r)
                std::memcpy(window.data() + r * kWindow, origin + static_cast<std::ptrdiff_t>(r) * grids.stride,
                            kWindow);
        else if constexpr (std::endian::native != std::endian::little)
            for (std::size_t i = 0; i < window.size(); ++i)
                window[i] = origin[offs[i]];
        else
            for (std::size_t i = 0; i < window.size(); i += 4) {
                std::uint64_t pair0, pair1;
                std::memcpy(&pair0, offs.data() + i, sizeof pair0);
                std::memcpy(&pair1, offs.data() + i + 2, sizeof pair1);
                const std::uint32_t word =
                    static_cast<std::uint32_t>(origin[static_cast<std::int32_t>(pair0)]) |
                    static_cast<std::uint32_t>(origin[static_cast<std::int32_t>(pair0 >> 32)]) << 8 |
                    static_cast<std::uint32_t>(origin[static_cast<std::int32_t>(pair1)]) << 16 |
                    static_cast<std::uint32_t>(origin[static_cast<std::int32_t>(pair1 >> 32)]) << 24;
                std::memcpy(window.data() + i, &word, sizeof word);
            }
        auto& along = sums[static_cast<std::size_t>(d)];
        std::array<std::uint16_t, kWindow> columns{};
        sumRowsAndColumns(window, along, columns);
        auto& across = sums[static_cast<std::size_t>(d + half)];
        for (int r = 0; r < kWindow; ++r)
            across[static_cast<std::size_t>(r)] = columns[static_cast<std::size_t>(kWindow - 1 - r)];
    }
}

// Power of wave k (k + 1 cycles per window) in a row-sum sequence.
double wavePower(const WindowGrids& grids, const std::array<int, kWindow>& rowSums, int k) {
    double re = 0.0, im = 0.0;
    const auto& cosines = grids.cosTable[static_cast<std::size_t>(k)];
    const auto& sines = grids.sinTable[static_cast<std::size_t>(k)];
    for (std::size_t n = 0; n < rowSums.size(); ++n) {
        re += rowSums[n] * cosines[n];
        im += rowSums[n] * sines[n];
    }
    return re * re + im * im;
}

// Powers of the ridge-frequency waves (2..4 cycles per window) for every direction, four directions at a time so
// that their sums run side by side; each sum keeps its own order of terms, so wider vectors give the same values.
// The one-cycle wave is only looked at for the few directions that win.
QEV_WIDE_VECTORS
void ridgeWavePowers(const RowSums& rowSums, const WindowGrids& grids,
                     std::array<std::array<double, kDirectionCount>, kWaveCount>& power) {
    constexpr std::size_t group = 4;
    static_assert(kDirectionCount % group == 0);
    for (std::size_t d0 = 0; d0 < kDirectionCount; d0 += group) {
        std::array<std::array<double, group>, kWaveCount - 1> re{}, im{};
        for (std::size_t n = 0; n < kWindow; ++n) {
            std::array<double, group> v;
            for (std::size_t j = 0; j < group; ++j)
                v[j] = rowSums[d0 + j][n];
            for (std::size_t k = 1; k < kWaveCount; ++k) {
                const double cs = grids.cosTable[k][n], sn = grids.sinTable[k][n];
                for (std::size_t j = 0; j < group; ++j) {
                    re[k - 1][j] += v[j] * cs;
                    im[k - 1][j] += v[j] * sn;
                }
            }
        }
        for (std::size_t k = 1; k < kWaveCount; ++k)
            for (std::size_t j = 0; j < group; ++j)
                power[k][d0 + j] = re[k - 1][j] * re[k - 1][j] + im[k - 1][j] * im[k - 1][j];
    }
}

// Dominant ridge direction of a block, or kNoDirection when the flow is too weak or unclear.
int directionOfRows(const RowSums& rowSums, const WindowGrids& grids) {
    std::array<std::array<double, kDirectionCount>, kWaveCount> power{};
    ridgeWavePowers(rowSums, grids, power);
    auto lowWavePower = [&](int d) { return wavePower(grids, rowSums[static_cast<std::size_t>(d)], 0); };
    // Ridge-frequency waves are 2..4 cycles per window; the one-cycle wave only flags shading.
    struct WaveStat {
        double max = 0.0;
        double norm = 0.0;
        int dir = 0;
        int wave = 0;
    };
    std::array<WaveStat, kWaveCount - 1> stats{};
    for (int k = 1; k < kWaveCount; ++k) {
        const auto& p = power[static_cast<std::size_t>(k)];
        WaveStat& st = stats[static_cast<std::size_t>(k - 1)];
        st.wave = k;
        double sum = 0.0;
        for (int d = 0; d < kDirectionCount; ++d) {
            sum += p[static_cast<std::size_t>(d)];
            if (p[static_cast<std::size_t>(d)] > p[static_cast<std::size_t>(st.dir)]) st.dir = d;
        }
        st.max = p[static_cast<std::size_t>(st.dir)];
        const double mean = sum / kDirectionCount;
        st.norm = mean > 0.0 ? st.max / mean : 0.0;
    }
    // Waves in falling order of their strongest power times its concentration, so that a wave that stands out in one
    // direction comes before a stronger one spread over several; the first whose strongest direction is strong and
    // concentrated enough, without one-cycle shading under it, decides.
    // (Three waves: put in order by insertion, which keeps equal ones as they were and needs no buffer.)
    for (std::size_t i = 1; i < stats.size(); ++i)
        for (std::size_t j = i; j > 0 && stats[j].max * stats[j].norm > stats[j - 1].max * stats[j - 1].norm; --j)
            std::swap(stats[j], stats[j - 1]);
    auto strongEnough = [&](const WaveStat& st) {
        return st.max > kPowerMin && lowWavePower(st.dir) <= kLowWavePowerMax;
    };
    for (const WaveStat& st : stats)
        if (strongEnough(st) && st.norm > kPowerNormMin) return st.dir;
    // Near a fork two close directions share the power: the strongest wave may show a weaker concentration then,
    // with a second strong direction on one side of the strongest. Strong directions on both sides are a spread-out
    // flow, not a fork.
    const WaveStat& best = stats.front();
    if (strongEnough(best) && best.norm >= kForkNormShare * kPowerNormMin) {
        const auto& p = power[static_cast<std::size_t>(best.wave)];
        const double enough = kForkPowerShare * best.max;
        const bool before = p[static_cast<std::size_t>(wrapDirection(best.dir - kForkInterval))] > enough;
        const bool after = p[static_cast<std::size_t>(wrapDirection(best.dir + kForkInterval))] > enough;
        if (before != after) return best.dir;
    }
    return kNoDirection;
}

int blockDirection(const PaddedImage& padded, const WindowGrids& grids, int x0, int y0) {
    RowSums rowSums;
    sumTurnedRows(padded.at(x0, y0), grids, rowSums);
    return directionOfRows(rowSums, grids);
}

// Eight windows that start eight pixels apart on one row of blocks are gathered together: the pixel a grid point takes
// for each of them lies in the same 64 bytes, every eighth byte, so four loads serve all eight windows. The sums are
// the same as sumTurnedRows gives each window on its own.
constexpr int kWindowsAbreast = 8;
#if defined(__SSE2__)
constexpr bool kGathersAbreast = true;

void sumTurnedRowsAbreast(const std::uint8_t* origin, const WindowGrids& grids,
                          std::array<RowSums, kWindowsAbreast>& sums) {
    static_assert(kWindowsAbreast * kBlockSize == 64);
    // Bytes 0 and 8 of each 16 loaded are kept as 16-bit lanes; the four loads go to lanes 0/4, 1/5, 2/6 and 3/7, so
    // window j sums in lane j / 2 + 4 * (j % 2).
    const __m128i keep = _mm_set_epi16(0, 0, 0, 0x00FF, 0, 0, 0, 0x00FF);
    auto lane = [](std::size_t j) { return j / 2 + 4 * (j % 2); };
    constexpr std::size_t half = kDirectionCount / 2;
    for (std::size_t d = 0; d < half; ++d) {
        const auto& offs = grids.offsets[d];
        __m128i columns[kWindow]; // NOLINT(*-avoid-c-arrays): a std::array of it drops the vector's alignment
        for (__m128i& column : columns)
            column = _mm_setzero_si128();
        alignas(16) std::array<std::uint16_t, 8> lanes{};
        for (std::size_t r = 0; r < kWindow; ++r) {
            __m128i along = _mm_setzero_si128();
            for (std::size_t c = 0; c < kWindow; ++c) {
                const std::uint8_t* at = origin + offs[r * kWindow + c];
                const __m128i v0 = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)), keep);
                const __m128i v1 = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 16)), keep);
                const __m128i v2 = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 32)), keep);
                const __m128i v3 = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 48)), keep);
                const __m128i v = _mm_or_si128(_mm_or_si128(v0, _mm_slli_si128(v1, 2)),
                                               _mm_or_si128(_mm_slli_si128(v2, 4), _mm_slli_si128(v3, 6)));
                along = _mm_add_epi16(along, v);
                columns[c] = _mm_add_epi16(columns[c], v);
            }
            _mm_store_si128(reinterpret_cast<__m128i*>(lanes.data()), along);
            for (std::size_t j = 0; j < kWindowsAbreast; ++j)
                sums[j][d][r] = lanes[lane(j)];
        }
        // As in sumTurnedRows, the rows of direction d + 8 are d's columns, last column first.
        for (std::size_t c = 0; c < kWindow; ++c) {
            _mm_store_si128(reinterpret_cast<__m128i*>(lanes.data()), columns[c]);
            for (std::size_t j = 0; j < kWindowsAbreast; ++j)
                sums[j][d + half][kWindow - 1 - c] = lanes[lane(j)];
        }
    }
}
#else
constexpr bool kGathersAbreast = false;
#endif

DirectionVector neighbourVector(const BlockMaps& maps, const std::vector<int>& dirs, int bx, int by) {
    DirectionVector v;
    const UnitVectors& units = unitVectors();
    for (std::size_t i = 0; i < kRingDx.size(); ++i) {
        const int nx = bx + kRingDx[i], ny = by + kRingDy[i];
        if (maps.inside(nx, ny) && dirs[maps.index(nx, ny)] >= 0) v.add(units, dirs[maps.index(nx, ny)]);
    }
    return v;
}

// Blocks in rings of growing distance from the map centre, each ring clockwise from its top-left corner.
std::vector<std::size_t> centreOutOrder(const BlockMaps& maps) {
    std::vector<std::size_t> order;
    order.reserve(static_cast<std::size_t>(maps.width) * static_cast<std::size_t>(maps.height));
    const int cx = maps.width / 2, cy = maps.height / 2;
    const int rings = std::max({cx, cy, maps.width - 1 - cx, maps.height - 1 - cy});
    auto take = [&](int x, int y) {
        if (maps.inside(x, y)) order.push_back(maps.index(x, y));
    };
    take(cx, cy);
    for (int r = 1; r <= rings; ++r) {
        for (int x = cx - r; x < cx + r; ++x)
            take(x, cy - r);
        for (int y = cy - r; y < cy + r; ++y)
            take(cx + r, y);
        for (int x = cx + r; x > cx - r; --x)
            take(x, cy + r);
        for (int y = cy + r; y > cy - r; --y)
            take(cx - r, y);
    }
    return order;
}

// Drops directions with too few valid neighbours or at odds with a clear neighbour consensus, until none change.
void removeInconsistentDirections(BlockMaps& maps, const std::vector<std::size_t>& order) {
    // Directions are only ever taken away here, so a block kept once is kept again until a neighbour loses its
    // direction: only such blocks are looked at again.
    std::vector<std::uint8_t> stale(maps.direction.size(), 1);
    bool removed = true;
    while (removed) {
        removed = false;
        for (const std::size_t i : order) {
            const int dir = maps.direction[i];
            if (dir < 0 || !stale[i]) continue;
            stale[i] = 0;
            const int bx = static_cast<int>(i % static_cast<std::size_t>(maps.width));
            const int by = static_cast<int>(i / static_cast<std::size_t>(maps.width));
            const DirectionVector v = neighbourVector(maps, maps.direction, bx, by);
            const bool isolated = v.count < kRemoveNeighboursMin;
            const bool odd =
                v.strength() >= kDirectionStrengthMin && directionDistance(dir, v.direction()) > kDirectionDistanceMax;
            if (isolated || odd) {
                maps.direction[i] = kNoDirection;
                removed = true;
                for (std::size_t k = 0; k < kRingDx.size(); ++k)
                    if (maps.inside(bx + kRingDx[k], by + kRingDy[k]))
                        stale[maps.index(bx + kRingDx[k], by + kRingDy[k])] = 1;
            }
        }
    }
}

// Replaces directions by their neighbours' consensus; an empty block that is not background and is well
// surrounded takes the consensus too.
void smoothDirections(BlockMaps& maps) {
    for (int by = 0; by < maps.height; ++by)
        for (int bx = 0; bx < maps.width; ++bx) {
            const std::size_t i = maps.index(bx, by);
            if (maps.lowContrast[i]) continue;
            const DirectionVector v = neighbourVector(maps, maps.direction, bx, by);
            if (v.strength() < kDirectionStrengthMin) continue;
            const int needed = maps.direction[i] >= 0 ? kRemoveNeighboursMin : kFillNeighboursMin;
            if (v.count >= needed) maps.direction[i] = v.direction();
        }
}

// Gives an empty, non-background block the direction of the nearest valid blocks up, down, left and right,
// weighted towards the closer ones; a background block stops the search. Reads the map as it was before.
void interpolateDirections(BlockMaps& maps) {
    const std::vector<int> dirs = maps.direction;
    constexpr std::array<int, 4> dx = {0, 1, 0, -1};
    constexpr std::array<int, 4> dy = {-1, 0, 1, 0};
    for (int by = 0; by < maps.height; ++by)
        for (int bx = 0; bx < maps.width; ++bx) {
            const std::size_t i = maps.index(bx, by);
            if (dirs[i] >= 0 || maps.lowContrast[i]) continue;
            std::array<int, 4> found{}, distance{};
            int count = 0, totalDistance = 0;
            for (std::size_t k = 0; k < dx.size(); ++k) {
                int nx = bx + dx[k], ny = by + dy[k], dist = 1;
                while (maps.inside(nx, ny) && !maps.lowContrast[maps.index(nx, ny)] && dirs[maps.index(nx, ny)] < 0) {
                    nx += dx[k];
                    ny += dy[k];
                    ++dist;
                }
                if (maps.inside(nx, ny) && dirs[maps.index(nx, ny)] >= 0) {
                    found[static_cast<std::size_t>(count)] = dirs[maps.index(nx, ny)];
                    distance[static_cast<std::size_t>(count)] = dist;
                    totalDistance += dist;
                    ++count;
                }
            }
            if (count < kInterpolateNeighboursMin) continue;
            // The weighted mean of the direction numbers themselves, counted from the vertical and rounded half up,
            // not a mean of flow vectors: directions either side of the vertical (1 and 15, counted so) average to
            // the horizontal. Our grades agree with the central office's only with this rule.
            double weighted = 0.0, weights = 0.0;
            for (std::size_t k = 0; k < static_cast<std::size_t>(count); ++k) {
                const double weight = static_cast<double>(totalDistance - distance[k]);
                weighted += weight * wrapDirection(found[k] - kVerticalDirection);
                weights += weight;
            }
            const int mean = static_cast<int>(std::floor(weighted / weights + 0.5 + kTieTolerance));
            maps.direction[i] = wrapDirection(mean + kVerticalDirection);
        }
}

void clearMargin(BlockMaps& maps) {
    for (int by = 0; by < maps.height; ++by)
        for (int bx = 0; bx < maps.width; ++bx)
            if (bx == 0 || by == 0 || bx == maps.width - 1 || by == maps.height - 1)
                maps.direction[maps.index(bx, by)] = kNoDirection;
}

// A valid block is curved when a neighbour turns away from it by kCurvatureMin steps or more;
// an empty block is a whorl or loop centre when the directions around it wind kVorticityMin times one way.
void markHighCurvatureBlocks(BlockMaps& maps) {
    for (int by = 0; by < maps.height; ++by)
        for (int bx = 0; bx < maps.width; ++bx) {
            const std::size_t i = maps.index(bx, by);
            const int centre = maps.direction[i];
            std::array<int, 8> ring{};
            int valid = 0;
            for (std::size_t k = 0; k < ring.size(); ++k) {
                const int nx = bx + kRingDx[k], ny = by + kRingDy[k];
                ring[k] = maps.inside(nx, ny) ? maps.direction[maps.index(nx, ny)] : kNoDirection;
                valid += ring[k] >= 0 ? 1 : 0;
            }
            if (centre >= 0) {
                int turn = 0;
                for (const int r : ring)
                    if (r >= 0) turn = std::max(turn, directionDistance(centre, r));
                if (turn >= kCurvatureMin) maps.highCurvature[i] = 1;
                continue;
            }
            if (valid < kVorticityNeighboursMin) continue;
            int winding = 0;
            for (std::size_t k = 0; k < ring.size(); ++k) {
                const int a = ring[k], b = ring[(k + 1) % ring.size()];
                if (a < 0 || b < 0 || a == b) continue;
                winding += wrapDirection(b - a) > kDirectionCount / 2 ? -1 : 1;
            }
            if (std::abs(winding) >= kVorticityMin) maps.highCurvature[i] = 1;
        }
}

// Quality levels: 0 for background or no direction; blocks with unclear flow or high curvature ("weak") start at 2
// and the others at 4, or 3 when a weak block lies within two blocks. Within two blocks of a level-0 block the
// level is 1 for weak blocks and 2 for the others, and the ring just inside the image's outermost blocks is 1.
void buildQualityLevels(BlockMaps& maps) {
    auto bad = [&](std::size_t i) { return maps.lowContrast[i] || maps.direction[i] < 0; };
    auto weak = [&](std::size_t i) { return maps.lowFlow[i] || maps.highCurvature[i]; };
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
            bool nearBad = false, nearWeak = false;
            for (int ny = by - 2; ny <= by + 2; ++ny)
                for (int nx = bx - 2; nx <= bx + 2; ++nx) {
                    if ((nx == bx && ny == by) || !maps.inside(nx, ny)) continue;
                    const std::size_t n = maps.index(nx, ny);
                    nearBad = nearBad || bad(n);
                    nearWeak = nearWeak || weak(n);
                }
            const bool self = weak(i);
            int q = self ? 2 : nearWeak ? 3 : 4;
            if (nearBad) q = self ? 1 : 2;
            maps.quality[i] = static_cast<std::uint8_t>(q);
        }
}

// One step of binary morphology on a block map with the four edge neighbours. Outside the map counts as unset when
// growing and as set when shrinking, so the map's edge neither creates nor wears away marked blocks.
std::vector<std::uint8_t> morphStep(const BlockMaps& maps, const std::vector<std::uint8_t>& in, bool dilate) {
    std::vector<std::uint8_t> out = in;
    constexpr std::array<int, 4> dx = {0, 1, 0, -1};
    constexpr std::array<int, 4> dy = {-1, 0, 1, 0};
    for (int by = 0; by < maps.height; ++by)
        for (int bx = 0; bx < maps.width; ++bx) {
            const std::size_t i = maps.index(bx, by);
            if (dilate == (in[i] != 0)) continue;
            for (std::size_t k = 0; k < dx.size(); ++k) {
                const int nx = bx + dx[k], ny = by + dy[k];
                const bool set = maps.inside(nx, ny) ? in[maps.index(nx, ny)] != 0 : !dilate;
                if (dilate && set) {
                    out[i] = 1;
                    break;
                }
                if (!dilate && !set) {
                    out[i] = 0;
                    break;
                }
            }
        }
    return out;
}

} // namespace

void forEachRowBand(int rows, std::size_t rowCost, const std::function<void(int, int)>& work) {
    // Starting and joining a thread costs about what a pass over this many pixels does.
    constexpr std::size_t kMinCostForTwo = std::size_t(1) << 16;
    constexpr int kMinRowsForTwo = 16;
    if (rows < kMinRowsForTwo || static_cast<std::size_t>(rows) * rowCost < kMinCostForTwo ||
        std::thread::hardware_concurrency() < 2) {
        work(0, rows);
        return;
    }
    // Narrow bands handed out in turn to whichever thread is free: the background rows at the top and bottom of a
    // finger cost little, so two fixed halves would leave one thread waiting on the other.
    constexpr int kBandsPerThread = 16;
    const int band = std::max(1, rows / (2 * kBandsPerThread));
    std::atomic<int> next{0};
    auto drain = [&] {
        for (int first = next.fetch_add(band); first < rows; first = next.fetch_add(band))
            work(first, std::min(first + band, rows));
    };
    std::thread other;
    try {
        other = std::thread(drain);
    } catch (const std::system_error&) {
        // No thread to be had: this one takes every band.
    }
    drain();
    if (other.joinable()) other.join();
}

void computeHighCurvatureMap(BlockMaps& maps) {
    maps.highCurvature.assign(maps.direction.size(), 0);
    markHighCurvatureBlocks(maps);
}

void computeQualityMap(BlockMaps& maps) {
    maps.quality.assign(maps.direction.size(), 0);
    buildQualityLevels(maps);
}

PaddedImage::PaddedImage(const GreyView& image, int pad, int shift)
    : m_pad(pad), m_stride(image.width + 2 * pad),
      m_data(static_cast<std::size_t>(image.width + 2 * pad) * static_cast<std::size_t>(image.height + 2 * pad),
             static_cast<std::uint8_t>(128 >> shift)) {
    // The rows are copied side by side on the cores, sixteen pixels to an instruction where the processor allows.
    forEachRowBand(image.height, static_cast<std::size_t>(image.width), [&](int firstRow, int endRow) {
        for (int y = firstRow; y < endRow; ++y) {
            const std::uint8_t* src =
                image.pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(image.width);
            std::uint8_t* dst = m_data.data() + static_cast<std::ptrdiff_t>(y + pad) * m_stride + pad;
            int x = 0;
#if defined(__SSE2__)
            if (shift >= 0 && shift < 8) {
                const __m128i keep = _mm_set1_epi8(static_cast<char>(0xFF >> shift));
                const __m128i count = _mm_cvtsi32_si128(shift);
                for (; x + 16 <= image.width; x += 16) {
                    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x));
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x), _mm_and_si128(_mm_srl_epi16(v, count), keep));
                }
            }
#endif
            for (; x < image.width; ++x)
                dst[x] = static_cast<std::uint8_t>(src[x] >> shift);
        }
    });
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

    const PaddedImage padded(image, kWindowPad, kMapShift);
    const WindowGrids& grids = windowGrids(padded.stride());
    const BlockHistograms histograms(padded, image.width, image.height);
    // Every block's window is measured on its own, so the block rows are shared out between the cores.
    const std::size_t blockRowCost = static_cast<std::size_t>(maps.width) * kWindow * kWindow * kDirectionCount;
    forEachRowBand(maps.height, blockRowCost, [&](int firstRow, int endRow) {
        std::array<RowSums, kWindowsAbreast> abreast;
        for (int by = firstRow; by < endRow; ++by) {
            const int y0 = windowStart(by, image.height);
            for (int bx = 0; bx < maps.width; ++bx) {
                const std::size_t i = maps.index(bx, by);
                if (isLowContrast(padded, histograms, windowStart(bx, image.width), y0)) maps.lowContrast[i] = 1;
            }
            for (int bx = 0; bx < maps.width;) {
                // Eight blocks whose windows start eight pixels apart, one of them or more not background, are
                // gathered together; the others one by one.
                const bool together =
                    kGathersAbreast && grids.quarterTurnShared && bx > 0 &&
                    windowStart(bx + kWindowsAbreast - 1, image.width) == (bx + kWindowsAbreast - 2) * kBlockSize &&
                    std::count(maps.lowContrast.begin() + static_cast<std::ptrdiff_t>(maps.index(bx, by)),
                               maps.lowContrast.begin() + static_cast<std::ptrdiff_t>(maps.index(bx, by)) +
                                   kWindowsAbreast,
                               std::uint8_t{1}) < kWindowsAbreast;
                const int count = together ? kWindowsAbreast : 1;
#if defined(__SSE2__)
                if (together) sumTurnedRowsAbreast(padded.at(windowStart(bx, image.width), y0), grids, abreast);
#endif
                for (int j = 0; j < count; ++j) {
                    const std::size_t i = maps.index(bx + j, by);
                    if (maps.lowContrast[i]) continue;
                    maps.direction[i] = together ? directionOfRows(abreast[static_cast<std::size_t>(j)], grids)
                                                 : blockDirection(padded, grids, windowStart(bx + j, image.width), y0);
                    // Blocks without a clear flow of their own stay marked even if they get a direction later.
                    if (maps.direction[i] < 0) maps.lowFlow[i] = 1;
                }
                bx += count;
            }
        }
    });
    // Close the low-flow map, two blocks deep: blocks with a clear flow in narrow gaps between unclear ones count as
    // unclear too.
    for (const bool dilate : {true, true, false, false})
        maps.lowFlow = morphStep(maps, maps.lowFlow, dilate);
    const std::vector<std::size_t> order = centreOutOrder(maps);
    removeInconsistentDirections(maps, order);
    smoothDirections(maps);
    interpolateDirections(maps);
    // Interpolation can disagree with what is around it: clean once more.
    removeInconsistentDirections(maps, order);
    smoothDirections(maps);
    // The outermost ring's windows reach past the image: no direction there.
    clearMargin(maps);
    computeHighCurvatureMap(maps);
    computeQualityMap(maps);
    return maps;
}

} // namespace qev::quality
