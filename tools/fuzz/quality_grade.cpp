// libFuzzer target over the fingerprint quality grader.
#include "QualityGradeHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qev::fuzz::exerciseQualityGrade(data, size);
    return 0;
}
