// False-minutia removal, in a fixed order: each step looks at the survivors of the one before. Islands and lakes
// (a short ridge or valley closed on itself, with a minutia at each end), holes, minutiae pointing into or lying
// near blocks without a ridge direction, minutiae on the side of a ridge rather than at its tip, hooks (a spur and
// the fork it leaves), overlaps (the two ends of a broken ridge), malformed ridges that widen or part too fast, and
// pores.
#include "MinutiaContour.h"
#include "Minutiae.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace qev::quality {

namespace {

using contour::ContourPoint;
using contour::Point;
using contour::Turn;

constexpr int kPairDistance = 16;       // islands, lakes and hooks are looked for between minutiae this close
constexpr int kMaxHalfLoop = 30;        // an island or lake is walked round in at most twice this many steps
constexpr int kSmallLoop = 15;          // a hole is walked round in at most this many steps
constexpr int kPointingSteps = 6;       // how far along its direction a minutia must still find ridge flow
constexpr int kInvalidMargin = 6;       // pixels from a block without direction
constexpr int kMinValidNeighbours = 7;  // ... where a minutia needs this many of its block's 8 neighbours valid
constexpr int kSideHalfContour = 7;     // contour walked each way to find a minutia's tip
constexpr int kMaxHookLength = 15;      // contour steps between a spur's end and its fork
constexpr int kMaxOverlapDistance = 8;  // the two ends of a broken ridge
constexpr int kMaxOverlapJoin = 6;      // ... closer than this are joined without looking at the gap
constexpr int kMalformationSteps1 = 10; // ridge width measured this far from the minutia
constexpr int kMalformationSteps2 = 20; // ... and this far
constexpr double kMalformationRatio = 2.0;
constexpr double kMaxMalformationWidth = 20.0;
constexpr double kMalformationWideAt = 6.0;              // a far width below this is a thin ridge, not a malformation
constexpr int kOppositeGap = kMinutiaDirections * 3 / 8; // directions at least this far apart face each other

double distance(const Minutia& a, const Minutia& b) {
    return std::hypot(a.x - b.x, a.y - b.y);
}

Point feature(const Minutia& m) {
    return {m.x, m.y};
}
Point edge(const Minutia& m) {
    return {m.edgeX, m.edgeY};
}

void dropMarked(std::vector<Minutia>& minutiae, const std::vector<bool>& drop) {
    std::size_t out = 0;
    for (std::size_t i = 0; i < minutiae.size(); ++i)
        if (!drop[i]) minutiae[out++] = minutiae[i];
    minutiae.resize(out);
}

bool blockValid(const BlockMaps& maps, int x, int y, const RidgeImage& image) {
    if (!image.inside(x, y)) return false;
    return maps.direction[maps.index(x / kBlockSize, y / kBlockSize)] != kNoDirection;
}

// The feature's contour walked both ways as one line of points, the minutia in the middle; empty when either walk
// is cut short or closes.
std::vector<ContourPoint> contourAround(const RidgeImage& image, const Minutia& m, int half) {
    const auto one = contour::traceContour(image, feature(m), edge(m), half, Turn::Clockwise);
    const auto other = contour::traceContour(image, feature(m), edge(m), half, Turn::CounterClockwise);
    if (!one.complete || !other.complete || one.closed || other.closed) return {};
    std::vector<ContourPoint> line(other.points.rbegin(), other.points.rend());
    line.push_back({feature(m), edge(m)});
    line.insert(line.end(), one.points.begin(), one.points.end());
    return line;
}

// Whether the feature's contour closes within maxSteps steps.
bool onLoop(const RidgeImage& image, const Minutia& m, int maxSteps) {
    return contour::traceContour(image, feature(m), edge(m), maxSteps, Turn::Clockwise).closed;
}

// Flood-fills the 4-connected region of the feature colour at p with the other colour, unless it reaches further
// than reach pixels from p (then nothing changes): a closed contour of 2 * reach steps cannot enclose more.
void fillRegion(RidgeImage& image, Point p, int reach) {
    const std::uint8_t colour = image.at(p.x, p.y);
    const int side = 2 * reach + 1;
    std::vector<std::uint8_t> seen(static_cast<std::size_t>(side) * static_cast<std::size_t>(side), 0);
    auto slot = [&](Point q) {
        return static_cast<std::size_t>(q.y - p.y + reach) * static_cast<std::size_t>(side) +
               static_cast<std::size_t>(q.x - p.x + reach);
    };
    std::vector<Point> region{p}, stack{p};
    seen[slot(p)] = 1;
    while (!stack.empty()) {
        const Point q = stack.back();
        stack.pop_back();
        for (const Point n : {Point{q.x + 1, q.y}, Point{q.x - 1, q.y}, Point{q.x, q.y + 1}, Point{q.x, q.y - 1}}) {
            if (!image.inside(n.x, n.y) || image.at(n.x, n.y) != colour) continue;
            if (std::abs(n.x - p.x) > reach || std::abs(n.y - p.y) > reach) return;
            if (seen[slot(n)]) continue;
            seen[slot(n)] = 1;
            region.push_back(n);
            stack.push_back(n);
        }
    }
    for (const Point q : region)
        image.set(q.x, q.y, colour ? 0 : 1);
}

void removeIslandsAndLakes(std::vector<Minutia>& ms, RidgeImage& image) {
    std::vector<bool> drop(ms.size(), false);
    for (std::size_t i = 0; i < ms.size(); ++i) {
        if (drop[i]) continue;
        for (std::size_t j = i + 1; j < ms.size() && ms[j].x - ms[i].x <= kPairDistance; ++j) {
            if (drop[j] || ms[i].kind != ms[j].kind || distance(ms[i], ms[j]) > kPairDistance) continue;
            if (contour::directionGap(ms[i].direction, ms[j].direction) < kOppositeGap) continue;
            const auto walk =
                contour::traceContour(image, feature(ms[i]), edge(ms[i]), 2 * kMaxHalfLoop, Turn::Clockwise);
            if (!walk.closed) continue;
            const bool throughOther = std::any_of(walk.points.begin(), walk.points.end(),
                                                  [&](const ContourPoint& p) { return p.pixel == feature(ms[j]); });
            if (!throughOther) continue;
            fillRegion(image, feature(ms[i]), kMaxHalfLoop);
            drop[i] = drop[j] = true;
            break;
        }
    }
    dropMarked(ms, drop);
}

void removeHoles(std::vector<Minutia>& ms, const RidgeImage& image) {
    std::vector<bool> drop(ms.size(), false);
    for (std::size_t i = 0; i < ms.size(); ++i)
        drop[i] = ms[i].kind == MinutiaKind::Bifurcation && onLoop(image, ms[i], kSmallLoop);
    dropMarked(ms, drop);
}

void removePointingIntoInvalidBlocks(std::vector<Minutia>& ms, const RidgeImage& image, const BlockMaps& maps) {
    std::vector<bool> drop(ms.size(), false);
    for (std::size_t i = 0; i < ms.size(); ++i) {
        const int x = ms[i].x + static_cast<int>(std::lround(kPointingSteps * contour::directionDx(ms[i].direction)));
        const int y = ms[i].y + static_cast<int>(std::lround(kPointingSteps * contour::directionDy(ms[i].direction)));
        drop[i] = !blockValid(maps, x, y, image);
    }
    dropMarked(ms, drop);
}

int validNeighbours(const BlockMaps& maps, int bx, int by) {
    int valid = 0;
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            if ((dx || dy) && maps.inside(bx + dx, by + dy) &&
                maps.direction[maps.index(bx + dx, by + dy)] != kNoDirection)
                ++valid;
    return valid;
}

// A minutia within the margin of a block without direction goes when that block lies in the background (fewer
// than kMinValidNeighbours of its own neighbours valid); a lone block without direction inside the print is a hole
// in the map, not the print's edge.
void removeNearInvalidBlocks(std::vector<Minutia>& ms, const BlockMaps& maps) {
    std::vector<bool> drop(ms.size(), false);
    for (std::size_t i = 0; i < ms.size(); ++i) {
        const Minutia& m = ms[i];
        const int bx = m.x / kBlockSize, by = m.y / kBlockSize;
        const int px = m.x % kBlockSize, py = m.y % kBlockSize;
        bool remove = false;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
                if (!dx && !dy) continue;
                if ((dx < 0 && px >= kInvalidMargin) || (dx > 0 && px < kBlockSize - kInvalidMargin)) continue;
                if ((dy < 0 && py >= kInvalidMargin) || (dy > 0 && py < kBlockSize - kInvalidMargin)) continue;
                const int nx = bx + dx, ny = by + dy;
                const bool invalid = !maps.inside(nx, ny) || maps.direction[maps.index(nx, ny)] == kNoDirection;
                if (!invalid) continue;
                if (!maps.inside(nx, ny) || validNeighbours(maps, nx, ny) < kMinValidNeighbours) remove = true;
            }
        drop[i] = remove;
    }
    dropMarked(ms, drop);
}

