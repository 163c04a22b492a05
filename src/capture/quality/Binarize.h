#pragma once

#include "BlockMaps.h"

#include <cstdint>
#include <vector>

namespace qev::quality {

// Ridge image: 1 = ridge pixel, 0 = valley or a block without a ridge direction; W x H bytes, rows top first.
// Each pixel is compared with the rotated grid around it, on the 6-bit copy the block maps are measured on.
[[nodiscard]] std::vector<std::uint8_t> binarize(const GreyView& image, const BlockMaps& maps);

// Fills one-pixel holes in a ridge image of 0s and 1s: every pixel whose two neighbours in a row, and then in a
// column, agree with each other and not with it takes their value. Rows are swept left to right and columns top to
// bottom, each change counting for the next triplet; `passes` sweeps in all.
void fillHoles(std::vector<std::uint8_t>& ridges, int width, int height, int passes);

// The ridge image the minutiae are found on: binarize, then three passes of fillHoles.
[[nodiscard]] std::vector<std::uint8_t> binarisedImage(const GreyView& image, const BlockMaps& maps);

} // namespace qev::quality
