#pragma once
// A dBase table file (.DBF) with its memo file (.DBT): reading every level the office's folders hold
// (III, IV/5, 7), writing rows safely while other processes share the file, packing and restructuring.

#include "dbf/Locks.h"
#include "dbf/Mdx.h"
#include "dbf/Result.h"
#include "dbf/Value.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qev::dbf {

class MemoFile;
class Codepage;

enum class Level { DBase3, DBase4, DBase7 };

struct FieldDef {
    std::string name; // as stored; lookups ignore case
    char type = 'C';  // C N F D L M B G I O @ +
    int length = 0;   // bytes in the record (fixed for D, L, M, B, G, I, O, @, +)
    int decimals = 0;

    bool isMemo() const { return type == 'M' || type == 'B' || type == 'G'; }
    bool operator==(const FieldDef&) const = default;
};

// Fills in the fixed length of a type (D 8, L 1, memo 10, I/+ 4, O/@ 8); checks name, type and sizes.
Result<FieldDef> normaliseField(FieldDef f, Level level);

using Record = std::vector<Value>;

struct Row {
    bool deleted = false;
    Record values;
    bool operator==(const Row&) const = default;
};

enum class OpenMode {
    Shared,    // read and write; other processes may open it shared too
    Exclusive, // refused while any other process has the table open
    ReadOnly,  // never writes; still honours other processes' exclusive opens
};

struct CreateOptions {
    Level level = Level::DBase7;
    std::string languageDriver = "DBWINUS0"; // level 7 name; for III/IV the matching LDID is written
    int memoBlockSize = 512;
    // Fields that get a tag in the table's production index (.MDX), made empty with the table.
    std::vector<std::string> indexTags;
};

class Table {
public:
    static Result<std::unique_ptr<Table>> open(const std::string& path, OpenMode mode = OpenMode::Shared);
    // Creates a new table (and its .DBT when a field needs one); fails when the file exists.
    static Result<std::unique_ptr<Table>> create(const std::string& path, const std::vector<FieldDef>& fields,
                                                 const CreateOptions& options = {});
    ~Table();
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;

    const std::string& path() const { return m_path; }
    std::string fileName() const; // the file's name without folder, for messages
    Level level() const { return m_level; }
    uint8_t versionByte() const { return m_version; }
    const std::string& languageDriver() const { return m_languageDriver; }
    std::string codepageName() const;
    bool hasMdxFlag() const { return m_mdxFlag != 0; }
    bool exclusive() const { return m_mode == OpenMode::Exclusive; }
    bool readOnly() const { return m_mode == OpenMode::ReadOnly; }
    int headerLength() const { return m_headerLength; }
    int recordLength() const { return m_recordLength; }
    bool hasMemoFileFor() const { return m_memo != nullptr; }

    const std::vector<FieldDef>& fields() const { return m_fields; }
    int fieldIndex(std::string_view name) const; // -1 when absent; case-insensitive

    // Re-reads the record count from the header, so rows appended by other processes show up.
    uint32_t recordCount();
    // The count from the last header read, without touching the file.
    uint32_t cachedRecordCount() const { return m_recordCount; }

    // Rows are numbered from 1.
    Result<Row> read(uint32_t recno);
    Result<Value> readField(uint32_t recno, int field);
    Result<bool> isDeleted(uint32_t recno);

    // Raw access for fast scans: `count` whole records (delete flag first) from `first`, into `out`.
    Result<void> readRaw(uint32_t first, uint32_t count, std::string& out);
    // Decodes one field of a raw record returned by readRaw (`raw` points at the delete flag).
    Result<Value> decodeField(const char* raw, int field, uint32_t recno);

    // Appends a live row; missing trailing values are null. Returns its number.
    Result<uint32_t> append(const Record& values);
    Result<void> update(uint32_t recno, const Record& values);
    Result<void> setDeleted(uint32_t recno, bool deleted);
    // Removes deleted rows for good, compacts the memo file and regenerates the key index and the production
    // index, in one pass over the rows; a table without deleted rows is only read (its key index regenerated, its
    // .MDX written only when it does not hold exactly the rows' keys). Needs an exclusive open.
    Result<void> pack();
    // Rewrites the table with a new field list (needs an exclusive open). Fields are matched by name: kept ones
    // keep their values (text is padded, numbers re-justified), new ones start null. Deleted rows and memos stay.
    Result<void> restructure(const std::vector<FieldDef>& newFields);
    // Every write goes straight to the file (no user-space buffering), so other processes see it at once; flushing
    // re-reads the header so that this open sees other processes' rows too.
    void flush() { recordCount(); }
    // Forces the table, its memo file and its index to stable storage.
    Result<void> sync();
    // Whether each post reaches the disk before it is acknowledged (so that it survives a power cut, not only the
    // death of the process): by default yes. A batch of posts may turn it off and call sync() once at its end.
    void setSyncPosts(bool on) { m_syncPosts = on; }
    bool syncPosts() const { return m_syncPosts; }
    // The setting new opens start with, for the whole process.
    static void setSyncDefault(bool on);
    // Turns an exclusive open into a shared one, without a moment in which the table is free: other processes may
    // open it shared from now on, and this open keeps what it has read (its key index).
    Result<void> share();

