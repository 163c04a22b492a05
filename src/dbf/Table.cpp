#include "dbf/Table.h"

#include "dbf/Codepage.h"
#include "dbf/FileIo.h"
#include "dbf/Locks.h"
#include "dbf/Mdx.h"
#include "dbf/MemoFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>

namespace qev::dbf {

namespace {

using io::baseName;
using io::dirName;
using io::getU16;
using io::getU32;
using io::putToday;
using io::putU16;
using io::putU32;
using io::readFully;
using io::upper;
using io::writeFully;

uint64_t fileSizeOf(int fd) {
    return io::fileSize(fd);
}

constexpr int kHeader7 = 68;
constexpr int kDesc7 = 48;
constexpr int kHeader3 = 32;
constexpr int kDesc3 = 32;

std::string stemOf(const std::string& path) {
    const std::string b = baseName(path);
    const auto dot = b.find_last_of('.');
    return dot == std::string::npos ? b : b.substr(0, dot);
}

std::string_view trimRight(std::string_view s) {
    size_t n = s.size();
    while (n > 0 && (s[n - 1] == ' ' || s[n - 1] == '\0'))
        --n;
    return s.substr(0, n);
}

std::string_view trim(std::string_view s) {
    s = trimRight(s);
    size_t i = 0;
    while (i < s.size() && s[i] == ' ')
        ++i;
    return s.substr(i);
}

bool allBlank(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c == ' ' || c == '\0'; });
}

bool allZero(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c == '\0'; });
}

// Parses a dBase numeric text ("  -12.50"); false when it is not a number.
bool parseNumber(std::string_view s, double& out) {
    s = trim(s);
    if (s.empty() || s.size() > 40) return false;
    bool digits = false;
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c >= '0' && c <= '9') {
            digits = true;
        } else if ((c == '-' || c == '+') && i == 0) {
        } else if (c == '.' || c == 'e' || c == 'E') {
        } else if ((c == '-' || c == '+') && (s[i - 1] == 'e' || s[i - 1] == 'E')) {
        } else {
            return false;
        }
    }
    if (!digits) return false;
    char buf[48];
    std::memcpy(buf, s.data(), s.size());
    buf[s.size()] = '\0';
    char* end = nullptr;
    out = std::strtod(buf, &end);
    return end == buf + s.size() && std::isfinite(out);
}

uint64_t getBE64(const unsigned char* p) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i)
        v = v << 8 | p[i];
    return v;
}

void putBE64(unsigned char* p, uint64_t v) {
    for (int i = 7; i >= 0; --i) {
        p[i] = static_cast<unsigned char>(v);
        v >>= 8;
    }
}

// Level-7 doubles sort as bytes: positive values get the sign bit set, negative ones are inverted.
uint64_t orderPreserving(double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    return (bits & 0x8000000000000000ull) ? ~bits : bits | 0x8000000000000000ull;
}

double fromOrderPreserving(uint64_t bits) {
    bits = (bits & 0x8000000000000000ull) ? bits & ~0x8000000000000000ull : ~bits;
    double d;
    std::memcpy(&d, &bits, 8);
    return d;
}

constexpr double kMsPerDay = 86400000.0;

struct TypeInfo {
    bool known;
    int fixedLength; // 0: variable
};

TypeInfo typeInfo(char t, Level level) {
    switch (t) {
    case 'C':
    case 'N':
    case 'F':
        return {true, 0};
    case 'D':
        return {true, 8};
    case 'L':
        return {true, 1};
    case 'M':
    case 'B':
    case 'G':
        return {true, level == Level::DBase7 ? 10 : 0};
    case 'I':
    case '+':
        return {true, 4};
    case 'O':
    case '@':
        return {true, 8};
    default:
        return {false, 0};
    }
}

bool isMemoType(char t) {
    return t == 'M' || t == 'B' || t == 'G';
}

// A damaged descriptor may give a fixed-size type the wrong width; such a field is never decoded or written.
bool widthFitsType(const FieldDef& f) {
    switch (f.type) {
    case 'D':
    case 'O':
    case '@':
        return f.length == 8;
    case 'I':
    case '+':
        return f.length == 4;
    case 'M':
    case 'B':
    case 'G':
        return f.length == 10 || f.length == 4;
    default:
        return true;
    }
}

} // namespace

bool Table::KeyLess::operator()(const Value& a, const Value& b) const {
    return compareValues(a, b) < 0;
}

Result<FieldDef> normaliseField(FieldDef f, Level level) {
    f.name = upper(f.name);
    const size_t maxName = level == Level::DBase7 ? 31 : 10;
    if (f.name.empty() || f.name.size() > maxName) {
        return fail("field name '" + f.name + "' must have 1 to " + std::to_string(maxName) + " characters");
    }
    for (char c : f.name) {
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) {
            return fail("field name '" + f.name + "' may only hold letters, digits and '_'");
        }
    }
    const TypeInfo ti = typeInfo(f.type, level);
    if (!ti.known) return fail(std::string("field ") + f.name + " has an unknown type '" + f.type + "'");
    if (level != Level::DBase7 && (f.type == 'I' || f.type == '+' || f.type == 'O' || f.type == '@')) {
        return fail(std::string("field ") + f.name + ": type '" + f.type + "' needs a level 7 table");
    }
    if (isMemoType(f.type)) {
        f.length = 10;
        f.decimals = 0;
    } else if (ti.fixedLength > 0) {
        f.length = ti.fixedLength;
        f.decimals = 0;
    } else if (f.type == 'C') {
        if (f.length < 1 || f.length > 254) return fail("field " + f.name + ": text width must be 1 to 254");
        f.decimals = 0;
    } else {
        if (f.length < 1 || f.length > 20) return fail("field " + f.name + ": numeric width must be 1 to 20");
        if (f.decimals < 0 || f.decimals > 18 || (f.decimals > 0 && f.decimals > f.length - 2)) {
            return fail("field " + f.name + ": decimals do not fit the width");
        }
    }
    return f;
}

// ---------------------------------------------------------------------------------------------------------------
// Opening and creating

std::string findFileNoCase(const std::string& folder, const std::string& name) {
    const std::string exact = (folder.empty() ? std::string(".") : folder) + "/" + name;
    struct stat st {};
    if (::stat(exact.c_str(), &st) == 0) return exact;
    DIR* d = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!d) return {};
    std::string found;
    const std::string want = upper(name);
    while (dirent* e = ::readdir(d)) {
        if (upper(e->d_name) == want) {
            found = (folder.empty() ? std::string(".") : folder) + "/" + e->d_name;
            break;
        }
    }
    ::closedir(d);
    return found;
}

std::string companionFile(const std::string& tablePath, const std::string& suffix, bool* exists) {
    const std::string folder = dirName(tablePath);
    const std::string stem = stemOf(tablePath);
    const std::string found = findFileNoCase(folder, stem + suffix);
    if (exists) *exists = !found.empty();
    if (!found.empty()) return found;
    // Mirror the case of the table's extension for a new companion ("PED.DBF" -> "PED.DBT").
    const std::string base = baseName(tablePath);
    const bool upperExt = base.size() > 4 && base.substr(base.size() - 3) == upper(base.substr(base.size() - 3));
    std::string sfx = suffix;
    if (!upperExt) {
        for (char& c : sfx)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return folder + "/" + stem + sfx;
}

Table::~Table() {
    if (m_journalFd >= 0) ::close(m_journalFd);
    if (m_fd >= 0) ::close(m_fd);
}

std::string Table::fileName() const {
    return baseName(m_path);
}

std::string Table::codepageName() const {
    return m_codepage ? m_codepage->name() : "cp1252";
}

int Table::fieldIndex(std::string_view name) const {
    auto same = [](std::string_view a, std::string_view b) {
        if (a.size() != b.size()) return false;
        for (size_t i = 0; i < a.size(); ++i) {
            const auto x = static_cast<unsigned char>(a[i]);
            const auto y = static_cast<unsigned char>(b[i]);
            if (x != y && (x | 0x20) != (y | 0x20)) return false;
            if (x != y && !((x | 0x20) >= 'a' && (x | 0x20) <= 'z')) return false;
        }
        return true;
    };
    for (size_t i = 0; i < m_fields.size(); ++i) {
        if (same(m_fields[i].name, name)) return static_cast<int>(i);
    }
    return -1;
}

namespace {
std::atomic<bool> g_syncDefault{true};
} // namespace

void Table::setSyncDefault(bool on) {
    g_syncDefault = on;
}

Result<void> Table::settlePost(bool memoChanged) {
    if (!m_syncPosts) return {};
    if (memoChanged && m_memo)
        if (auto r = m_memo->sync(); !r) return r;
    if (::fdatasync(m_fd) != 0) return fail(fileName() + ": cannot write to disk: " + std::strerror(errno));
    if (m_mdx && ::fdatasync(m_mdx->fd()) != 0)
        return fail(m_mdx->fileName() + ": cannot write to disk: " + std::strerror(errno));
    return {};
}

Result<std::unique_ptr<Table>> Table::open(const std::string& path, OpenMode mode) {
    return openTable(path, mode, true);
}

Result<std::unique_ptr<Table>> Table::openTable(const std::string& path, OpenMode mode, bool finishRewrite) {
    std::string actual = path;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        actual = findFileNoCase(dirName(path), baseName(path));
        if (actual.empty()) return fail(baseName(path) + ": no such table");
    }
    const bool ro = mode == OpenMode::ReadOnly;
    if (!ro && finishRewrite) finishInterruptedRewrite(actual);
    const int fd = ::open(actual.c_str(), (ro ? O_RDONLY : O_RDWR) | O_CLOEXEC);
    if (fd < 0) return fail(baseName(actual) + ": cannot open: " + std::strerror(errno));
    std::unique_ptr<Table> t(new Table);
    t->m_syncPosts = g_syncDefault;
    t->m_path = actual;
    t->m_fd = fd;
    t->m_mode = mode;
    // Every open holds the sentinel shared; an exclusive open holds it exclusively, so each kind refuses the other.
    if (!locks::lock(fd, locks::kOpenSentinel, 1, mode == OpenMode::Exclusive, false)) {
        return fail(baseName(actual) + (mode == OpenMode::Exclusive
                                            ? ": table is in use by another process"
                                            : ": table is opened exclusively by another process"));
    }
    // An exclusive open also holds every record and the header the way the old engine locks a whole table, so
    // that older workstations, which know nothing of the sentinel, can lock no row meanwhile.
    if (mode == OpenMode::Exclusive && !locks::lock(fd, locks::kTableFirst, locks::kTableLength, true, false)) {
        return fail(baseName(actual) + ": table is in use by another process");
    }
    if (auto r = t->readHeader(); !r) return fail(r.error());
    if (!ro) t->takeBackInterruptedAppend();
    if (auto r = t->openMemo(); !r) return fail(r.error());
    t->openIndexFile();
    return t;
}

