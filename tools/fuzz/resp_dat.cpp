// libFuzzer target over the reply data file reader.
#include "ReplyFilesHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qev::fuzz::exerciseRespDat(data, size);
    return 0;
}
