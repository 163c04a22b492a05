// WSQ decoder: reads the segments in any order, decodes the entropy blocks (with or without restart markers),
// dequantises the 60 coded subbands and runs the synthesis over the decomposition tree.
#include "capture/wsq/ByteIo.h"
#include "capture/wsq/Huffman.h"
#include "capture/wsq/Wavelet.h"
#include "capture/wsq/Wsq.h"
#include "capture/wsq/WsqCommon.h"
#include "capture/wsq/WsqTree.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <new>

namespace qev::wsq {

namespace {

struct Frame {
    int width = 0;
    int height = 0;
    double mean = 0.0;  // M
    double scale = 0.0; // R
    int encoder = 0;
    int software = 0;
};

struct Quantisation {
    double binCentre = 0.0;                // C
    std::array<double, kSubbandCount> q{}; // bin widths; 0 = subband not coded
    std::array<double, kSubbandCount> z{}; // zero-bin widths
};

// Reads bits from one restart interval of entropy data with the stuffed zero bytes already removed; past the
// end it reads ones, as the padding does.
class BitReader {
public:
    explicit BitReader(const std::vector<uint8_t>& bytes) : m_bytes(bytes), m_bits(bytes.size() * 8) {}

    size_t remaining() const { return m_bits - m_pos; }
    uint32_t peek16() const {
        const size_t byte = m_pos >> 3;
        uint32_t v = 0;
        for (size_t i = 0; i < 3; ++i)
            v = v << 8 | (byte + i < m_bytes.size() ? m_bytes[byte + i] : 0xFFu);
        return (v >> (8 - (m_pos & 7))) & 0xFFFF;
    }
    void skip(size_t n) { m_pos += n; }
    uint32_t take(int n) {
        if (static_cast<size_t>(n) > remaining()) throw FormatError("datos WSQ truncados dentro de un bloque");
        const uint32_t v = peek16() >> (16 - n);
        m_pos += static_cast<size_t>(n);
        return v;
    }
    // True when every bit left is a one: padding (some encoders pad with a whole extra 0xFF byte).
    bool onlyPadding() const {
        const size_t r = remaining();
        const size_t firstBits = std::min<size_t>(r, 8 - (m_pos & 7));
        if ((peek16() >> (16 - firstBits)) != (1u << firstBits) - 1) return false;
        for (size_t i = (m_pos + firstBits) >> 3; i < m_bytes.size(); ++i)
            if (m_bytes[i] != 0xFF) return false;
        return true;
    }

private:
    const std::vector<uint8_t>& m_bytes;
    size_t m_bits;
    size_t m_pos = 0;
};

class Decoder {
public:
    explicit Decoder(std::span<const uint8_t> data) : m_in(data) {}

    DecodedImage run();

private:
    size_t segmentEnd();
    void readFrame();
    void readTransform();
    void readQuantisation();
    void readHuffman();
    void readRestart();
    void readComment();
    void readBlock();
    void decodeInterval(const std::vector<uint8_t>& bytes, const HuffmanDecoder& table);
    void pushZeros(uint32_t n);
    void pushValue(int32_t v);
    DecodedImage finish();

