// Packing and restructuring: the table is written anew beside the original and swapped in with rename(2), so a
// failure at any step leaves the original files untouched.
#include "dbf/Codepage.h"
#include "dbf/FileIo.h"
#include "dbf/Locks.h"
#include "dbf/MemoFile.h"
#include "dbf/Table.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace qev::dbf {

namespace {

using io::baseName;
using io::upper;

bool writeAll(int fd, const std::string& data, uint64_t offset) {
    return io::writeFully(fd, offset, data.data(), data.size());
}

// A temporary file in the table's folder that disappears unless it is kept.
struct TempFile {
    std::string path;
    int fd = -1;
    bool keep = false;
    ~TempFile() {
        if (fd >= 0) ::close(fd);
        if (!keep && !path.empty()) ::unlink(path.c_str());
    }
};

} // namespace

Result<void> Table::restructure(const std::vector<FieldDef>& newFields) {
    if (!exclusive()) return fail(fileName() + ": the table must be opened exclusively to restructure it");
    auto r = rewrite(newFields, false, false);
    // Keys move with the fields (a widened text key grows): the production index follows the new layout.
    if (r && m_mdxFlag) r = regenerateIndexFile(false);
    if (r) journalClear();
    return r;
}

Result<void> Table::pack() {
    if (!exclusive()) return fail("Table must be opened exclusive to pack");
    auto r = rewrite(m_fields, true, m_memo != nullptr);
    if (r) journalClear();
    return r;
}

