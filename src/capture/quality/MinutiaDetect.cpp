// Minutia candidates: the binarised image is scanned along pairs of adjacent rows and pairs of adjacent columns for
// the short pixel-pair sequences where a ridge (an ending) or a valley (a bifurcation) starts or stops between the
// two lines. Each hit in a block with a ridge direction becomes a candidate with a direction: the block's ridge flow
// pointed along the feature, or, in blocks of high curvature, the sharpest turn of the feature's contour. Both scans
// see most features; where two hits are the same feature, the one from the scan that crosses the block's flow
// stands.
#include "MinutiaContour.h"
#include "Minutiae.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <optional>
#include <utility>

namespace qev::quality {

namespace contour {

Contour traceContour(const RidgeImage& image, Point start, Point edge, int maxSteps, Turn turn) {
    Contour out;
    const std::uint8_t colour = image.at(start.x, start.y);
    const int step = turn == Turn::Clockwise ? 1 : 7;
    Point cur = start, e = edge;
    out.points.reserve(static_cast<std::size_t>(std::max(0, maxSteps)));
    // Ring position of each 8-neighbour offset (dy + 1, dx + 1); -1 for the pixel itself.
    static constexpr std::array<std::array<int, 3>, 3> kRingAt = {{{7, 0, 1}, {6, -1, 2}, {5, 4, 3}}};
    for (int n = 0; n < maxSteps; ++n) {
        const int ex = e.x - cur.x, ey = e.y - cur.y;
        if (ex < -1 || ex > 1 || ey < -1 || ey > 1) return out;
        const int k = kRingAt[static_cast<std::size_t>(ey + 1)][static_cast<std::size_t>(ex + 1)];
        if (k < 0) return out;
        bool moved = false;
        int prev = k;
        for (int i = 1; i < 8; ++i) {
            const int j = (k + i * step) % 8;
            const Point p{cur.x + kRingX[static_cast<std::size_t>(j)], cur.y + kRingY[static_cast<std::size_t>(j)]};
            if (!image.inside(p.x, p.y)) return out;
            if (image.at(p.x, p.y) == colour) {
                // A corner pixel with the other colour on both sides of it along the ring touches the feature only
                // at its corner: the walk passes it by.
                if (j % 2 == 1) {
                    const int after = (j + step) % 8;
                    const Point q{cur.x + kRingX[static_cast<std::size_t>(after)],
                                  cur.y + kRingY[static_cast<std::size_t>(after)]};
                    if (image.inside(q.x, q.y) && image.at(q.x, q.y) != colour) {
                        prev = j;
                        continue;
                    }
                }
                e = {cur.x + kRingX[static_cast<std::size_t>(prev)], cur.y + kRingY[static_cast<std::size_t>(prev)]};
                cur = p;
                moved = true;
                break;
            }
            prev = j;
        }
        if (!moved) return out;
        if (cur == start && e == edge) {
            out.closed = true;
            out.complete = true;
            return out;
        }
        out.points.push_back({cur, e});
    }
    out.complete = true;
    return out;
}

bool onContourWithin(const RidgeImage& image, Point start, Point edge, Point target, int maxSteps) {
    if (start == target) return true;
    for (const Turn t : {Turn::Clockwise, Turn::CounterClockwise}) {
        const Contour c = traceContour(image, start, edge, maxSteps, t);
        for (const ContourPoint& p : c.points)
            if (p.pixel == target) return true;
    }
    return false;
}

bool straightPathOfColour(const RidgeImage& image, Point a, Point b, std::uint8_t colour) {
    const int dx = b.x - a.x, dy = b.y - a.y;
    const int n = std::max(std::abs(dx), std::abs(dy));
    for (int i = 0; i <= n; ++i) {
        const int x = n == 0 ? a.x : a.x + static_cast<int>(std::lround(static_cast<double>(dx) * i / n));
        const int y = n == 0 ? a.y : a.y + static_cast<int>(std::lround(static_cast<double>(dy) * i / n));
        if (!image.inside(x, y) || image.at(x, y) != colour) return false;
    }
    return true;
}

std::vector<Point> fillRegion(RidgeImage& image, Point p, int reach) {
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
            if (std::abs(n.x - p.x) > reach || std::abs(n.y - p.y) > reach) return {};
            if (seen[slot(n)]) continue;
            seen[slot(n)] = 1;
            region.push_back(n);
            stack.push_back(n);
        }
    }
    for (const Point q : region)
        image.set(q.x, q.y, colour ? 0 : 1);
    return region;
}

} // namespace contour

