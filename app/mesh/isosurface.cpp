#include "mesh/isosurface.h"

#include "data/dataapi.h"
#include "mesh/isoslabs.h"
#include "mesh/meshprocessing.h"
#include "mesh/randomcolour.h"
#include "vexa_reason.hpp"
#include "vexa_remembered.hpp"
#include "vexa_types.h"
#include "vexamem.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

namespace vexa::mesh {

namespace {

// Unit-cube positions of the corners in the case numbering.
constexpr int kCornerPos[8][3] = { { 0, 0, 0 }, { 1, 0, 0 }, { 1, 1, 0 }, { 0, 1, 0 }, { 0, 0, 1 },
    { 1, 0, 1 }, { 1, 1, 1 }, { 0, 1, 1 } };

int cornerAt(int x, int y, int z)
{
    for (int k = 0; k < 8; ++k)
        if (kCornerPos[k][0] == x && kCornerPos[k][1] == y && kCornerPos[k][2] == z)
            return k;
    return -1;
}

// ---- Marching cubes: 15 base configurations, spread over 256 cases ----

struct BaseConfig {
    uint8_t set;
    int nbPoints;
    uint8_t edges[12][2];
    int nbTriangles;
    uint8_t triangles[4][3];
};

constexpr BaseConfig kBases[15] = {
    { 0x00, 0, {}, 0, {} },
    { 0x01, 3, { { 0, 1 }, { 0, 3 }, { 0, 4 } }, 1, { { 0, 1, 2 } } },
    { 0x03, 4, { { 0, 3 }, { 1, 2 }, { 0, 4 }, { 1, 5 } }, 2, { { 0, 1, 2 }, { 1, 3, 2 } } },
    { 0x05, 6, { { 0, 1 }, { 0, 3 }, { 0, 4 }, { 2, 6 }, { 2, 1 }, { 2, 3 } }, 2,
        { { 0, 1, 2 }, { 3, 4, 5 } } },
    { 0x41, 6, { { 0, 1 }, { 0, 3 }, { 0, 4 }, { 6, 7 }, { 6, 2 }, { 6, 5 } }, 2,
        { { 0, 1, 2 }, { 3, 4, 5 } } },
    { 0x32, 5, { { 4, 0 }, { 4, 7 }, { 1, 2 }, { 5, 6 }, { 1, 0 } }, 3,
        { { 0, 1, 2 }, { 1, 3, 2 }, { 2, 4, 0 } } },
    { 0x43, 7, { { 0, 3 }, { 1, 2 }, { 0, 4 }, { 1, 5 }, { 6, 7 }, { 6, 2 }, { 6, 5 } }, 3,
        { { 0, 1, 2 }, { 1, 3, 2 }, { 4, 5, 6 } } },
    { 0x4A, 9,
        { { 3, 7 }, { 3, 2 }, { 3, 0 }, { 6, 7 }, { 6, 2 }, { 6, 5 }, { 1, 0 }, { 1, 2 },
            { 1, 5 } },
        3, { { 0, 1, 2 }, { 3, 4, 5 }, { 6, 7, 8 } } },
    { 0x33, 4, { { 0, 3 }, { 4, 7 }, { 5, 6 }, { 1, 2 } }, 2, { { 0, 1, 2 }, { 2, 3, 0 } } },
    { 0xB1, 6, { { 0, 3 }, { 7, 3 }, { 7, 6 }, { 0, 1 }, { 5, 6 }, { 5, 1 } }, 4,
        { { 0, 1, 2 }, { 2, 3, 0 }, { 2, 4, 3 }, { 4, 5, 3 } } },
    { 0x69, 8, { { 0, 4 }, { 3, 7 }, { 3, 2 }, { 0, 1 }, { 5, 4 }, { 6, 7 }, { 6, 2 }, { 5, 1 } },
        4, { { 0, 1, 2 }, { 2, 3, 0 }, { 4, 5, 6 }, { 6, 7, 4 } } },
    { 0x71, 6, { { 0, 3 }, { 4, 7 }, { 0, 1 }, { 6, 2 }, { 6, 7 }, { 5, 1 } }, 4,
        { { 0, 1, 2 }, { 1, 3, 2 }, { 1, 4, 3 }, { 3, 5, 2 } } },
    { 0x3A, 8, { { 4, 0 }, { 4, 7 }, { 1, 2 }, { 5, 6 }, { 1, 0 }, { 3, 7 }, { 3, 2 }, { 3, 0 } },
        4, { { 0, 1, 2 }, { 1, 3, 2 }, { 2, 4, 0 }, { 5, 6, 7 } } },
    { 0xA5, 12,
        { { 0, 1 }, { 0, 3 }, { 0, 4 }, { 7, 3 }, { 7, 4 }, { 7, 6 }, { 2, 3 }, { 2, 6 }, { 2, 1 },
            { 5, 4 }, { 5, 1 }, { 5, 6 } },
        4, { { 0, 1, 2 }, { 3, 4, 5 }, { 6, 7, 8 }, { 9, 10, 11 } } },
    { 0xB2, 6, { { 4, 0 }, { 7, 3 }, { 1, 0 }, { 5, 6 }, { 7, 6 }, { 1, 2 } }, 4,
        { { 0, 1, 2 }, { 1, 3, 2 }, { 1, 4, 3 }, { 2, 3, 5 } } },
};

using Permutation = std::array<uint8_t, 8>;

// The 24 rotations of the cube as corner permutations (perm[c] = where corner c goes),
// in the order of generation: quarter turns about x (outer), y, then z (inner).
std::vector<Permutation> cubeRotations()
{
    auto turn = [](int axis, const int p[3], int out[3]) {
        // Quarter turn about the cube's centre.
        if (axis == 0) {
            out[0] = p[0], out[1] = 1 - p[2], out[2] = p[1];
        } else if (axis == 1) {
            out[0] = p[2], out[1] = p[1], out[2] = 1 - p[0];
        } else {
            out[0] = 1 - p[1], out[1] = p[0], out[2] = p[2];
        }
    };
    std::vector<Permutation> rotations;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            for (int k = 0; k < 4; ++k) {
                Permutation perm {};
                for (int c = 0; c < 8; ++c) {
                    int p[3] = { kCornerPos[c][0], kCornerPos[c][1], kCornerPos[c][2] };
                    int q[3];
                    for (int n = 0; n < k; ++n, std::copy(q, q + 3, p))
                        turn(2, p, q);
                    for (int n = 0; n < j; ++n, std::copy(q, q + 3, p))
                        turn(1, p, q);
                    for (int n = 0; n < i; ++n, std::copy(q, q + 3, p))
                        turn(0, p, q);
                    perm[c] = uint8_t(cornerAt(p[0], p[1], p[2]));
                }
                if (std::find(rotations.begin(), rotations.end(), perm) == rotations.end())
                    rotations.push_back(perm);
            }
    return rotations;
}

uint8_t rotateSet(const Permutation& perm, int set)
{
    int out = 0;
    for (int c = 0; c < 8; ++c)
        if (set & (1 << c))
            out |= 1 << perm[c];
    return uint8_t(out);
}

// How much a triangle of edge points (judged at the edge midpoints) faces from the
// inside corners of its edges towards the outside ones: positive when it faces out.
double outwardness(const MarchingCase& entry, int caseIndex, const uint8_t tri[3])
{
    double p[3][3];
    double towardsOutside[3] = { 0, 0, 0 };
    for (int k = 0; k < 3; ++k) {
        int a = entry.edges[tri[k]][0], b = entry.edges[tri[k]][1];
        if (!((caseIndex >> a) & 1))
            std::swap(a, b);
        for (int axis = 0; axis < 3; ++axis) {
            p[k][axis] = (kCornerPos[a][axis] + kCornerPos[b][axis]) / 2.0;
            towardsOutside[axis] += kCornerPos[b][axis] - kCornerPos[a][axis];
        }
    }
    double u[3], w[3];
    for (int axis = 0; axis < 3; ++axis)
        u[axis] = p[1][axis] - p[0][axis], w[axis] = p[2][axis] - p[0][axis];
    const double n[3]
        = { u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2], u[0] * w[1] - u[1] * w[0] };
    return n[0] * towardsOutside[0] + n[1] * towardsOutside[1] + n[2] * towardsOutside[2];
}

// The base triangles are listed without a consistent winding (and a complemented
// case swaps inside and outside), so each is wound here to face outwards.
void orientTriangle(const MarchingCase& entry, int caseIndex, const uint8_t in[3], uint8_t out[3])
{
    const bool flip = outwardness(entry, caseIndex, in) < 0;
    out[0] = in[0];
    out[1] = flip ? in[2] : in[1];
    out[2] = flip ? in[1] : in[2];
}

// Faces as corner cycles with their outward normals.
constexpr int kFaces[6][4] = { { 0, 1, 2, 3 }, { 4, 5, 6, 7 }, { 0, 1, 5, 4 }, { 3, 2, 6, 7 },
    { 0, 3, 7, 4 }, { 1, 2, 6, 5 } };
constexpr int kFaceNormal[6][3]
    = { { 0, 0, -1 }, { 0, 0, 1 }, { 0, -1, 0 }, { 0, 1, 0 }, { -1, 0, 0 }, { 1, 0, 0 } };

bool hasAmbiguousFace(int caseIndex)
{
    for (const auto& f : kFaces) {
        bool in[4];
        for (int i = 0; i < 4; ++i)
            in[i] = (caseIndex >> f[i]) & 1;
        if (in[0] == in[2] && in[1] == in[3] && in[0] != in[1])
            return true;
    }
    return false;
}

// Rebuilds a case from its face contours, always keeping the two inside corners of an
// ambiguous face apart. The base configurations do so, but a case reached through
// the complement keeps the outside corners apart instead, and where such a cube meets
// a directly matched one across that face the two contours differ and the surface
// has a hole. Contour segments are directed so the loops, fanned into triangles, face
// outwards. False (entry untouched) if the contours do not close into loops.
bool rebuildFromFaceContours(MarchingCase& entry, int caseIndex)
{
    MarchingCase rebuilt = entry;
    int pointOf[8][8];
    std::fill(&pointOf[0][0], &pointOf[0][0] + 64, -1);
    double mid[12][3];
    rebuilt.nbPoints = 0;
    for (int a = 0; a < 8; ++a)
        for (int b = a + 1; b < 8; ++b) {
            int differing = 0;
            for (int axis = 0; axis < 3; ++axis)
                differing += kCornerPos[a][axis] != kCornerPos[b][axis];
            if (differing != 1 || ((caseIndex >> a) & 1) == ((caseIndex >> b) & 1))
                continue;
            int p = rebuilt.nbPoints++;
            rebuilt.edges[p][0] = uint8_t(a), rebuilt.edges[p][1] = uint8_t(b);
            pointOf[a][b] = pointOf[b][a] = p;
            for (int axis = 0; axis < 3; ++axis)
                mid[p][axis] = (kCornerPos[a][axis] + kCornerPos[b][axis]) / 2.0;
        }
    int next[12];
    std::fill(next, next + 12, -1);
    auto addSegment = [&](int f, int p, int q, const double o[3]) {
        const int* n = kFaceNormal[f];
        double d[3] = { mid[q][0] - mid[p][0], mid[q][1] - mid[p][1], mid[q][2] - mid[p][2] };
        double c[3]
            = { n[1] * d[2] - n[2] * d[1], n[2] * d[0] - n[0] * d[2], n[0] * d[1] - n[1] * d[0] };
        if (c[0] * o[0] + c[1] * o[1] + c[2] * o[2] < 0)
            std::swap(p, q);
        if (next[p] >= 0)
            return false;
        next[p] = q;
        return true;
    };
    for (int f = 0; f < 6; ++f) {
        const int* corner = kFaces[f];
        bool in[4];
        int nbIn = 0;
        for (int i = 0; i < 4; ++i)
            nbIn += in[i] = (caseIndex >> corner[i]) & 1;
        if (nbIn == 0 || nbIn == 4)
            continue;
        if (in[0] == in[2] && in[1] == in[3]) {
            for (int i = 0; i < 4; ++i) {
                if (!in[i])
                    continue;
                int c = corner[i], before = corner[(i + 3) % 4], after = corner[(i + 1) % 4];
                int p = pointOf[before][c], q = pointOf[c][after];
                double o[3];
                for (int axis = 0; axis < 3; ++axis)
                    o[axis] = (mid[p][axis] + mid[q][axis]) / 2 - kCornerPos[c][axis];
                if (!addSegment(f, p, q, o))
                    return false;
            }
            continue;
        }
        int cut[2], nbCut = 0;
        double o[3] = { 0, 0, 0 };
        for (int i = 0; i < 4; ++i) {
            int a = corner[i], b = corner[(i + 1) % 4];
            if (in[i] != in[(i + 1) % 4])
                cut[nbCut++] = pointOf[a][b];
            for (int axis = 0; axis < 3; ++axis)
                o[axis] += (in[i] ? -1.0 / nbIn : 1.0 / (4 - nbIn)) * kCornerPos[a][axis];
        }
        if (nbCut != 2 || !addSegment(f, cut[0], cut[1], o))
            return false;
    }
    bool used[12] = {};
    rebuilt.nbTriangles = 0;
    for (int start = 0; start < rebuilt.nbPoints; ++start) {
        if (used[start])
            continue;
        int loop[12], length = 0;
        for (int p = start; !used[p]; p = next[p]) {
            if (next[p] < 0 || length == 12)
                return false;
            used[p] = true;
            loop[length++] = p;
        }
        if (loop[0] != next[loop[length - 1]] || length < 3)
            return false;
        if (rebuilt.nbTriangles + length - 2 > kMaxMarchingTriangles)
            return false;
        // Fan from the first apex whose triangles all face outwards with some area
        // (a loop may hold three edge midpoints in a row).
        int apex = 0;
        for (int r = 0; r < length; ++r) {
            bool good = true;
            for (int i = 1; i + 1 < length && good; ++i) {
                const uint8_t t[3] = { uint8_t(loop[r]), uint8_t(loop[(r + i) % length]),
                    uint8_t(loop[(r + i + 1) % length]) };
                good = outwardness(rebuilt, caseIndex, t) > 1e-9;
            }
            if (good) {
                apex = r;
                break;
            }
        }
        for (int i = 1; i + 1 < length; ++i) {
            uint8_t* t = rebuilt.triangles[rebuilt.nbTriangles++];
            t[0] = uint8_t(loop[apex]), t[1] = uint8_t(loop[(apex + i) % length]);
            t[2] = uint8_t(loop[(apex + i + 1) % length]);
        }
    }
    entry = rebuilt;
    entry.faceResolved = true;
    return true;
}

std::array<MarchingCase, 256> buildMarchingTable()
{
    std::array<MarchingCase, 256> table {};
    const std::vector<Permutation> rotations = cubeRotations();
    for (int caseIndex = 1; caseIndex < 255; ++caseIndex) {
        bool found = false;
        for (int pass = 0; pass < 2 && !found; ++pass) {
            for (const Permutation& perm : rotations) {
                int rotated = rotateSet(perm, caseIndex);
                if (pass == 1)
                    rotated = 255 - rotated;
                int base = -1;
                for (int b = 1; b < 15; ++b)
                    if (kBases[b].set == rotated)
                        base = b;
                if (base < 0)
                    continue;
                Permutation inverse {};
                for (int c = 0; c < 8; ++c)
                    inverse[perm[c]] = uint8_t(c);
                MarchingCase& entry = table[size_t(caseIndex)];
                entry.base = base;
                entry.nbPoints = kBases[base].nbPoints;
                for (int p = 0; p < entry.nbPoints; ++p) {
                    entry.edges[p][0] = inverse[kBases[base].edges[p][0]];
                    entry.edges[p][1] = inverse[kBases[base].edges[p][1]];
                }
                entry.nbTriangles = kBases[base].nbTriangles;
                for (int t = 0; t < entry.nbTriangles; ++t)
                    orientTriangle(entry, caseIndex, kBases[base].triangles[t], entry.triangles[t]);
                if (pass == 1 && hasAmbiguousFace(caseIndex))
                    rebuildFromFaceContours(entry, caseIndex);
                found = true;
                break;
            }
        }
    }
    return table;
}

const std::array<MarchingCase, 256>& marchingTable()
{
    static const std::array<MarchingCase, 256> table = buildMarchingTable();
    return table;
}

// ---- Simplified rule: corners numbered c = x + 2y + 4z ----

constexpr int kCaseCornerOfC[8] = { 0, 1, 3, 2, 4, 5, 7, 6 };

int cx(int c)
{
    return c & 1;
}
int cy(int c)
{
    return (c >> 1) & 1;
}
int cz(int c)
{
    return c >> 2;
}
int sq(int v)
{
    return v * v;
}
int manhattan(int a, int b)
{
    return __builtin_popcount(unsigned(a ^ b));
}

using CornerTriangles = std::vector<std::array<int, 3>>;

void simplifiedRule(const bool inside[8], CornerTriangles& out);

void triangleSearch(const std::vector<int>& b, int target, CornerTriangles& out)
{
    for (size_t i = 0; i < b.size(); ++i)
        for (size_t j = i + 1; j < b.size(); ++j)
            for (size_t l = j + 1; l < b.size(); ++l) {
                int sum = sq(manhattan(b[i], b[j])) + sq(manhattan(b[j], b[l]))
                    + sq(manhattan(b[i], b[l]));
                if (sum == target)
                    out.push_back({ b[i], b[j], b[l] });
            }
}

void quadRule(const std::vector<int>& b, CornerTriangles& out)
{
    if (b.size() < 4)
        return;
    int d1 = manhattan(b[0], b[1]), d2 = manhattan(b[0], b[2]), d3 = manhattan(b[0], b[3]);
    int o, x, y;
    if (d3 >= d1 && d3 >= d2) {
        o = b[3], x = b[1], y = b[2];
    } else if (d2 >= d1) {
        o = b[2], x = b[1], y = b[3];
    } else {
        o = b[1], x = b[2], y = b[3];
    }
    out.push_back({ b[0], o, x });
    out.push_back({ b[0], o, y });
}

// Drops the first inside corner that has no inside neighbour and applies the rule to
// what is left; false when there is no such corner.
bool isolatedCornerStep(const bool inside[8], CornerTriangles& out)
{
    for (int c = 0; c < 8; ++c) {
        if (!inside[c])
            continue;
        if (inside[c ^ 1] || inside[c ^ 2] || inside[c ^ 4])
            continue;
        bool reduced[8];
        std::copy(inside, inside + 8, reduced);
        reduced[c] = false;
        size_t before = out.size();
        simplifiedRule(reduced, out);
        return out.size() > before;
    }
    return false;
}

void simplifiedRule(const bool inside[8], CornerTriangles& out)
{
    int k = 0, sx = 0, sy = 0, sz = 0;
    std::vector<int> b;
    for (int c = 0; c < 8; ++c) {
        if (!inside[c])
            continue;
        ++k, sx += cx(c), sy += cy(c), sz += cz(c);
        if (!inside[c ^ 1] || !inside[c ^ 2] || !inside[c ^ 4])
            b.push_back(c);
    }
    auto anyOf = [&](int v1, int v2) {
        return sx == v1 || sy == v1 || sz == v1 || sx == v2 || sy == v2 || sz == v2;
    };
    switch (k) {
    case 3:
        if (anyOf(0, 3) && b.size() >= 3)
            out.push_back({ b[0], b[1], b[2] });
        break;
    case 4:
        if (anyOf(0, 4))
            quadRule(b, out);
        else if (sx == 2 && sy == 2 && sz == 2)
            break;
        else if (b.size() == 3)
            out.push_back({ b[0], b[1], b[2] });
        else if (!isolatedCornerStep(inside, out))
            triangleSearch(b, 14, out);
        break;
    case 5:
        if (anyOf(1, 4))
            triangleSearch(b, 14, out);
        else if (!isolatedCornerStep(inside, out))
            triangleSearch(b, 12, out);
        break;
    case 6: {
        bool any = false;
        for (int c = 0; c < 8; ++c)
            if (!inside[c] && inside[c ^ 1] && inside[c ^ 2] && inside[c ^ 4]) {
                out.push_back({ c ^ 1, c ^ 2, c ^ 4 });
                any = true;
            }
        if (!any)
            quadRule(b, out);
        break;
    }
    case 7:
        if (b.size() >= 3)
            out.push_back({ b[0], b[1], b[2] });
        break;
    default:
        break;
    }
}

constexpr int kMaxSimplifiedTriangles = 9;

struct SimplifiedCase {
    int nbTriangles = 0;
    uint8_t corners[kMaxSimplifiedTriangles * 3] {}; // c numbering
};

// Triangles of a flag set in c numbering, each turned to face from the inside corners
// towards the outside ones (the rule itself leaves the order of a triple open).
SimplifiedCase simplifiedCase(int caseIndex)
{
    bool inside[8];
    double in[3] = { 0, 0, 0 }, outC[3] = { 0, 0, 0 };
    int nIn = 0, nOut = 0;
    for (int c = 0; c < 8; ++c) {
        inside[c] = (caseIndex >> kCaseCornerOfC[c]) & 1;
        double p[3] = { double(cx(c)), double(cy(c)), double(cz(c)) };
        for (int a = 0; a < 3; ++a)
            (inside[c] ? in : outC)[a] += p[a];
        (inside[c] ? nIn : nOut)++;
    }
    CornerTriangles tris;
    simplifiedRule(inside, tris);
    SimplifiedCase result;
    double dir[3] = { 0, 0, 0 };
    if (nIn > 0 && nOut > 0)
        for (int a = 0; a < 3; ++a)
            dir[a] = outC[a] / nOut - in[a] / nIn;
    for (const auto& t : tris) {
        if (result.nbTriangles == kMaxSimplifiedTriangles)
            break;
        double p[3][3];
        for (int v = 0; v < 3; ++v)
            p[v][0] = cx(t[size_t(v)]), p[v][1] = cy(t[size_t(v)]), p[v][2] = cz(t[size_t(v)]);
        double u[3], w[3];
        for (int a = 0; a < 3; ++a)
            u[a] = p[1][a] - p[0][a], w[a] = p[2][a] - p[0][a];
        double n[3]
            = { u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2], u[0] * w[1] - u[1] * w[0] };
        bool flip = n[0] * dir[0] + n[1] * dir[1] + n[2] * dir[2] < 0;
        uint8_t* dst = result.corners + 3 * result.nbTriangles;
        dst[0] = uint8_t(t[0]);
        dst[1] = uint8_t(flip ? t[2] : t[1]);
        dst[2] = uint8_t(flip ? t[1] : t[2]);
        ++result.nbTriangles;
    }
    return result;
}

