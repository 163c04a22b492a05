#pragma once
// Small file helpers shared by the table and memo code: whole reads and writes at an offset, sizes, names and
// little-endian fields.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qev::dbf::io {

// Reads or writes exactly `len` bytes at `offset`, retrying short transfers; false on error or end of file.
bool readFully(int fd, uint64_t offset, void* buf, size_t len);
bool writeFully(int fd, uint64_t offset, const void* buf, size_t len);
uint64_t fileSize(int fd);
// Makes the names in the folder of `path` (a rename into it) reach the disk; false when it cannot.
bool syncFolderOf(const std::string& path);

std::string baseName(const std::string& path);
std::string dirName(const std::string& path);
std::string upper(std::string_view s);

inline uint16_t getU16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline uint32_t getU32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}
inline void putU16(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
inline void putU32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}

// Today's date as headers stamp their last update: year - 1900, month, day, one byte each.
void putToday(unsigned char* p);

// The block number in a memo field: ten ASCII digits padded with blanks or zeros, or four binary bytes in
// narrow fields. 0 for an empty pointer; nothing when the bytes are not a pointer.
std::optional<uint32_t> memoBlock(const char* field, int length);
void putMemoBlock(char* field, int length, uint32_t block);

} // namespace qev::dbf::io