// A true minutia is the tip of its feature: walked along the contour, the points reach furthest against the
// minutia's direction once. None means the candidate sits on a ridge's side; one moves the minutia onto it.
void removeOrAdjustSideMinutiae(std::vector<Minutia>& ms, const RidgeImage& image) {
    std::vector<bool> drop(ms.size(), false);
    for (std::size_t i = 0; i < ms.size(); ++i) {
        Minutia& m = ms[i];
        const auto line = contourAround(image, m, kSideHalfContour);
        if (line.empty()) {
            drop[i] = true;
            continue;
        }
        const double ux = contour::directionDx(m.direction), uy = contour::directionDy(m.direction);
        std::vector<double> along;
        std::vector<std::size_t> at;
        for (std::size_t k = 0; k < line.size(); ++k) {
            const double s = std::round((line[k].pixel.x - m.x) * ux + (line[k].pixel.y - m.y) * uy);
            if (!along.empty() && along.back() == s) continue;
            along.push_back(s);
            at.push_back(k);
        }
        std::vector<std::size_t> minima;
        for (std::size_t k = 1; k + 1 < along.size(); ++k)
            if (along[k] < along[k - 1] && along[k] < along[k + 1]) minima.push_back(at[k]);
        if (minima.size() != 1) {
            drop[i] = true;
            continue;
        }
        m.x = line[minima[0]].pixel.x;
        m.y = line[minima[0]].pixel.y;
        m.edgeX = line[minima[0]].edge.x;
        m.edgeY = line[minima[0]].edge.y;
    }
    dropMarked(ms, drop);
}

