// libFuzzer target over the WSQ decoder.
#include "WsqDecodeHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qev::fuzz::exerciseWsqBytes(data, size);
    return 0;
}
