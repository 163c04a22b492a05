#pragma once
// Text forms of the grader's intermediate results, so that one image's block maps and minutiae can be set beside
// another detector's and compared block by block: one value per 8x8 block, blocks in rows, top row first.

#include "BlockMaps.h"
#include "Minutiae.h"
#include "MlpNetwork.h"

#include <string>
#include <vector>

namespace qev::quality {

// Every value right-aligned in two columns and followed by a space, one map row per line.
[[nodiscard]] std::string formatBlockMap(const std::vector<int>& values, int width, int height);
[[nodiscard]] std::string formatBlockMap(const std::vector<std::uint8_t>& values, int width, int height);

// The direction map with 0 for vertical ridges and the steps counted on from there, the numbering other detectors'
// direction maps use (ours starts from horizontal): the same 16 directions a quarter turn on.
[[nodiscard]] std::string formatDirectionMap(const BlockMaps& maps);

// Header with the image size and the count, then "index : x, y : direction : reliability :TYPE : APP|DIS" per
// minutia: direction in 32 steps of 11.25 degrees from up, clockwise; APP when the feature appeared on the second
// line of the scan that found it.
[[nodiscard]] std::string formatMinutiae(const std::vector<Minutia>& minutiae, int imageWidth, int imageHeight);

// f1..f7 as whole numbers, f8..f11 with six decimals, comma-separated.
[[nodiscard]] std::string formatFeatures(const FeatureVector& features);

} // namespace qev::quality
