#pragma once
// Feeds arbitrary bytes to the fingerprint quality grader: the first four bytes choose the width, the resolution
// and a null buffer, the rest are pixels, at most 40×40 of them: every stage of the grader is reached on that many,
// and larger pictures only repeat the same work over more blocks. Whatever the pixels, the grade is either a
// refusal with quality 0 or a code 0..2 with a quality 1..5. Used by the fuzzer and by the regression test over
// saved inputs.

#include "capture/quality/QualityGrader.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace qev::fuzz {

inline constexpr size_t kGradeFuzzPixels = 40 * 40;

inline void exerciseQualityGrade(const uint8_t* data, size_t size) {
    if (size < 4) return;
    const int width = 1 + (data[0] | (data[1] << 8)) % 160;
    const int ppi = static_cast<int>(data[2]) * 4 - 4;
    const bool nullBuffer = (data[3] & 0x80) != 0 && size == 4;
    const std::vector<std::uint8_t> pixels(data + 4, data + 4 + std::min(size - 4, kGradeFuzzPixels));
    const int height = static_cast<int>(pixels.size()) / width;
    const auto result = quality::grade(nullBuffer ? nullptr : pixels.data(), width, height, ppi);
    const bool rejected = result.code < 0 && result.quality == 0;
    const bool graded = result.code >= 0 && result.code <= 2 && result.quality >= 1 && result.quality <= 5;
    if (!rejected && !graded) std::abort();
}

} // namespace qev::fuzz
