// libFuzzer target over the production index reader and writer.
#include "FuzzScratch.h"
#include "MdxReadHarness.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The regeneration must always repair.
    if (!qev::fuzz::exerciseIndexBytes(qev::fuzz::scratchFolder(), data, size)) std::abort();
    return 0;
}
