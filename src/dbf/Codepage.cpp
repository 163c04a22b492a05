#include "dbf/Codepage.h"

#include <iconv.h>

#include <array>
#include <cstring>
#include <memory>

namespace qev::dbf {

namespace {

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Decodes one UTF-8 sequence; false on a malformed one.
bool nextUtf8(std::string_view s, size_t& i, char32_t& c) {
    const auto b = static_cast<unsigned char>(s[i]);
    int extra = 0;
    if (b < 0x80) {
        c = b;
    } else if ((b & 0xE0) == 0xC0) {
        c = b & 0x1F;
        extra = 1;
    } else if ((b & 0xF0) == 0xE0) {
        c = b & 0x0F;
        extra = 2;
    } else if ((b & 0xF8) == 0xF0) {
        c = b & 0x07;
        extra = 3;
    } else {
        return false;
    }
    if (i + static_cast<size_t>(extra) >= s.size()) return false;
    for (int k = 1; k <= extra; ++k) {
        const auto cb = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
        if ((cb & 0xC0) != 0x80) return false;
        c = (c << 6) | (cb & 0x3F);
    }
    i += static_cast<size_t>(extra) + 1;
    return true;
}

const char* iconvName(const std::string& name) {
    if (name == "cp850") return "CP850";
    if (name == "cp437") return "CP437";
    return "CP1252";
}

} // namespace

Codepage::Codepage(std::string name) : m_name(std::move(name)) {
    // The tables are taken from the C library's converters once; bytes it does not map pass through as the
    // control character of the same number, as Windows does for the holes of code page 1252.
    iconv_t cd = iconv_open("UTF-32LE", iconvName(m_name));
    for (int b = 0; b < 256; ++b) {
        char32_t cp = static_cast<char32_t>(b);
        if (b >= 0x80 && cd != reinterpret_cast<iconv_t>(-1)) {
            char in[1] = {static_cast<char>(b)};
            std::array<unsigned char, 8> outBuf{};
            char* inPtr = in;
            size_t inLeft = 1;
            char* outPtr = reinterpret_cast<char*>(outBuf.data());
            size_t outLeft = outBuf.size();
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1) && outLeft == 4) {
                cp = static_cast<char32_t>(outBuf[0] | (outBuf[1] << 8) | (outBuf[2] << 16) | (outBuf[3] << 24));
            }
        }
        m_toUnicode[b] = cp;
    }
    if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
    for (int b = 255; b >= 0; --b)
        m_fromUnicode[m_toUnicode[b]] = static_cast<uint8_t>(b);
}

const Codepage& Codepage::byName(std::string_view name) {
    static const Codepage cp1252("cp1252");
    static const Codepage cp850("cp850");
    static const Codepage cp437("cp437");
    if (name == "cp850") return cp850;
    if (name == "cp437") return cp437;
    return cp1252;
}

const Codepage& Codepage::forTable(uint8_t ldid, std::string_view driverName) {
    if (!driverName.empty()) {
        if (driverName.substr(0, 5) == "DB850") return byName("cp850");
        if (driverName.substr(0, 5) == "DB437") return byName("cp437");
        return byName("cp1252");
    }
    switch (ldid) {
    case 0x01:
    case 0x1B:
        return byName("cp437");
    case 0x02:
    case 0x37:
        return byName("cp850");
    default:
        return byName("cp1252");
    }
}

std::string Codepage::toUtf8(std::string_view bytes) const {
    std::string out;
    out.reserve(bytes.size());
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x80) {
            out += ch;
        } else {
            appendUtf8(out, m_toUnicode[b]);
        }
    }
    return out;
}

bool Codepage::fromUtf8(std::string_view utf8, std::string& out) const {
    out.clear();
    out.reserve(utf8.size());
    size_t i = 0;
    while (i < utf8.size()) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        if (b < 0x80) {
            out += static_cast<char>(b);
            ++i;
            continue;
        }
        char32_t c = 0;
        if (!nextUtf8(utf8, i, c)) return false;
        const auto it = m_fromUnicode.find(c);
        if (it == m_fromUnicode.end()) return false;
        out += static_cast<char>(it->second);
    }
    return true;
}

uint8_t ldidForDriver(std::string_view driverName) {
    if (driverName == "DB437US0") return 0x1B;
    if (driverName == "DB850US0") return 0x37;
    if (driverName == "DBWINWE0") return 0x58;
    if (driverName == "DBWINES0") return 0x59;
    return 0x57;
}

} // namespace qev::dbf