bool contourReaches(const RidgeImage& image, const Minutia& from, const Minutia& to, int maxSteps) {
    for (const Turn t : {Turn::Clockwise, Turn::CounterClockwise}) {
        const auto walk = contour::traceContour(image, feature(from), edge(from), maxSteps, t);
        for (const ContourPoint& p : walk.points)
            if (p.pixel == feature(to) || p.pixel == edge(to) || p.edge == feature(to)) return true;
    }
    return false;
}

void removeHooks(std::vector<Minutia>& ms, const RidgeImage& image) {
    std::vector<bool> drop(ms.size(), false);
    for (std::size_t i = 0; i < ms.size(); ++i) {
        if (drop[i]) continue;
        for (std::size_t j = i + 1; j < ms.size() && ms[j].x - ms[i].x <= kPairDistance; ++j) {
            if (drop[j] || ms[i].kind == ms[j].kind || distance(ms[i], ms[j]) > kPairDistance) continue;
            if (contour::directionGap(ms[i].direction, ms[j].direction) < kOppositeGap) continue;
            if (!contourReaches(image, ms[i], ms[j], kMaxHookLength)) continue;
            drop[i] = drop[j] = true;
            break;
        }
    }
    dropMarked(ms, drop);
}

void removeOverlaps(std::vector<Minutia>& ms, const RidgeImage& image) {
    std::vector<bool> drop(ms.size(), false);
    for (std::size_t i = 0; i < ms.size(); ++i) {
        if (drop[i]) continue;
        for (std::size_t j = i + 1; j < ms.size() && ms[j].x - ms[i].x <= kMaxOverlapDistance; ++j) {
            if (drop[j] || ms[i].kind != ms[j].kind) continue;
            const double d = distance(ms[i], ms[j]);
            if (d > kMaxOverlapDistance) continue;
            if (contour::directionGap(ms[i].direction, ms[j].direction) < kOppositeGap) continue;
            bool overlap = d <= kMaxOverlapJoin;
            if (!overlap) {
                // The second lies ahead of the first, against its direction, with nothing of its colour between.
                const int join = contour::directionOfVector(ms[j].x - ms[i].x, ms[j].y - ms[i].y);
                const std::uint8_t gapColour = ms[i].kind == MinutiaKind::Ending ? 0 : 1;
                const int back = (ms[i].direction + kMinutiaDirections / 2) % kMinutiaDirections;
                overlap = contour::directionGap(join, back) <= kMinutiaDirections / 4 &&
                          contour::straightPathOfColour(image, edge(ms[i]), edge(ms[j]), gapColour);
            }
            if (!overlap) continue;
            drop[i] = drop[j] = true;
            break;
        }
    }
    dropMarked(ms, drop);
}

