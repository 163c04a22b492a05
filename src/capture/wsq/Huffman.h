#pragma once
// Huffman tables of the WSQ entropy coder: canonical codes of at most 16 bits described by 16 length counts and
// the symbols in code order, a table-driven decoder, and length-limited tables built from symbol counts.

#include "capture/wsq/Result.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace qev::wsq {

struct HuffmanTable {
    std::array<uint8_t, 16> counts{}; // number of codes of length 1..16
    std::vector<uint8_t> symbols;     // in code order
};

struct Code {
    uint16_t bits = 0;
    uint8_t length = 0; // 0: symbol has no code
};

// Canonical codes for every symbol; fails when the counts overflow the code space.
Result<std::array<Code, 256>> canonicalCodes(const HuffmanTable& def);

// Optimal code lengths limited to 16 bits for the given symbol counts; the all-ones code stays unused.
HuffmanTable buildTable(const std::array<uint32_t, 256>& frequencies);

class HuffmanDecoder {
public:
    static Result<HuffmanDecoder> make(const HuffmanTable& def);

    static constexpr int kFastBits = 10;
    // Fast entry: symbol << 8 | length, 0 when the code is longer than kFastBits or unassigned.
    std::array<uint16_t, 1 << kFastBits> fast{};
    std::array<int32_t, 18> maxCode{}; // largest code of each length, -1 if none
    std::array<int32_t, 17> valueOffset{};
    std::vector<uint8_t> symbols;
};

} // namespace qev::wsq