Result<void> Table::rewrite(const std::vector<FieldDef>& fieldsIn, bool dropDeleted, bool compactMemo) {
    const std::string name = fileName();
    std::vector<FieldDef> newFields;
    for (const auto& f : fieldsIn) {
        // A field kept exactly as it is stays as it is, even one this engine cannot interpret.
        const int old = fieldIndex(f.name);
        if (old >= 0 && m_fields[static_cast<size_t>(old)] == f) {
            newFields.push_back(f);
            continue;
        }
        auto n = normaliseField(f, m_level);
        if (!n) return fail(name + ": " + n.error());
        newFields.push_back(*n);
    }
    const bool l7 = m_level == Level::DBase7;
    const int fixed = l7 ? 68 : 32;
    const int desc = l7 ? 48 : 32;

    // Read the old header whole: fixed part, descriptors, terminator and (level 7) the properties structure.
    std::string oldHeader(static_cast<size_t>(m_headerLength), '\0');
    if (::pread(m_fd, oldHeader.data(), oldHeader.size(), 0) != static_cast<ssize_t>(oldHeader.size())) {
        return fail(name + ": cannot read the header");
    }
    const size_t oldTerm = static_cast<size_t>(fixed + desc * static_cast<int>(m_fields.size()));
    const std::string tail = oldHeader.substr(oldTerm + 1); // properties structure and padding, kept verbatim

    std::string header = oldHeader.substr(0, static_cast<size_t>(fixed));
    int recLen = 1;
    std::vector<int> sourceOf;
    for (const auto& f : newFields) {
        const int old = fieldIndex(f.name);
        std::string d(static_cast<size_t>(desc), '\0');
        if (old >= 0) d = oldHeader.substr(static_cast<size_t>(fixed + desc * old), static_cast<size_t>(desc));
        std::memset(d.data(), 0, l7 ? 32 : 11);
        std::memcpy(d.data(), f.name.data(), std::min<size_t>(f.name.size(), l7 ? 31 : 10));
        if (l7) {
            d[32] = f.type;
            d[33] = static_cast<char>(f.length);
            d[34] = static_cast<char>(f.decimals);
        } else {
            d[11] = f.type;
            d[16] = static_cast<char>(f.length & 0xFF);
            d[17] = static_cast<char>(f.type == 'C' ? (f.length >> 8) : f.decimals);
        }
        header += d;
        sourceOf.push_back(old);
        recLen += f.length;
    }
    if (recLen > 65535) return fail(name + ": records would exceed 65535 bytes");
    header += '\x0D';
    header += tail;
    const auto headerLen = static_cast<uint32_t>(header.size());
    if (headerLen > 65535) return fail(name + ": the header would exceed 65535 bytes");
    auto* h = reinterpret_cast<unsigned char*>(header.data());
    h[8] = static_cast<unsigned char>(headerLen);
    h[9] = static_cast<unsigned char>(headerLen >> 8);
    h[10] = static_cast<unsigned char>(recLen);
    h[11] = static_cast<unsigned char>(recLen >> 8);

    const uint32_t count = recordCount();
    // A pack keeps the layout, so the key index is regenerated from the rows as they are copied, numbered as they
    // will be in the packed file.
    const bool indexing = dropDeleted && m_indexField >= 0 && newFields == m_fields;
    if (indexing) {
        m_index.clear();
        m_entryOf.clear();
        m_indexedUpTo = 0;
    }
    // The production index is regenerated from the same pass: the kept rows' keys, numbered as they will be.
    const bool mdxPass = dropDeleted && newFields == m_fields;
    IndexPlan plan;
    if (mdxPass) plan = planIndexFile();

    TempFile memoTmp;
    std::unique_ptr<MemoFile> newMemo;
    TempFile tableTmp;
    // The work files are made when the first row to write is known to be needed: a pack that finds nothing deleted
    // writes nothing at all.
    auto makeWorkFiles = [&]() -> Result<void> {
        if (compactMemo && m_memo) {
            memoTmp.path = m_memo->path() + ".tmp~";
            ::unlink(memoTmp.path.c_str());
            std::string stem = baseName(m_path);
            stem = stem.substr(0, stem.find_last_of('.'));
            if (auto r = MemoFile::create(memoTmp.path, stem, m_memo->dbase3(), m_memo->blockSize()); !r) return r;
            auto m = MemoFile::open(memoTmp.path, m_memo->dbase3(), false);
            if (!m) return fail(m.error());
            newMemo.reset(*m);
        }
        tableTmp.path = m_path + ".tmp~";
        ::unlink(tableTmp.path.c_str());
        struct stat st {};
        ::fstat(m_fd, &st);
        tableTmp.fd = ::open(tableTmp.path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 0777);
        if (tableTmp.fd < 0) return fail(name + ": cannot create a work file: " + std::strerror(errno));
        // The new file is held exclusively before it takes the table's name, so no other process slips in.
        if (!locks::lock(tableTmp.fd, locks::kOpenSentinel, 1, true, false) ||
            !locks::lock(tableTmp.fd, locks::kTableFirst, locks::kTableLength, true, false))
            return fail(name + ": cannot lock the work file");
        return {};
    };
    auto cannotWrite = [&name] { return fail(name + ": cannot write the work file: " + std::strerror(errno)); };

    // One record in the new layout, its memo copied to the new memo file.
    std::string row(static_cast<size_t>(recLen), ' ');
    auto convert = [&](const char* src, uint32_t recno) -> Result<void> {
        row[0] = src[0];
        int pos = 1;
        for (size_t i = 0; i < newFields.size(); ++i) {
            const FieldDef& nf = newFields[i];
            char* dst = row.data() + pos;
            const auto nlen = static_cast<size_t>(nf.length);
            const int old = sourceOf[i];
            const bool zeroFilled = nf.type == 'I' || nf.type == '+' || nf.type == 'O' || nf.type == '@';
            std::memset(dst, zeroFilled ? '\0' : ' ', nlen);
            if (old >= 0) {
                const FieldDef& of = m_fields[static_cast<size_t>(old)];
                const char* s = src + m_offsets[static_cast<size_t>(old)];
                const auto olen = static_cast<size_t>(of.length);
                if (of.type != nf.type) return fail(name + ": field " + nf.name + " cannot change its type");
                if (nf.isMemo()) {
                    uint32_t block = io::memoBlock(s, of.length).value_or(0);
                    if (block != 0 && newMemo) {
                        auto data = m_memo->read(block);
                        if (!data) {
                            return fail(name + ", record " + std::to_string(recno) + ", field " + nf.name + ": " +
                                        data.error());
                        }
                        auto w = newMemo->write(*data);
                        if (!w) return fail(w.error());
                        block = *w;
                    }
                    io::putMemoBlock(dst, nf.length, block);
                } else if (nf.type == 'N' || nf.type == 'F') {
                    if (nlen < olen || nf.decimals != of.decimals) {
                        return fail(name + ": field " + nf.name + " can only be widened, keeping its decimals");
                    }
                    std::memcpy(dst + (nlen - olen), s, olen); // numbers stay right-justified
                } else {
                    if (nlen < olen) return fail(name + ": field " + nf.name + " cannot be narrowed");
                    std::memcpy(dst, s, olen); // text stays left-justified
                }
            }
            pos += nf.length;
        }
        return {};
    };

    // The rows go over in blocks, so the work never holds more than a block of either file in memory.
    constexpr uint32_t kBlock = 2048;
    std::string rows;
    std::string out;
    bool writing = !dropDeleted;
    if (writing) {
        if (auto r = makeWorkFiles(); !r) return r;
    }
    uint32_t kept = 0;
    uint64_t written = header.size();
    // Rows before the first deleted one were only looked at; once a deleted row shows up they are copied.
    auto copyLookedAt = [&](uint32_t upTo) -> Result<void> {
        std::string earlier;
        std::string block;
        for (uint32_t first = 1; first <= upTo; first += kBlock) {
            const uint32_t n = std::min(kBlock, upTo - first + 1);
            if (auto r = readRaw(first, n, earlier); !r) return fail(r.error());
            block.clear();
            for (uint32_t k = 0; k < n; ++k) {
                if (auto c = convert(earlier.data() + static_cast<size_t>(k) * static_cast<size_t>(m_recordLength),
                                     first + k);
                    !c)
                    return c;
                block += row;
            }
            if (!writeAll(tableTmp.fd, block, written)) return cannotWrite();
            written += block.size();
        }
        return {};
    };
    for (uint32_t first = 1; first <= count; first += kBlock) {
        const uint32_t n = std::min(kBlock, count - first + 1);
        if (auto r = readRaw(first, n, rows); !r) return fail(r.error());
        out.clear();
        for (uint32_t k = 0; k < n; ++k) {
            const uint32_t recno = first + k;
            const char* src = rows.data() + static_cast<size_t>(k) * static_cast<size_t>(m_recordLength);
            if (dropDeleted && src[0] == '*') {
                if (!writing) {
                    writing = true;
                    if (auto r = makeWorkFiles(); !r) return r;
                    if (auto r = copyLookedAt(recno - 1); !r) return r;
                }
                continue;
            }
            ++kept;
            if (indexing) {
                auto key = decodeField(src, m_indexField, recno);
                // A key that cannot be read sorts with the nulls; the row stays reachable.
                indexInsert(key ? *key : Value(), kept);
            }
            if (mdxPass) plan.add(*this, src, kept);
            if (!writing) continue;
            if (auto c = convert(src, recno); !c) return c;
            out += row;
        }
        if (writing) {
            if (!writeAll(tableTmp.fd, out, written)) return cannotWrite();
            written += out.size();
        }
    }
    if (!writing) {
        // Nothing deleted: the files stay as they are and the index just built describes them.
        if (indexing) m_indexedUpTo = count;
        if (mdxPass && plan.problem.empty()) return settleIndexFile(plan, false, nullptr);
        return {};
    }
    h[4] = static_cast<unsigned char>(kept);
    h[5] = static_cast<unsigned char>(kept >> 8);
    h[6] = static_cast<unsigned char>(kept >> 16);
    h[7] = static_cast<unsigned char>(kept >> 24);
    if (!writeAll(tableTmp.fd, std::string(1, '\x1A'), written) || !writeAll(tableTmp.fd, header, 0) ||
        ::fsync(tableTmp.fd) != 0) {
        return cannotWrite();
    }
    if (newMemo) {
        const int mfd = ::open(memoTmp.path.c_str(), O_RDWR | O_CLOEXEC);
        if (mfd < 0 || ::fsync(mfd) != 0) {
            if (mfd >= 0) ::close(mfd);
            return cannotWrite();
        }
        ::close(mfd);
    }
    // From here the new files are whole: a process that dies among the renames below leaves a note from which
    // the next open finishes them, so the table and its memo file never come from different generations.
    if (auto r = noteRewrite(); !r) return r;
    if (newMemo) {
        const std::string memoPath = m_memo->path();
        newMemo.reset();
        if (::rename(memoTmp.path.c_str(), memoPath.c_str()) != 0) {
            return fail(name + ": cannot replace the memo file: " + std::strerror(errno));
        }
        memoTmp.keep = true;
    }
    if (::rename(tableTmp.path.c_str(), m_path.c_str()) != 0) {
        return fail(name + ": cannot replace the table: " + std::strerror(errno));
    }
    tableTmp.keep = true;
    // The renames on disk before the note that asks for them is cleared.
    if (!io::syncFolderOf(m_path)) return fail(name + ": cannot write the folder to disk: " + std::strerror(errno));
    ::close(m_fd);
    m_fd = tableTmp.fd;
    tableTmp.fd = -1;
    if (auto r = readHeader(); !r) return r;
    m_memo.reset();
    if (auto r = openMemo(); !r) return r;
    if (mdxPass && plan.problem.empty()) {
        if (auto r = settleIndexFile(plan, true, nullptr); !r) return r;
    }
    if (indexing) {
        m_indexedUpTo = kept;
    } else if (m_indexField >= 0) {
        const std::string keyName = m_indexFieldName;
        m_indexField = -1;
        if (fieldIndex(keyName) >= 0) return setIndex(keyName);
    }
    return {};
}

