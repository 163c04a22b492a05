#pragma once

#include "BlockMaps.h"

#include <vector>

namespace qev::quality {

enum class MinutiaKind { Ending, Bifurcation };

struct Minutia {
    int x = 0;
    int y = 0;
    MinutiaKind kind = MinutiaKind::Ending;
    double reliability = 0.0; // 0.01 .. 0.99, from the block quality and the local grey statistics
};

// Ridge image: 1 = ridge pixel, 0 = valley or unusable area; W x H bytes, rows top first.
[[nodiscard]] std::vector<std::uint8_t> binarize(const GreyView& image, const BlockMaps& maps);

// Majority vote over each pixel's 3x3 neighbourhood: fills one-pixel gaps and drops stray pixels (frame kept).
void smoothRidges(std::vector<std::uint8_t>& ridges, int width, int height);

// The ridge image the minutiae are found on: binarize, then smoothRidges.
[[nodiscard]] std::vector<std::uint8_t> binarisedImage(const GreyView& image, const BlockMaps& maps);

// Thins a ridge image in place to one-pixel-wide ridge lines.
void thin(std::vector<std::uint8_t>& ridges, int width, int height);

// Finds ridge endings and bifurcations, drops the false ones and grades each survivor.
[[nodiscard]] std::vector<Minutia> detectMinutiae(const GreyView& image, const BlockMaps& maps);

} // namespace qev::quality