const std::array<SimplifiedCase, 256>& simplifiedTable()
{
    static const std::array<SimplifiedCase, 256> table = [] {
        std::array<SimplifiedCase, 256> t {};
        for (int i = 0; i < 256; ++i)
            t[size_t(i)] = simplifiedCase(i);
        return t;
    }();
    return table;
}

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...)
{
    char buffer[256];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buffer, sizeof buffer, fmt, args);
    va_end(args);
    return buffer;
}

// Clamps one axis of the box; false when it is reversed or outside the volume.
bool clampAxis(int& lo, int& hi, int dim)
{
    if (lo < 0)
        lo = 0;
    if (hi == -1 || hi > dim - 1)
        hi = dim - 1;
    return lo <= hi && hi >= 0 && lo < dim;
}

bool checkParams(const IsoSurfaceParams& p, std::string* error)
{
    if (p.selection < kIsoThreshold || p.selection > kIsoList) {
        setReason(error, "Sélection de valeurs inconnue");
        return false;
    }
    if (p.method < kIsoCuberille || p.method > kIsoSimplifiedTable) {
        setReason(error, "Méthode de triangulation inconnue");
        return false;
    }
    if (!std::isfinite(p.seuil1) || (p.selection == kIsoInterval && !std::isfinite(p.seuil2))) {
        setReason(error, "Seuil invalide");
        return false;
    }
    if (p.selection == kIsoInterval && p.seuil1 > p.seuil2) {
        setReason(error, "Intervalle invalide : Seuil 1 dépasse Seuil 2");
        return false;
    }
    if (p.selection == kIsoList) {
        if (p.values.empty()) {
            setReason(error, "Liste de valeurs vide");
            return false;
        }
        if (!std::isfinite(p.tolerance)
            || std::any_of(
                p.values.begin(), p.values.end(), [](double w) { return !std::isfinite(w); })) {
            setReason(error, "Liste de valeurs invalide");
            return false;
        }
    }
    return true;
}