Result<void> addField(const std::string& path, const FieldDef& field) {
    auto t = Table::open(path, OpenMode::Exclusive);
    if (!t) return fail(t.error());
    auto f = normaliseField(field, (*t)->level());
    if (!f) return fail((*t)->fileName() + ": " + f.error());
    if ((*t)->fieldIndex(f->name) >= 0) return fail((*t)->fileName() + ": field " + f->name + " exists already");
    if (f->isMemo() && !(*t)->hasMemoFileFor()) {
        return fail((*t)->fileName() + ": a memo field needs a memo file, which this table has not");
    }
    std::vector<FieldDef> fields = (*t)->fields();
    fields.push_back(*f);
    return (*t)->restructure(fields);
}

Result<void> widenField(const std::string& path, std::string_view name, int newLength, int newDecimals) {
    auto t = Table::open(path, OpenMode::Exclusive);
    if (!t) return fail(t.error());
    const int idx = (*t)->fieldIndex(name);
    if (idx < 0) return fail((*t)->fileName() + ": no field " + upper(name));
    std::vector<FieldDef> fields = (*t)->fields();
    FieldDef& f = fields[static_cast<size_t>(idx)];
    if (newLength < f.length) return fail((*t)->fileName() + ": field " + f.name + " cannot be narrowed");
    f.length = newLength;
    if (newDecimals >= 0) f.decimals = newDecimals;
    return (*t)->restructure(fields);
}

} // namespace qev::dbf
