#pragma once
// What the kill worker writes into a row of id `id` at version `version`, so the test can check a row whole.

#include <string>

namespace qev::test {

inline std::string killWorkerName(long id, long version) {
    return "N" + std::to_string(id) + "v" + std::to_string(version);
}

// 1 to 9000 bytes: most memos span several blocks and pages, so a torn write shows.
inline std::string killWorkerMemo(long id, long version) {
    const auto size = static_cast<size_t>(1 + (id * 7919 + version * 104729) % 9000);
    const std::string unit = std::to_string(id) + ":" + std::to_string(version) + ";";
    std::string out;
    out.reserve(size + unit.size());
    while (out.size() < size)
        out += unit;
    out.resize(size);
    return out;
}

} // namespace qev::test
