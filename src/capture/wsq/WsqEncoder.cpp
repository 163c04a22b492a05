// WSQ encoder (encoder number 2): normalise, decompose, allocate the bit rate over the subbands from their
// variances, quantise, and entropy-code with Huffman tables built for this image.
#include "capture/wsq/ByteIo.h"
#include "capture/wsq/Huffman.h"
#include "capture/wsq/Wavelet.h"
#include "capture/wsq/Wsq.h"
#include "capture/wsq/WsqCommon.h"
#include "capture/wsq/WsqTree.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <new>
#include <span>

namespace qev::wsq {

namespace {

constexpr double kBinCentre = 0.44;
constexpr double kZeroBinRatio = 1.2;
constexpr double kMinVariance = 1.01;
constexpr double kWholeBandVariance = 20000.0; // below this over subbands 0-3, variances use whole subbands

double weightOf(int k) {
    static constexpr double kHighBandWeights[8] = {1.32, 1.08, 1.42, 1.08, 1.32, 1.42, 1.08, 1.08};
    return k >= 52 ? kHighBandWeights[k - 52] : 1.0;
}

// Share of the image's samples a subband holds.
double shareOf(int k) {
    return k < 4 ? 1.0 / 1024.0 : (k < 51 ? 1.0 / 256.0 : 1.0 / 16.0);
}

double variance(const std::vector<float>& img, int stride, const Region& r, bool window) {
    int x0 = r.x, y0 = r.y, w = r.w, h = r.h;
    if (window) {
        x0 += r.w / 8;
        w = 3 * r.w / 4;
        y0 += 9 * r.h / 32;
        h = 7 * r.h / 16;
    }
    const double n = static_cast<double>(w) * h;
    if (n < 2) return 0.0;
    double sum = 0.0, sq = 0.0;
    for (int y = y0; y < y0 + h; ++y) {
        const float* row = img.data() + static_cast<size_t>(y) * static_cast<size_t>(stride);
        for (int x = x0; x < x0 + w; ++x) {
            const double v = row[x];
            sum += v;
            sq += v * v;
        }
    }
    return (sq - sum * sum / n) / (n - 1.0);
}

struct Bins {
    std::array<ScaledValue, kSubbandCount> q{};
    std::array<ScaledValue, kSubbandCount> z{};
};

Bins allocateBits(const std::vector<float>& img, int stride, const Tree& tree, double bitRate) {
    std::array<double, kCodedSubbands> var{};
    for (int k = 0; k < kCodedSubbands; ++k)
        var[static_cast<size_t>(k)] = variance(img, stride, tree.subbands[static_cast<size_t>(k)], true);
    if (var[0] + var[1] + var[2] + var[3] < kWholeBandVariance)
        for (int k = 0; k < kCodedSubbands; ++k)
            var[static_cast<size_t>(k)] = variance(img, stride, tree.subbands[static_cast<size_t>(k)], false);

    std::array<double, kCodedSubbands> rel{}; // Q'_k
    std::array<bool, kCodedSubbands> active{};
    bool any = false;
    for (int k = 0; k < kCodedSubbands; ++k) {
        const double v = var[static_cast<size_t>(k)];
        active[static_cast<size_t>(k)] = v >= kMinVariance;
        any = any || active[static_cast<size_t>(k)];
        rel[static_cast<size_t>(k)] = k < 4 ? 1.0 : 10.0 / (weightOf(k) * std::log(v));
    }
    Bins bins;
    if (!any) return bins;
    const std::array<bool, kCodedSubbands> coded = active;
    double q = 1.0;
    for (;;) {
        double s = 0.0, logP = 0.0;
        for (int k = 0; k < kCodedSubbands; ++k) {
            if (!active[static_cast<size_t>(k)]) continue;
            s += shareOf(k);
            logP += shareOf(k) * std::log(std::sqrt(var[static_cast<size_t>(k)]) / rel[static_cast<size_t>(k)]);
        }
        if (s <= 0.0) break;
        q = std::pow(2.0, bitRate / s - 1.0) / 2.5 / std::exp(logP / s);
        bool dropped = false;
        for (int k = 0; k < kCodedSubbands; ++k) {
            if (active[static_cast<size_t>(k)] &&
                rel[static_cast<size_t>(k)] / q >= 5.0 * std::sqrt(var[static_cast<size_t>(k)])) {
                active[static_cast<size_t>(k)] = false;
                dropped = true;
            }
        }
        if (!dropped) break;
    }
    for (int k = 0; k < kCodedSubbands; ++k) {
        if (!coded[static_cast<size_t>(k)]) continue;
        const double qk = rel[static_cast<size_t>(k)] / q;
        bins.q[static_cast<size_t>(k)] = toScaled(qk, 0xFFFF);
        bins.z[static_cast<size_t>(k)] = toScaled(kZeroBinRatio * qk, 0xFFFF);
        if (bins.q[static_cast<size_t>(k)].integer == 0) bins.z[static_cast<size_t>(k)] = ScaledValue{};
    }
    return bins;
}

// One entropy symbol and the raw bits that follow it.
struct Token {
    uint8_t symbol;
    uint8_t extraLength;
    uint16_t extra;
};

void flushRun(std::vector<Token>& out, uint32_t run) {
    while (run > 0) {
        if (run <= kMaxShortRun) {
            out.push_back({static_cast<uint8_t>(run), 0, 0});
            run = 0;
        } else if (run <= 0xFF) {
            out.push_back({kRun8, 8, static_cast<uint16_t>(run)});
            run = 0;
        } else {
            const uint32_t n = std::min<uint32_t>(run, 0xFFFF);
            out.push_back({kRun16, 16, static_cast<uint16_t>(n)});
            run -= n;
        }
    }
}

// Turns quantised indices, fed row by row, into symbols; a zero run may span rows and subbands of a block.
class Tokeniser {
public:
    void add(std::span<const int32_t> values) {
        for (int32_t v : values) {
            if (v == 0) {
                ++m_run;
                continue;
            }
            flushRun(m_out, m_run);
            m_run = 0;
            if (v >= kSmallMin && v <= kSmallMax) {
                m_out.push_back({static_cast<uint8_t>(v + kSmallBias), 0, 0});
            } else {
                const uint32_t m = std::min<uint32_t>(static_cast<uint32_t>(std::abs(v)), 0xFFFF);
                if (m <= 0xFF)
                    m_out.push_back({static_cast<uint8_t>(v > 0 ? kPos8 : kNeg8), 8, static_cast<uint16_t>(m)});
                else
                    m_out.push_back({static_cast<uint8_t>(v > 0 ? kPos16 : kNeg16), 16, static_cast<uint16_t>(m)});
            }
        }
    }
    std::vector<Token> finish() {
        flushRun(m_out, m_run);
        m_run = 0;
        return std::move(m_out);
    }

private:
    std::vector<Token> m_out;
    uint32_t m_run = 0;
};

// Writes entropy-coded bits: a zero byte after every 0xFF, the last byte padded with ones.
class BitWriter {
public:
    explicit BitWriter(ByteWriter& out) : m_out(out) {}
    void put(uint32_t bits, int length) {
        m_acc = m_acc << length | (bits & ((1u << length) - 1));
        m_count += length;
        while (m_count >= 8) {
            m_count -= 8;
            const unsigned byte = static_cast<unsigned>(m_acc >> m_count) & 0xFF;
            m_out.u8(byte);
            if (byte == 0xFF) m_out.u8(0x00);
        }
    }
    void finish() {
        if (m_count > 0) put((1u << (8 - m_count)) - 1, 8 - m_count);
    }

private:
    ByteWriter& m_out;
    uint64_t m_acc = 0;
    int m_count = 0; // bits in m_acc not yet written, fewer than 8 between calls
};

void writeScaled16(ByteWriter& w, const ScaledValue& s) {
    w.u8(s.exponent);
    w.u16(s.integer);
}

Result<std::vector<uint8_t>> encodeChecked(const GreyImage& image, float bitRate, int ppi,
                                           const std::optional<std::string>& comment) {
    // The resolution is not part of the bitstream: it travels in a NIST_COM comment when the caller passes one.
    if (ppi <= 0) return fail("resolución WSQ no válida: " + std::to_string(ppi));
    if (image.width < kMinEncodeSide || image.height < kMinEncodeSide)
        return fail("la imagen es demasiado pequeña para WSQ (mínimo " + std::to_string(kMinEncodeSide) + "x" +
                    std::to_string(kMinEncodeSide) + ")");
    if (image.width > kMaxSide || image.height > kMaxSide || int64_t{image.width} * image.height > kMaxPixels)
        return fail("la imagen es demasiado grande para WSQ");
    if (image.pixels.size() != static_cast<size_t>(image.width) * static_cast<size_t>(image.height))
        return fail("el tamaño de los datos no coincide con el de la imagen");
    if (!(bitRate > 0.0f) || !std::isfinite(bitRate)) return fail("tasa de bits WSQ inválida");
    if (comment && comment->size() > 0xFFFF - 2) return fail("comentario WSQ demasiado largo");

    const int w = image.width, h = image.height;
    // Integer sums and byte extremes, which the compiler keeps in vector registers.
    uint64_t sum = 0;
    uint8_t lo = 255, hi = 0;
    for (uint8_t p : image.pixels) {
        sum += p;
        lo = std::min(lo, p);
        hi = std::max(hi, p);
    }
    const double mean = static_cast<double>(sum) / static_cast<double>(image.pixels.size());
    double range = std::max(mean - lo, hi - mean) / 128.0;
    if (range < 1e-3) range = 1.0; // a flat image: any scale codes it exactly
    const ScaledValue mScaled = toScaled(mean, 0xFFFF);
    const ScaledValue rScaled = toScaled(range, 0xFFFF);
    const double m = mScaled.value(), r = rScaled.value();

    std::vector<float> img(image.pixels.size());
    const double invR = 1.0 / r;
    for (size_t i = 0; i < img.size(); ++i)
        img[i] = static_cast<float>((image.pixels[i] - m) * invR);
    const Tree tree = buildTree(w, h);
    auto bank = makeFilterBank(standardLowHalf(), 9, standardHighHalf(), 7);
    if (!bank) return fail(bank.error());
    analyse(img, w, tree, *bank);
    Bins bins = allocateBits(img, w, tree, bitRate);
    // Indices are sent in at most 16 bits: widen a bin that would overflow them rather than clip the subband.
    for (int k = 0; k < kCodedSubbands; ++k) {
        const double q = bins.q[static_cast<size_t>(k)].value();
        if (!(q > 0.0)) continue;
        const Region& rg = tree.subbands[static_cast<size_t>(k)];
        // The largest magnitude, compared as the bit patterns of the absolute values: for non-negative floats their
        // order is the order of the numbers, and an integer maximum runs in vector registers.
        uint32_t peakBits = 0;
        for (int y = rg.y; y < rg.y + rg.h; ++y) {
            const float* row = img.data() + static_cast<size_t>(y) * static_cast<size_t>(w);
            for (int x = rg.x; x < rg.x + rg.w; ++x)
                peakBits = std::max(peakBits, std::bit_cast<uint32_t>(row[x]) & 0x7FFFFFFFu);
        }
        const float peak = std::bit_cast<float>(peakBits);
        if (double(peak) / q < 65000.0) continue;
        bins.q[static_cast<size_t>(k)] = toScaled(double(peak) / 65000.0, 0xFFFF);
        bins.z[static_cast<size_t>(k)] = toScaled(kZeroBinRatio * bins.q[static_cast<size_t>(k)].value(), 0xFFFF);
    }

    // Quantise the coded subbands block by block, a row at a time straight into symbols.
    std::array<std::vector<Token>, 3> tokens;
    std::array<std::array<uint32_t, 256>, 2> freq{};
    std::vector<int32_t> rowValues(static_cast<size_t>(w));
    for (int b = 0; b < 3; ++b) {
        Tokeniser tokeniser;
        for (int k = kBlocks[b].first; k < kBlocks[b].end; ++k) {
            const double q = bins.q[static_cast<size_t>(k)].value();
            if (!(q > 0.0)) continue;
            const double halfZ = bins.z[static_cast<size_t>(k)].value() / 2.0;
            const double invQ = 1.0 / q;
            const Region& rg = tree.subbands[static_cast<size_t>(k)];
            for (int y = rg.y; y < rg.y + rg.h; ++y) {
                const float* row = img.data() + static_cast<size_t>(y) * static_cast<size_t>(w);
                int32_t* out = rowValues.data();
                // Branch-free on the magnitude: |a| - Z/2 is exactly a - Z/2 or -a - Z/2, so the indices are the
                // ones the two-sided comparison gives.
                for (int x = 0; x < rg.w; ++x) {
                    const double a = row[rg.x + x];
                    const double over = std::fabs(a) - halfZ;
                    // over is at least -Z/2, so the quotient is never below -Z/2Q and converts safely even where
                    // it is not used; converting unconditionally lets the loop run in vector registers.
                    const auto index = static_cast<int32_t>(std::min(over * invQ, 65534.0));
                    const int32_t mag = over > 0.0 ? index + 1 : 0;
                    out[x] = a < 0.0 ? -mag : mag;
                }
                tokeniser.add(std::span<const int32_t>(out, static_cast<size_t>(rg.w)));
            }
        }
        tokens[static_cast<size_t>(b)] = tokeniser.finish();
        for (const Token& t : tokens[static_cast<size_t>(b)])
            ++freq[static_cast<size_t>(kBlocks[b].table)][t.symbol];
    }
    std::array<HuffmanTable, 2> tableDefs;
    std::array<std::array<Code, 256>, 2> codes;
    for (size_t t = 0; t < 2; ++t) {
        // A table for empty blocks still needs one code to be a valid table.
        if (std::all_of(freq[t].begin(), freq[t].end(), [](uint32_t f) { return f == 0; })) freq[t][1] = 1;
        tableDefs[t] = buildTable(freq[t]);
        auto c = canonicalCodes(tableDefs[t]);
        if (!c) return fail(c.error());
        codes[t] = *c;
    }

    ByteWriter out;
    out.buffer().reserve(image.pixels.size() / 4 + 4096);
    out.u16(kSoi);
    const std::string text = comment ? *comment : std::string();
    if (!text.empty()) {
        out.u16(kCom);
        out.u16(static_cast<unsigned>(text.size() + 2));
        out.bytes(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    }
    // Transform table: filter lengths, then each transmitted tap as sign (1 negative), exponent, integer.
    out.u16(kDtt);
    const auto lowHalf = standardLowHalf(), highHalf = standardHighHalf();
    out.u16(static_cast<unsigned>(4 + 6 * (lowHalf.size() + highHalf.size())));
    out.u8(9);
    out.u8(7);
    for (auto half : {lowHalf, highHalf}) {
        for (double v : half) {
            const ScaledValue s = toScaled(std::fabs(v), 0xFFFFFFFFu);
            out.u8(v < 0 ? 1 : 0);
            out.u8(s.exponent);
            out.u32(s.integer);
        }
    }
    // Quantisation table: bin centre, then bin width and zero-bin width of all 64 subbands.
    out.u16(kDqt);
    out.u16(kDqtLength);
    writeScaled16(out, toScaled(kBinCentre, 0xFFFF));
    for (int k = 0; k < kSubbandCount; ++k) {
        writeScaled16(out, bins.q[static_cast<size_t>(k)]);
        writeScaled16(out, bins.z[static_cast<size_t>(k)]);
    }
    // Frame: black and white levels, height, width, M and R, encoder number 2, software number 0.
    out.u16(kSof);
    out.u16(kSofLength);
    out.u8(0);
    out.u8(255);
    out.u16(static_cast<unsigned>(h));
    out.u16(static_cast<unsigned>(w));
    writeScaled16(out, mScaled);
    writeScaled16(out, rScaled);
    out.u8(2);
    out.u16(0);

    int written = -1;
    for (int b = 0; b < 3; ++b) {
        const int t = kBlocks[b].table;
        if (t != written) {
            // Huffman table: id, code counts per length 1..16, symbols in code order.
            const HuffmanTable& s = tableDefs[static_cast<size_t>(t)];
            out.u16(kDht);
            out.u16(static_cast<unsigned>(2 + 1 + 16 + s.symbols.size()));
            out.u8(static_cast<unsigned>(t));
            for (uint8_t c : s.counts)
                out.u8(c);
            out.bytes(s.symbols);
            written = t;
        }
        out.u16(kSob);
        out.u16(kSobLength);
        out.u8(static_cast<unsigned>(t));
        BitWriter bw(out);
        const auto& cs = codes[static_cast<size_t>(t)];
        for (const Token& tk : tokens[static_cast<size_t>(b)]) {
            bw.put(cs[tk.symbol].bits, cs[tk.symbol].length);
            if (tk.extraLength) bw.put(tk.extra, tk.extraLength);
        }
        bw.finish();
    }
    out.u16(kEoi);
    return std::move(out.buffer());
}

} // namespace

std::string nistComment(const GreyImage& img, int ppi, float bitRate) {
    char buf[256];
    std::snprintf(buf, sizeof buf,
                  "NIST_COM 9\nPIX_WIDTH %d\nPIX_HEIGHT %d\nPIX_DEPTH 8\nPPI %d\nLOSSY 1\nCOLORSPACE GRAY\n"
                  "COMPRESSION WSQ\nWSQ_BITRATE %f",
                  img.width, img.height, ppi, static_cast<double>(bitRate));
    return buf;
}

Result<std::vector<uint8_t>> encode(const GreyImage& image, float bitRate, int ppi,
                                    const std::optional<std::string>& comment) {
    try {
        return encodeChecked(image, bitRate, ppi, comment);
    } catch (const std::bad_alloc&) {
        return fail("memoria insuficiente para comprimir la imagen WSQ");
    }
}

} // namespace qev::wsq
