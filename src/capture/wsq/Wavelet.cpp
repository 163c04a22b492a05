#include "capture/wsq/Wavelet.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

namespace qev::wsq {

namespace {

constexpr std::array<double, 5> kLowHalf = {0.852698679009, 0.377402855613, -0.110624404418, -0.023849465019,
                                            0.037828455507};
constexpr std::array<double, 4> kHighHalf = {0.788485616406, -0.418092273222, -0.040689417610, 0.064538882629};

// Widest reach of any tap outside a line, in samples (even); filters are at most kMaxFilterLength long.
constexpr int kMargin = kMaxFilterLength / 2 + 4;

// Width of the column strips the vertical passes work through.
constexpr int kStrip = 128;

// How a line continues past one end: mirrored on its end sample, mirrored between samples, or mirrored on the
// (zero) sample just past the end.
enum class Mirror { Whole, Half, WholeZero };

struct Extension {
    Mirror left = Mirror::Whole;
    Mirror right = Mirror::Whole;
    float sign = 1.0f; // -1 for antisymmetric lines
};

struct Mapped {
    int index; // -1 when the extended sample is zero
    float sign;
};

Mapped mapIndex(int i, int length, const Extension& e) {
    float s = 1.0f;
    if (length <= 0) return {-1, 0.0f};
    for (int guard = 0; guard < 64; ++guard) {
        if (i < 0) {
            i = e.left == Mirror::Whole ? -i : -1 - i;
            s *= e.sign;
        } else if (i >= length) {
            if (e.right == Mirror::Whole) {
                i = 2 * (length - 1) - i;
            } else if (e.right == Mirror::Half) {
                i = 2 * length - 1 - i;
            } else {
                if (i == length) return {-1, 0.0f};
                i = 2 * length - i;
            }
            s *= e.sign;
        } else {
            return {i, s};
        }
    }
    return {-1, 0.0f};
}

Extension signalExtension(bool odd) {
    return odd ? Extension{Mirror::Whole, Mirror::Whole, 1.0f} : Extension{Mirror::Half, Mirror::Half, 1.0f};
}

// Extension of the lowpass and highpass halves of a length n signal, as the signal's symmetry dictates.
Extension lowExtension(bool odd, int n) {
    if (odd) return {Mirror::Whole, n % 2 ? Mirror::Whole : Mirror::Half, 1.0f};
    return {Mirror::Half, n % 2 ? Mirror::Whole : Mirror::Half, 1.0f};
}

Extension highExtension(bool odd, int n) {
    if (odd) return {Mirror::Half, n % 2 ? Mirror::Half : Mirror::Whole, 1.0f};
    return {Mirror::Half, n % 2 ? Mirror::WholeZero : Mirror::Half, -1.0f};
}

// Taps of a synthesis filter split by output parity: x[2t + p] gets coef * band[t - q].
struct PhaseTap {
    int q;
    float coef;
};

struct Phases {
    std::array<std::vector<PhaseTap>, 2> lo, hi;
};

void addPhases(std::array<std::vector<PhaseTap>, 2>& out, const std::vector<float>& f, int start) {
    for (size_t i = 0; i < f.size(); ++i) {
        const int n = start + static_cast<int>(i);
        const int p = ((n % 2) + 2) % 2;
        out[p].push_back({(n - p) / 2, f[i]});
    }
}

// Every output sample sums its lowpass products and then its highpass products, each from the filter's last tap to
// its first, in float: the order the decoders in the field add them in, so that the rounding, and with it every
// decoded pixel, comes out the same.
Phases phasesOf(const FilterBank& b) {
    Phases ph;
    addPhases(ph.lo, b.f0, b.f0Start);
    addPhases(ph.hi, b.f1, b.f1Start);
    for (auto* bands : {&ph.lo, &ph.hi})
        for (auto& taps : *bands)
            std::reverse(taps.begin(), taps.end());
    return ph;
}

// Fills ext[margin + i] for i in [-margin, n + margin) from a line.
void extendLine(float* ext, const float* src, int n, int margin, const Extension& e) {
    std::copy_n(src, n, ext + margin);
    for (int i = -margin; i < 0; ++i) {
        const Mapped m = mapIndex(i, n, e);
        ext[margin + i] = m.index < 0 ? 0.0f : m.sign * src[m.index];
    }
    for (int i = n; i < n + margin; ++i) {
        const Mapped m = mapIndex(i, n, e);
        ext[margin + i] = m.index < 0 ? 0.0f : m.sign * src[m.index];
    }
}

// Per-region scratch reused across splits so the transform allocates only when a region is the largest so far.
struct Scratch {
    std::vector<float> line, lineLo, lineHi, out0, out1, block;
    void reserve(int width, int height) {
        const size_t n = static_cast<size_t>(std::max(width, height)) + 2 * kMargin + 2;
        if (line.size() < n) {
            line.resize(n);
            lineLo.resize(n);
            lineHi.resize(n);
            out0.resize(n);
            out1.resize(n);
        }
        const size_t area = static_cast<size_t>(std::min(width, kStrip)) * static_cast<size_t>(height);
        if (block.size() < area) block.resize(area);
    }
};

void analyseRows(float* img, int stride, const Region& r, bool invert, const FilterBank& b, Scratch& s) {
    const int nl = lowLength(r.w), nh = highLength(r.w);
    const int loOff = invert ? nh : 0, hiOff = invert ? 0 : nl;
    const Extension ext = signalExtension(b.odd);
    float* e = s.line.data();
    float* ev = s.lineLo.data();
    float* od = s.lineHi.data();
    float* lo = s.out0.data();
    float* hi = s.out1.data();
    const int half = (r.w + 2 * b.margin) / 2;
    // lo[k] += a0[j] * x[2k - j]: with x split into even and odd samples every tap reads a contiguous run.
    auto filter = [&](float* out, int count, const std::vector<float>& taps, int start) {
        std::fill(out, out + count, 0.0f);
        for (size_t i = 0; i < taps.size(); ++i) {
            const int j = start + static_cast<int>(i);
            const int shift = b.margin - j;
            const float* src = (shift % 2 == 0 ? ev : od) + (shift >= 0 ? shift / 2 : (shift - 1) / 2);
            const float c = taps[i];
            for (int k = 0; k < count; ++k)
                out[k] += c * src[k];
        }
    };
    for (int y = 0; y < r.h; ++y) {
        float* row = img + static_cast<ptrdiff_t>(r.y + y) * stride + r.x;
        extendLine(e, row, r.w, b.margin, ext);
        for (int u = 0; u < half; ++u) {
            ev[u] = e[2 * u];
            od[u] = e[2 * u + 1];
        }
        filter(lo, nl, b.a0, b.a0Start);
        filter(hi, nh, b.a1, b.a1Start);
        std::copy_n(lo, nl, row + loOff);
        std::copy_n(hi, nh, row + hiOff);
    }
}

// Sums taps over whole rows: out[x] = sum coef * sign * rows[mapped][x].
void columnFilter(float* out, const float* base, int stride, int w, int n, const Extension& ext,
                  const std::vector<float>& taps, int center) {
    std::fill(out, out + w, 0.0f);
    for (size_t j = 0; j < taps.size(); ++j) {
        const Mapped m = mapIndex(center - static_cast<int>(j), n, ext);
        if (m.index < 0) continue;
        const float c = taps[j] * m.sign;
        const float* src = base + static_cast<ptrdiff_t>(m.index) * stride;
        for (int x = 0; x < w; ++x)
            out[x] += c * src[x];
    }
}

void analyseColumns(float* img, int stride, const Region& r, bool invert, const FilterBank& b, Scratch& s) {
    const int nl = lowLength(r.h), nh = highLength(r.h);
    const int loOff = invert ? nh : 0, hiOff = invert ? 0 : nl;
    const Extension ext = signalExtension(b.odd);
    float* blk = s.block.data();
    // In strips of columns, so the scratch block stays small whatever the image's width.
    for (int x0 = 0; x0 < r.w; x0 += kStrip) {
        const int sw = std::min(kStrip, r.w - x0);
        float* base = img + static_cast<ptrdiff_t>(r.y) * stride + r.x + x0;
        for (int k = 0; k < nl; ++k)
            columnFilter(blk + static_cast<ptrdiff_t>(loOff + k) * sw, base, stride, sw, r.h, ext, b.a0,
                         2 * k - b.a0Start);
        for (int k = 0; k < nh; ++k)
            columnFilter(blk + static_cast<ptrdiff_t>(hiOff + k) * sw, base, stride, sw, r.h, ext, b.a1,
                         2 * k - b.a1Start);
        for (int y = 0; y < r.h; ++y)
            std::copy_n(blk + static_cast<ptrdiff_t>(y) * sw, sw, base + static_cast<ptrdiff_t>(y) * stride);
    }
}

void synthesiseColumns(float* img, int stride, const Region& r, bool invert, const FilterBank& b, const Phases& ph,
                       Scratch& s) {
    const int n = r.h, nl = lowLength(n), nh = highLength(n);
    const int loOff = invert ? nh : 0, hiOff = invert ? 0 : nl;
    const Extension le = lowExtension(b.odd, n), he = highExtension(b.odd, n);
    float* blk = s.block.data();
    for (int x0 = 0; x0 < r.w; x0 += kStrip) {
        const int sw = std::min(kStrip, r.w - x0);
        float* base = img + static_cast<ptrdiff_t>(r.y) * stride + r.x + x0;
        const float* lo = base + static_cast<ptrdiff_t>(loOff) * stride;
        const float* hi = base + static_cast<ptrdiff_t>(hiOff) * stride;
        for (int m = 0; m < n; ++m) {
            float* out = blk + static_cast<ptrdiff_t>(m) * sw;
            std::fill(out, out + sw, 0.0f);
            const int p = m & 1, t = m >> 1;
            // Adds one band's taps for output row m: `rows` rows of that band starting at `band`.
            auto addBand = [&](const auto& taps, const float* band, int rows, const Extension& ext) {
                for (const PhaseTap& tap : taps) {
                    const Mapped mp = mapIndex(t - tap.q, rows, ext);
                    if (mp.index < 0) continue;
                    const float c = tap.coef * mp.sign;
                    const float* src = band + static_cast<ptrdiff_t>(mp.index) * stride;
                    for (int x = 0; x < sw; ++x)
                        out[x] += c * src[x];
                }
            };
            addBand(ph.lo[p], lo, nl, le);
            addBand(ph.hi[p], hi, nh, he);
        }
        for (int y = 0; y < n; ++y)
            std::copy_n(blk + static_cast<ptrdiff_t>(y) * sw, sw, base + static_cast<ptrdiff_t>(y) * stride);
    }
}

void synthesiseRows(float* img, int stride, const Region& r, bool invert, const FilterBank& b, const Phases& ph,
                    Scratch& s) {
    const int n = r.w, nl = lowLength(n), nh = highLength(n);
    const int loOff = invert ? nh : 0, hiOff = invert ? 0 : nl;
    const Extension le = lowExtension(b.odd, n), he = highExtension(b.odd, n);
    float* lo = s.lineLo.data();
    float* hi = s.lineHi.data();
    std::array<float*, 2> out = {s.out0.data(), s.out1.data()};
    const std::array<int, 2> count = {nl, nh};
    for (int y = 0; y < r.h; ++y) {
        float* row = img + static_cast<ptrdiff_t>(r.y + y) * stride + r.x;
        extendLine(lo, row + loOff, nl, b.margin, le);
        extendLine(hi, row + hiOff, nh, b.margin, he);
        // x[2t + p] = sum c * lo[t - q] + sum d * hi[t - q]: per parity, each tap adds a contiguous run.
        for (int p = 0; p < 2; ++p) {
            float* o = out[static_cast<size_t>(p)];
            const int cnt = count[static_cast<size_t>(p)];
            std::fill(o, o + cnt, 0.0f);
            for (const PhaseTap& tap : ph.lo[static_cast<size_t>(p)]) {
                const float* src = lo + b.margin - tap.q;
                for (int t = 0; t < cnt; ++t)
                    o[t] += tap.coef * src[t];
            }
            for (const PhaseTap& tap : ph.hi[static_cast<size_t>(p)]) {
                const float* src = hi + b.margin - tap.q;
                for (int t = 0; t < cnt; ++t)
                    o[t] += tap.coef * src[t];
            }
        }
        for (int t = 0; t < nh; ++t) {
            row[2 * t] = out[0][t];
            row[2 * t + 1] = out[1][t];
        }
        if (nl > nh) row[2 * nh] = out[0][nh];
    }
}

// Full filter from its transmitted half, indexed from `start`.
std::vector<double> unfold(std::span<const double> half, int length, bool antisymmetric, int& start) {
    std::vector<double> f(static_cast<size_t>(length));
    if (length % 2) {
        const int c = (length - 1) / 2;
        start = -c;
        for (int j = -c; j <= c; ++j)
            f[static_cast<size_t>(j + c)] = half[static_cast<size_t>(std::abs(j))];
    } else {
        const int c = length / 2;
        start = -c;
        for (int j = -c; j < c; ++j) {
            const double v = j >= 0 ? half[static_cast<size_t>(j)] : half[static_cast<size_t>(-1 - j)];
            f[static_cast<size_t>(j + c)] = (j < 0 && antisymmetric) ? -v : v;
        }
    }
    return f;
}

} // namespace

std::span<const double> standardLowHalf() {
    return kLowHalf;
}

std::span<const double> standardHighHalf() {
    return kHighHalf;
}

Result<FilterBank> makeFilterBank(std::span<const double> lowHalf, int lowLength, std::span<const double> highHalf,
                                  int highLength) {
    if (lowLength < 2 || highLength < 2 || lowLength > kMaxFilterLength || highLength > kMaxFilterLength)
        return fail("longitud de filtro WSQ no admitida");
    if (lowLength % 2 != highLength % 2) return fail("filtros WSQ de paridad distinta");
    if (lowHalf.size() != static_cast<size_t>((lowLength + 1) / 2) ||
        highHalf.size() != static_cast<size_t>((highLength + 1) / 2))
        return fail("tabla de transformada WSQ incompleta");
    FilterBank b;
    b.odd = lowLength % 2 == 1;
    int s0 = 0, s1 = 0;
    const std::vector<double> a0 = unfold(lowHalf, lowLength, false, s0);
    std::vector<double> a1 = unfold(highHalf, highLength, !b.odd, s1);
    // With odd filters the highpass output sits between lowpass samples: hi[k] is centred on 2k + 1.
    if (b.odd) --s1;

    // D(z) = A1(-z) A0(z) - A0(-z) A1(z) must be a single term d z^-s for perfect reconstruction.
    const int dStart = s0 + s1;
    std::vector<double> d(a0.size() + a1.size() - 1, 0.0);
    for (size_t i = 0; i < a0.size(); ++i)
        for (size_t j = 0; j < a1.size(); ++j) {
            const int n0 = s0 + static_cast<int>(i), n1 = s1 + static_cast<int>(j);
            const double sign0 = (n0 % 2) ? -1.0 : 1.0, sign1 = (n1 % 2) ? -1.0 : 1.0;
            d[i + j] += a0[i] * a1[j] * (sign1 - sign0);
        }
    size_t peak = 0;
    for (size_t i = 1; i < d.size(); ++i)
        if (std::fabs(d[i]) > std::fabs(d[peak])) peak = i;
    const double dv = d[peak];
    if (!(std::fabs(dv) > 1e-6)) return fail("filtros WSQ que no reconstruyen la imagen");
    for (size_t i = 0; i < d.size(); ++i)
        if (i != peak && std::fabs(d[i]) > 1e-3 * std::fabs(dv))
            return fail("filtros WSQ que no reconstruyen la imagen");
    const int shift = dStart + static_cast<int>(peak);
    // A pair built for unit gain (the standard one, read back from its decimal digits) is used exactly as sent:
    // rescaling it by a gain a few parts in ten million from one would move some decoded pixels by a grey level.
    double g = 2.0 / dv;
    if (std::fabs(std::fabs(g) - 1.0) < 1e-5) g = g > 0.0 ? 1.0 : -1.0;

    // F0(z) = g z^s A1(-z), F1(z) = -g z^s A0(-z).
    b.f0Start = s1 - shift;
    b.f1Start = s0 - shift;
    for (size_t i = 0; i < a1.size(); ++i) {
        const int n = b.f0Start + static_cast<int>(i);
        b.f0.push_back(static_cast<float>(g * (((n + shift) % 2) ? -1.0 : 1.0) * a1[i]));
    }
    for (size_t i = 0; i < a0.size(); ++i) {
        const int n = b.f1Start + static_cast<int>(i);
        b.f1.push_back(static_cast<float>(-g * (((n + shift) % 2) ? -1.0 : 1.0) * a0[i]));
    }
    // Lines are extended by the widest reach of any tap: analysis taps reach |j| samples, synthesis taps |n| / 2
    // subband samples. The margin is even so that even and odd samples keep their parity.
    int reach = std::max({-s0, s0 + static_cast<int>(a0.size()) - 1, -s1, s1 + static_cast<int>(a1.size()) - 1});
    for (int n : {b.f0Start, b.f1Start, b.f0Start + static_cast<int>(b.f0.size()) - 1,
                  b.f1Start + static_cast<int>(b.f1.size()) - 1})
        reach = std::max(reach, std::abs(n) / 2 + 1);
    b.margin = (reach + 2) & ~1;
    if (b.margin > kMargin) return fail("filtros WSQ que no reconstruyen la imagen");
    for (double v : a0)
        b.a0.push_back(static_cast<float>(v));
    for (double v : a1)
        b.a1.push_back(static_cast<float>(v));
    b.a0Start = s0;
    b.a1Start = s1;
    return b;
}

void analyse(std::vector<float>& image, int stride, const Tree& tree, const FilterBank& bank) {
    Scratch s;
    s.reserve(tree.splits[0].r.w, tree.splits[0].r.h);
    for (const Split& sp : tree.splits) {
        analyseRows(image.data(), stride, sp.r, sp.invertX, bank, s);
        analyseColumns(image.data(), stride, sp.r, sp.invertY, bank, s);
    }
}

void synthesise(std::vector<float>& image, int stride, const Tree& tree, const FilterBank& bank) {
    Scratch s;
    s.reserve(tree.splits[0].r.w, tree.splits[0].r.h);
    const Phases ph = phasesOf(bank);
    for (auto it = tree.splits.rbegin(); it != tree.splits.rend(); ++it) {
        synthesiseColumns(image.data(), stride, it->r, it->invertY, bank, ph, s);
        synthesiseRows(image.data(), stride, it->r, it->invertX, bank, ph, s);
    }
}

} // namespace qev::wsq
