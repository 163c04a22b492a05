#pragma once

#include "BlockMaps.h"

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

namespace qev::quality {

enum class MinutiaKind { Ending, Bifurcation };

// Minutia directions: 32 steps of 11.25 degrees, 0 pointing up the image and counted clockwise.
inline constexpr int kMinutiaDirections = 32;

struct Minutia {
    int x = 0; // the feature pixel: the ridge tip of an ending, the valley tip of a bifurcation
    int y = 0;
    int edgeX = 0; // the pixel of the other colour next to it, where the feature's contour starts
    int edgeY = 0;
    int direction = 0; // 0 .. kMinutiaDirections - 1
    MinutiaKind kind = MinutiaKind::Ending;
    bool appearing = false;   // the feature starts on the second line of the scan that found it
    double reliability = 0.0; // 0.01 .. 0.99, from the block quality and the local grey statistics
};

// Binarised image the minutiae are found on: 1 = ridge, 0 = valley, W x H bytes, rows top first.
class RidgeImage {
public:
    RidgeImage(std::vector<std::uint8_t> pixels, int width, int height);
    [[nodiscard]] int width() const { return m_width; }
    [[nodiscard]] int height() const { return m_height; }
    [[nodiscard]] bool inside(int x, int y) const { return x >= 0 && y >= 0 && x < m_width && y < m_height; }
    [[nodiscard]] std::uint8_t at(int x, int y) const { return m_pixels[index(x, y)]; }
    void set(int x, int y, std::uint8_t v) { m_pixels[index(x, y)] = v; }

private:
    [[nodiscard]] std::size_t index(int x, int y) const {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(m_width) + static_cast<std::size_t>(x);
    }
    int m_width;
    int m_height;
    std::vector<std::uint8_t> m_pixels;
};

// The three stages, for tests that feed each one another detector's inputs. Candidates: ridge endings and
// bifurcations where the scan patterns appear in blocks with a direction, with their direction, sorted by x then y;
// fills the specks (small round loops) it meets in high-curvature blocks in the ridge image.
[[nodiscard]] std::vector<Minutia> findMinutiaCandidates(RidgeImage& ridges, const BlockMaps& maps);
// The false-minutia steps, in the order they run.
enum class RemovalStep {
    IslandsAndLakes,
    Holes,
    PointingIntoInvalid,
    NearInvalid,
    Side,
    Hooks,
    Overlaps,
    Malformations,
    Pores
};
inline constexpr std::array<RemovalStep, 9> kRemovalSteps = {
    RemovalStep::IslandsAndLakes, RemovalStep::Holes,         RemovalStep::PointingIntoInvalid,
    RemovalStep::NearInvalid,     RemovalStep::Side,          RemovalStep::Hooks,
    RemovalStep::Overlaps,        RemovalStep::Malformations, RemovalStep::Pores};
[[nodiscard]] const char* removalStepName(RemovalStep step);
// Drops the false ones (islands, lakes, holes, border, side, hooks, overlaps, malformations, pores), in that order;
// may fill the islands and lakes it removes in the ridge image.
// `afterStep`, when given, sees the survivors after each step with the step's name (for tests that look for the step
// that drops a minutia).
using RemovalTrace = std::function<void(const char* step, const std::vector<Minutia>& survivors)>;
void removeFalseMinutiae(std::vector<Minutia>& minutiae, RidgeImage& ridges, const BlockMaps& maps,
                         const RemovalTrace& afterStep = {});
// One step on its own (for tests that check a step against another detector's survivors).
void removeFalseMinutiae(RemovalStep step, std::vector<Minutia>& minutiae, RidgeImage& ridges, const BlockMaps& maps);
// Sets each minutia's reliability from its block's quality level and the grey statistics around it.
void rateMinutiae(std::vector<Minutia>& minutiae, const GreyView& image, const BlockMaps& maps);

// The whole stage on a binarised image (1 = ridge): candidates, false-minutia removal, reliability.
[[nodiscard]] std::vector<Minutia> detectMinutiae(const GreyView& image, std::vector<std::uint8_t> ridges,
                                                  const BlockMaps& maps);
// The same on the image's own binarisation.
[[nodiscard]] std::vector<Minutia> detectMinutiae(const GreyView& image, const BlockMaps& maps);

} // namespace qev::quality
