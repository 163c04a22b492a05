#include "capture/wsq/ByteIo.h"

#include <cmath>

namespace qev::wsq {

void ByteReader::need(size_t n) const {
    if (n > m_data.size() - m_pos) throw FormatError("el archivo WSQ está truncado");
}

void ByteReader::seek(size_t pos) {
    if (pos > m_data.size()) throw FormatError("el archivo WSQ está truncado");
    m_pos = pos;
}

void ByteReader::skip(size_t n) {
    need(n);
    m_pos += n;
}

uint8_t ByteReader::u8() {
    need(1);
    return m_data[m_pos++];
}

uint16_t ByteReader::u16() {
    need(2);
    const uint16_t v = static_cast<uint16_t>(m_data[m_pos] << 8 | m_data[m_pos + 1]);
    m_pos += 2;
    return v;
}

uint32_t ByteReader::u32() {
    need(4);
    const uint32_t v = static_cast<uint32_t>(m_data[m_pos]) << 24 | static_cast<uint32_t>(m_data[m_pos + 1]) << 16 |
                       static_cast<uint32_t>(m_data[m_pos + 2]) << 8 | m_data[m_pos + 3];
    m_pos += 4;
    return v;
}

void ByteWriter::u16(unsigned v) {
    u8(v >> 8 & 0xFF);
    u8(v & 0xFF);
}

void ByteWriter::u32(uint32_t v) {
    u16(v >> 16);
    u16(v & 0xFFFF);
}

void ByteWriter::patchU16(size_t at, unsigned v) {
    m_bytes.at(at) = static_cast<uint8_t>(v >> 8 & 0xFF);
    m_bytes.at(at + 1) = static_cast<uint8_t>(v & 0xFF);
}

double ScaledValue::value() const {
    return static_cast<double>(integer) / std::pow(10.0, exponent);
}

float ScaledValue::decodedValue() const {
    auto v = static_cast<float>(integer);
    for (int e = exponent; e > 0; --e)
        v = static_cast<float>(static_cast<double>(v) / 10.0);
    return v;
}

ScaledValue toScaled(double value, uint32_t maxInteger) {
    ScaledValue s;
    if (!(value > 0.0)) return s;
    double v = value;
    uint8_t e = 0;
    // Scale up while the next power of ten still fits; 255 is the largest exponent the byte holds.
    while (e < 255 && std::llround(v * 10.0) <= static_cast<long long>(maxInteger)) {
        v *= 10.0;
        ++e;
    }
    const long long rounded = std::llround(v);
    s.exponent = e;
    s.integer = static_cast<uint32_t>(rounded > static_cast<long long>(maxInteger) ? maxInteger : rounded);
    return s;
}

} // namespace qev::wsq
