#pragma once
// The fixed WSQ decomposition: 20 separable two-band splits of the image and the 64 subbands they leave.
// Subbands 60-63 (the diagonal quarter of the first split) are never coded and never filtered.

#include <array>

namespace qev::wsq {

constexpr int kSplitCount = 20;
constexpr int kSubbandCount = 64;
constexpr int kCodedSubbands = 60;

struct Region {
    int x = 0;
    int y = 0;
    int w = 0;
    int h = 0;
};

// One split: the region is filtered along x and then y. An inverted axis keeps its highpass half first, so that
// the subbands of a highpass parent lie in frequency order.
struct Split {
    Region r;
    bool invertX = false;
    bool invertY = false;
};

struct Tree {
    std::array<Split, kSplitCount> splits; // in analysis order; synthesis runs them backwards
    std::array<Region, kSubbandCount> subbands;
};

// Lowpass half of a length n signal takes the extra sample of an odd length.
constexpr int lowLength(int n) {
    return (n + 1) / 2;
}
constexpr int highLength(int n) {
    return n / 2;
}

Tree buildTree(int width, int height);

} // namespace qev::wsq
