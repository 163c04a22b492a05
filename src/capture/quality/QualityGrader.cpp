#include "QualityGrader.h"

#include <new>

namespace qev::quality {

namespace {

constexpr int kFewMinutiae = 5;
constexpr std::array<double, 5> kReliabilitySteps = {0.5, 0.6, 0.7, 0.8, 0.9};

void rejectAsWorst(GradeDetails& details, int code) {
    details.code = code;
    details.quality = 5;
    details.confidence = 1.0f;
}

} // namespace

GradeDetails gradeDetailed(const std::uint8_t* pixels, int width, int height, int ppi) {
    GradeDetails details;
    if (pixels == nullptr || width <= 0 || height <= 0) return details;
    if (static_cast<long long>(width) * height > kMaxPixels) {
        details.code = kOutOfMemory;
        return details;
    }
    // The detector's distances are tuned for 500 ppi; other resolutions are graded as they are.
    static_cast<void>(ppi);
    try {
        const GreyView image{pixels, width, height};
        details.maps = computeBlockMaps(image);
        const BlockMaps& maps = details.maps;
        details.mapWidth = maps.width;
        details.mapHeight = maps.height;
        for (const std::uint8_t q : maps.quality)
            ++details.blockCounts[q];
        details.minutiae = detectMinutiae(image, maps);

        if (details.minutiae.size() <= kFewMinutiae) {
            rejectAsWorst(details, kTooFewMinutiae);
            return details;
        }
        const int foreground =
            details.blockCounts[1] + details.blockCounts[2] + details.blockCounts[3] + details.blockCounts[4];
        FeatureVector& f = details.features;
        f[0] = static_cast<float>(foreground);
        f[1] = static_cast<float>(details.minutiae.size());
        for (std::size_t k = 0; k < kReliabilitySteps.size(); ++k) {
            int count = 0;
            for (const Minutia& m : details.minutiae)
                count += m.reliability > kReliabilitySteps[k] ? 1 : 0;
            f[2 + k] = static_cast<float>(count);
        }
        if (foreground == 0) {
            rejectAsWorst(details, kEmptyImage);
            return details;
        }
        for (std::size_t level = 1; level <= 4; ++level)
            f[6 + level] = static_cast<float>(details.blockCounts[level]) / static_cast<float>(foreground);

        details.activations = runQualityNetwork(f);
        details.networkRan = true;
        details.quality = qualityFromActivations(details.activations);
        details.confidence = details.activations[static_cast<std::size_t>(details.quality - 1)];
        details.code = kGraded;
    } catch (const std::bad_alloc&) {
        details = GradeDetails{};
        details.code = kOutOfMemory;
    }
    return details;
}

GradeResult grade(const std::uint8_t* pixels, int width, int height, int ppi) {
    const GradeDetails details = gradeDetailed(pixels, width, height, ppi);
    return {details.code, details.quality};
}

} // namespace qev::quality
