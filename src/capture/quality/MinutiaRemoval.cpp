// False-minutia removal, in a fixed order: each step looks at the survivors of the one before. Islands and lakes
// (a short ridge or valley closed on itself, with a minutia at each end), holes, minutiae pointing into or lying
// near blocks without a ridge direction, minutiae on the side of a ridge rather than at its tip, hooks (a spur and
// the fork it leaves), overlaps (the two ends of a broken ridge), malformed ridges that widen or part too fast, and
// pores.
#include "MinutiaContour.h"
#include "Minutiae.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>
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
constexpr int kInvalidMargin = 4;       // pixels from a block without direction
constexpr int kMinValidNeighbours = 7;  // ... where a minutia needs this many of its block's 8 neighbours valid
constexpr int kSideHalfContour = 7;     // contour walked each way to find a minutia's tip
constexpr int kMaxHookLength = 30;      // contour steps between a spur's end and its fork
constexpr int kMaxOverlapDistance = 8;  // the two ends of a broken ridge, at most this far apart
constexpr int kMaxOverlapJoin = 6;      // ... and closer than this whatever the line between them points
constexpr int kMaxFreeTransitions = 2;  // ... with the gap alone between them
constexpr int kMalformationSteps1 = 10; // ridge width measured this far from the minutia
constexpr int kMalformationSteps2 = 20; // ... and this far
constexpr double kMalformationRatio = 2.0;
constexpr double kMaxMalformationWidth = 20.0;
constexpr int kPoreTipDistance = 3;   // pores: the search across starts this far past the tip
constexpr int kPoreAcrossSteps = 12;  // ... and goes at most this far each way
constexpr int kPoreStepsForward = 10; // contour steps along the minutia's direction, beside the feature
constexpr int kPoreStepsBackward = 8; // ... and against it, on past the tip
constexpr int kPoreWalk = std::max(kPoreStepsForward, kPoreStepsBackward);
constexpr double kPoreMinSquaredGap = 0.5;
constexpr double kPoreMaxSquaredRatio = 2.25;
constexpr int kOppositeGap = kMinutiaDirections * 3 / 8; // directions at least this far apart face each other

// The steps walk the minutiae in rows, top to bottom and left to right in a row; a pair search ends at the first
// minutia too many rows below.
int rowsBelow(const Minutia& a, const Minutia& b) {
    return b.y - a.y;
}

void sortInRows(std::vector<Minutia>& ms) {
    std::stable_sort(ms.begin(), ms.end(),
                     [](const Minutia& a, const Minutia& b) { return a.y != b.y ? a.y < b.y : a.x < b.x; });
}

