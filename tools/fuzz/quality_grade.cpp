// libFuzzer target over the fingerprint quality grader: the first four bytes choose width and ppi, the rest are pixels.
#include "capture/quality/QualityGrader.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    const int width = 1 + (data[0] | (data[1] << 8)) % 400;
    const int ppi = static_cast<int>(data[2]) * 4 - 4;
    const bool nullBuffer = (data[3] & 0x80) != 0 && size == 4;
    const std::vector<std::uint8_t> pixels(data + 4, data + size);
    const int height = static_cast<int>(pixels.size()) / width;
    const auto result = qev::quality::grade(nullBuffer ? nullptr : pixels.data(), width, height, ppi);
    const bool rejected = result.code < 0 && result.quality == 0;
    const bool graded = result.code >= 0 && result.code <= 2 && result.quality >= 1 && result.quality <= 5;
    if (!rejected && !graded) std::abort();
    return 0;
}
