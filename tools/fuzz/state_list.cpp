// libFuzzer target over the state and result list readers.
#include "ReplyFilesHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qev::fuzz::exerciseStateLists(data, size);
    return 0;
}
