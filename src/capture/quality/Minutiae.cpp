#include "Minutiae.h"

#include "Binarize.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <unordered_map>

namespace qev::quality {

namespace {

constexpr int kSpurLength = 10;        // a branch this short from an ending to a fork is a spur
constexpr int kShortRidge = 16;        // a ridge piece this short between two endings is noise
constexpr int kEndingPairDistance = 8; // two endings closer than this are one broken ridge
constexpr int kForkPairDistance = 10;
constexpr int kMixedPairDistance = 6;
constexpr int kInvalidMargin = 6; // minutiae this close to an unusable block are dropped
constexpr int kReliabilityRadius = 11;
constexpr double kSigmaFull = 64.0;

// Neighbour ring N, NE, E, SE, S, SW, W, NW.
constexpr std::array<int, 8> kNx = {0, 1, 1, 1, 0, -1, -1, -1};
constexpr std::array<int, 8> kNy = {-1, -1, 0, 1, 1, 1, 0, -1};

// Skeleton with a one-pixel zero frame so the 8-neighbourhood never needs a bounds check.
struct Skeleton {
    int width = 0;
    int height = 0;
    int stride = 0;
    std::vector<std::uint8_t> data;

    Skeleton(const std::vector<std::uint8_t>& ridges, int w, int h)
        : width(w), height(h), stride(w + 2),
          data(static_cast<std::size_t>(w + 2) * static_cast<std::size_t>(h + 2), 0) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                data[pos(x, y)] =
                    ridges[static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x)];
    }
    [[nodiscard]] std::size_t pos(int x, int y) const {
        return static_cast<std::size_t>(y + 1) * static_cast<std::size_t>(stride) + static_cast<std::size_t>(x + 1);
    }
    [[nodiscard]] bool on(int x, int y) const {
        if (x < -1 || y < -1 || x > width || y > height) return false;
        return data[pos(x, y)] != 0;
    }
    [[nodiscard]] int crossings(int x, int y) const {
        int transitions = 0;
        for (std::size_t i = 0; i < 8; ++i) {
            const bool a = on(x + kNx[i], y + kNy[i]);
            const bool b = on(x + kNx[(i + 1) % 8], y + kNy[(i + 1) % 8]);
            transitions += (a != b) ? 1 : 0;
        }
        return transitions / 2;
    }
};

enum class TraceEnd { Ending, Fork, Open };

struct Trace {
    TraceEnd end = TraceEnd::Open;
    int length = 0;
    int x = 0;
    int y = 0;
};

// Follows the ridge line from an ending for at most maxSteps pixels.
Trace traceFromEnding(const Skeleton& s, int x, int y, int maxSteps) {
    std::vector<std::pair<int, int>> visited{{x, y}};
    auto seen = [&](int px, int py) {
        return std::find(visited.begin(), visited.end(), std::make_pair(px, py)) != visited.end();
    };
    int cx = x, cy = y;
    for (int step = 1; step <= maxSteps; ++step) {
        int nxt = -1;
        for (int pass = 0; pass < 2 && nxt < 0; ++pass)
            for (std::size_t i = static_cast<std::size_t>(pass); i < 8; i += 2) {
                const int px = cx + kNx[i], py = cy + kNy[i];
                if (s.on(px, py) && !seen(px, py)) {
                    nxt = static_cast<int>(i);
                    break;
                }
            }
        if (nxt < 0) return {TraceEnd::Ending, step - 1, cx, cy};
        // Everything touching the current pixel is behind us, so diagonal shortcuts are not retraced.
        for (std::size_t i = 0; i < 8; ++i)
            if (s.on(cx + kNx[i], cy + kNy[i]) && static_cast<int>(i) != nxt)
                visited.emplace_back(cx + kNx[i], cy + kNy[i]);
        cx += kNx[static_cast<std::size_t>(nxt)];
        cy += kNy[static_cast<std::size_t>(nxt)];
        visited.emplace_back(cx, cy);
        const int cn = s.crossings(cx, cy);
        if (cn >= 3) return {TraceEnd::Fork, step, cx, cy};
        if (cn == 1) return {TraceEnd::Ending, step, cx, cy};
    }
    return {TraceEnd::Open, maxSteps, cx, cy};
}

