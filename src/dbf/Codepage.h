#pragma once
// Single-byte code pages of the tables' language drivers, converted to and from UTF-8.

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

namespace qev::dbf {

class Codepage {
public:
    // "cp1252", "cp850" or "cp437"; unknown names fall back to cp1252.
    static const Codepage& byName(std::string_view name);
    // The code page of a table: from the level-7 language driver name, else from the LDID byte.
    static const Codepage& forTable(uint8_t ldid, std::string_view driverName);

    const std::string& name() const { return m_name; }
    std::string toUtf8(std::string_view bytes) const;
    // False when a character has no byte in this code page or the text is not valid UTF-8.
    bool fromUtf8(std::string_view utf8, std::string& out) const;

private:
    explicit Codepage(std::string name);
    std::string m_name;
    char32_t m_toUnicode[256];
    std::unordered_map<char32_t, uint8_t> m_fromUnicode;
};

// LDID byte written for a language driver name in III/IV headers (0x57 for DBWINUS0).
uint8_t ldidForDriver(std::string_view driverName);

} // namespace qev::dbf
