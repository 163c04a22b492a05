#include "capture/wsq/WsqTree.h"

namespace qev::wsq {

namespace {

// The four quarters of a split in position order: top-left, top-right, bottom-left, bottom-right.
std::array<Split, 4> quarters(const Split& s) {
    const int firstW = s.invertX ? highLength(s.r.w) : lowLength(s.r.w);
    const int firstH = s.invertY ? highLength(s.r.h) : lowLength(s.r.h);
    const Region& r = s.r;
    std::array<Split, 4> q;
    for (int i = 0; i < 4; ++i) {
        const bool right = i & 1;
        const bool bottom = i & 2;
        q[i].r.x = right ? r.x + firstW : r.x;
        q[i].r.w = right ? r.w - firstW : firstW;
        q[i].r.y = bottom ? r.y + firstH : r.y;
        q[i].r.h = bottom ? r.h - firstH : firstH;
        // A quarter that is the highpass half of its axis flips that axis's order (Gray code).
        const bool highX = right != s.invertX;
        const bool highY = bottom != s.invertY;
        q[i].invertX = s.invertX != highX;
        q[i].invertY = s.invertY != highY;
    }
    return q;
}

void setBands(Tree& t, int first, const Split& s) {
    const auto q = quarters(s);
    for (int i = 0; i < 4; ++i)
        t.subbands[first + i] = q[i].r;
}

} // namespace

Tree buildTree(int width, int height) {
    Tree t;
    auto& n = t.splits;
    n[0] = Split{Region{0, 0, width, height}, false, false};
    const auto root = quarters(n[0]);
    n[1] = root[0];
    n[2] = root[1];
    n[3] = root[2];
    const auto low = quarters(n[1]);
    n[14] = low[0];
    n[4] = low[1];
    n[5] = low[2];
    const auto a = quarters(n[4]);
    const auto b = quarters(n[5]);
    const auto c = quarters(n[14]);
    for (int i = 0; i < 4; ++i) {
        n[6 + i] = a[i];
        n[10 + i] = b[i];
        n[15 + i] = c[i];
    }
    n[19] = quarters(n[15])[0];

    setBands(t, 0, n[19]);
    const auto c0 = quarters(n[15]);
    for (int i = 1; i < 4; ++i)
        t.subbands[3 + i] = c0[i].r;
    for (int i = 0; i < 3; ++i)
        setBands(t, 7 + 4 * i, n[16 + i]);
    for (int i = 0; i < 4; ++i) {
        setBands(t, 19 + 4 * i, n[6 + i]);
        setBands(t, 35 + 4 * i, n[10 + i]);
    }
    t.subbands[51] = low[3].r;
    setBands(t, 52, n[2]);
    setBands(t, 56, n[3]);
    setBands(t, 60, root[3]);
    return t;
}

} // namespace qev::wsq
