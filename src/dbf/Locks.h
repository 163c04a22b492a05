#pragma once
// Byte-range locks at the offsets the old Windows engine used, as open-file-description locks so that they
// belong to one open table and never vanish when another descriptor of the same file is closed.

#include <cstdint>
#include <sys/types.h>

namespace qev::dbf::locks {

constexpr off_t kBase = 0xEFFFFFFE;      // header lock; record n is locked at kBase - n
constexpr off_t kAppend = kBase + 1;     // append lock
constexpr off_t kOpenSentinel = kBase + 0x100; // shared by every open, exclusive for an exclusive open

inline off_t recordOffset(uint32_t recno) { return kBase - static_cast<off_t>(recno); }

// Takes a lock; with `wait` blocks until it is granted. False when refused (or on error).
bool lock(int fd, off_t offset, off_t length, bool exclusive, bool wait);
void unlock(int fd, off_t offset, off_t length);

class Guard {
public:
    Guard(int fd, off_t offset, off_t length, bool exclusive = true)
        : m_fd(fd), m_offset(offset), m_length(length), m_held(lock(fd, offset, length, exclusive, true)) {}
    ~Guard() {
        if (m_held) unlock(m_fd, m_offset, m_length);
    }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
    bool held() const { return m_held; }

private:
    int m_fd;
    off_t m_offset;
    off_t m_length;
    bool m_held;
};

} // namespace qev::dbf::locks
