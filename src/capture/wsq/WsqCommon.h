#pragma once
// Layout facts shared by the encoder and decoder: markers, entropy blocks and the NIST_COM comment.

#include <cstdint>

namespace qev::wsq {

enum Marker : uint16_t {
    kSoi = 0xFFA0,
    kEoi = 0xFFA1,
    kSof = 0xFFA2,
    kSob = 0xFFA3,
    kDtt = 0xFFA4,
    kDqt = 0xFFA5,
    kDht = 0xFFA6,
    kDrt = 0xFFA7,
    kCom = 0xFFA8,
    kRst0 = 0xFFB0,
    kRst7 = 0xFFB7,
};

constexpr int kSofLength = 17;
constexpr int kDqtLength = 389;
constexpr int kSobLength = 3;
constexpr int kDrtLength = 4;
constexpr int kMaxHuffmanTables = 8;

// Subbands [first, end) coded as one entropy block, and the table the encoder gives it.
struct BlockRange {
    int first;
    int end;
    int table;
};
constexpr BlockRange kBlocks[3] = {{0, 19, 0}, {19, 52, 1}, {52, 60, 1}};

// Entropy symbols.
constexpr int kMaxShortRun = 100;
constexpr int kPos8 = 101, kNeg8 = 102, kPos16 = 103, kNeg16 = 104, kRun8 = 105, kRun16 = 106;
constexpr int kSmallBias = 180; // symbol = value + 180 for -73..74
constexpr int kSmallMin = -73, kSmallMax = 74;

} // namespace qev::wsq