TriMesh* extract(const SliceReader& reader, bool concurrentReads, const detail::RawVolume* raw,
    int dimX, int dimY, int dimZ, const IsoSurfaceParams& params, const IsoSurfaceHooks& hooks,
    std::string* error, IsoSurfaceReport* report)
{
    if (dimX <= 0 || dimY <= 0 || dimZ <= 0) {
        setReason(error, "Volume vide");
        return nullptr;
    }
    if (!checkParams(params, error))
        return nullptr;
    detail::WalkBox box;
    box.dimX = dimX, box.dimY = dimY;
    box.x1 = params.x1, box.y1 = params.y1, box.z1 = params.z1;
    box.x2 = params.x2, box.y2 = params.y2, box.z2 = params.z2;
    if (!clampAxis(box.x1, box.x2, dimX) || !clampAxis(box.y1, box.y2, dimY)
        || !clampAxis(box.z1, box.z2, dimZ)) {
        setReason(error, "Région hors du volume ou inversée");
        return nullptr;
    }
    const int64_t sliceSize = int64_t(dimX) * dimY;
    if (sliceSize > int64_t(std::numeric_limits<int32_t>::max())) {
        setReason(error, "Coupe trop grande");
        return nullptr;
    }
    const LineSink log = hooks.log ? hooks.log : LineSink(postLogLine);
    IsoSurfaceReport run;
    TriMesh* mesh
        = detail::walkSlabs(reader, concurrentReads, raw, box, params, hooks, log, run, error);
    if (report)
        *report = run;
    return mesh;
}

