// libFuzzer target over the request data text splitter and its lookups.
#include "RequestDataTextHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qev::fuzz::exerciseRequestDataText(data, size);
    return 0;
}
