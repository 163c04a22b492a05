// libFuzzer target: the TIFF, BMP and JPEG property and pixel readers.
#include "FuzzScratch.h"
#include "ImageInfoHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = qev::fuzz::scratchFolder() + "/input";
    qev::fuzz::exerciseImageBytes(path, data, size);
    return 0;
}
