#pragma once
// The production index of a table (.MDX): tags of one field each, every tag a B-tree of keys in blocks of two
// 512-byte pages. Opens and walks every tag checking each page on the way, inserts and removes single keys in
// place, and writes a whole file anew from sorted keys. Texts of failures name the file, the tag and the page.

#include "dbf/Result.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qev::dbf {

struct FieldDef;

struct MdxTag {
    std::string name;       // upper case, as stored
    std::string expression; // the key expression: for the tags this engine writes, one field's name
    char keyType = 'C';     // 'C' text, 'N' number as 12-byte BCD, 'D' date as the Julian day in a double
    int keyLength = 0;
    int itemLength = 0; // 4-byte pointer + key, rounded up to a multiple of 4
    int keysPerBlock = 0;
    uint32_t headerPage = 0;
    bool descending = false;
    bool unique = false;
};

// The keys of one tag, gathered for a whole-file write: key bytes laid end to end, and their records.
struct MdxKeys {
    int keyLength = 0;
    std::string keys;
    std::vector<uint32_t> recnos;
    void add(const char* key, uint32_t recno) {
        keys.append(key, static_cast<size_t>(keyLength));
        recnos.push_back(recno);
    }
    size_t size() const { return recnos.size(); }
    const unsigned char* key(size_t i) const {
        return reinterpret_cast<const unsigned char*>(keys.data()) + i * static_cast<size_t>(keyLength);
    }
    // Puts the keys in tag order: by key, equal keys by record.
    void sort(char keyType);
};

// Orders two keys of a tag: text byte by byte, numbers and dates by value. <0, 0, >0.
int compareMdxKeys(char keyType, const unsigned char* a, const unsigned char* b, int length);

// The tag this engine writes for a field (C, N, F and D fields); fails for other types.
Result<MdxTag> mdxTagForField(const FieldDef& field);
// The key of a field from its bytes in a record; `out` takes tag.keyLength bytes.
void mdxKeyOf(const FieldDef& field, const char* fieldBytes, const MdxTag& tag, char* out);
// The 12-byte BCD key of a number written as dBase text ("  -12.50"); a blank or unreadable text is 0.
void mdxNumberKey(const char* text, int length, unsigned char* out);

class MdxFile {
public:
    static Result<std::unique_ptr<MdxFile>> open(const std::string& path, bool readOnly);
    // Writes a complete index (version 2 for dBase IV tables, 3 for level 7) beside `path` and swaps it in.
    // `keys[i]` holds tag i's keys, sorted.
    static Result<void> write(const std::string& path, int version, const std::string& tableStem,
                              const std::vector<MdxTag>& tags, const std::vector<MdxKeys>& keys);
    ~MdxFile();
    MdxFile(const MdxFile&) = delete;
    MdxFile& operator=(const MdxFile&) = delete;

    const std::string& path() const { return m_path; }
    std::string fileName() const;
    int fd() const { return m_fd; }
    int version() const { return m_version; }
    const std::vector<MdxTag>& tags() const { return m_tags; }

    // Visits tag `tag`'s keys in tree order, checking every page (bounds, key counts, loops, order).
    Result<void> walk(size_t tag, const std::function<void(const unsigned char* key, uint32_t recno)>& visit);
    // One key in place: inserted after the keys equal to it; removed by key and record (false when absent).
    // The caller holds the index's lock.
    Result<void> insert(size_t tag, const unsigned char* key, uint32_t recno);
    Result<bool> remove(size_t tag, const unsigned char* key, uint32_t recno);
    // Moves a record's key: removes the old one and, when it was there, inserts the new one (false when absent).
    Result<bool> replace(size_t tag, const unsigned char* oldKey, const unsigned char* newKey, uint32_t recno);

private:
    MdxFile() = default;
    struct Node;
    struct TagCache;
    Result<void> readHeader();
    std::string where(size_t tag, uint32_t page) const;
    // With `cached`, an interior block kept from an earlier change of the tag is taken instead of read again
    // (only while beginChange has found the tag as this open left it). Leaves are always read.
    Result<Node> readNode(size_t tag, uint32_t page, bool cached = false);
    Result<void> writeNode(size_t tag, const Node& node);
    Result<uint32_t> allocateBlock(size_t tag);
    // Reads the tag's header (root page, blocks, serial) for one change; when it is not byte for byte what this
    // open last read or wrote, another program changed the tag and the kept interior blocks are dropped.
    Result<uint32_t> beginChange(size_t tag);
    // Marks the change under way as complete: the kept blocks and header match the file again.
    void settle(size_t tag);
    Result<void> putRoot(size_t tag, uint32_t page);
    Result<void> bumpSerial(size_t tag);
    Result<void> insertKey(size_t tag, const unsigned char* key, uint32_t recno);
    // The usual insertion (a leaf with room, reached through kept blocks) on the raw leaf; false when the change
    // needs the general path, having written nothing.
    Result<bool> insertIntoKeptLeaf(size_t tag, uint32_t root, const unsigned char* key, uint32_t recno);
    Result<bool> removeKey(size_t tag, const unsigned char* key, uint32_t recno);

    std::string m_path;
    int m_fd = -1;
    int m_version = 0;
    int m_pagesPerBlock = 2;
    int m_blockSize = 1024;
    std::vector<MdxTag> m_tags;
    uint64_t m_fileSize = 0; // as read at the start of the walk or change under way
    unsigned char m_serial = 0;
    // A replacement runs its removal and insertion as one change.
    bool m_batch = false;
    bool m_batchBegun = false;
    bool m_batchDirty = false;
    uint32_t m_batchRoot = 0;
    std::vector<TagCache> m_cache; // one for each tag
    std::string m_block;           // a leaf being changed in place
};

} // namespace qev::dbf