using contour::Point;

RidgeImage::RidgeImage(std::vector<std::uint8_t> pixels, int width, int height)
    : m_width(width), m_height(height), m_pixels(std::move(pixels)) {
    m_pixels.resize(static_cast<std::size_t>(std::max(0, width)) * static_cast<std::size_t>(std::max(0, height)), 0);
    // Any non-zero byte is ridge: the walks compare colours and the fills write 0 and 1.
    for (std::uint8_t& v : m_pixels)
        v = v ? 1 : 0;
}

namespace {

// A pixel pair across the two scan lines: bit 1 = the first line (upper row, left column) is ridge, bit 0 = the
// second line is.
constexpr int pairCode(int first, int second) {
    return first * 2 + second;
}

struct Pattern {
    int first;
    int middle; // repeated one or more times
    int last;
    MinutiaKind kind;
    bool appearing; // the feature lies on the second line
};

// A ridge that only the second (first) line holds, closed off by valley on both sides, is an ending appearing
// (disappearing); a valley held by one line between ridge pixels of that line is a bifurcation, and beside a
// bifurcation's valley the other line may be ridge or valley.
constexpr std::array<Pattern, 10> kPatterns = {{
    {pairCode(0, 0), pairCode(0, 1), pairCode(0, 0), MinutiaKind::Ending, true},
    {pairCode(0, 0), pairCode(1, 0), pairCode(0, 0), MinutiaKind::Ending, false},
    {pairCode(1, 1), pairCode(1, 0), pairCode(1, 1), MinutiaKind::Bifurcation, true},
    {pairCode(1, 1), pairCode(1, 0), pairCode(0, 1), MinutiaKind::Bifurcation, true},
    {pairCode(0, 1), pairCode(1, 0), pairCode(1, 1), MinutiaKind::Bifurcation, true},
    {pairCode(0, 1), pairCode(1, 0), pairCode(0, 1), MinutiaKind::Bifurcation, true},
    {pairCode(1, 1), pairCode(0, 1), pairCode(1, 1), MinutiaKind::Bifurcation, false},
    {pairCode(1, 1), pairCode(0, 1), pairCode(1, 0), MinutiaKind::Bifurcation, false},
    {pairCode(1, 0), pairCode(0, 1), pairCode(1, 1), MinutiaKind::Bifurcation, false},
    {pairCode(1, 0), pairCode(0, 1), pairCode(1, 0), MinutiaKind::Bifurcation, false},
}};

// The scan whose lines cross a block's flow best: the row scan for flows from 45 degrees left of up (exclusive) to
// 45 degrees right of it (inclusive), the column scan for the others.
bool rowScanCrosses(int flow) {
    return flow <= kDirectionCount / 4 || flow > kDirectionCount * 3 / 4;
}

constexpr int kDuplicateDistance = 10;    // a second hit this close on the same contour is the same minutia ...
constexpr int kDuplicateTurn = 4;         // ... when the two directions lie at most this many steps apart
constexpr int kHighCurveHalfContour = 14; // contour walked each way from a hit in a high-curvature block
constexpr double kHighCurveMaxTurn = std::numbers::pi / 3.0;
constexpr double kMinLoopAspectDistance = 6.0; // a small loop this long across ...
constexpr double kMinLoopAspectRatio = 2.25;   // ... and this many times longer than wide is a short feature

// The block's ridge flow in minutia steps from up, clockwise (0 .. 15), or -1.
int blockFlow(const BlockMaps& maps, int x, int y) {
    const int d = maps.direction[maps.index(x / kBlockSize, y / kBlockSize)];
    if (d == kNoDirection) return -1;
    return (d + kDirectionCount / 2) % kDirectionCount;
}

// The candidates found so far, with a grid of cells at least as wide as the duplicate distance so that a new hit
// is only compared with the ones in the cells around it.
class Candidates {
public:
    Candidates(int width, int height)
        : m_columns(width / kCell + 1),
          m_cells(static_cast<std::size_t>(m_columns) * static_cast<std::size_t>(height / kCell + 1)) {}

