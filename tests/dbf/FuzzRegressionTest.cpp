// Every saved input of the table and index fuzz targets runs through the fuzzer's own harness; each must finish
// without a crash or a sanitizer report, and a damaged index must always regenerate clean with every row.
#include "FuzzInputs.h"
#include "TempAppDir.h"

#include "../../tools/fuzz/DbfReadHarness.h"
#include "../../tools/fuzz/MdxReadHarness.h"

#include <gtest/gtest.h>

TEST(FuzzRegressionTest, SavedTableInputsRunCleanly) {
    const auto inputs = qev::test::savedFuzzInputs("dbf", "dbf_read");
    ASSERT_FALSE(inputs.empty());
    qev::test::TempAppDir dir;
    for (const auto& input : inputs) {
        SCOPED_TRACE(input.name);
        qev::fuzz::exerciseTableBytes(dir.pathStd(), input.bytes.data(), input.bytes.size());
    }
}

TEST(FuzzRegressionTest, SavedIndexInputsAlwaysRegenerateClean) {
    const auto inputs = qev::test::savedFuzzInputs("dbf", "mdx_read");
    ASSERT_FALSE(inputs.empty());
    qev::test::TempAppDir dir;
    for (const auto& input : inputs)
        EXPECT_TRUE(qev::fuzz::exerciseIndexBytes(dir.pathStd(), input.bytes.data(), input.bytes.size())) << input.name;
}
