// Restart markers: a stream re-cut into restart intervals (DRT + RSTn, each interval byte-aligned) decodes to
// exactly the pixels of the stream without them.
#include "WsqTestUtil.h"

#include "capture/wsq/Huffman.h"
#include "capture/wsq/Wsq.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

using namespace qev;

namespace {

uint16_t be16(const std::vector<uint8_t>& s, size_t at) {
    return static_cast<uint16_t>(s.at(at) << 8 | s.at(at + 1));
}

struct Bits {
    std::vector<uint8_t> bytes;
    size_t pos = 0;
    size_t size() const { return bytes.size() * 8; }
    int bit(size_t at) const { return bytes[at >> 3] >> (7 - (at & 7)) & 1; }
    bool restAreOnes() const {
        for (size_t i = pos; i < size(); ++i)
            if (!bit(i)) return false;
        return true;
    }
};

class Writer {
public:
    std::vector<uint8_t> out;
    void put(int b) {
        m_acc = m_acc << 1 | b;
        if (++m_n == 8) flushByte();
    }
    void align() {
        while (m_n)
            put(1);
    }

private:
    void flushByte() {
        out.push_back(static_cast<uint8_t>(m_acc));
        if (m_acc == 0xFF) out.push_back(0);
        m_acc = 0;
        m_n = 0;
    }
    unsigned m_acc = 0;
    int m_n = 0;
};

// Rewrites every entropy block with a restart marker after each `interval` symbols, numbering RST0..RST7 from
// `firstRestart`, and adds a DRT segment before the first block.
std::vector<uint8_t> withRestarts(const std::vector<uint8_t>& s, int interval, int firstRestart = 0) {
    const auto segs = test::walkSegments(s);
    std::map<int, std::map<uint32_t, int>> tables; // id -> (length << 16 | code) -> symbol
    std::vector<uint8_t> out;
    bool drtWritten = false;
    for (const auto& seg : segs) {
        const size_t headerEnd = seg.offset + 2 + seg.length;
        if (seg.marker == 0xFFA6) {
            size_t p = seg.offset + 4;
            while (p < headerEnd) {
                const int id = s[p];
                wsq::HuffmanTable def;
                size_t total = 0;
                for (int i = 0; i < 16; ++i)
                    total += def.counts[size_t(i)] = s[p + 1 + size_t(i)];
                def.symbols.assign(s.begin() + long(p + 17), s.begin() + long(p + 17 + total));
                auto codes = wsq::canonicalCodes(def);
                EXPECT_TRUE(codes);
                for (int sym = 0; sym < 256; ++sym)
                    if ((*codes)[size_t(sym)].length)
                        tables[id][uint32_t((*codes)[size_t(sym)].length) << 16 | (*codes)[size_t(sym)].bits] = sym;
                p += 17 + total;
            }
        }
        if (seg.marker == 0xFFA3 && !drtWritten) {
            for (int b : {0xFF, 0xA7, 0x00, 0x04, interval >> 8, interval & 0xFF})
                out.push_back(static_cast<uint8_t>(b));
            drtWritten = true;
        }
        const size_t copyEnd = seg.marker == 0xFFA0 || seg.marker == 0xFFA1 ? seg.offset + 2 : headerEnd;
        out.insert(out.end(), s.begin() + long(seg.offset), s.begin() + long(copyEnd));
        if (seg.marker != 0xFFA3) continue;

        Bits in;
        for (size_t i = headerEnd; i < headerEnd + seg.dataBytes; ++i) {
            in.bytes.push_back(s[i]);
            if (s[i] == 0xFF) ++i;
        }
        const auto& table = tables.at(s[seg.offset + 4]);
        Writer w;
        int symbols = 0, restart = firstRestart;
        while (!in.restAreOnes()) {
            uint32_t code = 0;
            int sym = -1, len = 0;
            while (sym < 0 && len < 16) {
                code = code << 1 | uint32_t(in.bit(in.pos + size_t(len)));
                ++len;
                auto it = table.find(uint32_t(len) << 16 | code);
                if (it != table.end()) sym = it->second;
            }
            EXPECT_GE(sym, 0);
            if (sym < 0) return {};
            const int extra = (sym == 101 || sym == 102 || sym == 105)   ? 8
                              : (sym == 103 || sym == 104 || sym == 106) ? 16
                                                                         : 0;
            if (symbols > 0 && symbols % interval == 0) {
                w.align();
                w.out.push_back(0xFF);
                w.out.push_back(static_cast<uint8_t>(0xB0 + restart));
                restart = (restart + 1) % 8;
            }
            for (int i = 0; i < len + extra; ++i)
                w.put(in.bit(in.pos++));
            ++symbols;
        }
        w.align();
        out.insert(out.end(), w.out.begin(), w.out.end());
    }
    return out;
}

int countRestarts(const std::vector<uint8_t>& s) {
    int n = 0;
    for (size_t i = 0; i + 1 < s.size(); ++i)
        if (s[i] == 0xFF && s[i + 1] >= 0xB0 && s[i + 1] <= 0xB7) ++n;
    return n;
}

TEST(WsqRestartTest, RestartIntervalsDecodeLikeTheOriginal) {
    const std::string dir = test::fingerprintDir() + "/";
    for (const char* name : {"nist_finger_500x500.nbis075.wsq", "an2k_valid1.1_r3.wsq"}) {
        SCOPED_TRACE(name);
        const auto plain = test::loadBytes(dir + name);
        auto ref = wsq::decode(plain);
        ASSERT_TRUE(ref) << ref.error();
        for (int interval : {1, 7, 64, 1000}) {
            SCOPED_TRACE(interval);
            const auto cut = withRestarts(plain, interval);
            ASSERT_FALSE(cut.empty());
            EXPECT_GT(countRestarts(cut), 8); // the numbering wraps past RST7
            auto dec = wsq::decode(cut);
            ASSERT_TRUE(dec) << dec.error();
            EXPECT_EQ(dec->image.pixels, ref->image.pixels);
        }
    }
}

TEST(WsqRestartTest, RestartsOutOfOrderAreRefused) {
    const auto plain = test::loadBytes(test::fingerprintDir() + "/an2k_valid1.1_r3.wsq");
    auto cut = withRestarts(plain, 50);
    ASSERT_FALSE(cut.empty());
    // Swap the numbers of the second and third restart markers of the first block.
    std::vector<size_t> at;
    for (size_t i = 0; i + 1 < cut.size(); ++i)
        if (cut[i] == 0xFF && cut[i + 1] >= 0xB0 && cut[i + 1] <= 0xB7) at.push_back(i + 1);
    ASSERT_GT(at.size(), 3u);
    std::swap(cut[at[1]], cut[at[2]]);
    auto dec = wsq::decode(cut);
    ASSERT_FALSE(dec);
    EXPECT_NE(dec.error().find("reinicio"), std::string::npos) << dec.error();
    EXPECT_EQ(be16(cut, 0), 0xFFA0);
}

} // namespace