    // Takes a new hit of the row scan (or the column scan) in a block of the given flow. An earlier hit of the same
    // kind and about the same direction within the duplicate distance that lies on the new one's contour is the
    // same feature: if the new hit's scan is the one that crosses the flow, the earlier hit goes (and the search
    // goes on for more of them), else the new hit is dropped. A hit pointing another way is another minutia: the
    // far end of a short feature, or the two sides of a fork.
    void take(const RidgeImage& ridges, const Minutia& m, bool rowScan, int flow) {
        const bool preferred = rowScanCrosses(flow) == rowScan;
        m_near.clear();
        const int cx = m.x / kCell, cy = m.y / kCell;
        for (int y = cy - 1; y <= cy + 1; ++y)
            for (int x = cx - 1; x <= cx + 1; ++x)
                if (x >= 0 && y >= 0 && x < m_columns && cell(x, y) < m_cells.size())
                    m_near.insert(m_near.end(), m_cells[cell(x, y)].begin(), m_cells[cell(x, y)].end());
        // The latest hits first.
        std::sort(m_near.rbegin(), m_near.rend());
        for (const std::size_t i : m_near) {
            const Minutia& o = m_list[i];
            const int dx = std::abs(o.x - m.x), dy = std::abs(o.y - m.y);
            if (!m_alive[i] || dx > kDuplicateDistance || dy > kDuplicateDistance || o.kind != m.kind ||
                contour::directionGap(o.direction, m.direction) > kDuplicateTurn)
                continue;
            if (dx == 0 && dy == 0) return;
            if (!contour::onContourWithin(ridges, {o.x, o.y}, {o.edgeX, o.edgeY}, {m.x, m.y}, kDuplicateDistance))
                continue;
            if (!preferred) return;
            m_alive[i] = false;
        }
        m_cells[cell(m.x / kCell, m.y / kCell)].push_back(m_list.size());
        m_list.push_back(m);
        m_alive.push_back(true);
    }
    [[nodiscard]] std::vector<Minutia> survivors() const {
        std::vector<Minutia> out;
        for (std::size_t i = 0; i < m_list.size(); ++i)
            if (m_alive[i]) out.push_back(m_list[i]);
        return out;
    }

private:
    static constexpr int kCell = 16;
    static_assert(kCell > kDuplicateDistance);
    [[nodiscard]] std::size_t cell(int x, int y) const {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(m_columns) + static_cast<std::size_t>(x);
    }
    int m_columns;
    std::vector<std::vector<std::size_t>> m_cells;
    std::vector<Minutia> m_list;
    std::vector<bool> m_alive; // per hit: not yet replaced by a later hit of the same feature
    std::vector<std::size_t> m_near;
};

// Moves a hit in a high-curvature block to the sharpest turn of its contour and points it from there into the
// feature; false when the contour turns nowhere sharply enough for a minutia, or turns round the outside of a curve.
// A contour that closes within the walk, or comes back through the hit's pixel, is a small loop: its pixels, the
// hit's first, go to `loop`.
bool placeOnSharpestTurn(const RidgeImage& ridges, Minutia& m, std::vector<contour::ContourPoint>& loop) {
    const auto one =
        contour::traceContour(ridges, {m.x, m.y}, {m.edgeX, m.edgeY}, kHighCurveHalfContour, contour::Turn::Clockwise);
    const auto other = contour::traceContour(ridges, {m.x, m.y}, {m.edgeX, m.edgeY}, kHighCurveHalfContour,
                                             contour::Turn::CounterClockwise);
    // The points a walk takes before it is back where it started, if it comes back.
    const auto backAfter = [&](const contour::Contour& walk) -> std::optional<std::size_t> {
        if (walk.closed) return walk.points.size();
        const auto at = std::find_if(walk.points.begin(), walk.points.end(), [&](const contour::ContourPoint& p) {
            return p.pixel == Point{m.x, m.y};
        });
        if (at == walk.points.end()) return std::nullopt;
        return static_cast<std::size_t>(at - walk.points.begin());
    };
    const auto oneBack = backAfter(one), otherBack = backAfter(other);
    if (oneBack || otherBack) {
        const auto& walk = oneBack ? one.points : other.points;
        loop.assign(1, {{m.x, m.y}, {m.edgeX, m.edgeY}});
        loop.insert(loop.end(), walk.begin(),
                    walk.begin() + static_cast<std::ptrdiff_t>(oneBack ? *oneBack : *otherBack));
        return false;
    }
    if (!one.complete || !other.complete) return false;
    std::vector<contour::ContourPoint> line(other.points.rbegin(), other.points.rend());
    line.push_back({{m.x, m.y}, {m.edgeX, m.edgeY}});
    line.insert(line.end(), one.points.begin(), one.points.end());
    const int half = kHighCurveHalfContour / 2;
    double best = 10.0;
    std::size_t at = 0;
    for (std::size_t i = static_cast<std::size_t>(half); i + static_cast<std::size_t>(half) < line.size(); ++i) {
        const Point p = line[i].pixel, a = line[i - static_cast<std::size_t>(half)].pixel,
                    b = line[i + static_cast<std::size_t>(half)].pixel;
        const double ax = a.x - p.x, ay = a.y - p.y, bx = b.x - p.x, by = b.y - p.y;
        const double na = std::hypot(ax, ay), nb = std::hypot(bx, by);
        if (na == 0.0 || nb == 0.0) continue;
        const double turn = std::acos(std::clamp((ax * bx + ay * by) / (na * nb), -1.0, 1.0));
        if (turn < best) {
            best = turn;
            at = i;
        }
    }
    if (best > kHighCurveMaxTurn) return false;
    const Point a = line[at - static_cast<std::size_t>(half)].pixel,
                b = line[at + static_cast<std::size_t>(half)].pixel;
    // At a feature's tip the two arms of the turn hold the feature between them: the point halfway between their
    // ends lies on it. Where it lies on the other colour the contour bends round the outside of a curve, a ridge's
    // flank and not its end.
    if (ridges.at((a.x + b.x) / 2, (a.y + b.y) / 2) != ridges.at(m.x, m.y)) return false;
    m.x = line[at].pixel.x;
    m.y = line[at].pixel.y;
    m.edgeX = line[at].edge.x;
    m.edgeY = line[at].edge.y;
    m.direction = contour::directionOfVector((a.x + b.x) / 2.0 - m.x, (a.y + b.y) / 2.0 - m.y);
    return true;
}

// The binarised image as the scans read it: along rows, and (once the row scan is done) along columns, each a
// copy that runs along memory. A loop filled while scanning changes the image and both copies.
struct ScanImage {
    RidgeImage& ridges;
    std::vector<std::uint8_t> rows;
    std::vector<std::uint8_t> columns; // empty until the column scan
    void fill(Point p, int reach) {
        const auto w = static_cast<std::size_t>(ridges.width()), h = static_cast<std::size_t>(ridges.height());
        for (const Point q : contour::fillRegion(ridges, p, reach)) {
            const auto x = static_cast<std::size_t>(q.x), y = static_cast<std::size_t>(q.y);
            rows[y * w + x] = ridges.at(q.x, q.y);
            if (!columns.empty()) columns[x * h + y] = ridges.at(q.x, q.y);
        }
    }
};

// A small loop met in a high-curvature block: an elongated one (its longest span across at least
// kMinLoopAspectDistance and kMinLoopAspectRatio times its shortest) is a short feature with a minutia at each end
// of the longest span, each pointing to the other; any other is filled, as a speck of the other colour.
void takeLoop(ScanImage& image, Candidates& found, const Minutia& hit, const std::vector<contour::ContourPoint>& loop,
              bool rowScan, int flow) {
    const std::size_t n = loop.size(), half = n / 2;
    double longest = 0.0, shortest = std::numeric_limits<double>::max();
    std::size_t at = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const Point a = loop[i].pixel, b = loop[(i + half) % n].pixel;
        const double span = std::hypot(a.x - b.x, a.y - b.y);
        if (span > longest) {
            longest = span;
            at = i;
        }
        shortest = std::min(shortest, span);
    }
    // A loop round a feature one pixel wide meets itself across: no width at all, as long as it is long enough.
    if (longest < kMinLoopAspectDistance || longest < kMinLoopAspectRatio * shortest) {
        image.fill({hit.x, hit.y}, kHighCurveHalfContour);
        return;
    }
    for (const auto& [end, other] : {std::pair{at, (at + half) % n}, std::pair{(at + half) % n, at}}) {
        Minutia m = hit;
        m.x = loop[end].pixel.x;
        m.y = loop[end].pixel.y;
        m.edgeX = loop[end].edge.x;
        m.edgeY = loop[end].edge.y;
        m.direction = contour::directionOfVector(loop[other].pixel.x - m.x, loop[other].pixel.y - m.y);
        found.take(image.ridges, m, rowScan, flow);
    }
}

