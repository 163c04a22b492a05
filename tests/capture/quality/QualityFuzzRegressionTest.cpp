// Every saved input of the grader's fuzz target runs through its harness: small images, edges, blanks and a null
// buffer each get a refusal or a grade in range, without a sanitizer report.
#include "FuzzInputs.h"

#include "../../../tools/fuzz/QualityGradeHarness.h"

#include <gtest/gtest.h>

TEST(QualityFuzzRegression, SavedInputsGradeOrRefuse) {
    const auto inputs = qev::test::savedFuzzInputs("capture", "quality_grade");
    ASSERT_FALSE(inputs.empty());
    for (const auto& input : inputs) {
        SCOPED_TRACE(input.name);
        qev::fuzz::exerciseQualityGrade(input.bytes.data(), input.bytes.size());
    }
}
