#pragma once

#include "BlockMaps.h"

#include <cstdint>
#include <vector>

namespace qev::quality {

// Ridge image: 1 = ridge pixel, 0 = valley or unusable area; W x H bytes, rows top first.
[[nodiscard]] std::vector<std::uint8_t> binarize(const GreyView& image, const BlockMaps& maps);

// Majority vote over each pixel's 3x3 neighbourhood: fills one-pixel gaps and drops stray pixels (frame kept).
void smoothRidges(std::vector<std::uint8_t>& ridges, int width, int height);

// The ridge image the minutiae are found on: binarize, then smoothRidges.
[[nodiscard]] std::vector<std::uint8_t> binarisedImage(const GreyView& image, const BlockMaps& maps);

} // namespace qev::quality
