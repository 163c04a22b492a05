// Inputs that once upset the WSQ decoder (fuzzer finds and hand-made damage) run through the fuzzer's harness;
// each must finish without a crash or a sanitizer report.
#include "../../tools/fuzz/WsqDecodeHarness.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

TEST(WsqFuzzRegressionTest, SavedInputsRunCleanly) {
    const std::filesystem::path corpus = QEV_SOURCE_DIR "/tests/capture/data/fuzz/wsq";
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(corpus)) {
        std::ifstream in(e.path(), std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        SCOPED_TRACE(e.path().filename().string());
        qev::fuzz::exerciseWsqBytes(bytes.data(), bytes.size());
        ++n;
    }
    EXPECT_GT(n, 0);
}
