// Inputs that once upset the table readers (from the fuzzer and from hand-made damage) run through the same
// harness as the fuzzer; each must finish without a crash or a sanitizer report.
#include "TempAppDir.h"

#include "../../tools/fuzz/DbfReadHarness.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

TEST(FuzzRegressionTest, SavedInputsRunCleanly) {
    const std::filesystem::path corpus = QEV_SOURCE_DIR "/tests/dbf/data/fuzz";
    qev::test::TempAppDir dir;
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(corpus)) {
        std::ifstream in(e.path(), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        const std::string bytes = ss.str();
        SCOPED_TRACE(e.path().filename().string());
        qev::fuzz::exerciseTableBytes(dir.pathStd(), reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        ++n;
    }
    EXPECT_GT(n, 0);
}
