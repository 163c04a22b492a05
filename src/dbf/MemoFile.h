#pragma once
// The memo file (.DBT) beside a table: dBase III blocks ending in 0x1A 0x1A, or dBase IV/7 blocks with an
// FF FF 08 00 + length header, whose freed runs are chained from the file header and reused.

#include "dbf/Result.h"

#include <cstdint>
#include <string>

namespace qev::dbf {

class MemoFile {
public:
    static Result<MemoFile*> open(const std::string& path, bool dbase3, bool readOnly);
    // Creates an empty memo file; fails when it exists.
    static Result<void> create(const std::string& path, const std::string& tableStem, bool dbase3, int blockSize);
    ~MemoFile();
    MemoFile(const MemoFile&) = delete;
    MemoFile& operator=(const MemoFile&) = delete;

    const std::string& path() const { return m_path; }
    int blockSize() const { return m_blockSize; }
    bool dbase3() const { return m_dbase3; }

    Result<std::string> read(uint32_t block);
    // Writes data in new blocks (reusing a free run when one is large enough); returns the first block.
    Result<uint32_t> write(const std::string& data);
    // Returns the blocks of a memo to the free chain (dBase III files only ever grow).
    void release(uint32_t block);
    // Blocks a memo of `size` bytes occupies.
    uint32_t blocksFor(size_t size) const;
    uint64_t fileSize() const;
    Result<void> sync();

private:
    MemoFile() = default;
    Result<uint32_t> allocate(uint32_t blocks);
    Result<uint32_t> usedBlocks(uint32_t block);
    bool readAt(uint64_t offset, void* buf, size_t len) const;
    bool writeAt(uint64_t offset, const void* buf, size_t len);
    uint32_t u32At(uint64_t offset) const;

    std::string m_path;
    int m_fd = -1;
    bool m_dbase3 = false;
    bool m_readOnly = false;
    int m_blockSize = 512;
};

} // namespace qev::dbf
