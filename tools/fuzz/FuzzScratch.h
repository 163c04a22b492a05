#pragma once
// A scratch folder for the fuzz targets whose readers take a file name: one per process, in memory (/dev/shm)
// where the machine has it, removed when the process ends. Folders that crashed runs left behind (their process
// is gone) are removed by the next run.

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace qev::fuzz {

inline std::string scratchRoot() {
    struct stat st {};
    if (::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && ::access("/dev/shm", W_OK) == 0) return "/dev/shm";
    const char* tmp = std::getenv("TMPDIR");
    return tmp && *tmp ? tmp : "/tmp";
}

inline void removeStaleScratch(const std::string& root) {
    DIR* d = ::opendir(root.c_str());
    if (!d) return;
    constexpr std::string_view prefix = "qev-fuzz-";
    while (const dirent* e = ::readdir(d)) {
        const std::string_view name(e->d_name);
        if (name.substr(0, prefix.size()) != prefix) continue;
        const long pid = std::strtol(e->d_name + prefix.size(), nullptr, 10);
        if (pid <= 0 || pid == ::getpid()) continue;
        if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM) continue; // its process still runs
        std::error_code ec;
        std::filesystem::remove_all(root + "/" + std::string(name), ec);
    }
    ::closedir(d);
}

class Scratch {
public:
    Scratch() {
        const std::string root = scratchRoot();
        removeStaleScratch(root);
        m_path = root + "/qev-fuzz-" + std::to_string(::getpid());
        std::error_code ec;
        std::filesystem::create_directories(m_path, ec);
    }
    ~Scratch() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

// The process's scratch folder, made on first use and removed at exit.
inline const std::string& scratchFolder() {
    static const Scratch scratch;
    return scratch.path();
}

} // namespace qev::fuzz