void Table::takeBackInterruptedAppend() {
    const uint64_t rl = static_cast<uint64_t>(m_recordLength);
    auto counted = [this, rl] { return static_cast<uint64_t>(m_headerLength) + uint64_t(m_recordCount) * rl; };
    const uint64_t size = fileSizeOf(m_fd);
    if (rl == 0 || size <= counted() + 1 || size > counted() + rl + 1) return;
    // An append writes its row past the counted ones and then moves the count; a process that died between the
    // two left one uncounted row, which no one acknowledged and the next append would overwrite anyway. It is cut
    // off while no one appends (an append under way holds these locks, and is then simply left to finish). More
    // than one uncounted row is not what an append leaves, and stays for the check to report.
    if (!exclusive() && !locks::lock(m_fd, locks::kBase, 2, true, false)) return;
    recordCount();
    const uint64_t end = counted();
    const uint64_t now = fileSizeOf(m_fd);
    if (now > end + 1 && now <= end + rl + 1 && ::ftruncate(m_fd, static_cast<off_t>(end)) == 0) {
        const char eof = '\x1A';
        (void)writeFully(m_fd, end, &eof, 1);
    }
    if (!exclusive()) locks::unlock(m_fd, locks::kBase, 2);
}

Result<void> Table::readHeader() {
    const std::string name = fileName();
    const uint64_t size = fileSizeOf(m_fd);
    unsigned char h[kHeader7] = {};
    if (size < kHeader3 || !readFully(m_fd, 0, h, kHeader3)) return fail(name + ": header is truncated");
    m_version = h[0];
    const int lvl = m_version & 0x07;
    if (lvl == 4) {
        m_level = Level::DBase7;
    } else if (lvl == 3) {
        m_level = (m_version == 0x83 || (m_version == 0x03 && h[29] == 0)) ? Level::DBase3 : Level::DBase4;
    } else {
        return fail(name + ": not a dBase table (version byte " + std::to_string(m_version) + ")");
    }
    m_recordCount = getU32(h + 4);
    m_headerLength = getU16(h + 8);
    m_recordLength = getU16(h + 10);
    m_mdxFlag = h[28];
    m_ldid = h[29];
    const int fixed = m_level == Level::DBase7 ? kHeader7 : kHeader3;
    const int desc = m_level == Level::DBase7 ? kDesc7 : kDesc3;
    if (m_level == Level::DBase7) {
        if (size < kHeader7 || !readFully(m_fd, 0, h, kHeader7)) return fail(name + ": header is truncated");
        const char* drv = reinterpret_cast<const char*>(h + 32);
        m_languageDriver.assign(drv, strnlen(drv, 32));
    } else {
        m_languageDriver.clear();
    }
    if (m_headerLength < fixed + 1 || static_cast<uint64_t>(m_headerLength) > size) {
        return fail(name + ": header length " + std::to_string(m_headerLength) + " does not fit the file");
    }
    if (m_recordLength < 1) return fail(name + ": record length is zero");
    std::string hdr(static_cast<size_t>(m_headerLength), '\0');
    if (!readFully(m_fd, 0, hdr.data(), hdr.size())) return fail(name + ": header is truncated");
    m_fields.clear();
    m_offsets.clear();
    m_fieldTagged.clear();
    int offset = 1;
    for (int pos = fixed;; pos += desc) {
        if (pos >= m_headerLength) return fail(name + ": field list has no end mark");
        if (static_cast<unsigned char>(hdr[static_cast<size_t>(pos)]) == 0x0D) break;
        if (pos + desc > m_headerLength) return fail(name + ": field list has no end mark");
        const auto* d = reinterpret_cast<const unsigned char*>(hdr.data() + pos);
        FieldDef f;
        const int nameLen = m_level == Level::DBase7 ? 32 : 11;
        f.name.assign(reinterpret_cast<const char*>(d),
                      strnlen(reinterpret_cast<const char*>(d), static_cast<size_t>(nameLen)));
        while (!f.name.empty() && f.name.back() == ' ')
            f.name.pop_back();
        if (m_level == Level::DBase7) {
            f.type = static_cast<char>(d[32]);
            f.length = d[33];
            f.decimals = d[34];
        } else {
            f.type = static_cast<char>(d[11]);
            f.length = d[16];
            f.decimals = d[17];
            // Old writers store wide text fields' width across both bytes.
            if (f.type == 'C' && f.decimals > 0) {
                f.length |= f.decimals << 8;
                f.decimals = 0;
            }
        }
        if (f.length < 1) return fail(name + ": field " + f.name + " has width 0");
        m_fieldTagged.push_back(d[m_level == Level::DBase7 ? 37 : 31] != 0);
        m_fields.push_back(f);
        m_offsets.push_back(offset);
        offset += f.length;
    }
    if (m_fields.empty()) return fail(name + ": table has no fields");
    if (offset > m_recordLength) {
        return fail(name + ": fields need " + std::to_string(offset) + " bytes but records hold " +
                    std::to_string(m_recordLength));
    }
    m_codepage = &Codepage::forTable(m_ldid, m_languageDriver);
    return {};
}

Result<void> Table::openMemo() {
    const bool needsMemo = std::any_of(m_fields.begin(), m_fields.end(), [](const FieldDef& f) { return f.isMemo(); });
    if (!needsMemo) return {};
    bool exists = false;
    const std::string memoPath = companionFile(m_path, ".DBT", &exists);
    if (!exists) return {}; // memo fields then read as errors naming the missing file
    auto m = MemoFile::open(memoPath, m_level == Level::DBase3, m_mode == OpenMode::ReadOnly);
    if (!m) return fail(m.error());
    m_memo.reset(*m);
    return {};
}

