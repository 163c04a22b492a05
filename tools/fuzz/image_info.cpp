// libFuzzer target: the TIFF, BMP and JPEG property and pixel readers.
#include "ImageInfoHarness.h"

#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = "/tmp/qev-image-fuzz-" + std::to_string(::getpid());
    qev::fuzz::exerciseImageBytes(path, data, size);
    return 0;
}
