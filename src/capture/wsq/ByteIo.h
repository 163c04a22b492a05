#pragma once
// Big-endian byte reading with bounds checks and byte writing for the WSQ segments. A read past the end throws
// FormatError, which the codec catches at its entry points.

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace qev::wsq {

class FormatError : public std::runtime_error {
public:
    explicit FormatError(const std::string& what) : std::runtime_error(what) {}
};

class ByteReader {
public:
    explicit ByteReader(std::span<const uint8_t> data) : m_data(data) {}

    size_t pos() const { return m_pos; }
    size_t remaining() const { return m_data.size() - m_pos; }
    std::span<const uint8_t> data() const { return m_data; }
    void seek(size_t pos);
    void skip(size_t n);
    uint8_t u8();
    uint16_t u16();
    uint32_t u32();

private:
    void need(size_t n) const;

    std::span<const uint8_t> m_data;
    size_t m_pos = 0;
};

class ByteWriter {
public:
    void u8(unsigned v) { m_bytes.push_back(static_cast<uint8_t>(v)); }
    void u16(unsigned v);
    void u32(uint32_t v);
    void bytes(std::span<const uint8_t> b) { m_bytes.insert(m_bytes.end(), b.begin(), b.end()); }
    // Writes a big-endian u16 at an earlier position (segment lengths known only afterwards).
    void patchU16(size_t at, unsigned v);
    size_t size() const { return m_bytes.size(); }
    std::vector<uint8_t>& buffer() { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
};

// A decimal value sent as an integer and a power-of-ten divisor: value = integer / 10^exponent.
struct ScaledValue {
    uint8_t exponent = 0;
    uint32_t integer = 0;
    double value() const;
    // The value as the decoders in the field compute it: the integer as a float, divided by ten once for every step
    // of the exponent with the quotient rounded to float each time. It can differ from value() in the last bit, and
    // that bit decides some decoded pixels, so the decoder reads every table with it.
    float decodedValue() const;
};

// The most precise scaled form of a non-negative value whose integer fits in maxInteger.
ScaledValue toScaled(double value, uint32_t maxInteger);

} // namespace qev::wsq
