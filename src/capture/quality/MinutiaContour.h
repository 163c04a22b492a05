#pragma once
// Pieces the minutia stages share: the 8-neighbour ring, minutia directions as vectors, and the walk along the
// border between a ridge (or valley) and the pixels of the other colour.

#include "Minutiae.h"

#include <array>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <vector>

namespace qev::quality::contour {

// Neighbour ring N, NE, E, SE, S, SW, W, NW: one step on is one eighth turn clockwise on screen.
inline constexpr std::array<int, 8> kRingX = {0, 1, 1, 1, 0, -1, -1, -1};
inline constexpr std::array<int, 8> kRingY = {-1, -1, 0, 1, 1, 1, 0, -1};

// Unit vector of a minutia direction (0 up, clockwise, y growing downwards).
inline double directionDx(int direction) {
    return std::sin(2.0 * std::numbers::pi * direction / kMinutiaDirections);
}
inline double directionDy(int direction) {
    return -std::cos(2.0 * std::numbers::pi * direction / kMinutiaDirections);
}

// The minutia direction nearest to the vector (dx, dy); 0 for a null vector.
inline int directionOfVector(double dx, double dy) {
    if (dx == 0.0 && dy == 0.0) return 0;
    double turn = std::atan2(dx, -dy) / (2.0 * std::numbers::pi); // clockwise from up, -0.5 .. 0.5
    if (turn < 0.0) turn += 1.0;
    return static_cast<int>(std::lround(turn * kMinutiaDirections)) % kMinutiaDirections;
}

// Steps between two minutia directions the short way round, 0 .. kMinutiaDirections / 2.
inline int directionGap(int a, int b) {
    const int d = std::abs(a - b) % kMinutiaDirections;
    return std::min(d, kMinutiaDirections - d);
}

struct Point {
    int x = 0;
    int y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

// One pixel of a contour and the pixel of the other colour beside it.
struct ContourPoint {
    Point pixel;
    Point edge;
};

struct Contour {
    std::vector<ContourPoint> points; // excluding the starting pixel
    bool closed = false;              // came back to the starting pixel and edge
    bool complete = false;            // walked every step asked for (or closed)
};

enum class Turn { Clockwise, CounterClockwise };

// Walks from `start` (a pixel of the feature colour) along its border with `edge` (an 8-neighbour of the other
// colour) for at most maxSteps steps, turning round each pixel the given way; a pixel that touches the feature at a
// corner only is passed by. Stops early at the image border, at an isolated pixel, or when the walk closes on itself.
Contour traceContour(const RidgeImage& image, Point start, Point edge, int maxSteps, Turn turn);

// Whether `target` is the feature pixel of a contour point within maxSteps steps of `start`, either way round.
bool onContourWithin(const RidgeImage& image, Point start, Point edge, Point target, int maxSteps);

// Whether the pixels of the straight line from a to b (both ends included) all have the colour `colour`.
bool straightPathOfColour(const RidgeImage& image, Point a, Point b, std::uint8_t colour);

// Flood-fills the 4-connected region of p's colour with the other colour, unless it reaches further than `reach`
// pixels from p (then nothing changes): a closed contour of 2 * reach steps cannot enclose more. Returns the pixels
// it changed.
std::vector<Point> fillRegion(RidgeImage& image, Point p, int reach);

} // namespace qev::quality::contour