// Whether a and b lie more than `limit` pixels apart.
bool fartherThan(const Minutia& a, const Minutia& b, int limit) {
    const int dx = a.x - b.x, dy = a.y - b.y;
    return dx * dx + dy * dy > limit * limit;
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

void removeIslandsAndLakes(std::vector<Minutia>& ms, RidgeImage& image) {
    std::vector<bool> drop(ms.size(), false);
    for (std::size_t i = 0; i < ms.size(); ++i) {
        if (drop[i]) continue;
        // The walks from the first minutia round its feature, taken once for all the partners it is tried with.
        std::optional<std::array<contour::Contour, 2>> walks;
        for (std::size_t j = i + 1; j < ms.size() && rowsBelow(ms[i], ms[j]) <= kPairDistance; ++j) {
            if (drop[j] || ms[i].kind != ms[j].kind || fartherThan(ms[i], ms[j], kPairDistance)) continue;
            if (contour::directionGap(ms[i].direction, ms[j].direction) < kOppositeGap) continue;
            if (!walks)
                walks = {
                    contour::traceContour(image, feature(ms[i]), edge(ms[i]), kMaxHalfLoop, Turn::Clockwise),
                    contour::traceContour(image, feature(ms[i]), edge(ms[i]), kMaxHalfLoop, Turn::CounterClockwise)};
            // On a loop through both, each way round from the one reaches the other within half the loop's length.
            const auto reaches = [&](const contour::Contour& walk) {
                return std::any_of(walk.points.begin(), walk.points.end(),
                                   [&](const ContourPoint& p) { return p.pixel == feature(ms[j]); });
            };
            if (!reaches((*walks)[0]) || !reaches((*walks)[1])) continue;
            contour::fillRegion(image, feature(ms[i]), kMaxHalfLoop);
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
// minutia's direction once, or twice with one turn back between (the deeper of the two is the tip). Any other shape
// means the candidate sits on a ridge's side, and it goes; a tip found moves the minutia onto it.
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
        // Depths along the direction count in whole pixels, cut toward the minutia: a point less than a pixel
        // further along (or back) lies level with it. Runs of equal depths stand for their middle point, or for the
        // minutia itself when it lies on the run.
        std::vector<double> along;
        std::vector<std::size_t> first, last;
        for (std::size_t k = 0; k < line.size(); ++k) {
            // Rounded first, so that a depth of a whole number of pixels the sines leave a hair short stays whole.
            const double d = (line[k].pixel.x - m.x) * ux + (line[k].pixel.y - m.y) * uy;
            const double s = std::trunc(std::round(d * 1e6) / 1e6);
            if (!along.empty() && along.back() == s) {
                last.back() = k;
                continue;
            }
            along.push_back(s);
            first.push_back(k);
            last.push_back(k);
        }
        // The dips (d) and peaks (p) along the contour, in order: "d" and "dpd" are tips.
        std::vector<std::size_t> minima;
        std::string shape;
        for (std::size_t k = 1; k + 1 < along.size(); ++k) {
            if (along[k] > along[k - 1] && along[k] > along[k + 1]) shape += 'p';
            if (along[k] < along[k - 1] && along[k] < along[k + 1]) {
                shape += 'd';
                const auto self = static_cast<std::size_t>(kSideHalfContour);
                if (first[k] <= self && self <= last[k])
                    minima.push_back(self);
                else
                    minima.push_back((first[k] + last[k]) / 2);
            }
        }
        if (shape != "d" && shape != "dpd") {
            drop[i] = true;
            continue;
        }
        const auto depth = [&](std::size_t k) { return (line[k].pixel.x - m.x) * ux + (line[k].pixel.y - m.y) * uy; };
        const std::size_t tip = *std::min_element(minima.begin(), minima.end(),
                                                  [&](std::size_t a, std::size_t b) { return depth(a) < depth(b); });
        m.x = line[tip].pixel.x;
        m.y = line[tip].pixel.y;
        m.edgeX = line[tip].edge.x;
        m.edgeY = line[tip].edge.y;
    }
    dropMarked(ms, drop);
    // A minutia moved to its tip may have left its place in the rows, which the pair searches after this step walk.
    sortInRows(ms);
}

// Whether one of the two walks from a minutia along its contour passes the other minutia `to`.
bool walksReach(const std::array<contour::Contour, 2>& walks, const Minutia& to) {
    for (const contour::Contour& walk : walks)
        for (const ContourPoint& p : walk.points)
            if (p.pixel == feature(to) || p.pixel == edge(to) || p.edge == feature(to)) return true;
    return false;
}

void removeHooks(std::vector<Minutia>& ms, const RidgeImage& image) {
    std::vector<bool> drop(ms.size(), false);
    for (std::size_t i = 0; i < ms.size(); ++i) {
        if (drop[i]) continue;
        // Both walks from the first minutia, taken once for all the partners it is tried with.
        std::optional<std::array<contour::Contour, 2>> walks;
        for (std::size_t j = i + 1; j < ms.size() && rowsBelow(ms[i], ms[j]) <= kPairDistance; ++j) {
            if (drop[j] || ms[i].kind == ms[j].kind || fartherThan(ms[i], ms[j], kPairDistance)) continue;
            if (contour::directionGap(ms[i].direction, ms[j].direction) < kOppositeGap) continue;
            if (!walks)
                walks = {
                    contour::traceContour(image, feature(ms[i]), edge(ms[i]), kMaxHookLength, Turn::Clockwise),
                    contour::traceContour(image, feature(ms[i]), edge(ms[i]), kMaxHookLength, Turn::CounterClockwise)};
            if (!walksReach(*walks, ms[j])) continue;
            drop[i] = drop[j] = true;
            break;
        }
    }
    dropMarked(ms, drop);
}

// Colour changes along the straight line from a to b.
int transitionsOnLine(const RidgeImage& image, Point a, Point b) {
    const int dx = b.x - a.x, dy = b.y - a.y;
    const int n = std::max(std::abs(dx), std::abs(dy));
    int changes = 0;
    std::uint8_t last = image.at(a.x, a.y);
    for (int i = 1; i <= n; ++i) {
        const int x = a.x + static_cast<int>(std::lround(static_cast<double>(dx) * i / n));
        const int y = a.y + static_cast<int>(std::lround(static_cast<double>(dy) * i / n));
        const std::uint8_t v = image.at(x, y);
        if (v != last) ++changes;
        last = v;
    }
    return changes;
}

// Overlaps: the two ends of one broken feature face each other across the gap. Ends within kMaxOverlapJoin of
// each other always are; further, up to kMaxOverlapDistance, only where the second lies behind the first (within a
// quarter turn of the first's back direction). Either way no more than the gap lies on the line joining them.
void removeOverlaps(std::vector<Minutia>& ms, const RidgeImage& image) {
    std::vector<bool> drop(ms.size(), false);
    for (std::size_t i = 0; i < ms.size(); ++i) {
        if (drop[i]) continue;
        const int back = (ms[i].direction + kMinutiaDirections / 2) % kMinutiaDirections;
        for (std::size_t j = i + 1; j < ms.size() && rowsBelow(ms[i], ms[j]) <= kMaxOverlapDistance; ++j) {
            if (drop[j] || ms[i].kind != ms[j].kind || fartherThan(ms[i], ms[j], kMaxOverlapDistance)) continue;
            if (contour::directionGap(ms[i].direction, ms[j].direction) < kOppositeGap) continue;
            if (fartherThan(ms[i], ms[j], kMaxOverlapJoin) &&
                contour::directionGap(contour::directionOfVector(ms[j].x - ms[i].x, ms[j].y - ms[i].y), back) >
                    kMinutiaDirections / 4)
                continue;
            if (transitionsOnLine(image, feature(ms[i]), feature(ms[j])) > kMaxFreeTransitions) continue;
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
        // Malformed: farther on, the sides part to more than twice their first distance and the straight line
        // across there leaves the feature; or, where the line across at the first distance lies wholly on the
        // feature, they lie farther apart farther on than any ridge is wide. Where that first line crosses other
        // features, the two walks have left for different ones: their distance then says nothing of how wide this
        // feature grows.
        const double ratio = w1 == 0.0 ? kMaxMalformationWidth : w2 / w1;
        drop[i] = (ratio > kMalformationRatio && !contour::straightPathOfColour(image, a2, b2, colour)) ||
                  (w2 > kMaxMalformationWidth && transitionsOnLine(image, a1, b1) == 0);
    }
    dropMarked(ms, drop);
}

// Pores and breaks: in blocks of low flow or high curvature, a feature whose neighbours run on beside the gap past
// its tip, instead of closing in on it, is a gap in the feature, not a minutia; so is one with no neighbour at all.
// From a point a few pixels past the tip the search goes across the flow, both ways, to the first pixel of the
// feature's colour; the contours there are walked forward (along the minutia's direction, beside the feature) and
// backward (on past the tip), and the squared distance across at the forward ends compared with the one at the backward
// ends.
void removePores(std::vector<Minutia>& ms, const RidgeImage& image, const BlockMaps& maps) {
    std::vector<bool> drop(ms.size(), false);
    for (std::size_t i = 0; i < ms.size(); ++i) {
        const Minutia& m = ms[i];
        const auto block = maps.index(m.x / kBlockSize, m.y / kBlockSize);
        if (!maps.lowFlow[block] && !maps.highCurvature[block]) continue;
        const double ux = contour::directionDx(m.direction), uy = contour::directionDy(m.direction);
        const std::uint8_t colour = image.at(m.x, m.y);
        const double rx = m.x - kPoreTipDistance * ux, ry = m.y - kPoreTipDistance * uy;
        const Point r{static_cast<int>(std::lround(rx)), static_cast<int>(std::lround(ry))};
        if (!image.inside(r.x, r.y) || image.at(r.x, r.y) == colour) continue;
        std::array<ContourPoint, 2> sides{};
        int found = 0, empty = 0;
        // The search starts from the pixel r, so that its steps fall on the pixels a line from r's centre crosses.
        for (const double s : {1.0, -1.0}) {
            Point prev = r;
            bool met = false; // the search met the feature's colour or the image's edge
            for (int k = 1; k <= kPoreAcrossSteps && !met; ++k) {
                const Point q{r.x + static_cast<int>(std::lround(-s * k * uy)),
                              r.y + static_cast<int>(std::lround(s * k * ux))};
                met = !image.inside(q.x, q.y) || image.at(q.x, q.y) == colour;
                if (met && image.inside(q.x, q.y) && std::abs(q.x - prev.x) <= 1 && std::abs(q.y - prev.y) <= 1)
                    sides[static_cast<std::size_t>(found++)] = {q, prev};
                prev = q;
            }
            empty += met ? 0 : 1;
        }
        // Nothing of the feature's colour across the flow on either side: a streak on its own, not a ridge (or
        // valley) among others, and no minutia. A ridge end with nothing beside it on one side is a ridge running
        // out at the print's edge, where the flow has faded: the print ends there, the ridge does not.
        if (empty == 2 || (empty == 1 && m.kind == MinutiaKind::Ending)) {
            drop[i] = true;
            continue;
        }
        if (found < 2) continue;
        std::array<Point, 2> past{}, back{};
        bool walked = true;
        for (std::size_t s = 0; s < 2 && walked; ++s) {
            const auto one = contour::traceContour(image, sides[s].pixel, sides[s].edge, kPoreWalk, Turn::Clockwise);
            const auto other =
                contour::traceContour(image, sides[s].pixel, sides[s].edge, kPoreWalk, Turn::CounterClockwise);
            if (one.points.size() < static_cast<std::size_t>(kPoreWalk) ||
                other.points.size() < static_cast<std::size_t>(kPoreWalk)) {
                walked = false;
                break;
            }
            // Which walk runs on past the tip follows from the side the point lies on, not from where the walk
            // ends: on the right of the minutia's direction the counter-clockwise walk does, on the left the
            // clockwise one. Where the neighbour forks or ends within the walk, both walks may turn back against
            // the direction, and their ends no longer tell.
            const bool oneOnward = s == 1;
            past[s] = (oneOnward ? one : other).points[static_cast<std::size_t>(kPoreStepsBackward - 1)].pixel;
            back[s] = (oneOnward ? other : one).points[static_cast<std::size_t>(kPoreStepsForward - 1)].pixel;
        }
        if (!walked) continue;
        const auto squared = [](Point a, Point b) {
            return static_cast<double>((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y));
        };
        const double onward = squared(past[0], past[1]), along = squared(back[0], back[1]);
        if (onward <= kPoreMinSquaredGap) continue;
        drop[i] = along / onward <= kPoreMaxSquaredRatio;
    }
    dropMarked(ms, drop);
}

} // namespace

namespace {

// Each step with its name, in the order of RemovalStep.
struct StepEntry {
    const char* name;
    void (*run)(std::vector<Minutia>&, RidgeImage&, const BlockMaps&);
};
constexpr std::array<StepEntry, kRemovalSteps.size()> kStepTable = {{
    {"islands and lakes",
     [](std::vector<Minutia>& ms, RidgeImage& im, const BlockMaps&) { removeIslandsAndLakes(ms, im); }},
    {"holes", [](std::vector<Minutia>& ms, RidgeImage& im, const BlockMaps&) { removeHoles(ms, im); }},
    {"pointing into invalid", [](std::vector<Minutia>& ms, RidgeImage& im,
                                 const BlockMaps& maps) { removePointingIntoInvalidBlocks(ms, im, maps); }},
    {"near invalid",
     [](std::vector<Minutia>& ms, RidgeImage&, const BlockMaps& maps) { removeNearInvalidBlocks(ms, maps); }},
    {"side", [](std::vector<Minutia>& ms, RidgeImage& im, const BlockMaps&) { removeOrAdjustSideMinutiae(ms, im); }},
    {"hooks", [](std::vector<Minutia>& ms, RidgeImage& im, const BlockMaps&) { removeHooks(ms, im); }},
    {"overlaps", [](std::vector<Minutia>& ms, RidgeImage& im, const BlockMaps&) { removeOverlaps(ms, im); }},
    {"malformations", [](std::vector<Minutia>& ms, RidgeImage& im, const BlockMaps&) { removeMalformations(ms, im); }},
    {"pores", [](std::vector<Minutia>& ms, RidgeImage& im, const BlockMaps& maps) { removePores(ms, im, maps); }},
}};

// The table is looked up by a step's value and the pipeline runs kRemovalSteps: the two orders are one.
constexpr bool stepsInTableOrder() {
    for (std::size_t i = 0; i < kRemovalSteps.size(); ++i)
        if (static_cast<std::size_t>(kRemovalSteps[i]) != i) return false;
    return true;
}
static_assert(stepsInTableOrder());

const StepEntry& entry(RemovalStep step) {
    return kStepTable[static_cast<std::size_t>(step)];
}

} // namespace

const char* removalStepName(RemovalStep step) {
    return entry(step).name;
}

// The steps walk the list in rows and keep it so (the tip step sorts again what it moved): the list is put in rows
// once, on the way in.
void removeFalseMinutiae(RemovalStep step, std::vector<Minutia>& minutiae, RidgeImage& ridges, const BlockMaps& maps) {
    sortInRows(minutiae);
    entry(step).run(minutiae, ridges, maps);
}

void removeFalseMinutiae(std::vector<Minutia>& minutiae, RidgeImage& ridges, const BlockMaps& maps,
                         const RemovalTrace& afterStep) {
    sortInRows(minutiae);
    for (const RemovalStep step : kRemovalSteps) {
        entry(step).run(minutiae, ridges, maps);
        if (afterStep) afterStep(removalStepName(step), minutiae);
    }
}

} // namespace qev::quality