    // Key order: an index on one field, kept in memory and built when set (or, with `build` false, by the first
    // search, ordered listing or pack).
    Result<void> setIndex(std::string_view fieldName, bool build = true);
    const std::string& indexField() const { return m_indexFieldName; }
    // Live rows in key order (rows appended since the last call are merged in first).
    Result<std::vector<uint32_t>> orderedRecords();
    // First live row whose key equals `key` (numbers compare by value, texts by trimmed content).
    Result<std::optional<uint32_t>> find(const Value& key);
    // Re-reads every key (after other processes changed rows).
    Result<void> rebuildIndex();

    // Production index (.MDX). Its tags follow every append, key change and pack, under the record's locks and the
    // index's own; deleting or recalling a row leaves its keys, as dBase does.
    bool hasIndexFile() const { return m_mdx != nullptr; }
    // Why the production index cannot be kept current (it does not open, or a tag is not on one field); empty
    // when it can or when the table has none. Rows are still written; the next regeneration repairs the index.
    const std::string& indexFileProblem() const { return m_mdxProblem; }
    // The fields whose tags a regeneration writes when neither the index nor the header names any.
    void setDefaultIndexTags(std::vector<std::string> fields) { m_defaultTags = std::move(fields); }
    // The tags of the production index, one field each (empty when there is none).
    std::vector<std::string> indexTags() const;
    // Checks every tag against the table and answers one line per problem: the structure of every page, the
    // header flags, and that each record has exactly one key per tag; with `rows`, also that each key is the
    // record's (dangling and missing keys). Without `rows` no record is read.
    std::vector<std::string> checkIndexFile(bool rows);
    // Regenerates the production index in one pass over the rows, which also rebuilds the key index. Without
    // `force` a file that already holds exactly these keys is left as it is. Needs an exclusive open.
    Result<void> regenerateIndexFile(bool force, bool* written = nullptr);

private:
    Table() = default;
    Result<void> readHeader();
    // Cuts off the row of an append that died before counting it (see the definition).
    void takeBackInterruptedAppend();
    Result<void> openMemo();
    Result<std::string> encodeRecord(const Record& values, const std::string* oldRaw, uint32_t recno,
                                     std::vector<uint32_t>& newBlocks);
    Result<void> encodeField(int field, const Value& v, char* dest, const char* oldDest, uint32_t recno,
                             std::vector<uint32_t>& newBlocks);
    Result<void> writeHeaderCount(uint32_t count);
    // Writes the table anew beside the file and swaps it in, holding the exclusive lock throughout.
    Result<void> rewrite(const std::vector<FieldDef>& newFields, bool dropDeleted, bool compactMemo);
    void writeDate();
    std::string where(uint32_t recno, int field) const;
    Result<void> indexNewRows();
    Result<Value> indexKeyOf(uint32_t recno, bool& live);
    void indexRemove(uint32_t recno);
    void indexInsert(const Value& key, uint32_t recno);
    void openIndexFile();
    // The tags a regeneration writes and the fields they are on.
    struct IndexPlan {
        std::vector<MdxTag> tags;
        std::vector<int> fields;
        std::vector<MdxKeys> keys;
        std::string problem; // a tag that cannot be written
        // Gathers the keys of one record in its raw form, numbered as it will be in the file.
        void add(const Table& t, const char* raw, uint32_t recno);
    };
    IndexPlan planIndexFile();
    // Writes the gathered keys unless the file holds them already (or `force`); sets the header flags.
    Result<void> settleIndexFile(IndexPlan& plan, bool force, bool* written);
    Result<void> writeIndexFlags(const std::vector<int>& fields);
    // Keeps the tags current for a new row, or for a row whose key fields changed (under the record's lock).
    Result<void> indexFileAdd(const char* raw, uint32_t recno);
    Result<void> indexFileChange(const char* oldRaw, const char* newRaw, uint32_t recno);
    // Whether any tag's key differs between two versions of a row.
    bool indexKeysDiffer(const char* oldRaw, const char* newRaw) const;

