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

// Thins a ridge image in place to one-pixel-wide ridge lines.
void thin(std::vector<std::uint8_t>& ridges, int width, int height);

// Finds ridge endings and bifurcations, drops the false ones and grades each survivor.
[[nodiscard]] std::vector<Minutia> detectMinutiae(const GreyView& image, const BlockMaps& maps);

} // namespace qev::quality
