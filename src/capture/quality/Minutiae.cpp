#include "Minutiae.h"

#include "Binarize.h"

namespace qev::quality {

std::vector<Minutia> detectMinutiae(const GreyView& image, std::vector<std::uint8_t> ridges, const BlockMaps& maps) {
    RidgeImage binary(std::move(ridges), image.width, image.height);
    std::vector<Minutia> minutiae = findMinutiaCandidates(binary, maps);
    removeFalseMinutiae(minutiae, binary, maps);
    rateMinutiae(minutiae, image, maps);
    return minutiae;
}

std::vector<Minutia> detectMinutiae(const GreyView& image, const BlockMaps& maps) {
    return detectMinutiae(image, binarisedImage(image, maps), maps);
}

} // namespace qev::quality