// One hit of the scan: feature pixel (x, y), edge pixel beside it across the lines.
void consider(ScanImage& image, const BlockMaps& maps, Candidates& found, const Pattern& p, Point feature, Point edge,
              bool horizontalScan) {
    const RidgeImage& ridges = image.ridges;
    const int flow = blockFlow(maps, feature.x, feature.y);
    if (flow < 0) return;
    Minutia m;
    m.x = feature.x;
    m.y = feature.y;
    m.edgeX = edge.x;
    m.edgeY = edge.y;
    m.kind = p.kind;
    m.appearing = p.appearing;
    if (maps.highCurvature[maps.index(feature.x / kBlockSize, feature.y / kBlockSize)]) {
        std::vector<contour::ContourPoint> loop;
        if (!placeOnSharpestTurn(ridges, m, loop)) {
            if (!loop.empty()) takeLoop(image, found, m, loop, horizontalScan, flow);
            return;
        }
        found.take(ridges, m, horizontalScan, flow);
        return;
    }
    // The flow pointed from the feature pixel into the feature (away from the edge pixel). A flow along the scan's
    // lines leaves no side to point away from; there the choice is fixed, not left to the rounding of a sine: a
    // row hit on the lower row points left, on the upper row right; a column hit on the right column points up, on
    // the left one down.
    const double ix = feature.x - edge.x, iy = feature.y - edge.y;
    const double fx = contour::directionDx(flow), fy = contour::directionDy(flow);
    double dot = ix * fx + iy * fy;
    if (std::abs(dot) < 1e-9) dot = -iy * fx - ix * fy;
    m.direction = dot >= 0.0 ? flow : flow + kDirectionCount;
    found.take(ridges, m, horizontalScan, flow);
}