    // The index journal (the table's ".MDJ"): a row and its keys are written by separate writes, so before a post
    // that changes keys the row's number and its old contents are noted, under the index's lock, and the note is
    // cleared once the keys are written. A note found under that lock was left by a process that died half-way
    // (a live one clears it before it lets go of the lock): the keys of that row are then put right from what the
    // row holds now.
    class IndexPost {
    public:
        IndexPost() = default;
        IndexPost(const IndexPost&) = delete;
        IndexPost& operator=(const IndexPost&) = delete;
        ~IndexPost();
        Result<void> begin(Table& t, uint32_t recno, const char* oldRaw);
        void end();

    private:
        Table* m_table = nullptr;
        std::optional<locks::Guard> m_guard;
    };
    // New memo blocks back to the free chain, when the row that was to point at them is not written.
    void giveBack(const std::vector<uint32_t>& newBlocks);
    // What comes before a row is written: its new memo blocks on disk and, when its keys change, the post noted
    // in the journal. On failure the new blocks are given back.
    Result<void> beforeRow(IndexPost& post, bool changesKeys, uint32_t recno, const char* oldRaw,
                           const std::vector<uint32_t>& newBlocks);
    Result<void> journalWrite(uint32_t recno, const char* oldRaw);
    // Notes that a pack or restructure is about to swap its new files in (on disk before the first rename).
    Result<void> noteRewrite();
    // Completes the swap and the index of a pack or restructure that died half-way, when the table is free.
    static void finishInterruptedRewrite(const std::string& actualPath);
    static Result<std::unique_ptr<Table>> openTable(const std::string& path, OpenMode mode, bool finishRewrite);
    void journalClear();
    // Puts right the keys of a post a dead process left half done; the caller holds the index's lock.
    void recoverIndexJournal();
    int m_journalFd = -1;
    bool m_syncPosts = true;
    // A post's writes on disk before it is acknowledged: the table, the memo file when it changed, the index.
    Result<void> settlePost(bool memoChanged);
    bool m_indexLocked = false; // this open holds the index's lock for the post under way

    std::string m_path;
    int m_fd = -1;
    OpenMode m_mode = OpenMode::Shared;
    Level m_level = Level::DBase7;
    uint8_t m_version = 0;
    uint8_t m_mdxFlag = 0;
    uint8_t m_ldid = 0;
    std::string m_languageDriver;
    const Codepage* m_codepage = nullptr;
    int m_headerLength = 0;
    int m_recordLength = 0;
    uint32_t m_recordCount = 0;
    bool m_appendChecked = false; // this open appended last and left count and length in step
    std::vector<FieldDef> m_fields;
    std::vector<int> m_offsets; // byte offset of each field within a record (after the flag)
    std::unique_ptr<MemoFile> m_memo;

    std::string m_indexFieldName;
    int m_indexField = -1;
    uint32_t m_indexedUpTo = 0;
    struct KeyLess {
        bool operator()(const Value& a, const Value& b) const;
    };
    using KeyIndex = std::multimap<Value, uint32_t, KeyLess>;
    KeyIndex m_index;
    // Where each record's entry sits in m_index (record n at n - 1; end() when it has none): a flat array, where a
    // second tree keyed by record number would cost a node and a key copy for every row of the table.
    std::vector<KeyIndex::iterator> m_entryOf;

    std::vector<bool> m_fieldTagged; // the field's production-index flag in the header
    std::unique_ptr<MdxFile> m_mdx;
    std::vector<int> m_tagFields; // the field of each tag of m_mdx
    std::string m_mdxProblem;
    std::vector<std::string> m_defaultTags;
};

// Finds a companion file (".DBT", ".MDX", "_bak.mdx") next to a table whatever the case of its name;
// answers the conventional name when none exists.
std::string companionFile(const std::string& tablePath, const std::string& suffix, bool* exists = nullptr);
// Finds a file in a folder whatever the case of its name; empty when absent.
std::string findFileNoCase(const std::string& folder, const std::string& name);

// Restructuring, on a closed table (each takes the table exclusively for the time it runs). Every row, deleted
// flag and memo is kept; the production index follows the new layout.
Result<void> addField(const std::string& path, const FieldDef& field);
Result<void> widenField(const std::string& path, std::string_view name, int newLength, int newDecimals = -1);

} // namespace qev::dbf