    ByteReader m_in;
    std::optional<Frame> m_frame;
    std::optional<FilterBank> m_bank;
    std::optional<Quantisation> m_quant;
    std::array<std::optional<HuffmanDecoder>, kMaxHuffmanTables> m_tables;
    std::vector<std::string> m_comments;
    int m_restartInterval = 0;
    bool m_blocksStarted = false;
    size_t m_expected = 0;
    std::vector<int32_t> m_coeffs;
    std::vector<uint8_t> m_interval;
};

size_t Decoder::segmentEnd() {
    const size_t start = m_in.pos();
    const uint16_t len = m_in.u16();
    if (len < 2) throw FormatError("longitud de segmento WSQ inválida");
    const size_t end = start + len;
    if (end > m_in.data().size()) throw FormatError("el archivo WSQ está truncado");
    return end;
}

void Decoder::readFrame() {
    if (m_frame) throw FormatError("el archivo WSQ tiene dos cabeceras de imagen");
    const size_t end = segmentEnd();
    if (end - m_in.pos() + 2 != kSofLength) throw FormatError("cabecera de imagen WSQ de longitud inválida");
    Frame f;
    m_in.u8(); // black level: not used, some encoders write 0
    m_in.u8(); // white level: likewise
    f.height = m_in.u16();
    f.width = m_in.u16();
    ScaledValue m;
    m.exponent = m_in.u8();
    m.integer = m_in.u16();
    ScaledValue r;
    r.exponent = m_in.u8();
    r.integer = m_in.u16();
    f.encoder = m_in.u8();
    f.software = m_in.u16();
    f.mean = m.decodedValue();
    f.scale = r.decodedValue();
    if (f.width < kMinDecodeSide || f.height < kMinDecodeSide)
        throw FormatError("imagen WSQ demasiado pequeña (" + std::to_string(f.width) + "x" + std::to_string(f.height) +
                          ")");
    if (int64_t{f.width} * f.height > kMaxPixels)
        throw FormatError("imagen WSQ demasiado grande (" + std::to_string(f.width) + "x" + std::to_string(f.height) +
                          ")");
    if (!std::isfinite(f.mean) || !std::isfinite(f.scale)) throw FormatError("escala de imagen WSQ inválida");
    m_frame = f;
}

void Decoder::readTransform() {
    const size_t end = segmentEnd();
    const int lowLen = m_in.u8();
    const int highLen = m_in.u8();
    const size_t lowHalf = static_cast<size_t>(lowLen + 1) / 2, highHalf = static_cast<size_t>(highLen + 1) / 2;
    if (end - m_in.pos() != 6 * (lowHalf + highHalf))
        throw FormatError("tabla de transformada WSQ de longitud inválida");
    auto readHalf = [&](size_t n) {
        std::vector<double> v;
        for (size_t i = 0; i < n; ++i) {
            const uint8_t sign = m_in.u8(); // 0 positive, otherwise negative
            ScaledValue s;
            s.exponent = m_in.u8();
            s.integer = m_in.u32();
            v.push_back(sign ? -s.decodedValue() : s.decodedValue());
        }
        return v;
    };
    const std::vector<double> lo = readHalf(lowHalf);
    const std::vector<double> hi = readHalf(highHalf);
    auto bank = makeFilterBank(lo, lowLen, hi, highLen);
    if (!bank) throw FormatError(bank.error());
    m_bank = std::move(*bank);
}

void Decoder::readQuantisation() {
    if (m_blocksStarted) throw FormatError("tabla de cuantización WSQ después de los datos");
    const size_t end = segmentEnd();
    if (end - m_in.pos() + 2 != kDqtLength) throw FormatError("tabla de cuantización WSQ de longitud inválida");
    auto scaled = [&] {
        ScaledValue s;
        s.exponent = m_in.u8();
        s.integer = m_in.u16();
        return s.decodedValue();
    };
    Quantisation q;
    q.binCentre = scaled();
    for (int k = 0; k < kSubbandCount; ++k) {
        q.q[static_cast<size_t>(k)] = scaled();
        q.z[static_cast<size_t>(k)] = scaled();
    }
    for (int k = kCodedSubbands; k < kSubbandCount; ++k)
        if (q.q[static_cast<size_t>(k)] != 0.0)
            throw FormatError("tabla de cuantización WSQ con subbandas no admitidas");
    m_quant = q;
}

void Decoder::readHuffman() {
    const size_t end = segmentEnd();
    if (m_in.pos() == end) throw FormatError("tabla Huffman WSQ vacía");
    while (m_in.pos() < end) {
        const int id = m_in.u8();
        if (id >= kMaxHuffmanTables) throw FormatError("número de tabla Huffman WSQ inválido");
        HuffmanTable def;
        size_t total = 0;
        for (auto& c : def.counts) {
            c = m_in.u8();
            total += c;
        }
        if (total > 256 || m_in.pos() + total > end) throw FormatError("tabla Huffman WSQ de longitud inválida");
        for (size_t i = 0; i < total; ++i)
            def.symbols.push_back(m_in.u8());
        auto dec = HuffmanDecoder::make(def);
        if (!dec) throw FormatError(dec.error());
        m_tables[static_cast<size_t>(id)] = std::move(*dec);
    }
}

void Decoder::readRestart() {
    const size_t end = segmentEnd();
    if (end - m_in.pos() + 2 != kDrtLength) throw FormatError("segmento de reinicio WSQ de longitud inválida");
    m_restartInterval = m_in.u16();
}

void Decoder::readComment() {
    const size_t end = segmentEnd();
    const auto d = m_in.data();
    m_comments.emplace_back(reinterpret_cast<const char*>(d.data() + m_in.pos()), end - m_in.pos());
    m_in.seek(end);
}

void Decoder::pushZeros(uint32_t n) {
    if (n > m_expected - m_coeffs.size()) throw FormatError("el bloque WSQ tiene más coeficientes que la imagen");
    m_coeffs.insert(m_coeffs.end(), n, 0);
}

void Decoder::pushValue(int32_t v) {
    if (m_coeffs.size() >= m_expected) throw FormatError("el bloque WSQ tiene más coeficientes que la imagen");
    m_coeffs.push_back(v);
}

void Decoder::decodeInterval(const std::vector<uint8_t>& bytes, const HuffmanDecoder& t) {
    BitReader br(bytes);
    while (br.remaining() > 0) {
        const uint32_t v = br.peek16();
        int symbol = -1, length = 0;
        const uint16_t fast = t.fast[v >> (16 - HuffmanDecoder::kFastBits)];
        if (fast) {
            symbol = fast >> 8;
            length = fast & 0xFF;
        } else {
            for (int len = HuffmanDecoder::kFastBits + 1; len <= 16; ++len) {
                const int32_t code = static_cast<int32_t>(v >> (16 - len));
                if (code <= t.maxCode[static_cast<size_t>(len)]) {
                    const int32_t idx = t.valueOffset[static_cast<size_t>(len)] + code;
                    if (idx < 0 || static_cast<size_t>(idx) >= t.symbols.size()) break;
                    symbol = t.symbols[static_cast<size_t>(idx)];
                    length = len;
                    break;
                }
            }
        }
        if (symbol < 0 || static_cast<size_t>(length) > br.remaining()) {
            if (br.onlyPadding()) return;
            throw FormatError("código Huffman WSQ inválido");
        }
        br.skip(static_cast<size_t>(length));
        if (symbol >= 1 && symbol <= kMaxShortRun) {
            pushZeros(static_cast<uint32_t>(symbol));
        } else if (symbol == kPos8 || symbol == kNeg8) {
            const int32_t m = static_cast<int32_t>(br.take(8));
            pushValue(symbol == kPos8 ? m : -m);
        } else if (symbol == kPos16 || symbol == kNeg16) {
            const int32_t m = static_cast<int32_t>(br.take(16));
            pushValue(symbol == kPos16 ? m : -m);
        } else if (symbol == kRun8) {
            pushZeros(br.take(8));
        } else if (symbol == kRun16) {
            pushZeros(br.take(16));
        } else if (symbol > kRun16 && symbol < 255) {
            pushValue(symbol - kSmallBias);
        } else {
            throw FormatError("símbolo WSQ inválido");
        }
    }
}

void Decoder::readBlock() {
    const size_t end = segmentEnd();
    if (end - m_in.pos() + 2 != kSobLength) throw FormatError("cabecera de bloque WSQ de longitud inválida");
    const int id = m_in.u8();
    if (!m_frame) throw FormatError("bloque WSQ antes de la cabecera de imagen");
    if (!m_quant) throw FormatError("bloque WSQ sin tabla de cuantización");
    if (id >= kMaxHuffmanTables || !m_tables[static_cast<size_t>(id)])
        throw FormatError("bloque WSQ con tabla Huffman no definida");
    if (!m_blocksStarted) {
        m_blocksStarted = true;
        const Tree tree = buildTree(m_frame->width, m_frame->height);
        m_expected = 0;
        for (int k = 0; k < kCodedSubbands; ++k)
            if (m_quant->q[static_cast<size_t>(k)] > 0.0)
                m_expected += static_cast<size_t>(tree.subbands[static_cast<size_t>(k)].w) *
                              static_cast<size_t>(tree.subbands[static_cast<size_t>(k)].h);
        m_coeffs.reserve(std::min<size_t>(m_expected, m_in.data().size() * 16));
    }
    const HuffmanDecoder& table = *m_tables[static_cast<size_t>(id)];
    const auto d = m_in.data();
    size_t p = m_in.pos();
    int nextRestart = -1;
    m_interval.clear();
    for (;;) {
        if (p >= d.size()) throw FormatError("el archivo WSQ está truncado");
        const uint8_t b = d[p];
        if (b != 0xFF) {
            m_interval.push_back(b);
            ++p;
            continue;
        }
        if (p + 1 >= d.size()) throw FormatError("el archivo WSQ está truncado");
        const uint8_t n = d[p + 1];
        if (n == 0x00) {
            m_interval.push_back(0xFF);
            p += 2;
            continue;
        }
        const uint16_t marker = static_cast<uint16_t>(0xFF00 | n);
        decodeInterval(m_interval, table);
        m_interval.clear();
        if (marker >= kRst0 && marker <= kRst7) {
            const int r = marker - kRst0;
            if (nextRestart >= 0 && r != nextRestart) throw FormatError("marcador de reinicio WSQ fuera de orden");
            nextRestart = (r + 1) % 8;
            p += 2;
            continue;
        }
        break;
    }
    m_in.seek(p);
}

DecodedImage Decoder::run() {
    if (m_in.remaining() < 2 || m_in.u16() != kSoi)
        throw FormatError("no es un archivo WSQ (falta el inicio de imagen)");
    for (;;) {
        const uint16_t marker = m_in.u16();
        switch (marker) {
        case kSof:
            readFrame();
            break;
        case kDtt:
            readTransform();
            break;
        case kDqt:
            readQuantisation();
            break;
        case kDht:
            readHuffman();
            break;
        case kDrt:
            readRestart();
            break;
        case kCom:
            readComment();
            break;
        case kSob:
            readBlock();
            break;
        case kEoi:
            return finish();
        default:
            throw FormatError("marcador WSQ inesperado");
        }
    }
}

DecodedImage Decoder::finish() {
    if (!m_frame) throw FormatError("el archivo WSQ no tiene cabecera de imagen");
    if (!m_bank) throw FormatError("el archivo WSQ no tiene tabla de transformada");
    if (!m_quant) throw FormatError("el archivo WSQ no tiene tabla de cuantización");
    if (!m_blocksStarted) throw FormatError("el archivo WSQ no tiene datos");
    if (m_coeffs.size() != m_expected) throw FormatError("el archivo WSQ tiene menos coeficientes que la imagen");
    const Frame& f = *m_frame;
    const Tree tree = buildTree(f.width, f.height);
    std::vector<float> img(static_cast<size_t>(f.width) * static_cast<size_t>(f.height), 0.0f);
    const float c = static_cast<float>(m_quant->binCentre);
    size_t at = 0;
    for (int k = 0; k < kCodedSubbands; ++k) {
        const float q = static_cast<float>(m_quant->q[static_cast<size_t>(k)]);
        if (!(q > 0.0f)) continue;
        const float halfZ = static_cast<float>(m_quant->z[static_cast<size_t>(k)] / 2.0);
        const Region& r = tree.subbands[static_cast<size_t>(k)];
        for (int y = 0; y < r.h; ++y) {
            float* row = img.data() + static_cast<size_t>(r.y + y) * static_cast<size_t>(f.width) + r.x;
            for (int x = 0; x < r.w; ++x) {
                const int32_t p = m_coeffs[at++];
                row[x] = p > 0 ? q * (static_cast<float>(p) - c) + halfZ
                               : (p < 0 ? q * (static_cast<float>(p) + c) - halfZ : 0.0f);
            }
        }
    }
    synthesise(img, f.width, tree, *m_bank);

    DecodedImage out;
    out.image.width = f.width;
    out.image.height = f.height;
    out.image.pixels.resize(img.size());
    const float rs = static_cast<float>(f.scale), ms = static_cast<float>(f.mean);
    for (size_t i = 0; i < img.size(); ++i) {
        const float v = img[i] * rs + ms + 0.5f;
        // NaN (from absurd but accepted tables) lands on 0 rather than in an undefined conversion.
        out.image.pixels[i] = !(v > 0.0f) ? 0 : (v >= 255.0f ? 255 : static_cast<uint8_t>(v));
    }
    out.encoderNumber = f.encoder;
    out.softwareNumber = f.software;
    out.comments = std::move(m_comments);
    for (const std::string& com : out.comments) {
        if (com.rfind("NIST_COM", 0) != 0) continue;
        size_t pos = 0;
        while (pos < com.size()) {
            size_t eol = com.find('\n', pos);
            if (eol == std::string::npos) eol = com.size();
            const std::string line = com.substr(pos, eol - pos);
            if (line.rfind("PPI ", 0) == 0) out.ppi = std::atoi(line.c_str() + 4);
            pos = eol + 1;
        }
    }
    return out;
}

} // namespace

Result<DecodedImage> decode(std::span<const uint8_t> data) {
    try {
        return Decoder(data).run();
    } catch (const FormatError& e) {
        return fail(e.what());
    } catch (const std::bad_alloc&) {
        return fail("memoria insuficiente para decodificar la imagen WSQ");
    }
}

} // namespace qev::wsq