// Pattern index by (first, middle, last) pair codes, or -1.
constexpr std::array<int, 64> kPatternByPairs = [] {
    std::array<int, 64> table{};
    table.fill(-1);
    for (std::size_t i = 0; i < kPatterns.size(); ++i)
        table[static_cast<std::size_t>(kPatterns[i].first * 16 + kPatterns[i].middle * 4 + kPatterns[i].last)] =
            static_cast<int>(i);
    return table;
}();

// Scans two adjacent lines of n pixels each (a and b, rows or columns copied out) for the patterns; hit(pattern,
// first, last) gets the run of middle pairs.
template <typename Hit> void scanLinePair(const std::uint8_t* a, const std::uint8_t* b, int n, Hit&& hit) {
    auto pair = [&](int i) { return pairCode(a[i], b[i]); };
    for (int i = 0; i + 2 < n; ++i) {
        const int p0 = pair(i), p1 = pair(i + 1);
        if (p0 == p1) continue;
        int end = i + 1;
        while (end + 1 < n && pair(end + 1) == p1)
            ++end;
        if (end + 1 >= n) return;
        const int k = kPatternByPairs[static_cast<std::size_t>(p0 * 16 + p1 * 4 + pair(end + 1))];
        if (k >= 0) hit(kPatterns[static_cast<std::size_t>(k)], i + 1, end);
    }
}

