#pragma once
// A reader of production index files for the tests, written from the file layout alone and sharing nothing with
// the engine: header page, tag table, tag headers and B-tree blocks, walked in key order. It trusts nothing it
// reads (every offset is bounds-checked, every page visited once) and reports the first oddity as text.

#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace qev::test {

struct DecodedTag {
    std::string name;
    std::string expression;
    char keyType = 0;
    int keyLength = 0;
    std::vector<std::string> keys; // in tree order
    std::vector<uint32_t> records; // the record each key points at
};

struct DecodedMdx {
    int version = 0;
    std::string table;
    std::vector<DecodedTag> tags;
    std::string error; // empty when the whole file decoded
};

// A 12-byte BCD number key: byte 0 is 0x34 plus the digits before the point, byte 1 the digit count in bits 2-6 and
// the sign in bit 7, then the digits two to a byte.
inline double decodeBcdKey(const std::string& k) {
    if (k.size() < 12) return NAN;
    const auto u = [&k](size_t i) { return static_cast<unsigned char>(k[i]); };
    const int exponent = static_cast<int>(u(0)) - 0x34;
    const int digits = (u(1) >> 2) & 0x1F;
    double v = 0;
    for (int i = 0; i < digits && i < 20; ++i) {
        const int d = i % 2 == 0 ? u(2 + i / 2) >> 4 : u(2 + i / 2) & 0x0F;
        v += d * std::pow(10.0, exponent - 1 - i);
    }
    return (u(1) & 0x80) ? -v : v;
}

inline DecodedMdx decodeMdx(const std::string& path) {
    DecodedMdx out;
    std::ifstream in(path, std::ios::binary);
    const std::string f((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto byte = [&f](size_t at) -> uint32_t { return at < f.size() ? static_cast<unsigned char>(f[at]) : 0; };
    const auto u16 = [&](size_t at) { return byte(at) | byte(at + 1) << 8; };
    const auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
    if (f.size() < 2048) {
        out.error = "shorter than the header pages";
        return out;
    }
    out.version = static_cast<int>(byte(0));
    out.table = std::string(f.data() + 4, 16).c_str();
    const uint32_t blockBytes = u16(22);
    const uint32_t stride = byte(26);
    const uint32_t count = u16(28);
    if (blockBytes == 0 || blockBytes % 512 != 0 || stride < 32 || 544 + count * stride > 2048) {
        out.error = "bad header";
        return out;
    }
    for (uint32_t t = 0; t < count; ++t) {
        const size_t e = 544 + t * stride;
        DecodedTag tag;
        const size_t nameBytes = out.version == 3 && stride >= 48 ? 33 : 11;
        tag.name = std::string(f.data() + e + 4, nameBytes).c_str();
        const size_t th = static_cast<size_t>(u32(e)) * 512;
        if (th + 512 > f.size()) {
            out.error = tag.name + ": tag header outside the file";
            return out;
        }
        tag.keyType = static_cast<char>(byte(th + 9));
        tag.keyLength = static_cast<int>(u16(th + 12));
        const uint32_t item = u16(th + 18);
        tag.expression = std::string(f.data() + th + 24, 220).c_str();
        if (item < static_cast<uint32_t>(tag.keyLength) + 4) {
            out.error = tag.name + ": item shorter than its key";
            return out;
        }
        std::set<uint32_t> visited;
        // Depth-first, children left to right: items' pointers, then the trailing one of an interior block.
        const auto visit = [&](auto&& self, uint32_t page, int depth) -> bool {
            const size_t at = static_cast<size_t>(page) * 512;
            if (depth > 30 || !visited.insert(page).second || page < 4 || at + blockBytes > f.size()) {
                out.error = tag.name + ": bad page " + std::to_string(page);
                return false;
            }
            const uint32_t n = u32(at);
            if (8 + n * item + 4 > blockBytes) {
                out.error = tag.name + ": too many keys in page " + std::to_string(page);
                return false;
            }
            const uint32_t last = u32(at + 8 + n * item);
            for (uint32_t i = 0; i < n; ++i) {
                const size_t it = at + 8 + i * item;
                if (last == 0) {
                    tag.records.push_back(u32(it));
                    tag.keys.emplace_back(f.data() + it + 4, static_cast<size_t>(tag.keyLength));
                } else if (!self(self, u32(it), depth + 1)) {
                    return false;
                }
            }
            return last == 0 || self(self, last, depth + 1);
        };
        if (!visit(visit, u32(th), 0)) return out;
        out.tags.push_back(std::move(tag));
    }
    return out;
}

} // namespace qev::test