Result<std::unique_ptr<Table>> Table::create(const std::string& path, const std::vector<FieldDef>& fieldsIn,
                                             const CreateOptions& options) {
    if (fieldsIn.empty()) return fail(baseName(path) + ": a table needs at least one field");
    std::vector<FieldDef> fields;
    bool hasMemo = false;
    int recLen = 1;
    for (const auto& f : fieldsIn) {
        auto n = normaliseField(f, options.level);
        if (!n) return fail(baseName(path) + ": " + n.error());
        for (const auto& g : fields) {
            if (g.name == n->name) return fail(baseName(path) + ": field " + g.name + " appears twice");
        }
        hasMemo = hasMemo || n->isMemo();
        recLen += n->length;
        fields.push_back(*n);
    }
    if (recLen > 65535) return fail(baseName(path) + ": records would exceed 65535 bytes");
    const bool l7 = options.level == Level::DBase7;
    const int fixed = l7 ? kHeader7 : kHeader3;
    const int desc = l7 ? kDesc7 : kDesc3;
    const int headerLen = fixed + desc * static_cast<int>(fields.size()) + 1;
    std::string h(static_cast<size_t>(headerLen) + 1, '\0');
    auto* p = reinterpret_cast<unsigned char*>(h.data());
    if (l7) {
        p[0] = hasMemo ? 0x8C : 0x04;
    } else if (options.level == Level::DBase4) {
        p[0] = hasMemo ? 0x8B : 0x03;
    } else {
        p[0] = hasMemo ? 0x83 : 0x03;
    }
    putToday(p + 1);
    putU16(p + 8, static_cast<uint32_t>(headerLen));
    putU16(p + 10, static_cast<uint32_t>(recLen));
    if (l7) {
        const std::string drv = options.languageDriver.substr(0, 31);
        std::memcpy(p + 32, drv.data(), drv.size());
    } else if (options.level == Level::DBase4) {
        p[29] = ldidForDriver(options.languageDriver);
    }
    std::vector<MdxTag> tags;
    for (const auto& name : options.indexTags) {
        const std::string want = upper(name);
        const auto f = std::find_if(fields.begin(), fields.end(), [&](const FieldDef& g) { return g.name == want; });
        if (f == fields.end()) return fail(baseName(path) + ": no field " + want + " to index");
        auto tag = mdxTagForField(*f);
        if (!tag) return fail(baseName(path) + ": " + tag.error());
        tags.push_back(*tag);
    }
    if (!tags.empty()) p[28] = 0x01; // a production index comes with the table
    int pos = fixed;
    for (const auto& f : fields) {
        unsigned char* d = p + pos;
        const bool tagged =
            std::any_of(tags.begin(), tags.end(), [&](const MdxTag& t) { return t.expression == f.name; });
        if (tagged) d[l7 ? 37 : 31] = 0x01;
        std::memcpy(d, f.name.data(), f.name.size());
        if (l7) {
            d[32] = static_cast<unsigned char>(f.type);
            d[33] = static_cast<unsigned char>(f.length);
            d[34] = static_cast<unsigned char>(f.decimals);
            if (f.type == '+') putU32(d + 42, 1); // next autoincrement value
        } else {
            d[11] = static_cast<unsigned char>(f.type);
            d[16] = static_cast<unsigned char>(f.length);
            d[17] = static_cast<unsigned char>(f.decimals);
        }
        pos += desc;
    }
    p[pos] = 0x0D;
    p[pos + 1] = 0x1A;
    if (!findFileNoCase(dirName(path), baseName(path)).empty()) {
        return fail(baseName(path) + ": a table of that name exists already");
    }
    std::string memoPath;
    if (hasMemo) {
        bool memoExists = false;
        memoPath = companionFile(path, ".DBT", &memoExists);
        if (memoExists) return fail(baseName(memoPath) + ": a memo file of that name exists already");
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return fail(baseName(path) + ": cannot create: " + std::strerror(errno));
    const bool ok = writeFully(fd, 0, h.data(), h.size());
    ::close(fd);
    if (!ok) {
        ::unlink(path.c_str());
        return fail(baseName(path) + ": cannot write the header");
    }
    if (hasMemo) {
        if (auto r = MemoFile::create(memoPath, stemOf(path), options.level == Level::DBase3, options.memoBlockSize);
            !r) {
            ::unlink(path.c_str());
            return fail(r.error());
        }
    }
    if (!tags.empty()) {
        const std::vector<MdxKeys> none(tags.size());
        const std::string mdxPath = companionFile(path, ".MDX");
        if (auto r = MdxFile::write(mdxPath, l7 ? 3 : 2, stemOf(path), tags, none); !r) {
            ::unlink(path.c_str());
            if (hasMemo) ::unlink(memoPath.c_str());
            return fail(r.error());
        }
    }
    return open(path, OpenMode::Shared);
}

// ---------------------------------------------------------------------------------------------------------------
// Reading

uint32_t Table::recordCount() {
    unsigned char b[4];
    if (readFully(m_fd, 4, b, 4)) m_recordCount = getU32(b);
    return m_recordCount;
}

std::string Table::where(uint32_t recno, int field) const {
    std::string s = fileName();
    if (recno > 0) s += ", record " + std::to_string(recno);
    if (field >= 0) s += ", field " + m_fields[static_cast<size_t>(field)].name;
    return s;
}

Result<void> Table::readRaw(uint32_t first, uint32_t count, std::string& out) {
    if (first == 0) return fail(fileName() + ": records are numbered from 1");
    const uint64_t rl = static_cast<uint64_t>(m_recordLength);
    const uint64_t offset = static_cast<uint64_t>(m_headerLength) + (static_cast<uint64_t>(first) - 1) * rl;
    const uint64_t want = static_cast<uint64_t>(count) * rl;
    // A damaged record count must not make the buffer larger than the file.
    const uint64_t size = fileSizeOf(m_fd);
    if (offset + want > size) {
        const uint64_t have = size > offset ? (size - offset) / rl : 0;
        return fail(where(first + static_cast<uint32_t>(have), -1) + ": record lies beyond the end of the file");
    }
    out.resize(static_cast<size_t>(want));
    if (want == 0) return {};
    if (!readFully(m_fd, offset, out.data(), out.size())) {
        return fail(where(first, -1) + ": cannot read the record: " + std::strerror(errno));
    }
    return {};
}

Result<Row> Table::read(uint32_t recno) {
    std::string raw;
    if (auto r = readRaw(recno, 1, raw); !r) return fail(r.error());
    Row row;
    row.deleted = raw[0] == '*';
    row.values.reserve(m_fields.size());
    for (size_t i = 0; i < m_fields.size(); ++i) {
        auto v = decodeField(raw.data(), static_cast<int>(i), recno);
        if (!v) return fail(v.error());
        row.values.push_back(std::move(*v));
    }
    return row;
}

Result<Value> Table::readField(uint32_t recno, int field) {
    if (field < 0 || field >= static_cast<int>(m_fields.size())) return fail(fileName() + ": no such field");
    std::string raw;
    if (auto r = readRaw(recno, 1, raw); !r) return fail(r.error());
    return decodeField(raw.data(), field, recno);
}

Result<bool> Table::isDeleted(uint32_t recno) {
    if (recno == 0) return fail(fileName() + ": records are numbered from 1");
    char flag = 0;
    const uint64_t offset = static_cast<uint64_t>(m_headerLength) +
                            (static_cast<uint64_t>(recno) - 1) * static_cast<uint64_t>(m_recordLength);
    if (!readFully(m_fd, offset, &flag, 1)) return fail(where(recno, -1) + ": record lies beyond the end of the file");
    return flag == '*';
}

Result<Value> Table::decodeField(const char* raw, int field, uint32_t recno) {
    const FieldDef& f = m_fields[static_cast<size_t>(field)];
    if (!widthFitsType(f)) {
        return fail(where(recno, field) + ": width " + std::to_string(f.length) + " does not fit type '" +
                    std::string(1, f.type) + "'");
    }
    const std::string_view s(raw + m_offsets[static_cast<size_t>(field)], static_cast<size_t>(f.length));
    const auto* u = reinterpret_cast<const unsigned char*>(s.data());
    switch (f.type) {
    case 'C': {
        const std::string_view t = trimRight(s);
        if (t.empty()) return Value();
        return Value(m_codepage->toUtf8(t));
    }
    case 'N':
    case 'F': {
        if (allBlank(s)) return Value();
        double d = 0;
        if (!parseNumber(s, d)) return fail(where(recno, field) + ": '" + std::string(trim(s)) + "' is not a number");
        return Value(d);
    }
    case 'D': {
        if (allBlank(s) || s == "00000000") return Value();
        Date d;
        bool digits = std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (digits) {
            d.year = std::stoi(std::string(s.substr(0, 4)));
            d.month = std::stoi(std::string(s.substr(4, 2)));
            d.day = std::stoi(std::string(s.substr(6, 2)));
        }
        if (!digits || !d.valid()) return fail(where(recno, field) + ": '" + std::string(s) + "' is not a date");
        return Value(d);
    }
    case 'L': {
        switch (s[0]) {
        case 'T':
        case 't':
        case 'Y':
        case 'y':
            return Value(true);
        case 'F':
        case 'f':
        case 'N':
        case 'n':
            return Value(false);
        case ' ':
        case '?':
        case '\0':
            return Value();
        default:
            return fail(where(recno, field) + ": '" + std::string(1, s[0]) + "' is not a logical value");
        }
    }
    case 'M':
    case 'B':
    case 'G': {
        const auto pointer = io::memoBlock(s.data(), f.length);
        if (!pointer)
            return fail(where(recno, field) + ": memo pointer '" + std::string(trim(s)) + "' is not a number");
        const uint32_t block = *pointer;
        if (block == 0) return Value();
        if (!m_memo) return fail(where(recno, field) + ": the memo file is missing");
        auto data = m_memo->read(block);
        if (!data) return fail(where(recno, field) + ": " + data.error());
        if (f.type == 'M') return Value(m_codepage->toUtf8(*data));
        return Value(Bytes{std::move(*data)});
    }
    case 'I':
    case '+': {
        if (allZero(s)) return Value();
        const uint32_t be = static_cast<uint32_t>(u[0]) << 24 | static_cast<uint32_t>(u[1]) << 16 |
                            static_cast<uint32_t>(u[2]) << 8 | u[3];
        return Value(static_cast<int64_t>(static_cast<int32_t>(be ^ 0x80000000u)));
    }
    case 'O': {
        if (allZero(s)) return Value();
        return Value(fromOrderPreserving(getBE64(u)));
    }
    case '@': {
        if (allZero(s)) return Value();
        const uint64_t bits = getBE64(u);
        double ms;
        std::memcpy(&ms, &bits, 8);
        if (!std::isfinite(ms) || ms < kMsPerDay || ms > 3652060.0 * kMsPerDay) {
            return fail(where(recno, field) + ": timestamp is out of range");
        }
        const auto days = static_cast<int64_t>(std::floor(ms / kMsPerDay));
        const auto msOfDay = static_cast<int64_t>(std::llround(ms - static_cast<double>(days) * kMsPerDay));
        return Value(DateTime{Date::fromOrdinal(days), msOfDay});
    }
    default:
        return fail(where(recno, field) + ": unknown field type '" + std::string(1, f.type) + "'");
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Writing

Result<void> Table::encodeField(int field, const Value& v, char* dest, const char* oldDest, uint32_t recno,
                                std::vector<uint32_t>& newBlocks) {
    const FieldDef& f = m_fields[static_cast<size_t>(field)];
    const auto len = static_cast<size_t>(f.length);
    auto* u = reinterpret_cast<unsigned char*>(dest);
    auto bad = [&](const std::string& why) { return fail(where(recno, field) + ": " + why); };
    if (!widthFitsType(f)) {
        // Keep the bytes of a field this engine cannot interpret.
        if (oldDest) {
            std::memcpy(dest, oldDest, len);
        } else {
            std::memset(dest, ' ', len);
        }
        if (!v.isNull()) return bad("width " + std::to_string(f.length) + " does not fit its type");
        return {};
    }
    switch (f.type) {
    case 'C': {
        std::memset(dest, ' ', len);
        if (v.isNull()) return {};
        std::string text;
        if (v.isText()) {
            text = v.text();
        } else if (v.isNumber() || v.isBool() || v.isDate()) {
            text = v.toString();
        } else {
            return bad("a text is expected");
        }
        std::string bytes;
        if (!m_codepage->fromUtf8(text, bytes)) {
            return bad("'" + text + "' has characters that code page " + m_codepage->name() + " cannot hold");
        }
        if (bytes.size() > len) {
            return bad("'" + text + "' is longer than " + std::to_string(len) + " characters");
        }
        std::memcpy(dest, bytes.data(), bytes.size());
        return {};
    }
    case 'N':
    case 'F': {
        std::memset(dest, ' ', len);
        if (v.isNull()) return {};
        double d = 0;
        if (v.isNumber()) {
            d = v.number();
        } else if (v.isText()) {
            if (allBlank(v.text())) return {};
            if (!parseNumber(v.text(), d)) return bad("'" + v.text() + "' is not a number");
        } else if (v.isBool()) {
            d = v.boolean() ? 1 : 0;
        } else {
            return bad("a number is expected");
        }
        if (!std::isfinite(d)) return bad("the number is not finite");
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.*f", f.decimals, d);
        std::string_view t(buf);
        if (t == "-0" ||
            (t.substr(0, 3) == "-0." && std::all_of(t.begin() + 3, t.end(), [](char c) { return c == '0'; }))) {
            t.remove_prefix(1);
        }
        if (t.size() > len) return bad(std::string(buf) + " does not fit in " + std::to_string(len) + " characters");
        std::memcpy(dest + (len - t.size()), t.data(), t.size());
        return {};
    }
    case 'D': {
        std::memset(dest, ' ', len);
        if (v.isNull()) return {};
        Date d;
        if (v.isDate()) {
            d = v.date();
        } else if (v.isDateTime()) {
            d = v.dateTime().date;
        } else if (v.isText()) {
            const std::string t(trim(v.text()));
            if (t.empty()) return {};
            if (t.size() == 10 && t[4] == '-' && t[7] == '-') {
                d = Date{std::atoi(t.substr(0, 4).c_str()), std::atoi(t.substr(5, 2).c_str()),
                         std::atoi(t.substr(8, 2).c_str())};
            } else if (t.size() == 8 && std::all_of(t.begin(), t.end(), ::isdigit)) {
                d = Date{std::atoi(t.substr(0, 4).c_str()), std::atoi(t.substr(4, 2).c_str()),
                         std::atoi(t.substr(6, 2).c_str())};
            }
        } else {
            return bad("a date is expected");
        }
        if (!d.valid()) return bad("'" + v.toString() + "' is not a date");
        char buf[16];
        std::snprintf(buf, sizeof buf, "%04d%02d%02d", d.year, d.month, d.day);
        std::memcpy(dest, buf, 8);
        return {};
    }
    case 'L': {
        if (v.isNull()) {
            dest[0] = ' ';
        } else if (v.isBool()) {
            dest[0] = v.boolean() ? 'T' : 'F';
        } else if (v.isNumber()) {
            dest[0] = v.number() != 0 ? 'T' : 'F';
        } else if (v.isText() && v.text().size() == 1 && std::strchr("TtYyFfNn", v.text()[0])) {
            dest[0] = std::strchr("TtYy", v.text()[0]) ? 'T' : 'F';
        } else {
            return bad("a logical value is expected");
        }
        return {};
    }
    case 'M':
    case 'B':
    case 'G': {
        // Keep the old pointer when the value is unchanged. A changed value always goes to other blocks and the row
        // is pointed at them after they are whole: overwriting the old blocks in place would, if the process died
        // or the power failed half-way, leave a memo that is neither the old value nor the new one (and a reader in
        // another process could meet it half-written). The old blocks go back to the free chain afterwards.
        std::string data;
        bool empty = v.isNull();
        if (!empty) {
            if (v.isBytes()) {
                data = v.bytes().data;
            } else if (v.isText()) {
                if (f.type == 'M') {
                    if (!m_codepage->fromUtf8(v.text(), data)) {
                        return bad("the text has characters that code page " + m_codepage->name() + " cannot hold");
                    }
                } else {
                    data = v.text();
                }
            } else {
                return bad("a memo value is expected");
            }
            empty = data.empty();
        }
        const uint32_t oldBlock = oldDest ? io::memoBlock(oldDest, f.length).value_or(0) : 0;
        uint32_t block = 0;
        if (!empty) {
            if (!m_memo) return bad("the memo file is missing");
            if (oldBlock != 0) {
                auto old = m_memo->read(oldBlock);
                if (old && *old == data) {
                    std::memcpy(dest, oldDest, len);
                    return {};
                }
            }
            auto w = m_memo->write(data);
            if (!w) return bad(w.error());
            block = *w;
            newBlocks.push_back(block);
        }
        io::putMemoBlock(dest, f.length, block);
        return {};
    }
    case 'I':
    case '+': {
        if (v.isNull()) {
            std::memset(dest, 0, 4);
            return {};
        }
        if (!v.isNumber()) return bad("a whole number is expected");
        const double d = v.number();
        if (d != std::floor(d) || d < -2147483647.0 || d > 2147483647.0)
            return bad(v.toString() + " is not a 32-bit whole number");
        const uint32_t be = static_cast<uint32_t>(static_cast<int32_t>(d)) ^ 0x80000000u;
        u[0] = static_cast<unsigned char>(be >> 24);
        u[1] = static_cast<unsigned char>(be >> 16);
        u[2] = static_cast<unsigned char>(be >> 8);
        u[3] = static_cast<unsigned char>(be);
        return {};
    }
    case 'O': {
        if (v.isNull()) {
            std::memset(dest, 0, 8);
            return {};
        }
        if (!v.isNumber()) return bad("a number is expected");
        putBE64(u, orderPreserving(v.number()));
        return {};
    }
    case '@': {
        if (v.isNull()) {
            std::memset(dest, 0, 8);
            return {};
        }
        DateTime t;
        if (v.isDateTime()) {
            t = v.dateTime();
        } else if (v.isDate()) {
            t = DateTime{v.date(), 0};
        } else {
            return bad("a date and time is expected");
        }
        if (!t.date.valid() || t.msOfDay < 0 || t.msOfDay >= 86400000) return bad("the date and time is not valid");
        const double ms = static_cast<double>(t.date.ordinal()) * kMsPerDay + static_cast<double>(t.msOfDay);
        uint64_t bits;
        std::memcpy(&bits, &ms, 8);
        putBE64(u, bits);
        return {};
    }
    default:
        // A field of a type this engine does not know keeps its bytes.
        if (oldDest) {
            std::memcpy(dest, oldDest, len);
        } else {
            std::memset(dest, ' ', len);
        }
        if (!v.isNull()) return bad("unknown field type '" + std::string(1, f.type) + "' cannot be written");
        return {};
    }
}

Result<std::string> Table::encodeRecord(const Record& values, const std::string* oldRaw, uint32_t recno,
                                        std::vector<uint32_t>& newBlocks) {
    if (values.size() > m_fields.size()) {
        return fail(fileName() + ": " + std::to_string(values.size()) + " values for " +
                    std::to_string(m_fields.size()) + " fields");
    }
    std::string raw(static_cast<size_t>(m_recordLength), ' ');
    if (oldRaw) raw = *oldRaw;
    raw[0] = oldRaw ? (*oldRaw)[0] : ' ';
    static const Value kNull;
    for (size_t i = 0; i < m_fields.size(); ++i) {
        const Value& v = i < values.size() ? values[i] : kNull;
        const size_t off = static_cast<size_t>(m_offsets[i]);
        const char* old = oldRaw ? oldRaw->data() + off : nullptr;
        // `raw` is a copy, so a refused field leaves nothing half-written on disk.
        if (auto r = encodeField(static_cast<int>(i), v, raw.data() + off, old, recno, newBlocks); !r) {
            giveBack(newBlocks);
            newBlocks.clear();
            return fail(r.error());
        }
    }
    return raw;
}

Result<void> Table::writeHeaderCount(uint32_t count) {
    unsigned char b[7];
    putToday(b); // the last-update date
    putU32(b + 3, count);
    if (!writeFully(m_fd, 1, b, sizeof b)) return fail(fileName() + ": cannot write the header");
    m_recordCount = count;
    return {};
}

void Table::giveBack(const std::vector<uint32_t>& newBlocks) {
    for (uint32_t b : newBlocks)
        m_memo->release(b);
}

Result<void> Table::beforeRow(IndexPost& post, bool changesKeys, uint32_t recno, const char* oldRaw,
                              const std::vector<uint32_t>& newBlocks) {
    // The row only ever points at memo blocks that are on disk.
    Result<void> r;
    if (m_syncPosts && !newBlocks.empty()) r = m_memo->sync();
    if (r && changesKeys) r = post.begin(*this, recno, oldRaw);
    if (!r) giveBack(newBlocks);
    return r;
}

Result<uint32_t> Table::append(const Record& values) {
    if (readOnly()) return fail(fileName() + " is open read-only");
    std::vector<uint32_t> newBlocks;
    // Header and append bytes; an exclusive open has the file to itself and its cached count is current.
    const bool alone = exclusive();
    // Both locks of an append go in one release: from the new record's byte up to the append byte (this open
    // holds no other record's lock meanwhile).
    struct AppendLocks {
        int fd = -1;
        off_t from = locks::kBase;
        ~AppendLocks() {
            if (fd >= 0) locks::unlock(fd, from, locks::kAppend + 1 - from);
        }
    } held;
    if (!alone) {
        if (!locks::lock(m_fd, locks::kBase, 2, true, true))
            return fail(fileName() + ": cannot lock the table for appending");
        held.fd = m_fd;
    }
    const uint32_t previous = m_recordCount;
    const uint32_t count = alone && m_appendChecked ? m_recordCount : recordCount();
    const uint64_t rl = static_cast<uint64_t>(m_recordLength);
    const uint64_t end = static_cast<uint64_t>(m_headerLength) + static_cast<uint64_t>(count) * rl;
    // The file's length is checked against the count whenever someone else moved the count since our own last
    // append (only this open's appends are known to have left it consistent).
    if ((count != previous || !m_appendChecked) && fileSizeOf(m_fd) < end) {
        return fail(fileName() + ": the header counts " + std::to_string(count) +
                    " records but the file is shorter; check and repair the table before appending");
    }
    const uint32_t recno = count + 1;
    // The new record is locked too, as the old engine does, so nobody edits it before it is whole.
    if (!alone) {
        if (!locks::lock(m_fd, locks::recordOffset(recno), 1, true, true))
            return fail(fileName() + ": cannot lock the new record");
        held.from = locks::recordOffset(recno);
    }
    // Autoincrement fields take the next value from their descriptor.
    Record vals = values;
    vals.resize(m_fields.size());
    for (size_t i = 0; i < m_fields.size(); ++i) {
        if (m_fields[i].type != '+' || !vals[i].isNull() || m_level != Level::DBase7) continue;
        unsigned char nb[4];
        const uint64_t at = static_cast<uint64_t>(kHeader7 + kDesc7 * static_cast<int>(i) + 42);
        if (!readFully(m_fd, at, nb, 4)) return fail(fileName() + ": cannot read the autoincrement value");
        uint32_t next = getU32(nb);
        if (next == 0) next = 1;
        vals[i] = Value(static_cast<int64_t>(next));
        putU32(nb, next + 1);
        if (!writeFully(m_fd, at, nb, 4)) return fail(fileName() + ": cannot write the autoincrement value");
    }
    auto raw = encodeRecord(vals, nullptr, recno, newBlocks);
    if (!raw) return fail(raw.error());
    raw->push_back('\x1A');
    IndexPost post;
    if (auto r = beforeRow(post, true, recno, nullptr, newBlocks); !r) return fail(r.error());
    if (!writeFully(m_fd, end, raw->data(), raw->size())) {
        giveBack(newBlocks);
        if (::ftruncate(m_fd, static_cast<off_t>(end)) != 0) { /* the count below still excludes the row */
        }
        return fail(fileName() + ": cannot write record " + std::to_string(recno) + ": " + std::strerror(errno));
    }
    if (auto r = writeHeaderCount(recno); !r) return fail(r.error());
    m_appendChecked = true;
    if (auto r = indexFileAdd(raw->data(), recno); !r) return fail(r.error());
    if (auto r = settlePost(false); !r) return fail(r.error());
    post.end();
    if (m_indexField >= 0 && m_indexedUpTo == count) {
        auto key = decodeField(raw->data(), m_indexField, recno);
        indexInsert(key ? *key : Value(), recno);
        m_indexedUpTo = recno;
    }
    return recno;
}

Result<void> Table::update(uint32_t recno, const Record& values) {
    if (readOnly()) return fail(fileName() + " is open read-only");
    if (recno == 0 || recno > recordCount()) return fail(where(recno, -1) + ": no such record");
    locks::Guard guard =
        exclusive() ? locks::Guard::alreadyHeld(m_fd) : locks::Guard(m_fd, locks::recordOffset(recno), 1);
    if (!guard.held()) return fail(where(recno, -1) + ": cannot lock the record");
    std::string old;
    if (auto r = readRaw(recno, 1, old); !r) return fail(r.error());
    std::vector<uint32_t> newBlocks;
    auto raw = encodeRecord(values, &old, recno, newBlocks);
    if (!raw) return fail(raw.error());
    const uint64_t offset = static_cast<uint64_t>(m_headerLength) +
                            (static_cast<uint64_t>(recno) - 1) * static_cast<uint64_t>(m_recordLength);
    IndexPost post;
    if (auto r = beforeRow(post, indexKeysDiffer(old.data(), raw->data()), recno, old.data(), newBlocks); !r)
        return fail(r.error());
    if (!writeFully(m_fd, offset, raw->data(), raw->size())) {
        giveBack(newBlocks);
        return fail(where(recno, -1) + ": cannot write: " + std::strerror(errno));
    }
    // Memo blocks the row no longer points at go back to the free chain.
    bool released = false;
    for (size_t i = 0; i < m_fields.size(); ++i) {
        if (!m_fields[i].isMemo() || !m_memo) continue;
        const size_t off = static_cast<size_t>(m_offsets[i]);
        const auto len = static_cast<size_t>(m_fields[i].length);
        if (std::memcmp(old.data() + off, raw->data() + off, len) == 0) continue;
        const uint32_t oldBlock = io::memoBlock(old.data() + off, m_fields[i].length).value_or(0);
        if (oldBlock != 0) m_memo->release(oldBlock);
        released = released || oldBlock != 0;
    }
    if (auto r = indexFileChange(old.data(), raw->data(), recno); !r) return fail(r.error());
    // The old memo blocks went back to the free chain: the memo file is settled too.
    if (auto r = settlePost(released); !r) return fail(r.error());
    post.end();
    if (m_indexField >= 0 && recno <= m_indexedUpTo) {
        indexRemove(recno);
        if (raw->front() != '*') {
            auto key = decodeField(raw->data(), m_indexField, recno);
            indexInsert(key ? *key : Value(), recno);
        }
    }
    return {};
}

Result<void> Table::setDeleted(uint32_t recno, bool deleted) {
    if (readOnly()) return fail(fileName() + " is open read-only");
    if (recno == 0 || recno > recordCount()) return fail(where(recno, -1) + ": no such record");
    locks::Guard guard =
        exclusive() ? locks::Guard::alreadyHeld(m_fd) : locks::Guard(m_fd, locks::recordOffset(recno), 1);
    if (!guard.held()) return fail(where(recno, -1) + ": cannot lock the record");
    const char flag = deleted ? '*' : ' ';
    const uint64_t offset = static_cast<uint64_t>(m_headerLength) +
                            (static_cast<uint64_t>(recno) - 1) * static_cast<uint64_t>(m_recordLength);
    if (!writeFully(m_fd, offset, &flag, 1)) return fail(where(recno, -1) + ": cannot write the delete flag");
    if (m_syncPosts && ::fdatasync(m_fd) != 0) return fail(where(recno, -1) + ": cannot write to disk");
    if (m_indexField >= 0 && recno <= m_indexedUpTo) {
        indexRemove(recno);
        if (!deleted) {
            auto key = readField(recno, m_indexField);
            indexInsert(key ? *key : Value(), recno);
        }
    }
    return {};
}

Result<void> Table::share() {
    if (m_mode != OpenMode::Exclusive) return {};
    // An open-file-description lock of the same owner is converted in place, so no other open can come between.
    if (!locks::lock(m_fd, locks::kOpenSentinel, 1, false, false)) return fail(fileName() + ": cannot share the table");
    locks::unlock(m_fd, locks::kTableFirst, locks::kTableLength);
    m_mode = OpenMode::Shared;
    return {};
}

Result<void> Table::sync() {
    if (::fdatasync(m_fd) != 0) return fail(fileName() + ": cannot write to disk: " + std::strerror(errno));
    if (m_memo) {
        if (auto r = m_memo->sync(); !r) return r;
    }
    if (m_mdx && ::fdatasync(m_mdx->fd()) != 0)
        return fail(m_mdx->fileName() + ": cannot write to disk: " + std::strerror(errno));
    return {};
}

// ---------------------------------------------------------------------------------------------------------------
// Key index

void Table::indexInsert(const Value& key, uint32_t recno) {
    if (recno == 0) return;
    const size_t slot = recno - 1;
    if (slot >= m_entryOf.size()) m_entryOf.resize(std::max<size_t>(slot + 1, m_entryOf.size() * 3 / 2), m_index.end());
    // A record indexed again leaves its old entry.
    if (m_entryOf[slot] != m_index.end()) m_index.erase(m_entryOf[slot]);
    // Rows mostly come in file order and keys (request numbers) mostly grow with it: hinting at the end makes
    // building the index of a whole table linear in that case, and costs nothing otherwise.
    m_entryOf[slot] = m_index.emplace_hint(m_index.end(), key, recno);
}

void Table::indexRemove(uint32_t recno) {
    if (recno == 0 || recno > m_entryOf.size()) return;
    auto& entry = m_entryOf[recno - 1];
    if (entry == m_index.end()) return;
    m_index.erase(entry);
    entry = m_index.end();
}

Result<void> Table::setIndex(std::string_view fieldName, bool build) {
    const int idx = fieldIndex(fieldName);
    if (idx < 0) return fail(fileName() + ": no field " + std::string(fieldName) + " to index");
    m_indexField = idx;
    m_indexFieldName = m_fields[static_cast<size_t>(idx)].name;
    if (build) return rebuildIndex();
    m_index.clear();
    m_entryOf.clear();
    m_indexedUpTo = 0;
    return {};
}

Result<void> Table::rebuildIndex() {
    m_index.clear();
    m_entryOf.clear();
    m_indexedUpTo = 0;
    if (m_indexField < 0) return {};
    return indexNewRows();
}

Result<void> Table::indexNewRows() {
    const uint32_t count = recordCount();
    const uint32_t chunk = 512;
    std::string buf;
    for (uint32_t first = m_indexedUpTo + 1; first <= count; first += chunk) {
        const uint32_t n = std::min(chunk, count - first + 1);
        if (auto r = readRaw(first, n, buf); !r) return r;
        for (uint32_t k = 0; k < n; ++k) {
            const char* raw = buf.data() + static_cast<size_t>(k) * static_cast<size_t>(m_recordLength);
            if (raw[0] == '*') continue;
            auto key = decodeField(raw, m_indexField, first + k);
            // A key that cannot be read sorts with the nulls; the row stays reachable.
            indexInsert(key ? *key : Value(), first + k);
        }
        m_indexedUpTo = first + n - 1;
    }
    return {};
}

Result<std::vector<uint32_t>> Table::orderedRecords() {
    std::vector<uint32_t> out;
    if (m_indexField < 0) {
        const uint32_t count = recordCount();
        std::string buf;
        for (uint32_t first = 1; first <= count; first += 512) {
            const uint32_t n = std::min<uint32_t>(512, count - first + 1);
            if (auto r = readRaw(first, n, buf); !r) return fail(r.error());
            for (uint32_t k = 0; k < n; ++k) {
                if (buf[static_cast<size_t>(k) * static_cast<size_t>(m_recordLength)] != '*') out.push_back(first + k);
            }
        }
        return out;
    }
    if (auto r = indexNewRows(); !r) return fail(r.error());
    out.reserve(m_index.size());
    for (const auto& [key, recno] : m_index)
        out.push_back(recno);
    return out;
}

Result<std::optional<uint32_t>> Table::find(const Value& key) {
    if (m_indexField < 0) return fail(fileName() + ": no key index is set");
    Value k = key;
    if (k.isText()) k = Value(std::string(trimRight(k.text())));
    if (k.isText() && k.text().empty()) k = Value();
    if (auto r = indexNewRows(); !r) return fail(r.error());
    for (int attempt = 0; attempt < 2; ++attempt) {
        auto range = m_index.equal_range(k);
        bool stale = false;
        std::optional<uint32_t> best;
        for (auto it = range.first; it != range.second; ++it) {
            // Another process may have changed the row: confirm it before answering.
            std::string raw;
            if (auto r = readRaw(it->second, 1, raw); !r) {
                stale = true;
                continue;
            }
            auto now = decodeField(raw.data(), m_indexField, it->second);
            if (raw[0] == '*' || !now || compareValues(*now, k) != 0) {
                stale = true;
                continue;
            }
            if (!best || it->second < *best) best = it->second;
        }
        if (best) return best;
        if (!stale) return std::optional<uint32_t>();
        if (auto r = rebuildIndex(); !r) return fail(r.error());
    }
    return std::optional<uint32_t>();
}

// ---------------------------------------------------------------------------------------------------------------
// Production index

void Table::openIndexFile() {
    m_mdx.reset();
    m_tagFields.clear();
    m_mdxProblem.clear();
    if (!m_mdxFlag) return;
    bool exists = false;
    const std::string path = companionFile(m_path, ".MDX", &exists);
    if (!exists) {
        m_mdxProblem = baseName(path) + ": falta el índice de producción";
        return;
    }
    auto m = MdxFile::open(path, readOnly());
    if (!m) {
        m_mdxProblem = m.error();
        return;
    }
    for (const MdxTag& t : (*m)->tags()) {
        const int field = fieldIndex(t.expression);
        if (field < 0) {
            m_mdxProblem = (*m)->fileName() + ", etiqueta " + t.name + ": la expresión \"" + t.expression +
                           "\" no es un campo de la tabla";
            return;
        }
        auto want = mdxTagForField(m_fields[static_cast<size_t>(field)]);
        if (!want || want->keyType != t.keyType || want->keyLength != t.keyLength) {
            m_mdxProblem = (*m)->fileName() + ", etiqueta " + t.name + ": la clave de " + std::to_string(t.keyLength) +
                           " bytes de tipo " + std::string(1, t.keyType) + " no corresponde al campo " +
                           m_fields[static_cast<size_t>(field)].name;
            return;
        }
        if (t.descending || t.unique) {
            m_mdxProblem = (*m)->fileName() + ", etiqueta " + t.name + ": etiqueta descendente o única no soportada";
            return;
        }
        m_tagFields.push_back(field);
    }
    m_mdx = std::move(*m);
    // A post that a process which died left half done is put right now, before anyone reads the keys.
    if (!readOnly()) {
        // The index is opened again after every regeneration: the journal stays open from the first time.
        if (m_journalFd < 0) m_journalFd = ::open(companionFile(m_path, ".MDJ").c_str(), O_RDWR | O_CLOEXEC);
        if (m_journalFd >= 0) {
            locks::Guard guard =
                exclusive() ? locks::Guard::alreadyHeld(m_mdx->fd()) : locks::Guard(m_mdx->fd(), locks::kBase, 1);
            if (guard.held()) recoverIndexJournal();
        }
    }
}

// ---- Journal ---------------------------------------------------------------------------------------------------

namespace {
constexpr unsigned char kJournalMagic[4] = {'Q', 'J', 'N', '1'};
constexpr size_t kJournalHead = 13;       // magic, record, kind, length
constexpr unsigned char kRewriteNote = 2; // record 0: a pack or restructure is swapping its files in

uint32_t journalSum(const unsigned char* p, size_t n) {
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < n; ++i)
        h = (h ^ p[i]) * 16777619u;
    return h;
}

bool rewriteNoted(int journalFd) {
    unsigned char note[kJournalHead + 4];
    return readFully(journalFd, 0, note, sizeof note) && std::memcmp(note, kJournalMagic, 4) == 0 &&
           getU32(note + 4) == 0 && note[8] == kRewriteNote &&
           getU32(note + kJournalHead) == journalSum(note, kJournalHead);
}
} // namespace

void Table::finishInterruptedRewrite(const std::string& actual) {
    const std::string journal = companionFile(actual, ".MDJ");
    const int jfd = ::open(journal.c_str(), O_RDWR | O_CLOEXEC);
    if (jfd < 0) return;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closeJournal{jfd};
    if (!rewriteNoted(jfd)) return;
    // The note is written once the new files are whole on disk, before the first of them is renamed over the old
    // one: the renames still to do are done now, so the table and its memo file are both the new ones. This needs
    // the table alone (the process that wrote the note had it so; while it lives it is left to finish).
    {
        const int fd = ::open(actual.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) return;
        Closer closeTable{fd};
        if (!locks::lock(fd, locks::kOpenSentinel, 1, true, false) ||
            !locks::lock(fd, locks::kTableFirst, locks::kTableLength, true, false))
            return;
        bool memoExists = false;
        const std::string memo = companionFile(actual, ".DBT", &memoExists);
        struct stat st {};
        const std::string memoWork = memo + ".tmp~";
        const std::string tableWork = actual + ".tmp~";
        if (memoExists && ::stat(memoWork.c_str(), &st) == 0 && ::rename(memoWork.c_str(), memo.c_str()) != 0) return;
        if (::stat(tableWork.c_str(), &st) == 0 && ::rename(tableWork.c_str(), actual.c_str()) != 0) return;
    }
    // The production index described the old rows: it is regenerated from the new ones.
    auto t = openTable(actual, OpenMode::Exclusive, false);
    if (!t) return;
    if ((*t)->m_mdxFlag && !(*t)->regenerateIndexFile(false)) return;
    const unsigned char none[4] = {0, 0, 0, 0};
    (void)writeFully(jfd, 0, none, sizeof none);
}

Result<void> Table::noteRewrite() {
    if (m_journalFd < 0) {
        const std::string journal = companionFile(m_path, ".MDJ");
        m_journalFd = ::open(journal.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (m_journalFd < 0)
            return fail(baseName(journal) + ": no se puede crear el diario de la tabla: " + std::strerror(errno));
    }
    unsigned char note[kJournalHead + 4] = {};
    std::memcpy(note, kJournalMagic, 4);
    note[8] = kRewriteNote;
    putU32(note + kJournalHead, journalSum(note, kJournalHead));
    if (!writeFully(m_journalFd, 0, note, sizeof note) || ::fdatasync(m_journalFd) != 0)
        return fail(fileName() + ": no se puede escribir el diario de la tabla: " + std::strerror(errno));
    return {};
}

Table::IndexPost::~IndexPost() {
    end();
}

Result<void> Table::IndexPost::begin(Table& t, uint32_t recno, const char* oldRaw) {
    if (!t.m_mdx) return {};
    m_guard.emplace(t.exclusive() ? locks::Guard::alreadyHeld(t.m_mdx->fd())
                                  : locks::Guard(t.m_mdx->fd(), locks::kBase, 1));
    if (!m_guard->held()) {
        m_guard.reset();
        return fail(t.m_mdx->fileName() + ": no se puede bloquear el índice");
    }
    m_table = &t;
    t.m_indexLocked = true;
    if (t.m_journalFd >= 0 && rewriteNoted(t.m_journalFd)) {
        // A pack that died while swapping its files in, which could not be finished because the table was not
        // free: the index describes the old rows until the next open that has the table alone regenerates it.
        t.m_mdxProblem = t.m_mdx->fileName() + ": el índice espera su regeneración tras una compactación interrumpida";
        t.m_mdx.reset();
        return {};
    }
    t.recoverIndexJournal();
    if (!t.m_mdx) return {}; // the index turned out damaged: the row is still written, the keys wait for repair
    return t.journalWrite(recno, oldRaw);
}

void Table::IndexPost::end() {
    if (!m_table) return;
    m_table->journalClear();
    m_table->m_indexLocked = false;
    m_table = nullptr;
    m_guard.reset();
}

Result<void> Table::journalWrite(uint32_t recno, const char* oldRaw) {
    if (m_journalFd < 0) {
        const std::string journal = companionFile(m_path, ".MDJ");
        m_journalFd = ::open(journal.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (m_journalFd < 0 || (m_syncPosts && !io::syncFolderOf(journal)))
            return fail(baseName(journal) + ": no se puede crear el diario del índice: " + std::strerror(errno));
    }
    const size_t length = oldRaw ? static_cast<size_t>(m_recordLength) : 0;
    std::string entry(kJournalHead + length + 4, '\0');
    auto* p = reinterpret_cast<unsigned char*>(entry.data());
    std::memcpy(p, kJournalMagic, 4);
    putU32(p + 4, recno);
    p[8] = oldRaw ? 1 : 0;
    putU32(p + 9, static_cast<uint32_t>(length));
    if (oldRaw) std::memcpy(p + kJournalHead, oldRaw, length);
    putU32(p + kJournalHead + length, journalSum(p, kJournalHead + length));
    if (!writeFully(m_journalFd, 0, entry.data(), entry.size()) || (m_syncPosts && ::fdatasync(m_journalFd) != 0))
        return fail(fileName() + ": no se puede escribir el diario del índice: " + std::strerror(errno));
    return {};
}

void Table::journalClear() {
    if (m_journalFd < 0) return;
    const unsigned char none[4] = {0, 0, 0, 0};
    (void)writeFully(m_journalFd, 0, none, sizeof none);
}

void Table::recoverIndexJournal() {
    if (m_journalFd < 0 || !m_mdx) return;
    unsigned char head[kJournalHead];
    if (!readFully(m_journalFd, 0, head, sizeof head) || std::memcmp(head, kJournalMagic, 4) != 0) return;
    const uint32_t recno = getU32(head + 4);
    if (recno == 0) return; // a rewrite's note, finished only by an open that has the table alone
    const bool hasOld = head[8] == 1;
    const uint32_t length = getU32(head + 9);
    if (length != (hasOld ? static_cast<uint32_t>(m_recordLength) : 0u)) return journalClear();
    std::string entry(kJournalHead + length + 4, '\0');
    auto* p = reinterpret_cast<unsigned char*>(entry.data());
    if (!readFully(m_journalFd, 0, p, entry.size()) ||
        getU32(p + kJournalHead + length) != journalSum(p, kJournalHead + length))
        return journalClear(); // a note torn while it was written: its post had not touched the row yet
    const char* oldRaw = hasOld ? entry.data() + kJournalHead : nullptr;
    std::string current;
    const bool counted = recno >= 1 && recno <= recordCount() && readRaw(recno, 1, current).ok();
    // Whatever keys of this row the dead post left (the old one, the new one, or both), they go, and the key of
    // what the row holds now is put back.
    char key[256];
    for (size_t i = 0; i < m_tagFields.size() && m_mdx; ++i) {
        const auto f = static_cast<size_t>(m_tagFields[i]);
        const MdxTag& tag = m_mdx->tags()[i];
        Result<void> done;
        const char* const raws[] = {oldRaw, counted ? current.data() : nullptr};
        for (const char* raw : raws) {
            if (!raw || !done) continue;
            mdxKeyOf(m_fields[f], raw + m_offsets[f], tag, key);
            for (int n = 0; n < 3 && done; ++n) {
                auto removed = m_mdx->remove(i, reinterpret_cast<const unsigned char*>(key), recno);
                if (!removed)
                    done = fail(removed.error());
                else if (!*removed)
                    break;
            }
        }
        if (done && counted) {
            mdxKeyOf(m_fields[f], current.data() + m_offsets[f], tag, key);
            done = m_mdx->insert(i, reinterpret_cast<const unsigned char*>(key), recno);
        }
        if (!done) {
            // A tree the dead process left half split: the whole index waits for its regeneration.
            m_mdxProblem = done.error();
            m_mdx.reset();
        }
    }
    journalClear();
}

bool Table::indexKeysDiffer(const char* oldRaw, const char* newRaw) const {
    if (!m_mdx) return false;
    char before[256];
    char after[256];
    for (size_t i = 0; i < m_tagFields.size(); ++i) {
        const auto f = static_cast<size_t>(m_tagFields[i]);
        const MdxTag& tag = m_mdx->tags()[i];
        mdxKeyOf(m_fields[f], oldRaw + m_offsets[f], tag, before);
        mdxKeyOf(m_fields[f], newRaw + m_offsets[f], tag, after);
        if (std::memcmp(before, after, static_cast<size_t>(tag.keyLength)) != 0) return true;
    }
    return false;
}

std::vector<std::string> Table::indexTags() const {
    std::vector<std::string> out;
    for (int f : m_tagFields)
        out.push_back(m_fields[static_cast<size_t>(f)].name);
    return out;
}

void Table::IndexPlan::add(const Table& t, const char* raw, uint32_t recno) {
    char key[256];
    for (size_t i = 0; i < tags.size(); ++i) {
        const auto f = static_cast<size_t>(fields[i]);
        mdxKeyOf(t.m_fields[f], raw + t.m_offsets[f], tags[i], key);
        keys[i].add(key, recno);
    }
}

Table::IndexPlan Table::planIndexFile() {
    IndexPlan plan;
    // The index's own tags when it opens and all are on fields; else the fields the header flags; else the
    // table's usual ones.
    std::vector<int> fields = m_mdx ? m_tagFields : std::vector<int>{};
    if (fields.empty()) {
        for (size_t i = 0; i < m_fieldTagged.size(); ++i)
            if (m_fieldTagged[i]) fields.push_back(static_cast<int>(i));
    }
    if (fields.empty()) {
        for (const auto& name : m_defaultTags) {
            const int f = fieldIndex(name);
            if (f >= 0) fields.push_back(f);
        }
    }
    for (int f : fields) {
        auto tag = mdxTagForField(m_fields[static_cast<size_t>(f)]);
        if (!tag) {
            plan.problem = tag.error();
            continue;
        }
        plan.tags.push_back(*tag);
        plan.fields.push_back(f);
        MdxKeys k;
        k.keyLength = tag->keyLength;
        plan.keys.push_back(std::move(k));
    }
    return plan;
}

Result<void> Table::writeIndexFlags(const std::vector<int>& fields) {
    const bool l7 = m_level == Level::DBase7;
    const int fixed = l7 ? kHeader7 : kHeader3;
    const int desc = l7 ? kDesc7 : kDesc3;
    const unsigned char flag = fields.empty() ? 0 : 1;
    if (!writeFully(m_fd, 28, &flag, 1)) return fail(fileName() + ": cannot write the header");
    for (size_t i = 0; i < m_fields.size(); ++i) {
        const bool tagged = std::find(fields.begin(), fields.end(), static_cast<int>(i)) != fields.end();
        if (tagged == m_fieldTagged[i]) continue;
        const unsigned char b = tagged ? 1 : 0;
        const uint64_t at = static_cast<uint64_t>(fixed + desc * static_cast<int>(i) + (l7 ? 37 : 31));
        if (!writeFully(m_fd, at, &b, 1)) return fail(fileName() + ": cannot write the header");
        m_fieldTagged[i] = tagged;
    }
    m_mdxFlag = flag;
    return {};
}

Result<void> Table::settleIndexFile(IndexPlan& plan, bool force, bool* written) {
    if (written) *written = false;
    if (plan.tags.empty()) return {};
    for (size_t i = 0; i < plan.tags.size(); ++i)
        plan.keys[i].sort(plan.tags[i].keyType);
    bool same = !force && m_mdx && m_mdx->tags().size() == plan.tags.size() && m_mdxProblem.empty();
    for (size_t i = 0; same && i < plan.tags.size(); ++i) {
        const MdxTag& have = m_mdx->tags()[i];
        const MdxKeys& want = plan.keys[i];
        same = m_tagFields[i] == plan.fields[i] && have.keyType == plan.tags[i].keyType &&
               have.keyLength == want.keyLength;
        if (!same) break;
        // Mostly the file holds the keys exactly in the regeneration's order: compared as they are walked.
        size_t pos = 0;
        bool inStep = true;
        const auto kl = static_cast<size_t>(want.keyLength);
        auto streamed = m_mdx->walk(i, [&](const unsigned char* k, uint32_t recno) {
            inStep = inStep && pos < want.size() && want.recnos[pos] == recno && std::memcmp(k, want.key(pos), kl) == 0;
            ++pos;
        });
        if (!streamed) {
            same = false;
            break;
        }
        if (inStep && pos == want.size()) continue;
        // Else the file's keys are gathered, equal keys put by record as the regeneration puts them.
        MdxKeys found;
        found.keyLength = have.keyLength;
        auto walked = m_mdx->walk(
            i, [&](const unsigned char* k, uint32_t recno) { found.add(reinterpret_cast<const char*>(k), recno); });
        if (!walked || found.size() != want.size()) {
            same = false;
            break;
        }
        found.sort(have.keyType);
        same = found.keys == want.keys && found.recnos == want.recnos;
    }
    if (same) return {};
    const std::string path = companionFile(m_path, ".MDX");
    m_mdx.reset();
    if (auto r = MdxFile::write(path, m_level == Level::DBase7 ? 3 : 2, stemOf(m_path), plan.tags, plan.keys); !r)
        return r;
    if (auto r = writeIndexFlags(plan.fields); !r) return r;
    openIndexFile();
    if (!m_mdxProblem.empty()) return fail(m_mdxProblem);
    if (written) *written = true;
    return {};
}

Result<void> Table::regenerateIndexFile(bool force, bool* written) {
    if (!exclusive()) return fail(fileName() + ": the table must be opened exclusively to regenerate its index");
    IndexPlan plan = planIndexFile();
    if (!plan.problem.empty()) return fail(fileName() + ": " + plan.problem);
    m_index.clear();
    m_entryOf.clear();
    m_indexedUpTo = 0;
    const uint32_t count = recordCount();
    constexpr uint32_t kChunk = 2048;
    std::string buf;
    for (uint32_t first = 1; first <= count; first += kChunk) {
        const uint32_t n = std::min(kChunk, count - first + 1);
        if (auto r = readRaw(first, n, buf); !r) return r;
        for (uint32_t k = 0; k < n; ++k) {
            const char* raw = buf.data() + static_cast<size_t>(k) * static_cast<size_t>(m_recordLength);
            // Deleted rows keep their keys in the tags until a pack; the key index holds live rows only.
            plan.add(*this, raw, first + k);
            if (m_indexField >= 0 && raw[0] != '*') {
                auto key = decodeField(raw, m_indexField, first + k);
                indexInsert(key ? *key : Value(), first + k);
            }
        }
    }
    m_indexedUpTo = count;
    return settleIndexFile(plan, force, written);
}

Result<void> Table::indexFileAdd(const char* raw, uint32_t recno) {
    if (!m_mdx) return {};
    locks::Guard guard = exclusive() || m_indexLocked ? locks::Guard::alreadyHeld(m_mdx->fd())
                                                      : locks::Guard(m_mdx->fd(), locks::kBase, 1);
    if (!guard.held()) return fail(m_mdx->fileName() + ": no se puede bloquear el índice");
    char key[256];
    for (size_t i = 0; i < m_tagFields.size(); ++i) {
        const auto f = static_cast<size_t>(m_tagFields[i]);
        mdxKeyOf(m_fields[f], raw + m_offsets[f], m_mdx->tags()[i], key);
        if (auto r = m_mdx->insert(i, reinterpret_cast<const unsigned char*>(key), recno); !r) {
            // The row is written; the damaged index is left to the next check and regeneration.
            m_mdxProblem = r.error();
            m_mdx.reset();
            return {};
        }
    }
    return {};
}

Result<void> Table::indexFileChange(const char* oldRaw, const char* newRaw, uint32_t recno) {
    if (!m_mdx) return {};
    std::optional<locks::Guard> guard;
    char before[256];
    char after[256];
    for (size_t i = 0; i < m_tagFields.size(); ++i) {
        const auto f = static_cast<size_t>(m_tagFields[i]);
        const MdxTag& tag = m_mdx->tags()[i];
        mdxKeyOf(m_fields[f], oldRaw + m_offsets[f], tag, before);
        mdxKeyOf(m_fields[f], newRaw + m_offsets[f], tag, after);
        if (std::memcmp(before, after, static_cast<size_t>(tag.keyLength)) == 0) continue;
        if (!guard) {
            guard.emplace(exclusive() || m_indexLocked ? locks::Guard::alreadyHeld(m_mdx->fd())
                                                       : locks::Guard(m_mdx->fd(), locks::kBase, 1));
            if (!guard->held()) return fail(m_mdx->fileName() + ": no se puede bloquear el índice");
        }
        auto moved = m_mdx->replace(i, reinterpret_cast<const unsigned char*>(before),
                                    reinterpret_cast<const unsigned char*>(after), recno);
        if (!moved || !*moved) {
            m_mdxProblem = !moved ? moved.error()
                                  : m_mdx->fileName() + ", etiqueta " + tag.name + ": falta la clave del registro " +
                                        std::to_string(recno);
            m_mdx.reset();
            return {};
        }
    }
    return {};
}

std::vector<std::string> Table::checkIndexFile(bool rows) {
    std::vector<std::string> problems;
    bool exists = false;
    const std::string path = companionFile(m_path, ".MDX", &exists);
    if (!m_mdxFlag) {
        if (exists)
            problems.push_back(fileName() + ": la cabecera no marca el índice " + baseName(path) + " que existe");
        return problems;
    }
    openIndexFile(); // the file as it is now
    if (!m_mdx) {
        problems.push_back(m_mdxProblem);
        return problems;
    }
    for (size_t i = 0; i < m_fieldTagged.size(); ++i) {
        const bool tagged = std::find(m_tagFields.begin(), m_tagFields.end(), static_cast<int>(i)) != m_tagFields.end();
        if (tagged != m_fieldTagged[i])
            problems.push_back(fileName() + ", campo " + m_fields[i].name +
                               (tagged ? ": tiene etiqueta pero la cabecera no lo marca"
                                       : ": la cabecera lo marca indexado pero el índice no tiene su etiqueta"));
    }
    const uint32_t count = recordCount();
    std::string buf;
    for (size_t i = 0; i < m_tagFields.size(); ++i) {
        const MdxTag& tag = m_mdx->tags()[i];
        const std::string at = m_mdx->fileName() + ", etiqueta " + tag.name;
        const size_t before = problems.size();
        auto note = [&](const std::string& text) {
            if (problems.size() - before < 20) problems.push_back(at + ": " + text);
        };
        std::vector<uint8_t> seen(static_cast<size_t>(count) + 1, 0);
        uint64_t keys = 0;
        uint32_t dangling = 0;
        auto walked = m_mdx->walk(i, [&](const unsigned char*, uint32_t recno) {
            ++keys;
            if (recno > count) {
                ++dangling;
                note("la clave apunta al registro " + std::to_string(recno) + ", que no existe");
            } else if (seen[recno]++ == 1) {
                note("el registro " + std::to_string(recno) + " tiene más de una clave");
            }
        });
        if (!walked) {
            problems.push_back(walked.error());
            continue;
        }
        uint32_t missing = 0;
        for (uint32_t r = 1; r <= count; ++r) {
            if (seen[r] == 0 && ++missing <= 5) note("falta la clave del registro " + std::to_string(r));
        }
        if (keys != count)
            note(std::to_string(keys) + " claves para " + std::to_string(count) + " registros (" +
                 std::to_string(missing) + " faltan, " + std::to_string(dangling) + " sobran)");
        if (!rows) continue;
        // Each key against its record's field.
        const auto f = static_cast<size_t>(m_tagFields[i]);
        const auto kl = static_cast<size_t>(tag.keyLength);
        std::vector<std::string> keyOf(static_cast<size_t>(count) + 1);
        (void)m_mdx->walk(i, [&](const unsigned char* k, uint32_t recno) {
            if (recno <= count) keyOf[recno].assign(reinterpret_cast<const char*>(k), kl);
        });
        char expect[256];
        uint32_t wrong = 0;
        for (uint32_t first = 1; first <= count; first += 2048) {
            const uint32_t n = std::min<uint32_t>(2048, count - first + 1);
            if (auto r = readRaw(first, n, buf); !r) {
                problems.push_back(r.error());
                break;
            }
            for (uint32_t k = 0; k < n; ++k) {
                const uint32_t recno = first + k;
                if (keyOf[recno].empty()) continue;
                const char* raw = buf.data() + static_cast<size_t>(k) * static_cast<size_t>(m_recordLength);
                mdxKeyOf(m_fields[f], raw + m_offsets[f], tag, expect);
                if (std::memcmp(expect, keyOf[recno].data(), kl) != 0 && ++wrong <= 5)
                    note("la clave del registro " + std::to_string(recno) + " no es la del campo " + m_fields[f].name);
            }
        }
        if (wrong > 5) note(std::to_string(wrong) + " claves no coinciden con sus registros");
    }
    return problems;
}

} // namespace qev::dbf
