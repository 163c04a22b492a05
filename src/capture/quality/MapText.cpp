#include "MapText.h"

#include <cstdio>

namespace qev::quality {

namespace {

template <typename T> std::string format(const std::vector<T>& values, int width, int height) {
    std::string out;
    if (width <= 0 || height <= 0 ||
        values.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height))
        return out;
    out.reserve(values.size() * 3 + static_cast<std::size_t>(height));
    char cell[16];
    for (std::size_t i = 0; i < values.size(); ++i) {
        std::snprintf(cell, sizeof cell, "%2d ", static_cast<int>(values[i]));
        out += cell;
        if ((i + 1) % static_cast<std::size_t>(width) == 0) out += '\n';
    }
    return out;
}

} // namespace

std::string formatBlockMap(const std::vector<int>& values, int width, int height) {
    return format(values, width, height);
}

std::string formatBlockMap(const std::vector<std::uint8_t>& values, int width, int height) {
    return format(values, width, height);
}

std::string formatDirectionMap(const BlockMaps& maps) {
    std::vector<int> turned = maps.direction;
    for (int& d : turned)
        if (d != kNoDirection) d = (d + kDirectionCount / 2) % kDirectionCount;
    return format(turned, maps.width, maps.height);
}

std::string formatMinutiae(const std::vector<Minutia>& minutiae, int imageWidth, int imageHeight) {
    char line[128];
    std::snprintf(line, sizeof line, "Image (w,h) %d %d\n\n%zu Minutiae Detected\n\n", imageWidth, imageHeight,
                  minutiae.size());
    std::string out = line;
    for (std::size_t i = 0; i < minutiae.size(); ++i) {
        const Minutia& m = minutiae[i];
        std::snprintf(line, sizeof line, "%4zu : %4d, %4d : %2d : %6.3f :%s : %s\n", i, m.x, m.y, m.direction,
                      m.reliability, m.kind == MinutiaKind::Ending ? "RIG" : "BIF", m.appearing ? "APP" : "DIS");
        out += line;
    }
    return out;
}

std::string formatFeatures(const FeatureVector& features) {
    std::string out;
    char cell[32];
    for (std::size_t i = 0; i < features.size(); ++i) {
        if (i < 7)
            std::snprintf(cell, sizeof cell, "%.0f", static_cast<double>(features[i]));
        else
            std::snprintf(cell, sizeof cell, "%.6f", static_cast<double>(features[i]));
        if (i > 0) out += ',';
        out += cell;
    }
    return out;
}

} // namespace qev::quality
