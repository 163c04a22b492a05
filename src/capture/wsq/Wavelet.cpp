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

// Widest reach of any tap outside a line, in samples; filters are at most kMaxFilterLength long.
constexpr int kMargin = kMaxFilterLength + 8;

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

Phases phasesOf(const FilterBank& b) {
    Phases ph;
    addPhases(ph.lo, b.f0, b.f0Start);
    addPhases(ph.hi, b.f1, b.f1Start);
    return ph;
}

// Fills ext[kMargin + i] for i in [-kMargin, n + kMargin) from a strided line.
void extendLine(float* ext, const float* src, ptrdiff_t step, int n, const Extension& e) {
    for (int i = 0; i < n; ++i)
        ext[kMargin + i] = src[i * step];
    for (int i = -kMargin; i < 0; ++i) {
        const Mapped m = mapIndex(i, n, e);
        ext[kMargin + i] = m.index < 0 ? 0.0f : m.sign * src[m.index * step];
    }
    for (int i = n; i < n + kMargin; ++i) {
        const Mapped m = mapIndex(i, n, e);
        ext[kMargin + i] = m.index < 0 ? 0.0f : m.sign * src[m.index * step];
    }
}

// Per-region scratch reused across splits so the transform allocates only when a region is the largest so far.
struct Scratch {
    std::vector<float> line, lineLo, lineHi, block;
    void reserve(int width, int height) {
        const size_t n = static_cast<size_t>(std::max(width, height)) + 2 * kMargin;
        if (line.size() < n) {
            line.resize(n);
            lineLo.resize(n);
            lineHi.resize(n);
        }
        const size_t area = static_cast<size_t>(width) * static_cast<size_t>(height);
        if (block.size() < area) block.resize(area);
    }
};

void analyseRows(float* img, int stride, const Region& r, bool invert, const FilterBank& b, Scratch& s) {
    const int nl = lowLength(r.w), nh = highLength(r.w);
    const int loOff = invert ? nh : 0, hiOff = invert ? 0 : nl;
    const Extension ext = signalExtension(b.odd);
    float* e = s.line.data();
    for (int y = 0; y < r.h; ++y) {
        float* row = img + static_cast<ptrdiff_t>(r.y + y) * stride + r.x;
        extendLine(e, row, 1, r.w, ext);
        for (int k = 0; k < nl; ++k) {
            const float* c = e + kMargin + 2 * k - b.a0Start;
            float acc = 0.0f;
            for (size_t j = 0; j < b.a0.size(); ++j)
                acc += b.a0[j] * c[-static_cast<ptrdiff_t>(j)];
            row[loOff + k] = acc;
        }
        for (int k = 0; k < nh; ++k) {
            const float* c = e + kMargin + 2 * k - b.a1Start;
            float acc = 0.0f;
            for (size_t j = 0; j < b.a1.size(); ++j)
                acc += b.a1[j] * c[-static_cast<ptrdiff_t>(j)];
            row[hiOff + k] = acc;
        }
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
    float* base = img + static_cast<ptrdiff_t>(r.y) * stride + r.x;
    float* blk = s.block.data();
    for (int k = 0; k < nl; ++k)
        columnFilter(blk + static_cast<ptrdiff_t>(loOff + k) * r.w, base, stride, r.w, r.h, ext, b.a0,
                     2 * k - b.a0Start);
    for (int k = 0; k < nh; ++k)
        columnFilter(blk + static_cast<ptrdiff_t>(hiOff + k) * r.w, base, stride, r.w, r.h, ext, b.a1,
                     2 * k - b.a1Start);
    for (int y = 0; y < r.h; ++y)
        std::copy_n(blk + static_cast<ptrdiff_t>(y) * r.w, r.w, base + static_cast<ptrdiff_t>(y) * stride);
}

void synthesiseColumns(float* img, int stride, const Region& r, bool invert, const FilterBank& b, const Phases& ph,
                       Scratch& s) {
    const int n = r.h, nl = lowLength(n), nh = highLength(n);
    const int loOff = invert ? nh : 0, hiOff = invert ? 0 : nl;
    const Extension le = lowExtension(b.odd, n), he = highExtension(b.odd, n);
    float* base = img + static_cast<ptrdiff_t>(r.y) * stride + r.x;
    const float* lo = base + static_cast<ptrdiff_t>(loOff) * stride;
    const float* hi = base + static_cast<ptrdiff_t>(hiOff) * stride;
    float* blk = s.block.data();
    for (int m = 0; m < n; ++m) {
        float* out = blk + static_cast<ptrdiff_t>(m) * r.w;
        std::fill(out, out + r.w, 0.0f);
        const int p = m & 1, t = m >> 1;
        for (const PhaseTap& tap : ph.lo[p]) {
            const Mapped mp = mapIndex(t - tap.q, nl, le);
            if (mp.index < 0) continue;
            const float c = tap.coef * mp.sign;
            const float* src = lo + static_cast<ptrdiff_t>(mp.index) * stride;
            for (int x = 0; x < r.w; ++x)
                out[x] += c * src[x];
        }
        for (const PhaseTap& tap : ph.hi[p]) {
            const Mapped mp = mapIndex(t - tap.q, nh, he);
            if (mp.index < 0) continue;
            const float c = tap.coef * mp.sign;
            const float* src = hi + static_cast<ptrdiff_t>(mp.index) * stride;
            for (int x = 0; x < r.w; ++x)
                out[x] += c * src[x];
        }
    }
    for (int y = 0; y < n; ++y)
        std::copy_n(blk + static_cast<ptrdiff_t>(y) * r.w, r.w, base + static_cast<ptrdiff_t>(y) * stride);
}

void synthesiseRows(float* img, int stride, const Region& r, bool invert, const FilterBank& b, const Phases& ph,
                    Scratch& s) {
    const int n = r.w, nl = lowLength(n), nh = highLength(n);
    const int loOff = invert ? nh : 0, hiOff = invert ? 0 : nl;
    const Extension le = lowExtension(b.odd, n), he = highExtension(b.odd, n);
    float* lo = s.lineLo.data();
    float* hi = s.lineHi.data();
    for (int y = 0; y < r.h; ++y) {
        float* row = img + static_cast<ptrdiff_t>(r.y + y) * stride + r.x;
        extendLine(lo, row + loOff, 1, nl, le);
        extendLine(hi, row + hiOff, 1, nh, he);
        for (int m = 0; m < n; ++m) {
            const int p = m & 1, t = m >> 1;
            float acc = 0.0f;
            for (const PhaseTap& tap : ph.lo[p])
                acc += tap.coef * lo[kMargin + t - tap.q];
            for (const PhaseTap& tap : ph.hi[p])
                acc += tap.coef * hi[kMargin + t - tap.q];
            row[m] = acc;
        }
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
    const double g = 2.0 / dv;

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