struct Candidate {
    int x = 0;
    int y = 0;
    MinutiaKind kind = MinutiaKind::Ending;
    bool removed = false;
};

int squaredDistance(const Candidate& a, const Candidate& b) {
    return (a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y);
}

bool nearUnusableBlock(const BlockMaps& maps, int x, int y) {
    for (int dy = -kInvalidMargin; dy <= kInvalidMargin; dy += kInvalidMargin)
        for (int dx = -kInvalidMargin; dx <= kInvalidMargin; dx += kInvalidMargin) {
            const int px = x + dx, py = y + dy;
            if (px < 0 || py < 0) return true;
            const int bx = px / kBlockSize, by = py / kBlockSize;
            if (!maps.inside(bx, by) || maps.quality[maps.index(bx, by)] == 0) return true;
        }
    return false;
}

double reliabilityAt(const GreyView& image, const BlockMaps& maps, int x, int y) {
    const int level = maps.quality[maps.index(x / kBlockSize, y / kBlockSize)];
    const int x0 = std::max(0, x - kReliabilityRadius), x1 = std::min(image.width - 1, x + kReliabilityRadius);
    const int y0 = std::max(0, y - kReliabilityRadius), y1 = std::min(image.height - 1, y + kReliabilityRadius);
    double sum = 0.0, sum2 = 0.0;
    int n = 0;
    for (int py = y0; py <= y1; ++py)
        for (int px = x0; px <= x1; ++px) {
            const double v = image.at(px, py);
            sum += v;
            sum2 += v * v;
            ++n;
        }
    const double mean = sum / n;
    const double sigma = std::sqrt(std::max(0.0, sum2 / n - mean * mean));
    const double meanFactor = std::max(0.0, 1.0 - std::abs(mean - 127.0) / 127.0);
    const double sigmaFactor = std::min(sigma, kSigmaFull) / kSigmaFull;
    const double grey = std::min(meanFactor, sigmaFactor);
    switch (level) {
    case 4:
        return 0.50 + 0.49 * grey;
    case 3:
        return 0.25 + 0.24 * grey;
    case 2:
        return 0.10 + 0.14 * grey;
    case 1:
        return 0.05 + 0.04 * grey;
    default:
        return 0.01;
    }
}

} // namespace

namespace {

// For each of the two sub-passes and each ring of neighbours (bit k set when neighbour k of N, NE, E, SE, S, SW, W,
// NW is a ridge), whether the centre pixel may be removed: two to six ridge neighbours, one 0-to-1 step around the
// ring, and the sub-pass's pair of side conditions.
using ThinningTable = std::array<std::array<bool, 256>, 2>;

const ThinningTable& thinningTable() {
    static const ThinningTable table = [] {
        ThinningTable t{};
        for (unsigned code = 0; code < 256; ++code) {
            std::array<int, 8> p{};
            int count = 0;
            for (std::size_t k = 0; k < 8; ++k) {
                p[k] = (code >> k) & 1u ? 1 : 0;
                count += p[k];
            }
            int transitions = 0;
            for (std::size_t k = 0; k < 8; ++k)
                transitions += (p[k] == 0 && p[(k + 1) % 8] == 1) ? 1 : 0;
            const bool candidate = count >= 2 && count <= 6 && transitions == 1;
            t[0][code] = candidate && p[0] * p[2] * p[4] == 0 && p[2] * p[4] * p[6] == 0;
            t[1][code] = candidate && p[0] * p[2] * p[6] == 0 && p[0] * p[4] * p[6] == 0;
        }
        return t;
    }();
    return table;
}

} // namespace