template <typename Body> TriMesh* guardedExtract(std::string* error, Body body)
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        setReason(error, "Mémoire insuffisante");
    } catch (...) {
        setReason(error, "Erreur pendant l'extraction");
    }
    return nullptr;
}

// ---- Welding ----

class Welder {
public:
    explicit Welder(const std::vector<float>& points)
        : points_(points)
        , rep_(points.size() / 3)
    {
        for (size_t i = 0; i < rep_.size(); ++i)
            rep_[i] = int32_t(i);
    }

    void run()
    {
        std::vector<int32_t> all(rep_.size());
        for (size_t i = 0; i < all.size(); ++i)
            all[i] = int32_t(i);
        if (!all.empty())
            subdivide(all);
    }

    int32_t root(int32_t i) const
    {
        // Representatives never exceed their vertex, so this walk ends.
        while (rep_[size_t(i)] != i)
            i = rep_[size_t(i)];
        return i;
    }

private:
    const float* at(int32_t i) const { return points_.data() + 3 * size_t(i); }

    void subdivide(const std::vector<int32_t>& set)
    {
        float lo[3], hi[3];
        for (int a = 0; a < 3; ++a)
            lo[a] = hi[a] = at(set[0])[a];
        for (int32_t i : set)
            for (int a = 0; a < 3; ++a) {
                lo[a] = std::min(lo[a], at(i)[a]);
                hi[a] = std::max(hi[a], at(i)[a]);
            }
        bool split[3];
        int nbSplit = 0;
        for (int a = 0; a < 3; ++a) {
            // NaN extents never split: such points end up in one leaf.
            split[a] = hi[a] - lo[a] > 2.0f;
            nbSplit += split[a];
        }
        if (nbSplit == 0) {
            leaf(set);
            return;
        }
        float mid[3];
        for (int a = 0; a < 3; ++a)
            mid[a] = lo[a] + (hi[a] - lo[a]) / 2;
        for (int box = 0; box < 8; ++box) {
            bool valid = true;
            for (int a = 0; a < 3; ++a)
                if (!split[a] && (box >> a & 1))
                    valid = false;
            if (!valid)
                continue;
            std::vector<int32_t> sub;
            for (int32_t i : set) {
                bool in = true;
                for (int a = 0; a < 3 && in; ++a) {
                    if (!split[a])
                        continue;
                    float v = at(i)[a];
                    in = (box >> a & 1) ? v >= mid[a] : v <= mid[a];
                }
                if (in)
                    sub.push_back(i);
            }
            if (!sub.empty())
                subdivide(sub);
        }
    }

