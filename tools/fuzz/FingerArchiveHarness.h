#pragma once
// Feeds arbitrary bytes to the livescan archive reader as a stored card archive. Whatever the archive holds, the
// reader writes nothing but finger files named by the program, inside the target folder, and nothing at all when it
// refuses the archive. Used by the fuzzer and by the regression test over saved inputs.

#include "capture/FingerArchive.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>

namespace qev::fuzz {

inline void exerciseFingerArchive(const std::string& scratch, const uint8_t* data, size_t size) {
    namespace fs = std::filesystem;
    const fs::path archive = fs::path(scratch) / "ficha.zip";
    const fs::path out = fs::path(scratch) / "oficina";
    std::error_code ec;
    fs::remove_all(out, ec);
    fs::create_directories(out);
    {
        std::ofstream f(archive, std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    auto written = capture::FingerArchive::unpack(archive.string(), out.string());

    std::set<std::string> present;
    for (const auto& e : fs::recursive_directory_iterator(out))
        present.insert(fs::relative(e.path(), out).string());
    if (!written) {
        if (!present.empty()) std::abort(); // a refused archive leaves nothing behind
    } else {
        static const std::regex finger("dedo([1-9]|10)\\.wsq");
        std::set<std::string> named;
        for (const std::string& path : *written) {
            const fs::path p(path);
            if (p.parent_path() != out || !std::regex_match(p.filename().string(), finger)) std::abort();
            named.insert(p.filename().string());
        }
        if (named.size() != written->size() || named != present) std::abort();
    }
    // Nothing beside the target folder changed.
    for (const auto& e : fs::directory_iterator(scratch))
        if (e.path() != archive && e.path() != out) std::abort();
    fs::remove_all(out, ec);
}

} // namespace qev::fuzz
