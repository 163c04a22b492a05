#include "dbf/FileIo.h"

#include <fcntl.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace qev::dbf::io {

bool readFully(int fd, uint64_t offset, void* buf, size_t len) {
    auto* p = static_cast<char*>(buf);
    while (len > 0) {
        const ssize_t n = ::pread(fd, p, len, static_cast<off_t>(offset));
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            return false;
        }
        p += n;
        len -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

bool writeFully(int fd, uint64_t offset, const void* buf, size_t len) {
    const auto* p = static_cast<const char*>(buf);
    while (len > 0) {
        const ssize_t n = ::pwrite(fd, p, len, static_cast<off_t>(offset));
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            return false;
        }
        p += n;
        len -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

bool syncFolderOf(const std::string& path) {
    const int fd = ::open(dirName(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

uint64_t fileSize(int fd) {
    struct stat st {};
    return fstat(fd, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

std::string baseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string dirName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : (slash == 0 ? std::string("/") : path.substr(0, slash));
}

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::optional<uint32_t> memoBlock(const char* field, int length) {
    if (length == 4) return getU32(reinterpret_cast<const unsigned char*>(field));
    uint64_t v = 0;
    bool digits = false;
    bool ended = false;
    for (int i = 0; i < length; ++i) {
        const char c = field[i];
        if (c == ' ' || c == '\0') {
            if (digits) ended = true;
            continue;
        }
        if (c < '0' || c > '9' || ended) return std::nullopt;
        digits = true;
        v = v * 10 + static_cast<uint64_t>(c - '0');
        if (v > 0x7FFFFFFF) return std::nullopt;
    }
    return static_cast<uint32_t>(v);
}

void putMemoBlock(char* field, int length, uint32_t block) {
    if (length == 4) {
        putU32(reinterpret_cast<unsigned char*>(field), block);
        return;
    }
    std::memset(field, ' ', static_cast<size_t>(length));
    if (block == 0) return;
    const std::string n = std::to_string(block);
    std::memcpy(field + (static_cast<size_t>(length) - n.size()), n.data(), n.size());
}

void putToday(unsigned char* p) {
    // The local calendar is worked out again only when the second changes: appends stamp the header every time.
    static thread_local std::time_t lastSecond = 0;
    static thread_local std::tm tmv{};
    const std::time_t now = std::time(nullptr);
    if (now != lastSecond) {
        localtime_r(&now, &tmv);
        lastSecond = now;
    }
    p[0] = static_cast<unsigned char>(tmv.tm_year);
    p[1] = static_cast<unsigned char>(tmv.tm_mon + 1);
    p[2] = static_cast<unsigned char>(tmv.tm_mday);
}

} // namespace qev::dbf::io