    void leaf(const std::vector<int32_t>& set)
    {
        for (int32_t i : set) {
            int32_t best = i;
            const float* p = at(i);
            for (int32_t j : set) {
                if (j >= best)
                    continue;
                const float* q = at(j);
                double dx = double(p[0]) - q[0], dy = double(p[1]) - q[1], dz = double(p[2]) - q[2];
                if (dx * dx + dy * dy + dz * dz < 1e-20)
                    best = j;
            }
            rep_[size_t(i)] = std::min(rep_[size_t(i)], best);
        }
    }

    const std::vector<float>& points_;
    std::vector<int32_t> rep_;
};

Remembered<IsoSurfaceSettings>& settingsStore()
{
    static Remembered<IsoSurfaceSettings> settings;
    return settings;
}

} // namespace

IsoSurfaceSettings isoSurfaceSettings()
{
    return settingsStore().copy();
}

void keepIsoSurfaceSettings(const IsoSurfaceSettings& validated)
{
    // The box asks for every field at once, so a validated box stands for all of them.
    settingsStore().replace(validated);
}

void resetIsoSurfaceSettings()
{
    settingsStore().reset();
}

std::string isoSurfaceDescription()
{
    return "Sélection de valeurs%tSeuil,Intervalle,Liste%l%n"
           "Seuil 1%f%nSeuil 2%f%nValeurs%sTolérance%f%n"
           "Méthode de triangulation%tCuberille,Marching Cubes 15,Marching Cubes 33,Simplified "
           "Marching Cubes,Simplified Marching Cubes (Emulation),Simplified Marching Cubes "
           "(Lookup-table)%l%n"
           "Région%tEntière,Restreinte%lx1%dy1%dz1%dx2%dy2%dz2%d%n"
           "Séparation des corps%c%n"
           "Messages%c%n"
           "Limites%tPoints%cNb%dTriangles%cNb%d%n";
}

