// Damaged streams end in an error, never a crash or an out-of-bounds read (the asan preset runs these too).
#include "WsqTestUtil.h"

#include "capture/wsq/Wsq.h"
#include "capture/wsq/WsqPack.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace qev;

namespace {

std::vector<uint8_t> smallStream() {
    wsq::GreyImage g{160, 130, {}};
    g.pixels.resize(160 * 130);
    for (int y = 0; y < 130; ++y)
        for (int x = 0; x < 160; ++x)
            g.pixels[size_t(y) * 160 + x] = static_cast<uint8_t>(128 + 100 * std::sin(0.5 * x) * std::sin(0.3 * y));
    auto s = wsq::encode(g, 0.75f, 500);
    EXPECT_TRUE(s) << s.error();
    return *s;
}

std::vector<uint8_t> without(const std::vector<uint8_t>& s, const test::Segment& seg) {
    std::vector<uint8_t> out(s.begin(), s.begin() + long(seg.offset));
    out.insert(out.end(), s.begin() + long(seg.offset + 2 + seg.length + seg.dataBytes), s.end());
    return out;
}

const test::Segment& find(const std::vector<test::Segment>& segs, uint16_t marker) {
    for (const auto& s : segs)
        if (s.marker == marker) return s;
    throw std::runtime_error("segment missing");
}

TEST(WsqMalformedTest, TruncatedStreamsAreRefused) {
    for (const auto& s : {smallStream(), test::loadBytes(test::fingerprintDir() + "/an2k_valid1.1_r3.wsq")}) {
        const auto segs = test::walkSegments(s);
        ASSERT_TRUE(wsq::decode(s));
        std::vector<size_t> cuts = {0, 1, 2, 3};
        for (const auto& seg : segs) {
            cuts.push_back(seg.offset);
            cuts.push_back(seg.offset + 1);
            cuts.push_back(seg.offset + 3);
            if (seg.dataBytes) cuts.push_back(seg.offset + 5 + seg.dataBytes / 2);
        }
        cuts.push_back(s.size() - 1);
        for (size_t c : cuts) {
            if (c >= s.size()) continue;
            std::vector<uint8_t> t(s.begin(), s.begin() + long(c));
            auto d = wsq::decode(t);
            EXPECT_FALSE(d) << "cut at " << c;
        }
    }
}

TEST(WsqMalformedTest, BadSegmentLengthsAreRefused) {
    const auto s = smallStream();
    const auto segs = test::walkSegments(s);
    for (const auto& seg : segs) {
        if (seg.marker == 0xFFA0 || seg.marker == 0xFFA1) continue;
        for (int len : {0, 1, int(seg.length) - 1, int(seg.length) + 1, 0xFFFF}) {
            auto t = s;
            t[seg.offset + 2] = static_cast<uint8_t>(len >> 8);
            t[seg.offset + 3] = static_cast<uint8_t>(len & 0xFF);
            auto d = wsq::decode(t);
            // A comment of another length only moves where parsing resumes; every other segment has a fixed
            // or self-describing length.
            if (seg.marker != 0xFFA8 || len < 2 || len == 0xFFFF) {
                EXPECT_FALSE(d) << std::hex << seg.marker << std::dec << " length " << len;
            }
        }
    }
}

TEST(WsqMalformedTest, HugeAndTinyDimensionsAreRefused) {
    const auto s = smallStream();
    const size_t sof = find(test::walkSegments(s), 0xFFA2).offset;
    for (auto [w, h] : {std::pair{65535, 65535}, {0, 0}, {20000, 20000}, {31, 200}, {200, 12}}) {
        auto t = s;
        t[sof + 6] = uint8_t(h >> 8);
        t[sof + 7] = uint8_t(h);
        t[sof + 8] = uint8_t(w >> 8);
        t[sof + 9] = uint8_t(w);
        auto d = wsq::decode(t);
        ASSERT_FALSE(d) << w << "x" << h;
        EXPECT_NE(d.error().find("demasiado"), std::string::npos) << d.error();
    }
}

TEST(WsqMalformedTest, MissingTablesAreRefused) {
    const auto s = smallStream();
    const auto segs = test::walkSegments(s);
    const std::pair<uint16_t, const char*> cases[] = {
        {0xFFA2, "cabecera de imagen"}, {0xFFA4, "transformada"}, {0xFFA5, "cuantización"}, {0xFFA6, "Huffman"}};
    for (const auto& [marker, words] : cases) {
        auto d = wsq::decode(without(s, find(segs, marker)));
        ASSERT_FALSE(d) << std::hex << marker;
        EXPECT_NE(d.error().find(words), std::string::npos) << d.error();
    }
    // No blocks at all.
    std::vector<uint8_t> noData(s.begin(), s.begin() + long(find(segs, 0xFFA6).offset));
    noData.push_back(0xFF);
    noData.push_back(0xA1);
    EXPECT_FALSE(wsq::decode(noData));
    // A block naming a table never defined.
    auto t = s;
    t[find(segs, 0xFFA3).offset + 4] = 5;
    EXPECT_FALSE(wsq::decode(t));
}

TEST(WsqMalformedTest, BadHuffmanTablesAndCodesAreRefused) {
    const auto s = smallStream();
    const auto segs = test::walkSegments(s);
    const size_t dht = find(segs, 0xFFA6).offset;
    {
        auto t = s; // three codes of length one overflow the code space
        t[dht + 5] = 3;
        EXPECT_FALSE(wsq::decode(t));
    }
    {
        auto t = s; // table id beyond the eight allowed
        t[dht + 4] = 9;
        EXPECT_FALSE(wsq::decode(t));
    }
    {
        auto t = s; // every symbol of table 0 turned into the undefined symbol 0
        size_t total = 0;
        for (int i = 0; i < 16; ++i)
            total += t[dht + 5 + size_t(i)];
        for (size_t i = 0; i < total; ++i)
            t[dht + 21 + i] = static_cast<uint8_t>(i == 0 ? 0 : 200 + i % 50);
        EXPECT_FALSE(wsq::decode(t));
    }
    {
        auto t = s; // entropy data of the first block replaced by long runs of ones and zeros
        const auto& sob = find(segs, 0xFFA3);
        for (size_t i = 0; i < sob.dataBytes; ++i)
            t[sob.offset + 5 + i] = (i / 3) % 2 ? 0x00 : 0xFE;
        EXPECT_FALSE(wsq::decode(t));
    }
}

TEST(WsqMalformedTest, RandomDamageNeverCrashes) {
    const auto s = smallStream();
    std::mt19937 rng(20240611);
    int refused = 0;
    for (int round = 0; round < 300; ++round) {
        auto t = s;
        const int edits = 1 + int(rng() % 8);
        for (int e = 0; e < edits; ++e)
            t[rng() % t.size()] = static_cast<uint8_t>(rng());
        auto d = wsq::decode(t);
        if (!d) {
            ++refused;
            EXPECT_FALSE(d.error().empty());
        } else {
            EXPECT_EQ(d->image.pixels.size(), size_t(d->image.width) * size_t(d->image.height));
        }
    }
    EXPECT_GT(refused, 0);
}

TEST(WsqPackTest, BufferEntriesReportCodesAndReleaseBuffers) {
    wsq::GreyImage g{200, 180, std::vector<uint8_t>(200 * 180)};
    for (size_t i = 0; i < g.pixels.size(); ++i)
        g.pixels[i] = static_cast<uint8_t>((i * 7) ^ (i / 200));
    uint8_t* data = nullptr;
    int size = 0;
    ASSERT_EQ(wsq::compress(&data, &size, 0.75f, g.pixels.data(), 200, 180, 8, 500, nullptr), wsq::kPackOk);
    ASSERT_NE(data, nullptr);
    ASSERT_GT(size, 0);
    uint8_t* raw = nullptr;
    int w = 0, h = 0, depth = 0, ppi = 0, lossy = 0;
    ASSERT_EQ(wsq::uncompress(&raw, &w, &h, &depth, &ppi, &lossy, data, size), wsq::kPackOk);
    EXPECT_NE(raw, nullptr);
    EXPECT_EQ(w, 200);
    EXPECT_EQ(h, 180);
    EXPECT_EQ(depth, 8);
    EXPECT_EQ(ppi, -1) << "without a comment the stream does not say its resolution";
    EXPECT_EQ(lossy, 1);
    wsq::freeBuffer(&raw);
    EXPECT_EQ(raw, nullptr);

    // Damaged stream: refused, no buffer, the reason kept.
    data[size / 2] ^= 0xFF;
    data[size / 2 + 1] ^= 0x5A;
    const int rc = wsq::uncompress(&raw, &w, &h, &depth, &ppi, &lossy, data, size / 2);
    EXPECT_EQ(rc, wsq::kPackRefused);
    EXPECT_EQ(raw, nullptr);
    EXPECT_EQ(w, 0);
    EXPECT_FALSE(wsq::lastError().empty());
    wsq::freeBuffer(&data);
    EXPECT_EQ(data, nullptr);

    EXPECT_EQ(wsq::compress(&data, &size, 0.75f, g.pixels.data(), 200, 180, 16, 500, nullptr), wsq::kPackBadArgument);
    EXPECT_EQ(wsq::compress(&data, &size, 0.75f, nullptr, 200, 180, 8, 500, nullptr), wsq::kPackBadArgument);
    EXPECT_EQ(wsq::compress(&data, &size, 0.75f, g.pixels.data(), 100, 100, 8, 500, nullptr), wsq::kPackRefused);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(wsq::uncompress(&raw, &w, &h, &depth, &ppi, &lossy, nullptr, 10), wsq::kPackBadArgument);
}

} // namespace
