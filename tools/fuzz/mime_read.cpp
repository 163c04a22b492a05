// libFuzzer target over the reading of received mail (headers, parts, attachment names and contents).
#include "MimeReadHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qev::fuzz::exerciseMimeRead(data, size);
    return 0;
}
