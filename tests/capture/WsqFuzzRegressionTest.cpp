// Every saved input of the WSQ decoder's fuzz target (seeds, kept corpus and findings) runs through the fuzzer's
// harness; each must finish without a crash or a sanitizer report.
#include "FuzzInputs.h"

#include "../../tools/fuzz/WsqDecodeHarness.h"

#include <gtest/gtest.h>

TEST(WsqFuzzRegressionTest, SavedInputsRunCleanly) {
    const auto inputs = qev::test::savedFuzzInputs("capture", "wsq_decode");
    ASSERT_FALSE(inputs.empty());
    for (const auto& input : inputs) {
        SCOPED_TRACE(input.name);
        qev::fuzz::exerciseWsqBytes(input.bytes.data(), input.bytes.size());
    }
}