namespace {

std::vector<uint8_t> bytesOf(const std::vector<uint8_t>& s, const test::Segment& seg) {
    const size_t end = seg.offset + 2 + seg.length + seg.dataBytes;
    return {s.begin() + long(seg.offset), s.begin() + long(end)};
}

// Tables, frame and comments may come in any order and anywhere before the data that needs them, comments also
// after the last block, and Huffman tables may use any of the eight ids.
TEST(WsqSegmentOrderTest, TablesAndCommentsInAnyOrderDecodeAlike) {
    const auto plain = test::loadBytes(test::fingerprintDir() + "/nist_finger_500x500.nbis075.wsq");
    auto ref = wsq::decode(plain);
    ASSERT_TRUE(ref) << ref.error();
    const auto segs = test::walkSegments(plain);
    std::map<uint16_t, std::vector<std::vector<uint8_t>>> parts;
    for (const auto& seg : segs)
        parts[seg.marker].push_back(bytesOf(plain, seg));
    ASSERT_EQ(parts[0xFFA6].size(), 2u);
    ASSERT_EQ(parts[0xFFA3].size(), 3u);
    // Table ids 0 and 1 become 6 and 7, in the tables and in the blocks that select them.
    for (auto& d : parts[0xFFA6])
        d[4] = static_cast<uint8_t>(d[4] + 6);
    for (auto& b : parts[0xFFA3])
        b[4] = static_cast<uint8_t>(b[4] + 6);
    const std::vector<uint8_t> comment = {0xFF, 0xA8, 0x00, 0x06, 'f', 'i', 'n', '!'};
    std::vector<uint8_t> s = {0xFF, 0xA0};
    auto add = [&](const std::vector<uint8_t>& b) { s.insert(s.end(), b.begin(), b.end()); };
    add(parts[0xFFA6][1]); // second table first
    add(comment);
    add(parts[0xFFA2][0]); // frame before the tables
    add(parts[0xFFA5][0]);
    add(parts[0xFFA6][0]);
    add(parts[0xFFA3][0]);
    add(comment);
    add(parts[0xFFA3][1]);
    add(parts[0xFFA3][2]);
    add(parts[0xFFA4][0]); // transform table after the data
    add(parts[0xFFA8][0]);
    add(comment);
    s.push_back(0xFF);
    s.push_back(0xA1);
    auto dec = wsq::decode(s);
    ASSERT_TRUE(dec) << dec.error();
    EXPECT_EQ(dec->image.pixels, ref->image.pixels);
    EXPECT_EQ(dec->comments.size(), 4u);
    EXPECT_EQ(dec->ppi, 500);
}

} // namespace