void removeMalformations(std::vector<Minutia>& ms, const RidgeImage& image) {
    std::vector<bool> drop(ms.size(), false);
    for (std::size_t i = 0; i < ms.size(); ++i) {
        const Minutia& m = ms[i];
        const auto one = contour::traceContour(image, feature(m), edge(m), kMalformationSteps2, Turn::Clockwise);
        const auto other =
            contour::traceContour(image, feature(m), edge(m), kMalformationSteps2, Turn::CounterClockwise);
        if (!one.complete || !other.complete || one.closed || other.closed) {
            drop[i] = true;
            continue;
        }
        const auto s1 = static_cast<std::size_t>(kMalformationSteps1 - 1),
                   s2 = static_cast<std::size_t>(kMalformationSteps2 - 1);
        const Point a1 = one.points[s1].pixel, b1 = other.points[s1].pixel;
        const Point a2 = one.points[s2].pixel, b2 = other.points[s2].pixel;
        const double w1 = std::hypot(a1.x - b1.x, a1.y - b1.y), w2 = std::hypot(a2.x - b2.x, a2.y - b2.y);
        const std::uint8_t colour = image.at(m.x, m.y);
        // Too wide: the sides part to more than twice the width and further than a ridge is wide; too narrow: the
        // straight line across at the first width leaves the feature.
        const double ratio = w1 == 0.0 ? kMaxMalformationWidth : w2 / w1;
        drop[i] = !contour::straightPathOfColour(image, a1, b1, colour) ||
                  (ratio > kMalformationRatio && w2 > kMalformationWideAt) || w2 > kMaxMalformationWidth;
    }
    dropMarked(ms, drop);
}

} // namespace

void removeFalseMinutiae(std::vector<Minutia>& minutiae, RidgeImage& ridges, const BlockMaps& maps) {
    removeIslandsAndLakes(minutiae, ridges);
    removeHoles(minutiae, ridges);
    removePointingIntoInvalidBlocks(minutiae, ridges, maps);
    removeNearInvalidBlocks(minutiae, maps);
    removeOrAdjustSideMinutiae(minutiae, ridges);
    removeHooks(minutiae, ridges);
    removeOverlaps(minutiae, ridges);
    removeMalformations(minutiae, ridges);
}

} // namespace qev::quality
