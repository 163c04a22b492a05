// libFuzzer target over the table and memo readers.
#include "DbfReadHarness.h"
#include "FuzzScratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qev::fuzz::exerciseTableBytes(qev::fuzz::scratchFolder(), data, size);
    return 0;
}
