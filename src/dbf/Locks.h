#pragma once
// Byte-range locks at the offsets the old Windows engine used, as open-file-description locks so that they
// belong to one open table and never vanish when another descriptor of the same file is closed.

#include <cstdint>
#include <sys/types.h>

namespace qev::dbf::locks {

constexpr off_t kBase = 0xEFFFFFFE;            // header lock; record n is locked at kBase - n
constexpr off_t kAppend = kBase + 1;           // append lock
constexpr off_t kOpenSentinel = kBase + 0x100; // shared by every open, exclusive for an exclusive open
// The whole table as the old engine locks it: a billion records below the base, the header and append bytes.
constexpr off_t kTableFirst = kBase - 1000000000;
constexpr off_t kTableLength = 1000000002;

inline off_t recordOffset(uint32_t recno) {
    return kBase - static_cast<off_t>(recno);
}

// Takes a lock; with `wait` blocks until it is granted. False when refused (or on error).
bool lock(int fd, off_t offset, off_t length, bool exclusive, bool wait);
void unlock(int fd, off_t offset, off_t length);

class Guard {
public:
    Guard(int fd, off_t offset, off_t length, bool exclusive = true)
        : m_fd(fd), m_offset(offset), m_length(length), m_held(lock(fd, offset, length, exclusive, true)),
          m_taken(m_held) {}
    // A guard that takes nothing: the caller already holds the whole file (an exclusive open).
    static Guard alreadyHeld(int fd) { return Guard(fd); }
    ~Guard() {
        if (m_taken) unlock(m_fd, m_offset, m_length);
    }
    Guard(Guard&& o) noexcept
        : m_fd(o.m_fd), m_offset(o.m_offset), m_length(o.m_length), m_held(o.m_held), m_taken(o.m_taken) {
        o.m_taken = false;
    }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
    bool held() const { return m_held; }

private:
    explicit Guard(int fd) : m_fd(fd), m_offset(0), m_length(0), m_held(true), m_taken(false) {}
    int m_fd;
    off_t m_offset;
    off_t m_length;
    bool m_held;
    bool m_taken;
};

} // namespace qev::dbf::locks
