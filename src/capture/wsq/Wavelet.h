#pragma once
// The two-band filter bank of the WSQ transform and the 2-D analysis and synthesis over the decomposition tree.
// Odd-length filters are whole-sample symmetric and use whole-sample symmetric extension; even-length filters are
// half-sample symmetric (lowpass) and antisymmetric (highpass) and use half-sample symmetric extension.

#include "capture/wsq/Result.h"
#include "capture/wsq/WsqTree.h"

#include <span>
#include <vector>

namespace qev::wsq {

constexpr int kMaxFilterLength = 32;

struct FilterBank {
    bool odd = true;
    // Analysis: lo[k] = sum a0[j] x[2k - j], hi[k] = sum a1[j] x[2k - j]; index j runs from the start value.
    std::vector<float> a0, a1;
    int a0Start = 0, a1Start = 0;
    // Synthesis: x[m] = sum lo[k] f0[m - 2k] + sum hi[k] f1[m - 2k].
    std::vector<float> f0, f1;
    int f0Start = 0, f1Start = 0;
    int margin = 0; // samples each line is extended by on both sides
};

// Builds the bank from the transmitted halves (centre tap first, outwards). Fails when the lengths are out of
// range or the pair does not reconstruct.
Result<FilterBank> makeFilterBank(std::span<const double> lowHalf, int lowLength, std::span<const double> highHalf,
                                  int highLength);

// The 9/7 pair the encoder filters with and transmits (centre tap first).
std::span<const double> standardLowHalf();
std::span<const double> standardHighHalf();

// In-place transform of a width x stride float image over the whole tree.
void analyse(std::vector<float>& image, int stride, const Tree& tree, const FilterBank& bank);
void synthesise(std::vector<float>& image, int stride, const Tree& tree, const FilterBank& bank);

} // namespace qev::wsq
