#include "capture/wsq/Huffman.h"

#include <algorithm>
#include <queue>

namespace qev::wsq {

Result<std::array<Code, 256>> canonicalCodes(const HuffmanTable& def) {
    std::array<Code, 256> codes{};
    size_t total = 0;
    for (uint8_t c : def.counts)
        total += c;
    if (total != def.symbols.size() || total == 0 || total > 256) return fail("tabla Huffman WSQ inválida");
    uint32_t code = 0;
    size_t k = 0;
    for (int len = 1; len <= 16; ++len) {
        for (int i = 0; i < def.counts[static_cast<size_t>(len - 1)]; ++i) {
            if (code >= (1u << len)) return fail("tabla Huffman WSQ inválida");
            const uint8_t sym = def.symbols[k++];
            if (codes[sym].length != 0) return fail("tabla Huffman WSQ con símbolos repetidos");
            codes[sym] = Code{static_cast<uint16_t>(code), static_cast<uint8_t>(len)};
            ++code;
        }
        code <<= 1;
    }
    return codes;
}

Result<HuffmanDecoder> HuffmanDecoder::make(const HuffmanTable& def) {
    auto codes = canonicalCodes(def);
    if (!codes) return fail(codes.error());
    HuffmanDecoder d;
    d.symbols = def.symbols;
    int32_t code = 0;
    int32_t k = 0;
    for (int len = 1; len <= 16; ++len) {
        const int n = def.counts[static_cast<size_t>(len - 1)];
        d.valueOffset[static_cast<size_t>(len)] = k - code;
        if (n > 0) {
            code += n;
            k += n;
            d.maxCode[static_cast<size_t>(len)] = code - 1;
        } else {
            d.maxCode[static_cast<size_t>(len)] = -1;
        }
        code <<= 1;
    }
    d.maxCode[17] = 0x7FFFFFFF;
    for (int s = 0; s < 256; ++s) {
        const Code& c = (*codes)[static_cast<size_t>(s)];
        if (c.length == 0 || c.length > kFastBits) continue;
        const int shift = kFastBits - c.length;
        const uint32_t first = static_cast<uint32_t>(c.bits) << shift;
        for (uint32_t i = 0; i < (1u << shift); ++i)
            d.fast[first + i] = static_cast<uint16_t>(s << 8 | c.length);
    }
    return d;
}

namespace {

// Huffman code lengths by repeatedly merging the two rarest subtrees; ties go to the later symbol so the result
// does not depend on the queue's order.
std::array<int, 257> codeLengths(const std::array<uint32_t, 257>& freq) {
    struct Node {
        uint64_t weight;
        int id;
    };
    auto cmp = [](const Node& a, const Node& b) { return a.weight != b.weight ? a.weight > b.weight : a.id < b.id; };
    std::priority_queue<Node, std::vector<Node>, decltype(cmp)> q(cmp);
    std::vector<int> parent;
    parent.reserve(2 * 257);
    for (int s = 0; s < 257; ++s) {
        parent.push_back(-1);
        if (freq[static_cast<size_t>(s)] > 0) q.push({freq[static_cast<size_t>(s)], s});
    }
    std::array<int, 257> len{};
    if (q.size() == 1) {
        len[static_cast<size_t>(q.top().id)] = 1;
        return len;
    }
    while (q.size() > 1) {
        const Node a = q.top();
        q.pop();
        const Node b = q.top();
        q.pop();
        const int id = static_cast<int>(parent.size());
        parent.push_back(-1);
        parent[static_cast<size_t>(a.id)] = id;
        parent[static_cast<size_t>(b.id)] = id;
        q.push({a.weight + b.weight, id});
    }
    for (int s = 0; s < 257; ++s) {
        if (freq[static_cast<size_t>(s)] == 0) continue;
        int depth = 0;
        for (int p = s; parent[static_cast<size_t>(p)] >= 0; p = parent[static_cast<size_t>(p)])
            ++depth;
        len[static_cast<size_t>(s)] = depth;
    }
    return len;
}

} // namespace

HuffmanTable buildTable(const std::array<uint32_t, 256>& frequencies) {
    // Symbol 256 is a placeholder with the smallest weight: it takes the all-ones code, which is then dropped so
    // that padding bits can never complete a code.
    std::array<uint32_t, 257> freq{};
    std::copy(frequencies.begin(), frequencies.end(), freq.begin());
    freq[256] = 1;
    const std::array<int, 257> len = codeLengths(freq);

    std::array<int, 258> bits{};
    for (int l : len)
        if (l > 0) ++bits[static_cast<size_t>(l)];
    // Limit to 16 bits: move pairs of the longest codes up, taking a prefix from a shorter length.
    for (int i = 257; i > 16; --i) {
        while (bits[static_cast<size_t>(i)] > 0) {
            int j = i - 2;
            while (j > 0 && bits[static_cast<size_t>(j)] == 0)
                --j;
            bits[static_cast<size_t>(i)] -= 2;
            bits[static_cast<size_t>(i - 1)] += 1;
            bits[static_cast<size_t>(j + 1)] += 2;
            bits[static_cast<size_t>(j)] -= 1;
        }
    }
    // Drop the placeholder from the longest length in use.
    int longest = 16;
    while (longest > 0 && bits[static_cast<size_t>(longest)] == 0)
        --longest;
    if (longest > 0) --bits[static_cast<size_t>(longest)];

    // Symbols sorted by their unlimited length, then by value; the limited counts are then filled in that order.
    std::vector<int> order;
    for (int s = 0; s < 256; ++s)
        if (len[static_cast<size_t>(s)] > 0) order.push_back(s);
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return len[static_cast<size_t>(a)] < len[static_cast<size_t>(b)]; });
    HuffmanTable def;
    for (int i = 1; i <= 16; ++i)
        def.counts[static_cast<size_t>(i - 1)] = static_cast<uint8_t>(bits[static_cast<size_t>(i)]);
    for (int s : order)
        def.symbols.push_back(static_cast<uint8_t>(s));
    return def;
}

} // namespace qev::wsq