bool parseIsoValues(const std::string& text, std::vector<double>& values, std::string* error)
{
    values.clear();
    const char* p = text.data();
    const char* end = p + text.size();
    auto isSeparator = [](char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == ',' || c == ';';
    };
    while (p < end) {
        if (isSeparator(*p)) {
            ++p;
            continue;
        }
        const char* start = p;
        while (p < end && !isSeparator(*p))
            ++p;
        const char* first = start;
        if (*first == '+' && p - first > 1)
            ++first;
        double value = 0;
        auto [next, ec] = std::from_chars(first, p, value);
        if (ec != std::errc() || next != p || !std::isfinite(value)) {
            values.clear();
            setReason(error, "Valeur illisible : \"" + std::string(start, p) + "\"");
            return false;
        }
        values.push_back(value);
    }
    return true;
}

bool isoParamsFromSettings(
    const IsoSurfaceSettings& s, IsoSurfaceParams& params, std::string* error)
{
    IsoSurfaceParams p;
    p.selection = s.selection;
    p.seuil1 = s.seuil1;
    p.seuil2 = s.seuil2;
    p.tolerance = s.tolerance;
    p.method = s.method;
    if (s.region == 1) {
        p.x1 = s.x1, p.y1 = s.y1, p.z1 = s.z1;
        p.x2 = s.x2, p.y2 = s.y2, p.z2 = s.z2;
    }
    p.messages = s.messages;
    p.maxPoints = s.limitPoints ? s.maxPoints : -1;
    p.maxTriangles = s.limitTriangles ? s.maxTriangles : -1;
    if (s.selection == kIsoList) {
        if (!parseIsoValues(s.values, p.values, error))
            return false;
        if (p.values.empty()) {
            setReason(error, "");
            return false;
        }
    }
    params = std::move(p);
    return true;
}

