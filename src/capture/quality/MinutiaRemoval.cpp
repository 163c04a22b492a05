#include "MinutiaContour.h"
#include "Minutiae.h"

namespace qev::quality {

void removeFalseMinutiae(std::vector<Minutia>& minutiae, RidgeImage& ridges, const BlockMaps& maps) {
    static_cast<void>(minutiae);
    static_cast<void>(ridges);
    static_cast<void>(maps);
}

} // namespace qev::quality
