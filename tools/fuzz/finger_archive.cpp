// libFuzzer target over the livescan archive reader.
#include "FingerArchiveHarness.h"
#include "FuzzScratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qev::fuzz::exerciseFingerArchive(qev::fuzz::scratchFolder(), data, size);
    return 0;
}