TriMesh* extractIsoSurface(const SliceReader& reader, int dimX, int dimY, int dimZ,
    const IsoSurfaceParams& params, const IsoSurfaceHooks& hooks, std::string* error,
    IsoSurfaceReport* report)
{
    if (!reader) {
        setReason(error, "Pas de volume");
        return nullptr;
    }
    return guardedExtract(error, [&] {
        return extract(reader, false, nullptr, dimX, dimY, dimZ, params, hooks, error, report);
    });
}

TriMesh* extractIsoSurfaceFromArray(int dimX, int dimY, int dimZ, int type, const void* samples,
    const IsoSurfaceParams& params, const IsoSurfaceHooks& hooks, std::string* error,
    IsoSurfaceReport* report)
{
    if (!samples || !vexaTypeIsValid(type) || type == TYPEDATA_RGBA) {
        setReason(error, "Volume sans valeurs scalaires");
        return nullptr;
    }
    if (dimX <= 0 || dimY <= 0 || dimZ <= 0) {
        setReason(error, "Volume vide");
        return nullptr;
    }
    const int64_t sliceSize = int64_t(dimX) * dimY;
    const size_t sliceBytes = size_t(sliceSize) * size_t(vexaTypeSize(type));
    const auto* bytes = static_cast<const unsigned char*>(samples);
    SliceReader reader = [&](int z, double* out) {
        if (sliceSize > std::numeric_limits<int>::max())
            return false;
        return vexaMemConvertInto(bytes + size_t(z) * sliceBytes, int(sliceSize), 1.0, 0.0, type,
                   TYPEDATA_F64, out)
            == 1;
    };
    // Conversions of distinct slices may run at once.
    const detail::RawVolume raw { samples, type };
    return guardedExtract(error, [&] {
        return extract(reader, true, &raw, dimX, dimY, dimZ, params, hooks, error, report);
    });
}

TriMesh* extractIsoSurfaceFromBlock(unsigned int blockId, const IsoSurfaceParams& params,
    const IsoSurfaceHooks& hooks, std::string* error, IsoSurfaceReport* report)
{
    int dimX = 0, dimY = 0, dimZ = 0;
    if (!vexaBlockGetSize(blockId, &dimX, &dimY, &dimZ)) {
        setReason(error, "Bloc inconnu");
        return nullptr;
    }
    const size_t sliceSize = size_t(std::max(dimX, 0)) * size_t(std::max(dimY, 0));
    SliceReader reader = [&](int z, double* out) {
        void* slice = dozDataGetFront(blockId, z, TYPEDATA_F64);
        if (!slice)
            return false;
        std::memcpy(out, slice, sliceSize * sizeof(double));
        dozDataFree(slice);
        return true;
    };
    return extractIsoSurface(reader, dimX, dimY, dimZ, params, hooks, error, report);
}

