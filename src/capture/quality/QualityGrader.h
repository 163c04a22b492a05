#pragma once

#include "Minutiae.h"
#include "MlpNetwork.h"

#include <array>
#include <cstdint>
#include <vector>

namespace qev::quality {

// Return codes of a grade. 0..2 come from the grader itself; the negative ones are the binding's.
inline constexpr int kGraded = 0;
inline constexpr int kEmptyImage = 1;      // no foreground block
inline constexpr int kTooFewMinutiae = 2;  // five or fewer minutiae
inline constexpr int kLibraryMissing = -1; // kept for the binding's texts; this grader is always present
inline constexpr int kNoImage = -2;        // null buffer or a zero/negative side
inline constexpr int kOutOfMemory = -3;    // the work buffers could not be allocated

inline constexpr int kDefaultPpi = 500;
inline constexpr long long kMaxPixels = 64LL * 1024 * 1024;

// (return code, quality value): quality 1 best .. 5 worst; 0 when the image could not be graded.
struct GradeResult {
    int code = kNoImage;
    int quality = 0;
};

// Everything the grade was made of, for tests and benchmarks.
struct GradeDetails {
    int code = kNoImage;
    int quality = 0;
    float confidence = 0.0f;
    bool networkRan = false;
    FeatureVector features{};
    Activations activations{};
    int mapWidth = 0;
    int mapHeight = 0;
    std::array<int, 5> blockCounts{}; // blocks per quality level 0..4
    std::vector<Minutia> minutiae;
    BlockMaps maps; // the block maps the grade was made of
};

// Grades an 8-bit grey image, rows top first, `width` bytes per row. ppi <= 0 means 500.
[[nodiscard]] GradeResult grade(const std::uint8_t* pixels, int width, int height, int ppi = kDefaultPpi);
[[nodiscard]] GradeDetails gradeDetailed(const std::uint8_t* pixels, int width, int height, int ppi = kDefaultPpi);

} // namespace qev::quality