// The middle of a run of middle pairs from..to. A run of even length has two middle pixels: along rows a feature on
// the lower row takes the right one and a feature on the upper row the left one, along columns the other way round.
int runMiddle(int from, int to, bool later) {
    return (from + to + (later ? 1 : 0)) / 2;
}

} // namespace

std::vector<Minutia> findMinutiaCandidates(RidgeImage& ridges, const BlockMaps& maps) {
    const int w = ridges.width(), h = ridges.height();
    if (w < 3 || h < 3 || maps.width * kBlockSize < w || maps.height * kBlockSize < h) return {};
    Candidates found(w, h);
    ScanImage image{ridges, std::vector<std::uint8_t>(static_cast<std::size_t>(w) * static_cast<std::size_t>(h)), {}};
    std::vector<std::uint8_t>& rows = image.rows;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            rows[static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x)] =
                ridges.at(x, y) ? 1 : 0;
    for (int y = 0; y + 1 < h; ++y) {
        const std::uint8_t* top = rows.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(w);
        scanLinePair(top, top + w, w, [&](const Pattern& p, int from, int to) {
            const int x = runMiddle(from, to, p.appearing);
            const Point feature{x, p.appearing ? y + 1 : y}, edge{x, p.appearing ? y : y + 1};
            consider(image, maps, found, p, feature, edge, true);
        });
    }
    // The columns copied out as rows, so the second scan also runs along memory.
    // Copied in tiles, so that both the reads and the writes stay within a few cache lines.
    std::vector<std::uint8_t> columns(rows.size());
    constexpr int kTile = 32;
    for (int y0 = 0; y0 < h; y0 += kTile)
        for (int x0 = 0; x0 < w; x0 += kTile)
            for (int x = x0; x < std::min(w, x0 + kTile); ++x)
                for (int y = y0; y < std::min(h, y0 + kTile); ++y)
                    columns[static_cast<std::size_t>(x) * static_cast<std::size_t>(h) + static_cast<std::size_t>(y)] =
                        rows[static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x)];
    image.columns = std::move(columns);
    for (int x = 0; x + 1 < w; ++x) {
        const std::uint8_t* left = image.columns.data() + static_cast<std::size_t>(x) * static_cast<std::size_t>(h);
        scanLinePair(left, left + h, h, [&](const Pattern& p, int from, int to) {
            const int y = runMiddle(from, to, !p.appearing);
            const Point feature{p.appearing ? x + 1 : x, y}, edge{p.appearing ? x : x + 1, y};
            consider(image, maps, found, p, feature, edge, false);
        });
    }
    std::vector<Minutia> list = found.survivors();
    std::stable_sort(list.begin(), list.end(),
                     [](const Minutia& a, const Minutia& b) { return a.x != b.x ? a.x < b.x : a.y < b.y; });
    return list;
}

} // namespace qev::quality
