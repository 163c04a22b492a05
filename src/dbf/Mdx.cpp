#include "dbf/Mdx.h"

#include "dbf/FileIo.h"
#include "dbf/Table.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <numeric>
#include <string_view>
#include <unordered_map>

namespace qev::dbf {

namespace {

using io::getU16;
using io::getU32;
using io::putToday;
using io::putU16;
using io::putU32;

constexpr int kPage = 512;
constexpr int kHeaderPages = 4;      // file header and tag table
constexpr int kTagTableOffset = 544; // first tag entry
constexpr int kMaxTags = 47;
constexpr int kMaxDepth = 24;         // far beyond any real tree; a deeper one is a loop
constexpr int kExpressionOffset = 24; // in the tag header, NUL-terminated
constexpr int kExpressionLength = 220;
constexpr int kTagHeaderKept = 24;      // root, blocks, key layout and serial: what a change reads first
constexpr size_t kMaxKeptBlocks = 4096; // interior blocks kept for one tag

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0'))
        s.pop_back();
    size_t i = 0;
    while (i < s.size() && s[i] == ' ')
        ++i;
    return s.substr(i);
}

double getF64(const unsigned char* p) {
    uint64_t bits = 0;
    for (int i = 7; i >= 0; --i)
        bits = bits << 8 | p[i];
    double d;
    std::memcpy(&d, &bits, 8);
    return d;
}

void putF64(unsigned char* p, double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<unsigned char>(bits >> (8 * i));
}

// -1 for a negative number, 0 for zero, 1 for a positive one.
int bcdSign(const unsigned char* k) {
    for (int i = 2; i < 12; ++i) {
        if (k[i] != 0) return (k[1] & 0x80) ? -1 : 1;
    }
    return 0;
}

} // namespace

// ---- Keys ------------------------------------------------------------------------------------------------------