void thin(std::vector<std::uint8_t>& ridges, int width, int height) {
    Skeleton s(ridges, width, height);
    std::vector<std::size_t> live;
    for (std::size_t i = 0; i < s.data.size(); ++i)
        if (s.data[i]) live.push_back(i);
    const std::array<std::ptrdiff_t, 8> off = {-s.stride, -s.stride + 1, 1,  s.stride + 1,
                                               s.stride,  s.stride - 1,  -1, -s.stride - 1};
    std::vector<std::size_t> kill;
    bool changed = true;
    while (changed) {
        changed = false;
        for (int sub = 0; sub < 2; ++sub) {
            kill.clear();
            const auto& removable = thinningTable()[static_cast<std::size_t>(sub)];
            for (const std::size_t i : live) {
                unsigned code = 0;
                for (std::size_t k = 0; k < 8; ++k)
                    code |= s.data[static_cast<std::size_t>(static_cast<std::ptrdiff_t>(i) + off[k])] ? 1u << k : 0u;
                if (removable[code]) kill.push_back(i);
            }
            for (const std::size_t i : kill)
                s.data[i] = 0;
            if (!kill.empty()) {
                changed = true;
                std::erase_if(live, [&](std::size_t i) { return s.data[i] == 0; });
            }
        }
    }
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            ridges[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)] =
                s.data[s.pos(x, y)];
}

std::vector<Minutia> detectMinutiae(const GreyView& image, const BlockMaps& maps) {
    std::vector<std::uint8_t> ridges = binarisedImage(image, maps);
    thin(ridges, image.width, image.height);
    const Skeleton s(ridges, image.width, image.height);

    std::vector<Candidate> found;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            if (!s.on(x, y)) continue;
            const int cn = s.crossings(x, y);
            if (cn == 1)
                found.push_back({x, y, MinutiaKind::Ending, false});
            else if (cn == 3)
                found.push_back({x, y, MinutiaKind::Bifurcation, false});
        }

    // Candidate lookup by pixel, for the far end of a traced ridge.
    std::unordered_map<std::size_t, std::size_t> byPixel;
    for (std::size_t k = 0; k < found.size(); ++k)
        byPixel.emplace(s.pos(found[k].x, found[k].y), k);
    auto findAt = [&](int x, int y, int radius) -> Candidate* {
        for (int dy = -radius; dy <= radius; ++dy)
            for (int dx = -radius; dx <= radius; ++dx) {
                if (x + dx < 0 || y + dy < 0 || x + dx >= image.width || y + dy >= image.height) continue;
                const auto it = byPixel.find(s.pos(x + dx, y + dy));
                if (it != byPixel.end() && !found[it->second].removed) return &found[it->second];
            }
        return nullptr;
    };
    // Spurs and short ridge pieces.
    for (Candidate& c : found) {
        if (c.removed || c.kind != MinutiaKind::Ending) continue;
        const Trace t = traceFromEnding(s, c.x, c.y, std::max(kSpurLength, kShortRidge));
        if (t.end == TraceEnd::Fork && t.length <= kSpurLength) {
            c.removed = true;
            if (Candidate* fork = findAt(t.x, t.y, 1)) fork->removed = true;
        } else if (t.end == TraceEnd::Ending && t.length <= kShortRidge) {
            c.removed = true;
            if (Candidate* other = findAt(t.x, t.y, 0)) other->removed = true;
        }
    }
    // Close pairs: ridge breaks, small holes, and tangles.
    std::vector<std::uint8_t> drop(found.size(), 0);
    for (std::size_t i = 0; i < found.size(); ++i) {
        if (found[i].removed) continue;
        for (std::size_t j = i + 1; j < found.size(); ++j) {
            if (found[j].removed) continue;
            if (found[j].y - found[i].y > kEndingPairDistance) break; // candidates are in row order
            const bool endings = found[i].kind == MinutiaKind::Ending && found[j].kind == MinutiaKind::Ending;
            const bool forks = found[i].kind == MinutiaKind::Bifurcation && found[j].kind == MinutiaKind::Bifurcation;
            const int limit = endings ? kEndingPairDistance : forks ? kForkPairDistance : kMixedPairDistance;
            if (squaredDistance(found[i], found[j]) <= limit * limit) drop[i] = drop[j] = 1;
        }
    }
    std::vector<Minutia> result;
    for (std::size_t i = 0; i < found.size(); ++i) {
        const Candidate& c = found[i];
        if (c.removed || drop[i] || nearUnusableBlock(maps, c.x, c.y)) continue;
        result.push_back({c.x, c.y, c.kind, reliabilityAt(image, maps, c.x, c.y)});
    }
    return result;
}

} // namespace qev::quality
