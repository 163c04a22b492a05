#pragma once
// The saved inputs of a fuzz target (its seeds, the corpus its campaigns kept, and every crash, leak, timeout or
// out-of-memory input they found), read from the target's folder under tests/<module>/data/fuzz/.

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace qev::test {

struct FuzzInput {
    std::string name;
    std::vector<uint8_t> bytes;
};

inline std::vector<FuzzInput> savedFuzzInputs(const std::string& module, const std::string& target) {
    const std::filesystem::path folder =
        std::filesystem::path(QEV_SOURCE_DIR) / "tests" / module / "data" / "fuzz" / target;
    std::vector<FuzzInput> out;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
        if (!e.is_regular_file()) continue;
        std::ifstream in(e.path(), std::ios::binary);
        out.push_back({e.path().filename().string(),
                       std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>())});
    }
    std::sort(out.begin(), out.end(), [](const FuzzInput& a, const FuzzInput& b) { return a.name < b.name; });
    return out;
}

} // namespace qev::test