namespace {

// Whether points closer than 1e-10 are exactly equal: true when every coordinate is
// finite and is either 0 or at least 2^-9 in size, where neighbouring floats lie more
// than 1e-10 apart. Equal points always share the subdivision's leaves, so merging
// equal points gives what the subdivision gives.
bool closeMeansEqual(const std::vector<float>& points)
{
    for (float c : points)
        if (!std::isfinite(c) || (c != 0.0f && std::fabs(c) < 0x1p-9f))
            return false;
    return true;
}

uint32_t bitsOf(float c)
{
    c += 0.0f; // -0 and +0 are one place
    uint32_t bits;
    std::memcpy(&bits, &c, sizeof bits);
    return bits;
}

// Keeps the first point of each place, in order, compacting the array in place (a
// place's kept point never moves after it is written); newIndex gets each point's kept
// index.
void mergeEqualPoints(std::vector<float>& points, std::vector<int32_t>& newIndex)
{
    const size_t n = points.size() / 3;
    size_t size = 1024;
    while (size < 2 * n)
        size *= 2;
    const size_t mask = size - 1;
    std::vector<int32_t> slots(size, -1);
    int32_t kept = 0;
    for (size_t i = 0; i < n; ++i) {
        const float p[3] = { points[3 * i], points[3 * i + 1], points[3 * i + 2] };
        uint64_t h = bitsOf(p[0]) * 0x9E3779B97F4A7C15ull;
        h ^= bitsOf(p[1]) * 0xC2B2AE3D27D4EB4Full;
        h ^= bitsOf(p[2]) * 0x165667B19E3779F9ull;
        h ^= h >> 29;
        for (size_t at = size_t(h >> 7) & mask;; at = (at + 1) & mask) {
            const int32_t k = slots[at];
            if (k < 0) {
                slots[at] = kept;
                std::copy(p, p + 3, points.begin() + std::ptrdiff_t(3 * size_t(kept)));
                newIndex[i] = kept++;
                break;
            }
            const float* q = points.data() + 3 * size_t(k);
            if (q[0] == p[0] && q[1] == p[1] && q[2] == p[2]) {
                newIndex[i] = k;
                break;
            }
        }
    }
    points.resize(3 * size_t(kept));
}

} // namespace

void weldVertices(std::vector<float>& points, std::vector<int32_t>& triangles)
{
    const size_t n = points.size() / 3;
    std::vector<int32_t> newIndex(n, -1);
    if (closeMeansEqual(points)) {
        mergeEqualPoints(points, newIndex);
        for (int32_t& index : triangles)
            index = newIndex[size_t(index)];
        return;
    }
    // Points nearer than 1e-10 yet different: the box subdivision decides which merge.
    Welder welder(points);
    welder.run();
    std::vector<float> kept;
    int32_t next = 0;
    for (size_t i = 0; i < n; ++i)
        if (welder.root(int32_t(i)) == int32_t(i)) {
            newIndex[i] = next++;
            kept.insert(kept.end(), points.begin() + std::ptrdiff_t(3 * i),
                points.begin() + std::ptrdiff_t(3 * i + 3));
        }
    for (int32_t& index : triangles)
        index = newIndex[size_t(welder.root(index))];
    points.swap(kept);
}

std::vector<IsoSurfaceObject> isoSurfaceObjects(
    TriMesh* mesh, bool separateBodies, bool messages, const LineSink& log)
{
    std::vector<IsoSurfaceObject> objects;
    if (!mesh || mesh->nbPoints <= 0 || mesh->nbTriangles <= 0) {
        triMeshFree(&mesh);
        return objects;
    }
    int64_t points = 0, triangles = 0;
    double surface = 0, volume = 0;
    auto addObject = [&](TriMesh* m, const char* name) {
        IsoSurfaceObject object;
        object.mesh = m;
        object.name = name;
        randomColour(1, object.rgb);
        objects.push_back(object);
    };
    if (!separateBodies) {
        finishMesh(mesh, log);
        points = mesh->nbPoints, triangles = mesh->nbTriangles;
        surface = mesh->surface, volume = mesh->volume;
        addObject(mesh, "extract_surface_in");
    } else {
        // The extracted mesh is welded: parts sharing a place share a vertex.
        std::vector<TriMesh*> parts = splitIntoParts(mesh);
        triMeshFree(&mesh);
        const int n = int(parts.size());
        if (messages)
            log(format("Extraction de surface - nb_obj : %d", n));
        for (int i = 0; i < n; ++i) {
            TriMesh* part = parts[size_t(i)];
            finishMesh(part, log);
            if (messages) {
                log(format("Extraction de surface - obj %d/%d = (%d pt et %d tr)", i + 1, n,
                    part->nbPoints, part->nbTriangles));
                log(format(
                    "Surface = %f - Volume = %f", double(part->surface), double(part->volume)));
            }
            points += part->nbPoints, triangles += part->nbTriangles;
            surface += part->surface, volume += part->volume;
            addObject(part, "extract_surface_out");
        }
    }
    log(format("Extraction de surface = (%d pt et %d tr)", int(points), int(triangles)));
    log(format("Surface totale = %f - Volume total = %f", surface, volume));
    return objects;
}

const MarchingCase& marchingCase(int caseIndex)
{
    return marchingTable()[size_t(caseIndex & 0xFF)];
}

std::vector<int> simplifiedCaseTriangles(int caseIndex)
{
    const SimplifiedCase& entry = simplifiedTable()[size_t(caseIndex & 0xFF)];
    std::vector<int> out;
    for (int i = 0; i < 3 * entry.nbTriangles; ++i)
        out.push_back(kCaseCornerOfC[entry.corners[i]]);
    return out;
}

} // namespace vexa::mesh