int compareMdxKeys(char keyType, const unsigned char* a, const unsigned char* b, int length) {
    if (keyType == 'N' && length >= 12) {
        const int sa = bcdSign(a);
        const int sb = bcdSign(b);
        if (sa != sb) return sa < sb ? -1 : 1;
        if (sa == 0) return 0;
        // Same sign: the exponent first, then the digits, high nibble first; negatives the other way round.
        int r = a[0] != b[0] ? (a[0] < b[0] ? -1 : 1) : std::memcmp(a + 2, b + 2, 10);
        r = r < 0 ? -1 : (r > 0 ? 1 : 0);
        return sa > 0 ? r : -r;
    }
    if (keyType == 'D' && length >= 8) {
        const double x = getF64(a);
        const double y = getF64(b);
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    const int r = std::memcmp(a, b, static_cast<size_t>(length));
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

void MdxKeys::sort(char keyType) {
    // Keys gathered in record order are often in key order already (request numbers grow with the table).
    bool sorted = true;
    for (size_t i = 1; sorted && i < recnos.size(); ++i) {
        const int c = compareMdxKeys(keyType, key(i - 1), key(i), keyLength);
        sorted = c < 0 || (c == 0 && recnos[i - 1] < recnos[i]);
    }
    if (sorted) return;
    std::vector<uint32_t> order(recnos.size());
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(), [&](uint32_t x, uint32_t y) {
        const int c = compareMdxKeys(keyType, key(x), key(y), keyLength);
        return c != 0 ? c < 0 : recnos[x] < recnos[y];
    });
    std::string k(keys.size(), '\0');
    std::vector<uint32_t> r(recnos.size());
    const auto len = static_cast<size_t>(keyLength);
    for (size_t i = 0; i < order.size(); ++i) {
        std::memcpy(k.data() + i * len, keys.data() + order[i] * len, len);
        r[i] = recnos[order[i]];
    }
    keys.swap(k);
    recnos.swap(r);
}

Result<MdxTag> mdxTagForField(const FieldDef& field) {
    MdxTag t;
    t.name = io::upper(field.name).substr(0, 10);
    t.expression = field.name;
    switch (field.type) {
    case 'C':
        if (field.length > 100) return fail("el campo " + field.name + " es demasiado ancho para una clave de índice");
        t.keyType = 'C';
        t.keyLength = field.length;
        break;
    case 'N':
    case 'F':
        t.keyType = 'N';
        t.keyLength = 12;
        break;
    case 'D':
        t.keyType = 'D';
        t.keyLength = 8;
        break;
    default:
        return fail("el campo " + field.name + " es de un tipo que no se indexa");
    }
    t.itemLength = (t.keyLength + 4 + 3) / 4 * 4;
    t.keysPerBlock = (2 * kPage - 12) / t.itemLength;
    return t;
}

void mdxNumberKey(const char* text, int length, unsigned char* out) {
    std::memset(out, 0, 12);
    out[0] = 0x34;
    out[1] = 0x01;
    char plain[64];
    std::string_view s(text, static_cast<size_t>(std::max(length, 0)));
    if (s.find_first_of("eE") != std::string_view::npos) {
        // Rare exponent notation is brought back to plain digits first.
        const std::string copy(s);
        const int n = std::snprintf(plain, sizeof plain, "%.10f", std::strtod(copy.c_str(), nullptr));
        s = std::string_view(plain, static_cast<size_t>(std::clamp(n, 0, static_cast<int>(sizeof plain) - 1)));
    }
    bool negative = false;
    bool point = false;
    bool started = false;
    // The digits without leading zeros, and how many of them come before the point.
    char digits[64];
    int count = 0;
    int whole = 0;
    int leadingFractionZeros = 0;
    for (char c : s) {
        if (c == ' ' && !started) continue;
        if ((c == '-' || c == '+') && !started) {
            negative = c == '-';
            started = true;
        } else if (c >= '0' && c <= '9') {
            started = true;
            if (count == 0 && c == '0') {
                if (point) ++leadingFractionZeros;
                continue;
            }
            if (count < static_cast<int>(sizeof digits)) digits[count++] = c;
            if (!point) ++whole;
        } else if (c == '.' && !point) {
            point = true;
            started = true;
        } else {
            break;
        }
    }
    while (count > 0 && digits[count - 1] == '0' && count > 0)
        --count;
    if (count == 0) return; // zero
    const int exponent = whole > 0 ? whole : -leadingFractionZeros;
    count = std::min(count, 20);
    out[0] = static_cast<unsigned char>(0x34 + exponent);
    out[1] = static_cast<unsigned char>((count << 2) | 0x01 | (negative ? 0x80 : 0));
    for (int i = 0; i < count; ++i) {
        const auto d = static_cast<unsigned char>(digits[i] - '0');
        out[2 + i / 2] |= static_cast<unsigned char>(i % 2 == 0 ? d << 4 : d);
    }
}

void mdxKeyOf(const FieldDef& field, const char* fieldBytes, const MdxTag& tag, char* out) {
    auto* u = reinterpret_cast<unsigned char*>(out);
    if (tag.keyType == 'N') {
        mdxNumberKey(fieldBytes, field.length, u);
    } else if (tag.keyType == 'D') {
        double jd = 0; // a blank date sorts first
        Date d;
        if (field.length == 8 && std::all_of(fieldBytes, fieldBytes + 8, [](char c) { return c >= '0' && c <= '9'; })) {
            d.year = (fieldBytes[0] - '0') * 1000 + (fieldBytes[1] - '0') * 100 + (fieldBytes[2] - '0') * 10 +
                     (fieldBytes[3] - '0');
            d.month = (fieldBytes[4] - '0') * 10 + (fieldBytes[5] - '0');
            d.day = (fieldBytes[6] - '0') * 10 + (fieldBytes[7] - '0');
            if (d.valid()) jd = static_cast<double>(d.julianDay());
        }
        putF64(u, jd);
    } else {
        const auto n = static_cast<size_t>(std::min(field.length, tag.keyLength));
        std::memcpy(out, fieldBytes, n);
        std::memset(out + n, ' ', static_cast<size_t>(tag.keyLength) - n);
    }
}

// ---- Nodes -----------------------------------------------------------------------------------------------------

// One B-tree block: in a leaf each item points at a record, in an interior node at a child block; an interior
// node has one child more than keys (the last one stored after the items).
struct MdxFile::Node {
    uint32_t page = 0;
    bool leaf = true;
    std::vector<uint32_t> ptrs;
    std::string keys; // count x keyLength
    size_t count() const { return leaf ? ptrs.size() : ptrs.size() - 1; }
};

// What one open knows of a tag between its changes, all of it read or written under the index's lock. A change
// trusts it only when the tag's header reads back exactly as this open left it: any other engine's change bumps
// the serial (and a split moves the block count), so it is seen before a block is used. Leaves are never kept:
// every key is written into a leaf just read, so no stale block is ever written back.
struct MdxFile::TagCache {
    bool settled = false; // the last change ended cleanly
    unsigned char header[kTagHeaderKept] = {};
    std::unordered_map<uint32_t, Node> interior;
};

MdxFile::~MdxFile() {
    if (m_fd >= 0) ::close(m_fd);
}

std::string MdxFile::fileName() const {
    return io::baseName(m_path);
}

std::string MdxFile::where(size_t tag, uint32_t page) const {
    std::string s = fileName();
    if (tag < m_tags.size()) s += ", etiqueta " + m_tags[tag].name;
    if (page > 0) s += ", página " + std::to_string(page);
    return s;
}

Result<std::unique_ptr<MdxFile>> MdxFile::open(const std::string& path, bool readOnly) {
    const int fd = ::open(path.c_str(), (readOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC);
    if (fd < 0) return fail(io::baseName(path) + ": no se puede abrir el índice: " + std::strerror(errno));
    std::unique_ptr<MdxFile> m(new MdxFile);
    m->m_path = path;
    m->m_fd = fd;
    if (auto r = m->readHeader(); !r) return fail(r.error());
    return m;
}

Result<void> MdxFile::readHeader() {
    const uint64_t size = io::fileSize(m_fd);
    unsigned char h[kHeaderPages * kPage];
    if (size < sizeof h || !io::readFully(m_fd, 0, h, sizeof h))
        return fail(fileName() + ": el índice termina antes del fin de su cabecera");
    m_version = h[0];
    if (m_version != 2 && m_version != 3)
        return fail(fileName() + ": versión de índice desconocida (" + std::to_string(m_version) + ")");
    m_pagesPerBlock = getU16(h + 20);
    m_blockSize = getU16(h + 22);
    if (m_pagesPerBlock < 1 || m_pagesPerBlock > 32 || m_blockSize != m_pagesPerBlock * kPage)
        return fail(fileName() + ": tamaño de bloque inválido");
    const int stride = h[26];
    const int inUse = getU16(h + 28);
    if (stride < 32 || stride > 64) return fail(fileName() + ": largo de entrada de etiqueta inválido");
    if (inUse > kMaxTags || kTagTableOffset + inUse * stride > static_cast<int>(sizeof h))
        return fail(fileName() + ": la tabla de etiquetas declara " + std::to_string(inUse) + " etiquetas");
    const uint64_t pages = size / kPage;
    m_tags.clear();
    for (int i = 0; i < inUse; ++i) {
        const unsigned char* e = h + kTagTableOffset + i * stride;
        MdxTag t;
        t.headerPage = getU32(e);
        const int nameLen = m_version == 3 && stride >= 43 ? 33 : 11;
        t.name = trimmed(std::string(reinterpret_cast<const char*>(e + 4),
                                     strnlen(reinterpret_cast<const char*>(e + 4), static_cast<size_t>(nameLen))));
        if (t.headerPage < kHeaderPages || t.headerPage >= pages)
            return fail(fileName() + ", etiqueta " + t.name + ": la cabecera de la etiqueta está fuera del archivo");
        unsigned char th[kPage];
        if (!io::readFully(m_fd, static_cast<uint64_t>(t.headerPage) * kPage, th, sizeof th))
            return fail(where(m_tags.size() + 1, t.headerPage) + ": cabecera de etiqueta truncada");
        t.keyType = static_cast<char>(th[9]);
        t.descending = (th[8] & 0x08) != 0;
        t.unique = (th[8] & 0x40) != 0 || th[23] != 0;
        t.keyLength = getU16(th + 12);
        t.keysPerBlock = getU16(th + 14);
        t.itemLength = getU16(th + 18);
        t.expression = trimmed(std::string(
            reinterpret_cast<const char*>(th + kExpressionOffset),
            strnlen(reinterpret_cast<const char*>(th + kExpressionOffset), static_cast<size_t>(kExpressionLength))));
        const std::string at = fileName() + ", etiqueta " + t.name + ", página " + std::to_string(t.headerPage);
        if (t.keyType != 'C' && t.keyType != 'N' && t.keyType != 'D' && t.keyType != 'F')
            return fail(at + ": tipo de clave desconocido");
        if (t.keyType == 'F') t.keyType = 'N';
        if (t.keyLength < 1 || t.keyLength > 240 || t.itemLength < t.keyLength + 4 || t.itemLength > m_blockSize - 12)
            return fail(at + ": largo de clave " + std::to_string(t.keyLength) + " o de entrada " +
                        std::to_string(t.itemLength) + " inválido");
        if (t.keysPerBlock < 1 || t.keysPerBlock > (m_blockSize - 12) / t.itemLength)
            return fail(at + ": " + std::to_string(t.keysPerBlock) + " claves por bloque no caben en un bloque");
        m_tags.push_back(std::move(t));
    }
    m_cache.clear();
    m_cache.resize(m_tags.size());
    return {};
}

Result<MdxFile::Node> MdxFile::readNode(size_t tag, uint32_t page, bool cached) {
    const MdxTag& t = m_tags[tag];
    if (cached) {
        const auto& kept = m_cache[tag].interior;
        if (auto it = kept.find(page); it != kept.end()) return it->second;
    }
    const uint64_t size = m_fileSize;
    const uint64_t at = static_cast<uint64_t>(page) * kPage;
    if (page < kHeaderPages || at >= size) return fail(where(tag, page) + ": la página está fuera del archivo");
    if (at + static_cast<uint64_t>(m_blockSize) > size)
        return fail(where(tag, page) + ": el archivo termina en medio de la página");
    std::string block(static_cast<size_t>(m_blockSize), '\0');
    if (!io::readFully(m_fd, at, block.data(), block.size()))
        return fail(where(tag, page) + ": la página está fuera del archivo o el archivo termina en ella");
    const auto* b = reinterpret_cast<const unsigned char*>(block.data());
    const uint32_t n = getU32(b);
    if (n > static_cast<uint32_t>(t.keysPerBlock))
        return fail(where(tag, page) + ": " + std::to_string(n) + " claves, más de las " +
                    std::to_string(t.keysPerBlock) + " que caben");
    Node node;
    node.page = page;
    const auto il = static_cast<size_t>(t.itemLength);
    const uint32_t trailing = getU32(b + 8 + n * il);
    node.leaf = trailing == 0;
    node.ptrs.reserve(n + 1);
    node.keys.reserve(n * static_cast<size_t>(t.keyLength));
    for (uint32_t i = 0; i < n; ++i) {
        const unsigned char* item = b + 8 + i * il;
        node.ptrs.push_back(getU32(item));
        node.keys.append(reinterpret_cast<const char*>(item + 4), static_cast<size_t>(t.keyLength));
    }
    if (!node.leaf) node.ptrs.push_back(trailing);
    if (cached && !node.leaf) {
        auto& kept = m_cache[tag].interior;
        if (kept.size() >= kMaxKeptBlocks) kept.clear();
        kept.emplace(page, node);
    }
    return node;
}

Result<void> MdxFile::writeNode(size_t tag, const Node& node) {
    const MdxTag& t = m_tags[tag];
    std::string block(static_cast<size_t>(m_blockSize), '\0');
    auto* b = reinterpret_cast<unsigned char*>(block.data());
    const size_t n = node.count();
    putU32(b, static_cast<uint32_t>(n));
    const auto il = static_cast<size_t>(t.itemLength);
    for (size_t i = 0; i < n; ++i) {
        putU32(b + 8 + i * il, node.ptrs[i]);
        std::memcpy(b + 12 + i * il, node.keys.data() + i * static_cast<size_t>(t.keyLength),
                    static_cast<size_t>(t.keyLength));
    }
    if (!node.leaf) putU32(b + 8 + n * il, node.ptrs[n]);
    if (!io::writeFully(m_fd, static_cast<uint64_t>(node.page) * kPage, b, block.size()))
        return fail(where(tag, node.page) + ": no se puede escribir: " + std::strerror(errno));
    // Written under the lock, the block is current until another engine changes the tag.
    auto& kept = m_cache[tag].interior;
    if (node.leaf) {
        kept.erase(node.page);
    } else {
        if (kept.size() >= kMaxKeptBlocks) kept.clear();
        kept.insert_or_assign(node.page, node);
    }
    return {};
}

Result<uint32_t> MdxFile::allocateBlock(size_t tag) {
    // New blocks go at the end of the file (emptied ones are left where they are, as dBase 7 does).
    if (m_fileSize == UINT64_MAX) m_fileSize = io::fileSize(m_fd);
    const auto page = static_cast<uint32_t>((m_fileSize + kPage - 1) / kPage);
    const uint32_t pages = page + static_cast<uint32_t>(m_pagesPerBlock);
    m_fileSize = static_cast<uint64_t>(pages) * kPage;
    unsigned char b[4];
    putU32(b, pages);
    if (!io::writeFully(m_fd, 32, b, 4)) return fail(fileName() + ": no se puede escribir la cabecera");
    // The tag's block count as beginChange read it (and this change kept it since), under the same lock.
    unsigned char* alloc = m_cache[tag].header + 4;
    putU32(alloc, getU32(alloc) + static_cast<uint32_t>(m_pagesPerBlock));
    const uint64_t tagHeader = static_cast<uint64_t>(m_tags[tag].headerPage) * kPage;
    if (!io::writeFully(m_fd, tagHeader + 4, alloc, 4)) return fail(fileName() + ": no se puede escribir");
    return page;
}

Result<void> MdxFile::putRoot(size_t tag, uint32_t page) {
    unsigned char* root = m_cache[tag].header;
    putU32(root, page);
    if (!io::writeFully(m_fd, static_cast<uint64_t>(m_tags[tag].headerPage) * kPage, root, 4))
        return fail(fileName() + ": no se puede escribir");
    m_batchRoot = page;
    return {};
}

Result<uint32_t> MdxFile::beginChange(size_t tag) {
    if (tag >= m_tags.size()) return fail(fileName() + ": no existe la etiqueta");
    if (m_batch && m_batchBegun) return m_batchRoot;
    // A single change needs no size: a block beyond the end fails to read whole. New blocks ask for it.
    m_fileSize = UINT64_MAX;
    unsigned char h[kTagHeaderKept];
    TagCache& c = m_cache[tag];
    const bool wasSettled = c.settled;
    c.settled = false;
    if (!io::readFully(m_fd, static_cast<uint64_t>(m_tags[tag].headerPage) * kPage, h, sizeof h)) {
        c.interior.clear();
        return fail(where(tag, m_tags[tag].headerPage) + ": cabecera de etiqueta truncada");
    }
    if (!wasSettled || std::memcmp(h, c.header, sizeof h) != 0) {
        c.interior.clear();
        std::memcpy(c.header, h, sizeof h);
    }
    m_serial = h[20];
    m_batchRoot = getU32(h);
    m_batchBegun = m_batch;
    return m_batchRoot;
}

void MdxFile::settle(size_t tag) {
    m_cache[tag].settled = true;
}

Result<void> MdxFile::bumpSerial(size_t tag) {
    // The serial tells other engines that the tag changed since they last read it; once for a replacement.
    if (m_batch) {
        m_batchDirty = true;
        return {};
    }
    const uint64_t at = static_cast<uint64_t>(m_tags[tag].headerPage) * kPage + 20;
    const auto s = static_cast<unsigned char>(m_serial + 1);
    if (!io::writeFully(m_fd, at, &s, 1)) return fail(fileName() + ": no se puede escribir");
    m_serial = s;
    m_cache[tag].header[20] = s;
    return {};
}

// ---- Walking ---------------------------------------------------------------------------------------------------

Result<void> MdxFile::walk(size_t tag, const std::function<void(const unsigned char*, uint32_t)>& visit) {
    if (tag >= m_tags.size()) return fail(fileName() + ": no existe la etiqueta");
    const MdxTag& t = m_tags[tag];
    m_fileSize = io::fileSize(m_fd);
    const uint64_t pages = m_fileSize / kPage + 1;
    unsigned char root[4];
    if (!io::readFully(m_fd, static_cast<uint64_t>(t.headerPage) * kPage, root, 4))
        return fail(where(tag, t.headerPage) + ": cabecera de etiqueta truncada");
    std::vector<bool> seen(static_cast<size_t>(pages), false);
    std::string previous;
    const auto kl = static_cast<size_t>(t.keyLength);
    // Every key of a subtree lies between the separators around it (inclusive: equal keys may straddle).
    std::function<Result<void>(uint32_t, int, const unsigned char*, const unsigned char*)> descend =
        [&](uint32_t page, int depth, const unsigned char* lo, const unsigned char* hi) -> Result<void> {
        if (depth > kMaxDepth) return fail(where(tag, page) + ": el árbol es demasiado profundo");
        if (page < pages && seen[page])
            return fail(where(tag, page) + ": la página se alcanza dos veces (un puntero vuelve atrás en el árbol)");
        auto node = readNode(tag, page);
        if (!node) return fail(node.error());
        seen[page] = true;
        const auto* keys = reinterpret_cast<const unsigned char*>(node->keys.data());
        const size_t n = node->count();
        for (size_t i = 0; i < n; ++i) {
            const unsigned char* k = keys + i * kl;
            if ((lo && compareMdxKeys(t.keyType, k, lo, t.keyLength) < 0) ||
                (hi && compareMdxKeys(t.keyType, k, hi, t.keyLength) > 0))
                return fail(where(tag, page) + ": una clave está fuera del orden del árbol");
        }
        if (node->leaf) {
            for (size_t i = 0; i < n; ++i) {
                const unsigned char* k = keys + i * kl;
                if (!previous.empty() &&
                    compareMdxKeys(t.keyType, k, reinterpret_cast<const unsigned char*>(previous.data()), t.keyLength) <
                        0)
                    return fail(where(tag, page) + ": las claves no están en orden");
                if (node->ptrs[i] == 0) return fail(where(tag, page) + ": una clave apunta al registro 0");
                previous.assign(reinterpret_cast<const char*>(k), kl);
                visit(k, node->ptrs[i]);
            }
            return {};
        }
        for (size_t i = 0; i <= n; ++i) {
            const unsigned char* l = i == 0 ? lo : keys + (i - 1) * kl;
            const unsigned char* h = i == n ? hi : keys + i * kl;
            if (auto r = descend(node->ptrs[i], depth + 1, l, h); !r) return r;
        }
        return {};
    };
    return descend(getU32(root), 0, nullptr, nullptr);
}

// ---- Changing one key ------------------------------------------------------------------------------------------

Result<void> MdxFile::insert(size_t tag, const unsigned char* key, uint32_t recno) {
    auto r = insertKey(tag, key, recno);
    if (r && !m_batch) settle(tag);
    return r;
}

Result<bool> MdxFile::remove(size_t tag, const unsigned char* key, uint32_t recno) {
    auto r = removeKey(tag, key, recno);
    if (r && !m_batch) settle(tag);
    return r;
}

Result<bool> MdxFile::insertIntoKeptLeaf(size_t tag, uint32_t root, const unsigned char* key, uint32_t recno) {
    const MdxTag& t = m_tags[tag];
    const auto kl = static_cast<size_t>(t.keyLength);
    const auto il = static_cast<size_t>(t.itemLength);
    const auto& kept = m_cache[tag].interior;
    // Down the kept blocks; the first block not kept is the leaf. Keys are searched from the high end, where
    // growing keys go.
    uint32_t page = root;
    int depth = 0;
    for (auto it = kept.find(page); it != kept.end(); it = kept.find(page)) {
        if (++depth > kMaxDepth) return false;
        const Node& node = it->second;
        const auto* keys = reinterpret_cast<const unsigned char*>(node.keys.data());
        size_t i = node.count();
        while (i > 0 && compareMdxKeys(t.keyType, keys + (i - 1) * kl, key, t.keyLength) > 0)
            --i;
        page = node.ptrs[i];
    }
    if (depth == 0 || page < kHeaderPages) return false;
    m_block.resize(static_cast<size_t>(m_blockSize));
    auto* b = reinterpret_cast<unsigned char*>(m_block.data());
    const uint64_t at = static_cast<uint64_t>(page) * kPage;
    if (!io::readFully(m_fd, at, b, m_block.size())) return false;
    const uint32_t n = getU32(b);
    // Only a leaf with keys and room: an empty one may have been unlinked, a full one splits.
    if (n == 0 || n >= static_cast<uint32_t>(t.keysPerBlock) || getU32(b + 8 + n * il) != 0) return false;
    size_t pos = n;
    while (pos > 0 && compareMdxKeys(t.keyType, b + 12 + (pos - 1) * il, key, t.keyLength) > 0)
        --pos;
    unsigned char* item = b + 8 + pos * il;
    std::memmove(item + il, item, (n - pos) * il);
    putU32(item, recno);
    std::memcpy(item + 4, key, kl);
    std::memset(item + 4 + kl, 0, il - 4 - kl);
    putU32(b, n + 1);
    putU32(b + 8 + (n + 1) * il, 0); // still a leaf
    if (!io::writeFully(m_fd, at, b, m_block.size()))
        return fail(where(tag, page) + ": no se puede escribir: " + std::strerror(errno));
    if (auto r = bumpSerial(tag); !r) return fail(r.error());
    return true;
}

Result<void> MdxFile::insertKey(size_t tag, const unsigned char* key, uint32_t recno) {
    auto rootPage = beginChange(tag);
    if (!rootPage) return fail(rootPage.error());
    if (auto quick = insertIntoKeptLeaf(tag, *rootPage, key, recno); !quick || *quick) {
        if (!quick) return fail(quick.error());
        return {};
    }
    const MdxTag& t = m_tags[tag];
    const auto kl = static_cast<size_t>(t.keyLength);
    // The path from the root down: each node and the child taken (the first whose separator is above the key).
    std::vector<std::pair<Node, size_t>> path;
    for (bool cached : {true, false}) {
        path.clear();
        uint32_t page = *rootPage;
        for (int depth = 0;; ++depth) {
            if (depth > kMaxDepth) return fail(where(tag, page) + ": el árbol es demasiado profundo");
            auto node = readNode(tag, page, cached);
            if (!node) return fail(node.error());
            const auto* keys = reinterpret_cast<const unsigned char*>(node->keys.data());
            size_t i = 0;
            const size_t n = node->count();
            while (i < n && compareMdxKeys(t.keyType, keys + i * kl, key, t.keyLength) <= 0)
                ++i;
            const bool leaf = node->leaf;
            page = leaf ? 0 : node->ptrs[i];
            path.emplace_back(std::move(*node), i);
            if (leaf) break;
        }
        // Kept blocks only lead to the leaf. A split writes the blocks above it, and an empty leaf below the root
        // was unlinked by someone else: both take the path again as the file holds it.
        const Node& leaf = path.back().first;
        if (path.size() == 1 || (leaf.count() > 0 && leaf.count() < static_cast<size_t>(t.keysPerBlock))) break;
        m_cache[tag].interior.clear();
    }
    // Insert into the leaf; a full node splits and hands a separator and its two halves to its parent. Both halves
    // of a split go to new blocks and only the one block written in place at the end (the first ancestor with
    // room, or the tag's root pointer) links them in: a process that dies before that write leaves the tree as it
    // was, every key still reachable, and the blocks it wrote unused.
    std::string upKey(reinterpret_cast<const char*>(key), kl);
    uint32_t upPtr = recno;
    uint32_t newLeft = 0;
    uint32_t newRight = 0;
    for (size_t level = path.size(); level-- > 0;) {
        Node& node = path[level].first;
        const size_t at = path[level].second;
        if (node.leaf) {
            node.ptrs.insert(node.ptrs.begin() + static_cast<long>(at), upPtr);
            node.keys.insert(at * kl, upKey);
        } else {
            // The child at `at` split into the two new blocks: the left half takes its place, the right one
            // follows it.
            node.ptrs[at] = newLeft;
            node.ptrs.insert(node.ptrs.begin() + static_cast<long>(at) + 1, newRight);
            node.keys.insert(at * kl, upKey);
        }
        const size_t n = node.count();
        if (n <= static_cast<size_t>(t.keysPerBlock)) {
            if (auto r = writeNode(tag, node); !r) return r;
            return bumpSerial(tag);
        }
        auto fresh = allocateBlock(tag);
        if (!fresh) return fail(fresh.error());
        Node right;
        right.page = *fresh;
        right.leaf = node.leaf;
        if (node.leaf) {
            // Keys appended at the end leave the left node full, so growing tables keep full leaves.
            const size_t keep = at == n - 1 ? n - 1 : n / 2;
            right.ptrs.assign(node.ptrs.begin() + static_cast<long>(keep), node.ptrs.end());
            right.keys = node.keys.substr(keep * kl);
            node.ptrs.resize(keep);
            node.keys.resize(keep * kl);
            upKey = node.keys.substr((keep - 1) * kl, kl); // the highest key on the left
        } else {
            // n keys, n + 1 children: the middle key goes up, the halves keep the rest.
            const size_t mid = n / 2;
            upKey = node.keys.substr(mid * kl, kl);
            right.ptrs.assign(node.ptrs.begin() + static_cast<long>(mid) + 1, node.ptrs.end());
            right.keys = node.keys.substr((mid + 1) * kl);
            node.ptrs.resize(mid + 1);
            node.keys.resize(mid * kl);
        }
        auto moved = allocateBlock(tag);
        if (!moved) return fail(moved.error());
        m_cache[tag].interior.erase(node.page);
        node.page = *moved;
        if (auto r = writeNode(tag, right); !r) return r;
        if (auto r = writeNode(tag, node); !r) return r;
        newLeft = node.page;
        newRight = right.page;
        if (level == 0) {
            // The root split: a new root above both halves.
            auto top = allocateBlock(tag);
            if (!top) return fail(top.error());
            Node root;
            root.page = *top;
            root.leaf = false;
            root.ptrs = {node.page, right.page};
            root.keys = upKey;
            if (auto r = writeNode(tag, root); !r) return r;
            if (auto r = putRoot(tag, root.page); !r) return r;
            return bumpSerial(tag);
        }
    }
    return {};
}

Result<bool> MdxFile::removeKey(size_t tag, const unsigned char* key, uint32_t recno) {
    auto begun = beginChange(tag);
    if (!begun) return fail(begun.error());
    const MdxTag& t = m_tags[tag];
    const auto kl = static_cast<size_t>(t.keyLength);
    const uint32_t rootPage = *begun;
    // Searches every child whose range may hold the key (equal keys can straddle children). Answers whether the
    // key was removed and whether the node it was removed from is now empty. Led by kept blocks, it stops before
    // writing when the leaf would empty (its parent is then written) or lies empty: the search is made again on the
    // blocks as the file holds them.
    struct Outcome {
        bool removed = false;
        bool emptied = false;
        bool again = false;
    };
    bool cached = true;
    // A damaged tree that points back into itself must not be searched for ever: a search reads at most as many
    // blocks as a gigabyte of index holds.
    uint64_t budget = uint64_t{1} << 20;
    std::function<Result<Outcome>(uint32_t, int)> search = [&](uint32_t page, int depth) -> Result<Outcome> {
        if (depth > kMaxDepth) return fail(where(tag, page) + ": el árbol es demasiado profundo");
        if (budget-- == 0)
            return fail(where(tag, page) + ": la página se alcanza dos veces (un puntero vuelve atrás en el árbol)");
        auto node = readNode(tag, page, cached);
        if (!node) return fail(node.error());
        const auto* keys = reinterpret_cast<const unsigned char*>(node->keys.data());
        const size_t n = node->count();
        if (node->leaf) {
            if (cached && depth > 0 && n <= 1) return Outcome{false, false, true};
            for (size_t i = 0; i < n; ++i) {
                if (node->ptrs[i] != recno || compareMdxKeys(t.keyType, keys + i * kl, key, t.keyLength) != 0) continue;
                node->ptrs.erase(node->ptrs.begin() + static_cast<long>(i));
                node->keys.erase(i * kl, kl);
                if (auto r = writeNode(tag, *node); !r) return fail(r.error());
                return Outcome{true, node->ptrs.empty()};
            }
            return Outcome{};
        }
        for (size_t i = 0; i <= n; ++i) {
            if (i > 0 && compareMdxKeys(t.keyType, keys + (i - 1) * kl, key, t.keyLength) > 0) break;
            if (i < n && compareMdxKeys(t.keyType, keys + i * kl, key, t.keyLength) < 0) continue;
            auto o = search(node->ptrs[i], depth + 1);
            if (!o || o->again) return o;
            if (!o->removed) continue;
            if (o->emptied && node->ptrs.size() > 1) {
                // An emptied child leaves the tree with one separator next to it; its block is left unused.
                node->ptrs.erase(node->ptrs.begin() + static_cast<long>(i));
                node->keys.erase((i < n ? i : n - 1) * kl, kl);
                if (node->ptrs.size() == 1 && page == rootPage) {
                    if (auto r = putRoot(tag, node->ptrs[0]); !r) return fail(r.error());
                    return Outcome{true, false};
                }
                if (auto r = writeNode(tag, *node); !r) return fail(r.error());
            }
            return Outcome{true, false};
        }
        return Outcome{};
    };
    auto o = search(rootPage, 0);
    if (o && (o->again || !o->removed)) {
        m_cache[tag].interior.clear();
        cached = false;
        budget = uint64_t{1} << 20;
        o = search(rootPage, 0);
    }
    if (!o) return fail(o.error());
    if (o->removed) {
        if (auto r = bumpSerial(tag); !r) return fail(r.error());
    }
    return o->removed;
}

Result<bool> MdxFile::replace(size_t tag, const unsigned char* oldKey, const unsigned char* newKey, uint32_t recno) {
    // One read of the tag header and one serial for both halves.
    m_batch = true;
    m_batchBegun = false;
    m_batchDirty = false;
    auto removed = remove(tag, oldKey, recno);
    Result<void> inserted;
    if (removed && *removed) inserted = insert(tag, newKey, recno);
    m_batch = false;
    if (!removed) return removed;
    if (!inserted) return fail(inserted.error());
    if (m_batchDirty) {
        if (auto r = bumpSerial(tag); !r) return fail(r.error());
    }
    settle(tag);
    return *removed;
}

// ---- Writing a whole file --------------------------------------------------------------------------------------

Result<void> MdxFile::write(const std::string& path, int version, const std::string& tableStem,
                            const std::vector<MdxTag>& tagsIn, const std::vector<MdxKeys>& keys) {
    const std::string name = io::baseName(path);
    if (tagsIn.size() > static_cast<size_t>(kMaxTags) || tagsIn.size() != keys.size())
        return fail(name + ": demasiadas etiquetas");
    constexpr int kBlock = 2 * kPage;
    const int stride = version == 3 ? 48 : 32;
    std::string file(static_cast<size_t>(kHeaderPages * kPage), '\0');
    auto* h = reinterpret_cast<unsigned char*>(file.data());
    h[0] = static_cast<unsigned char>(version);
    putToday(h + 1);
    std::memcpy(h + 4, tableStem.data(), std::min<size_t>(tableStem.size(), 16));
    putU16(h + 20, 2);
    putU16(h + 22, kBlock);
    h[24] = 1;
    h[25] = 48;
    h[26] = static_cast<unsigned char>(stride);
    putU16(h + 28, static_cast<uint32_t>(tagsIn.size()));
    h[30] = static_cast<unsigned char>(tagsIn.size());
    h[31] = 0x1B;
    putToday(h + 44);

    auto newBlock = [&file]() {
        const auto page = static_cast<uint32_t>(file.size() / kPage);
        file.append(static_cast<size_t>(kBlock), '\0');
        return page;
    };
    auto at = [&file](uint32_t page) { return reinterpret_cast<unsigned char*>(file.data()) + page * kPage; };

    for (size_t ti = 0; ti < tagsIn.size(); ++ti) {
        const MdxTag& t = tagsIn[ti];
        const MdxKeys& k = keys[ti];
        const auto kl = static_cast<size_t>(t.keyLength);
        const auto il = static_cast<size_t>(t.itemLength);
        const auto kpb = static_cast<size_t>(t.keysPerBlock);
        const uint32_t headerPage = newBlock();
        const size_t firstNodeOffset = file.size();
        // Leaves, filled up; then each level above, children shared out evenly so that no node is left with a
        // single child.
        struct Built {
            uint32_t page;
            size_t highest; // index of its highest key in `k`
        };
        std::vector<Built> level;
        const size_t total = k.size();
        const size_t leaves = std::max<size_t>(1, (total + kpb - 1) / kpb);
        for (size_t l = 0; l < leaves; ++l) {
            const size_t from = l * kpb;
            const size_t to = std::min(total, from + kpb);
            const uint32_t page = newBlock();
            unsigned char* b = at(page);
            putU32(b, static_cast<uint32_t>(to - from));
            for (size_t i = from; i < to; ++i) {
                putU32(b + 8 + (i - from) * il, k.recnos[i]);
                std::memcpy(b + 12 + (i - from) * il, k.key(i), kl);
            }
            level.push_back({page, to > from ? to - 1 : 0});
        }
        while (level.size() > 1) {
            const size_t groups = (level.size() + kpb) / (kpb + 1);
            std::vector<Built> up;
            size_t next = 0;
            for (size_t g = 0; g < groups; ++g) {
                const size_t m = level.size() / groups + (g < level.size() % groups ? 1 : 0);
                const uint32_t page = newBlock();
                unsigned char* b = at(page);
                putU32(b, static_cast<uint32_t>(m - 1));
                for (size_t c = 0; c < m; ++c) {
                    const Built& child = level[next + c];
                    putU32(b + 8 + c * il, child.page);
                    if (c + 1 < m) std::memcpy(b + 12 + c * il, k.key(child.highest), kl);
                }
                up.push_back({page, level[next + m - 1].highest});
                next += m;
            }
            level.swap(up);
        }
        const uint32_t root = level.front().page;
        unsigned char* th = at(headerPage);
        putU32(th, root);
        putU32(th + 4, static_cast<uint32_t>((file.size() - firstNodeOffset) / kPage + 2));
        th[8] = 0x10;
        th[9] = static_cast<unsigned char>(t.keyType);
        th[11] = 0x1B;
        putU16(th + 12, static_cast<uint32_t>(t.keyLength));
        putU16(th + 14, static_cast<uint32_t>(t.keysPerBlock));
        putU16(th + 18, static_cast<uint32_t>(t.itemLength));
        std::memcpy(th + kExpressionOffset, t.expression.data(),
                    std::min<size_t>(t.expression.size(), kExpressionLength - 1));
        th[246] = total > 0 ? 1 : 0;
        if (version == 3) {
            putU32(th + 248, root);
            putU32(th + 252, root);
            th[480] = 0x01;
        }
        putToday(th + 257);
        unsigned char* e = at(0) + kTagTableOffset + static_cast<int>(ti) * stride;
        putU32(e, headerPage);
        const size_t nameLen = version == 3 ? 32 : 10;
        std::memcpy(e + 4, t.name.data(), std::min(t.name.size(), nameLen));
        // The tags are chained in the order written: each the right thread of the one before.
        if (version == 3) {
            e[37] = 0x10;
            e[38] = 0;
            e[39] = ti + 1 < tagsIn.size() ? static_cast<unsigned char>(ti + 2) : 0;
            e[40] = static_cast<unsigned char>(ti);
            e[42] = static_cast<unsigned char>(t.keyType);
        } else {
            e[15] = 0x10;
            e[16] = 0;
            e[17] = ti + 1 < tagsIn.size() ? static_cast<unsigned char>(ti + 2) : 0;
            e[18] = static_cast<unsigned char>(ti);
            e[20] = static_cast<unsigned char>(t.keyType);
        }
    }
    putU32(at(0) + 32, static_cast<uint32_t>(file.size() / kPage));

    const std::string tmp = path + ".tmp~";
    ::unlink(tmp.c_str());
    const int fd = ::open(tmp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return fail(name + ": no se puede crear el índice: " + std::strerror(errno));
    const bool ok = io::writeFully(fd, 0, file.data(), file.size()) && ::fsync(fd) == 0;
    ::close(fd);
    if (!ok || ::rename(tmp.c_str(), path.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return fail(name + ": no se puede escribir el índice: " + std::strerror(errno));
    }
    // The new name on disk too: after a power cut the folder would otherwise still hold the old index.
    (void)io::syncFolderOf(path);
    return {};
}

} // namespace qev::dbf
