// Every saved input of the image readers' and the livescan archive reader's fuzz targets (seeds, kept corpus and
// findings) runs through the readers again under the test build.
#include "FuzzInputs.h"
#include "TempAppDir.h"

#include "../../tools/fuzz/FingerArchiveHarness.h"
#include "../../tools/fuzz/ImageInfoHarness.h"

#include <gtest/gtest.h>

TEST(ImageFuzzRegression, SavedInputsReadWithoutFault) {
    const auto inputs = qev::test::savedFuzzInputs("capture", "image_info");
    ASSERT_FALSE(inputs.empty());
    qev::test::TempAppDir dir;
    for (const auto& input : inputs) {
        SCOPED_TRACE(input.name);
        qev::fuzz::exerciseImageBytes(dir.filePath("input"), input.bytes.data(), input.bytes.size());
    }
}

TEST(ImageFuzzRegression, SavedArchivesUnpackOnlyFingersInsideTheFolder) {
    const auto inputs = qev::test::savedFuzzInputs("capture", "finger_archive");
    ASSERT_FALSE(inputs.empty());
    qev::test::TempAppDir dir;
    for (const auto& input : inputs) {
        SCOPED_TRACE(input.name);
        qev::fuzz::exerciseFingerArchive(dir.pathStd(), input.bytes.data(), input.bytes.size());
    }
}
