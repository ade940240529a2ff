#include "mesh/meshprocessing.h"

#include "mesh/meshprocessingcheck.h"
#include "mesh/randomcolour.h"

#include "vexa_guard.hpp"
#include "vexa_remembered.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <numeric>
#include <thread>
#include <utility>

namespace vexa::mesh {

using processing::fail;

namespace {

Remembered<MeshProcessingSettings> gSettings;
std::atomic<int64_t> gSmoothCounter { 1 };
std::atomic<int64_t> gSimplifyCounter { 1 };

struct MeshDeleter {
    void operator()(TriMesh* mesh) const { triMeshFree(&mesh); }
};
using MeshPtr = std::unique_ptr<TriMesh, MeshDeleter>;

const float* vertex(const TriMesh& mesh, int32_t i)
{
    return mesh.points + int64_t(i) * 3;
}

// Barycentre, area and volume by the same rules as the finishing pass, without its
// orientation step (which would reorder the triangles of a moved copy).
void computeFigures(TriMesh& mesh)
{
    double sum[3] = { 0, 0, 0 };
    float area = 0.0f;
    double volume = 0.0;
    for (int32_t t = 0; t < mesh.nbTriangles; ++t) {
        const int32_t* v = mesh.triangles + int64_t(t) * 3;
        const float* p0 = vertex(mesh, v[0]);
        const float* p1 = vertex(mesh, v[1]);
        const float* p2 = vertex(mesh, v[2]);
        float e1[3], e2[3];
        for (int k = 0; k < 3; ++k) {
            sum[k] += double(p0[k]) + double(p1[k]) + double(p2[k]);
            e1[k] = p1[k] - p0[k];
            e2[k] = p2[k] - p0[k];
        }
        const float cx = e1[1] * e2[2] - e1[2] * e2[1];
        const float cy = e1[2] * e2[0] - e1[0] * e2[2];
        const float cz = e1[0] * e2[1] - e1[1] * e2[0];
        area += std::sqrt(cx * cx + cy * cy + cz * cz);
        volume += double(p0[0]) * (double(p1[1]) * p2[2] - double(p1[2]) * p2[1])
            + double(p0[1]) * (double(p1[2]) * p2[0] - double(p1[0]) * p2[2])
            + double(p0[2]) * (double(p1[0]) * p2[1] - double(p1[1]) * p2[0]);
    }
    const double corners = 3.0 * double(mesh.nbTriangles);
    for (int k = 0; k < 3; ++k)
        mesh.barycentre[k] = float(sum[k] / corners);
    mesh.surface = 0.5f * area;
    mesh.volume = float(std::fabs(volume) / 6.0);
}

std::array<double, 3> cornerMean(const TriMesh& mesh)
{
    double sum[3] = { 0, 0, 0 };
    for (int64_t i = 0; i < int64_t(mesh.nbTriangles) * 3; ++i) {
        const float* p = vertex(mesh, mesh.triangles[i]);
        for (int k = 0; k < 3; ++k)
            sum[k] += p[k];
    }
    const double corners = 3.0 * double(mesh.nbTriangles);
    return { sum[0] / corners, sum[1] / corners, sum[2] / corners };
}

bool allFinite(const TriMesh& mesh)
{
    for (int64_t i = 0; i < int64_t(mesh.nbPoints) * 3; ++i)
        if (!std::isfinite(mesh.points[i]))
            return false;
    return true;
}

// After a move or a scale: new box, and figures that match the new geometry when the
// source had any (0 means "not computed" and stays so).
TriMesh* finishMoved(MeshPtr copy, bool hadFigures, std::string* error)
{
    if (!allFinite(*copy))
        return fail(error, "the result leaves the range of single-precision coordinates"), nullptr;
    triMeshComputeBox(copy.get());
    if (hadFigures)
        computeFigures(*copy);
    else {
        copy->surface = 0.0f;
        copy->volume = 0.0f;
        std::memset(copy->barycentre, 0, sizeof copy->barycentre);
    }
    return copy.release();
}

bool finiteAsFloat(double v)
{
    return std::isfinite(v) && std::isfinite(float(v));
}

// Runs work(from, to) over [0, n) split between two threads when n is large enough
// to pay for the second one; a failure in either is rethrown here.
template <typename Work> void runInRanges(int32_t n, const Work& work)
{
    const unsigned cores = std::thread::hardware_concurrency();
    if (n < 200000 || cores < 2) {
        work(0, n);
        return;
    }
    const int32_t half = n / 2;
    std::exception_ptr failure;
    std::thread helper([&] {
        try {
            work(half, n);
        } catch (...) {
            failure = std::current_exception();
        }
    });
    try {
        work(0, half);
    } catch (...) {
        helper.join();
        throw;
    }
    helper.join();
    if (failure)
        std::rethrow_exception(failure);
}

// Sorts 64-bit keys in place: four passes of a least-significant-digit radix sort on
// 16-bit digits, skipping the digits all keys share.
void sortKeys(std::vector<uint64_t>& keys)
{
    if (keys.size() < 4096) {
        std::sort(keys.begin(), keys.end());
        return;
    }
    std::vector<uint64_t> other(keys.size());
    std::vector<size_t> count(size_t(1) << 16);
    for (int shift = 0; shift < 64; shift += 16) {
        std::fill(count.begin(), count.end(), 0);
        for (uint64_t k : keys)
            ++count[size_t(k >> shift) & 0xFFFF];
        if (count[size_t(keys[0] >> shift) & 0xFFFF] == keys.size())
            continue;
        size_t sum = 0;
        for (size_t& c : count)
            sum += std::exchange(c, sum);
        for (uint64_t k : keys)
            other[count[size_t(k >> shift) & 0xFFFF]++] = k;
        keys.swap(other);
    }
}

std::string formatted(const char* format, int64_t a, int64_t b)
{
    char line[160];
    std::snprintf(line, sizeof line, format, (long long)a, (long long)b);
    return line;
}

} // namespace

namespace processing {

bool fail(std::string* error, std::string message)
{
    if (error)
        *error = std::move(message);
    return false;
}

bool checkMesh(const TriMesh* mesh, std::string* error)
{
    if (!mesh)
        return fail(error, "no mesh");
    if (mesh->nbPoints <= 0 || mesh->nbTriangles <= 0)
        return fail(error, "the mesh is empty");
    if (!hasValidIndices(*mesh))
        return fail(error, "a triangle index is out of range");
    if (!allFinite(*mesh))
        return fail(error, "a vertex coordinate is not finite");
    return true;
}

void emit(const MeshLogSink& sink, const std::string& line)
{
    if (sink)
        sink(line);
    else
        postLogLine(line);
}

} // namespace processing

using processing::checkMesh;
using processing::emit;
using processing::fail;

MeshProcessingSettings meshProcessingSettings()
{
    return gSettings.copy();
}

void keepMeshProcessingSettings(const TranslationSettings& validated)
{
    gSettings.update([&](MeshProcessingSettings& s) { s.translation = validated; });
}

void keepMeshProcessingSettings(const AffinitySettings& validated)
{
    gSettings.update([&](MeshProcessingSettings& s) { s.affinity = validated; });
}

void keepMeshProcessingSettings(const SmoothingSettings& validated)
{
    gSettings.update([&](MeshProcessingSettings& s) { s.smoothing = validated; });
}

void keepMeshProcessingSettings(const SimplificationSettings& validated)
{
    gSettings.update([&](MeshProcessingSettings& s) { s.simplification = validated; });
}

void keepMeshProcessingSettings(const BlockSettings& validated)
{
    gSettings.update([&](MeshProcessingSettings& s) { s.blocks = validated; });
}

void resetMeshProcessingSettings()
{
    gSettings.reset();
}

std::string translationDescription()
{
    return "Déplacement X%fDéplacement Y%fDéplacement Z%f";
}

std::string affinityDescription()
{
    return "Point fixe%tOrigine,Barycentre%lEchelle X%fEchelle Y%fEchelle Z%f";
}

std::string smoothingDescription()
{
    return "Coeff%f";
}

std::string simplificationDescription()
{
    return "Seuil%fNombre d'itérations%d%n";
}

std::string blockDescription()
{
    return std::string("Nb max de facettes / bloc%d%n")
        + "Taux volumique minimal (sous-blocs/bloc)%f%n"
        + "Nb min de facettes / bloc (Tv < Tv min)%d%n"
        + "Niveau maximal de test de visibilité%d%n";
}

ObjectLook replacementLook(
    MeshCommand command, const std::string& sourceName, const double sourceColour[4])
{
    ObjectLook look;
    const double black[4] = { 0, 0, 0, 1 };
    const double* source = sourceColour ? sourceColour : black;
    switch (command) {
    case MeshCommand::Translation:
        look.name = sourceName;
        std::copy(source, source + 4, look.colour);
        return look;
    case MeshCommand::Affinity:
        look.name = sourceName;
        std::copy(source, source + 3, look.colour);
        look.colour[3] = 1.0;
        return look;
    case MeshCommand::Smoothing:
        look.name = "smooth_" + std::to_string(gSmoothCounter.fetch_add(1));
        break;
    case MeshCommand::Simplification:
        look.name = "simplifie" + std::to_string(gSimplifyCounter.fetch_add(1));
        break;
    case MeshCommand::Separation:
        look.name = kSeparatedPartName;
        break;
    }
    randomColour(1, look.colour);
    look.colour[3] = 1.0;
    return look;
}

void resetNameCounters()
{
    gSmoothCounter = 1;
    gSimplifyCounter = 1;
}

std::string sceneInformationText(int64_t objectCount, int64_t facetCount)
{
    // Counts are 64-bit: the facets of many large objects overflow 32 bits.
    return formatted(
        "Nombre total d'objects : %lld\nNombre total de facettes : %lld", objectCount, facetCount);
}

TriMesh* translateMesh(const TriMesh* mesh, const TranslationSettings& s, std::string* error)
{
    if (!checkMesh(mesh, error))
        return nullptr;
    if (!finiteAsFloat(s.dx) || !finiteAsFloat(s.dy) || !finiteAsFloat(s.dz))
        return fail(error, "the displacement is not a finite single-precision value"), nullptr;
    MeshPtr copy(triMeshCopy(mesh));
    if (!copy)
        return fail(error, "out of memory"), nullptr;
    triMeshTranslate(copy.get(), s.dx, s.dy, s.dz);
    return finishMoved(std::move(copy), mesh->surface != 0.0f || mesh->volume != 0.0f, error);
}

TriMesh* scaleMeshAbout(const TriMesh* mesh, const AffinitySettings& s, std::string* error)
{
    if (!checkMesh(mesh, error))
        return nullptr;
    if (s.fixedPoint != kFixedOrigin && s.fixedPoint != kFixedBarycentre)
        return fail(error, "unknown fixed point"), nullptr;
    if (!finiteAsFloat(s.sx) || !finiteAsFloat(s.sy) || !finiteAsFloat(s.sz))
        return fail(error, "a scale is not a finite single-precision value"), nullptr;
    if (float(s.sx) == 0.0f || float(s.sy) == 0.0f || float(s.sz) == 0.0f)
        return fail(error, "a scale is zero"), nullptr;
    MeshPtr copy(triMeshCopy(mesh));
    if (!copy)
        return fail(error, "out of memory"), nullptr;
    if (s.fixedPoint == kFixedBarycentre) {
        const auto b = cornerMean(*copy);
        triMeshTranslate(copy.get(), -b[0], -b[1], -b[2]);
        triMeshScale(copy.get(), s.sx, s.sy, s.sz);
        triMeshTranslate(copy.get(), b[0], b[1], b[2]);
    } else {
        triMeshScale(copy.get(), s.sx, s.sy, s.sz);
    }
    return finishMoved(std::move(copy), mesh->surface != 0.0f || mesh->volume != 0.0f, error);
}

namespace {

// Each vertex's neighbours: the other corners of its triangles, triangle by triangle
// in mesh order and corner by corner, each kept at its first appearance.
struct Neighbours {
    std::vector<int64_t> start;
    std::vector<int32_t> list;
};

Neighbours neighboursOf(const TriMesh& mesh)
{
    const int32_t n = mesh.nbPoints;
    const int64_t corners = int64_t(mesh.nbTriangles) * 3;
    std::vector<int64_t> incidentStart(size_t(n) + 1, 0);
    for (int64_t i = 0; i < corners; ++i)
        ++incidentStart[size_t(mesh.triangles[i]) + 1];
    std::partial_sum(incidentStart.begin(), incidentStart.end(), incidentStart.begin());
    std::vector<int32_t> incident(static_cast<size_t>(corners));
    {
        std::vector<int64_t> fill(incidentStart.begin(), incidentStart.end() - 1);
        for (int32_t t = 0; t < mesh.nbTriangles; ++t)
            for (int k = 0; k < 3; ++k)
                incident[size_t(fill[size_t(mesh.triangles[int64_t(t) * 3 + k])]++)] = t;
    }
    Neighbours result;
    result.start.resize(size_t(n) + 1);
    result.list.reserve(static_cast<size_t>(corners));
    std::vector<int32_t> seenBy; // for vertices of many triangles
    for (int32_t p = 0; p < n; ++p) {
        result.start[size_t(p)] = int64_t(result.list.size());
        const size_t begin = result.list.size();
        const int64_t first = incidentStart[size_t(p)], last = incidentStart[size_t(p) + 1];
        const bool many = last - first > 16;
        if (many && seenBy.empty())
            seenBy.assign(size_t(n), -1);
        for (int64_t i = first; i < last; ++i) {
            const int32_t* tri = mesh.triangles + int64_t(incident[size_t(i)]) * 3;
            for (int k = 0; k < 3; ++k) {
                const int32_t q = tri[k];
                // A vertex is not its own neighbour (degenerate triangles list it).
                if (q == p)
                    continue;
                if (many) {
                    if (seenBy[size_t(q)] == p)
                        continue;
                    seenBy[size_t(q)] = p;
                } else if (std::find(
                               result.list.begin() + std::ptrdiff_t(begin), result.list.end(), q)
                    != result.list.end()) {
                    continue;
                }
                result.list.push_back(q);
            }
        }
    }
    result.start[size_t(n)] = int64_t(result.list.size());
    return result;
}

// One pass from in to out; false when a result leaves the float range.
bool smoothPass(const Neighbours& nb, int32_t n, const float* in, float* out, double c)
{
    std::atomic<bool> finite { true };
    // Vertices are independent: ranges of them run on separate threads.
    runInRanges(n, [&](int32_t from, int32_t to) {
        bool rangeFinite = true;
        for (int32_t p = from; p < to; ++p) {
            const float* pp = in + int64_t(p) * 3;
            float* o = out + int64_t(p) * 3;
            std::copy(pp, pp + 3, o);
            const int64_t first = nb.start[size_t(p)], last = nb.start[size_t(p) + 1];
            double sumW = 0.0;
            double sumQ[3] = { 0, 0, 0 };
            bool coincident = false;
            for (int64_t i = first; i < last; ++i) {
                const float* qq = in + int64_t(nb.list[size_t(i)]) * 3;
                const float dx = qq[0] - pp[0], dy = qq[1] - pp[1], dz = qq[2] - pp[2];
                const float w = 1.0f / std::sqrt(dx * dx + dy * dy + dz * dz);
                // A neighbour at the vertex's own place has an unbounded weight: the
                // weighted mean is then that place, and the vertex stays.
                if (!std::isfinite(w)) {
                    coincident = true;
                    break;
                }
                sumW += w;
                for (int k = 0; k < 3; ++k)
                    sumQ[k] += double(w) * qq[k];
            }
            if (coincident || first == last || !(sumW > 0.0))
                continue;
            for (int k = 0; k < 3; ++k) {
                const double a = sumQ[k] / sumW;
                o[k] = float((c * a + pp[k]) / (c + 1.0));
                rangeFinite = rangeFinite && std::isfinite(o[k]);
            }
        }
        if (!rangeFinite)
            finite = false;
    });
    return finite;
}

} // namespace

TriMesh* smoothMesh(const TriMesh* mesh, double coefficient, std::string* error)
{
    return smoothMeshPasses(mesh, coefficient, 1, error);
}

TriMesh* smoothMeshPasses(
    const TriMesh* mesh, double coefficient, int32_t passes, std::string* error)
{
    if (!checkMesh(mesh, error))
        return nullptr;
    if (!std::isfinite(coefficient))
        return fail(error, "the coefficient is not finite"), nullptr;
    if (coefficient < 0.0)
        return fail(error, "the coefficient is negative"), nullptr;
    if (passes < 1)
        return fail(error, "no pass to make"), nullptr;
    return guarded([&]() -> TriMesh* {
        const int32_t n = mesh->nbPoints;
        // The triangles never change, so the neighbour lists serve every pass.
        const Neighbours nb = neighboursOf(*mesh);
        MeshPtr result(allocateTriMesh(n, mesh->nbTriangles));
        if (!result)
            return fail(error, "out of memory"), nullptr;
        std::memcpy(
            result->triangles, mesh->triangles, size_t(mesh->nbTriangles) * 3 * sizeof(int32_t));
        // Passes alternate between two arrays so that the last one writes the result.
        std::vector<float> spare(passes > 1 ? size_t(n) * 3 : 0);
        const float* in = mesh->points;
        for (int32_t pass = 0; pass < passes; ++pass) {
            float* out = (passes - 1 - pass) % 2 == 0 ? result->points : spare.data();
            if (!smoothPass(nb, n, in, out, coefficient))
                return fail(error, "the result leaves the range of single-precision coordinates"),
                       nullptr;
            in = out;
        }
        triMeshComputeBox(result.get());
        return result.release();
    });
}

namespace {

TriMesh* runPhase(const TriMesh& mesh, double threshold, int32_t phaseNumber,
    const MeshLogSink& sink, bool* changed)
{
    const int32_t n = mesh.nbPoints;
    const int32_t m = mesh.nbTriangles;

    // Vertex-to-triangle table; a triangle that lists a vertex twice is entered once.
    std::vector<int64_t> start(size_t(n) + 1, 0);
    auto forEachUse = [&](auto visit) {
        for (int32_t t = 0; t < m; ++t) {
            const int32_t* v = mesh.triangles + int64_t(t) * 3;
            visit(v[0], t);
            if (v[1] != v[0])
                visit(v[1], t);
            if (v[2] != v[0] && v[2] != v[1])
                visit(v[2], t);
        }
    };
    forEachUse([&](int32_t v, int32_t) { ++start[size_t(v) + 1]; });
    std::partial_sum(start.begin(), start.end(), start.begin());
    std::vector<int32_t> uses(static_cast<size_t>(start[size_t(n)]));
    {
        std::vector<int64_t> fill(start.begin(), start.end() - 1);
        forEachUse([&](int32_t v, int32_t t) { uses[size_t(fill[size_t(v)]++)] = t; });
    }

    // Unit normals in double precision (differences of floats cannot overflow there).
    std::vector<std::array<double, 3>> normals(static_cast<size_t>(m));
    auto unit = [](std::array<double, 3> a) {
        const double l = std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
        if (l > 0.0)
            for (double& x : a)
                x /= l;
        return a;
    };
    // Triangles and then vertices are independent of each other: both passes run in
    // ranges on two threads.
    runInRanges(m, [&](int32_t from, int32_t to) {
        for (int32_t t = from; t < to; ++t) {
            const int32_t* v = mesh.triangles + int64_t(t) * 3;
            const float* p0 = vertex(mesh, v[0]);
            const float* p1 = vertex(mesh, v[1]);
            const float* p2 = vertex(mesh, v[2]);
            const auto a
                = unit({ double(p1[0]) - p0[0], double(p1[1]) - p0[1], double(p1[2]) - p0[2] });
            const auto b
                = unit({ double(p2[0]) - p0[0], double(p2[1]) - p0[1], double(p2[2]) - p0[2] });
            normals[size_t(t)] = unit({ a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2],
                a[0] * b[1] - a[1] * b[0] });
        }
    });

    std::vector<float> flatness(static_cast<size_t>(n), 0.0f);
    runInRanges(n, [&](int32_t from, int32_t to) {
        for (int32_t v = from; v < to; ++v) {
            const int64_t first = start[size_t(v)], last = start[size_t(v) + 1];
            double sum = 0.0;
            int64_t pairs = 0;
            for (int64_t i = first; i < last; ++i)
                for (int64_t j = i + 1; j < last; ++j) {
                    const auto& a = normals[size_t(uses[size_t(i)])];
                    const auto& b = normals[size_t(uses[size_t(j)])];
                    sum += std::fabs(a[0] * b[0] + a[1] * b[1] + a[2] * b[2]);
                    ++pairs;
                }
            const double mean = pairs > 0 ? sum / double(pairs) : sum;
            flatness[size_t(v)] = float(std::fabs(mean - 1.0));
        }
    });

    std::vector<float> cost(static_cast<size_t>(m));
    for (int32_t t = 0; t < m; ++t) {
        const int32_t* v = mesh.triangles + int64_t(t) * 3;
        cost[size_t(t)] = flatness[size_t(v[0])] + flatness[size_t(v[1])] + flatness[size_t(v[2])];
    }
    // Only triangles cheaper than the threshold can collapse, and once the walk in
    // increasing cost meets one that is not, no later one is: the list is those
    // triangles, sorted by cost then number (a stable sort). Costs are sums of
    // magnitudes, never negative, so their bits order like their values.
    const float limit = float(threshold);
    std::vector<uint64_t> order;
    for (int32_t t = 0; t < m; ++t)
        if (cost[size_t(t)] < limit) {
            uint32_t bits;
            const float c = cost[size_t(t)] + 0.0f;
            std::memcpy(&bits, &c, sizeof bits);
            order.push_back(uint64_t(bits) << 32 | uint32_t(t));
        }
    sortKeys(order);
    // A triangle taken out of the list is only marked: the walk skips it.
    std::vector<uint8_t> inList(static_cast<size_t>(m), 1);

    std::vector<float> positions(mesh.points, mesh.points + int64_t(n) * 3);
    std::vector<int32_t> rep(static_cast<size_t>(n));
    std::iota(rep.begin(), rep.end(), 0);
    auto root = [&](int32_t v) {
        while (rep[size_t(v)] != v)
            v = rep[size_t(v)];
        return v;
    };

    bool collapsed = false;
    // The walk jumps about the mesh in cost order: what the triangles a little ahead
    // will read is fetched early, their corners first, then what the corners lead to.
    const size_t count = order.size();
    auto ahead = [&](size_t i, bool deep) {
        if (i >= count)
            return;
        const int32_t t = int32_t(uint32_t(order[i]));
        const int32_t* v = mesh.triangles + int64_t(t) * 3;
        if (!deep) {
            __builtin_prefetch(v);
            __builtin_prefetch(&inList[size_t(t)]);
            return;
        }
        for (int k = 0; k < 3; ++k) {
            __builtin_prefetch(&rep[size_t(v[k])]);
            __builtin_prefetch(&start[size_t(v[k])]);
            __builtin_prefetch(&uses[size_t(start[size_t(v[k])])]);
        }
    };
    for (size_t i = 0; i < count; ++i) {
        ahead(i + 16, false);
        ahead(i + 8, true);
        const int32_t t = int32_t(uint32_t(order[i]));
        if (!inList[size_t(t)])
            continue;
        inList[size_t(t)] = 0;
        const int32_t* v = mesh.triangles + int64_t(t) * 3;
        const int32_t r[3] = { root(v[0]), root(v[1]), root(v[2]) };
        if (r[0] == r[1] || r[1] == r[2] || r[0] == r[2])
            continue;
        const int32_t target = std::min({ r[0], r[1], r[2] });
        float centroid[3];
        for (int k = 0; k < 3; ++k)
            centroid[k]
                = float((double(positions[size_t(r[0]) * 3 + k]) + positions[size_t(r[1]) * 3 + k]
                            + positions[size_t(r[2]) * 3 + k])
                    / 3.0);
        std::copy(centroid, centroid + 3, positions.begin() + int64_t(target) * 3);
        for (int32_t x : r) {
            rep[size_t(x)] = target;
            for (int64_t u = start[size_t(x)]; u < start[size_t(x) + 1]; ++u)
                inList[size_t(uses[size_t(u)])] = 0;
        }
        collapsed = true;
    }

    // Rebuild from the roots; kept vertices keep their relative order.
    for (int32_t v = 0; v < n; ++v)
        rep[size_t(v)] = root(v);
    std::vector<int32_t> kept;
    kept.reserve(size_t(m) * 3);
    std::vector<uint8_t> used(static_cast<size_t>(n), 0);
    for (int32_t t = 0; t < m; ++t) {
        const int32_t* v = mesh.triangles + int64_t(t) * 3;
        const int32_t a = rep[size_t(v[0])], b = rep[size_t(v[1])], c = rep[size_t(v[2])];
        if (a == b || b == c || a == c)
            continue;
        kept.insert(kept.end(), { a, b, c });
        used[size_t(a)] = used[size_t(b)] = used[size_t(c)] = 1;
    }
    std::vector<int32_t> newIndex(static_cast<size_t>(n), -1);
    int32_t newCount = 0;
    for (int32_t v = 0; v < n; ++v)
        if (used[size_t(v)])
            newIndex[size_t(v)] = newCount++;
    const int64_t newTriangles = int64_t(kept.size()) / 3;

    MeshPtr result(allocateTriMesh(newCount, newTriangles));
    if (!result)
        return nullptr;
    for (int32_t v = 0; v < n; ++v)
        if (newIndex[size_t(v)] >= 0)
            std::copy(positions.begin() + int64_t(v) * 3, positions.begin() + int64_t(v) * 3 + 3,
                result->points + int64_t(newIndex[size_t(v)]) * 3);
    for (size_t i = 0; i < kept.size(); ++i)
        result->triangles[i] = newIndex[size_t(kept[i])];
    triMeshComputeBox(result.get());

    char line[160];
    std::snprintf(line, sizeof line, "Simplification (Phase %d) - Pt (%d->%d), Tr (%d->%d)",
        int(phaseNumber), int(n), int(newCount), int(m), int(newTriangles));
    emit(sink, line);
    if (changed)
        *changed = collapsed || newCount != n || newTriangles != m;
    return result.release();
}

} // namespace

TriMesh* simplifyPhase(const TriMesh& mesh, double threshold, int32_t phaseNumber,
    const MeshLogSink& sink, bool* changed)
{
    if (!checkMesh(&mesh, nullptr) || std::isnan(threshold))
        return nullptr;
    return guarded([&] { return runPhase(mesh, threshold, phaseNumber, sink, changed); });
}

TriMesh* simplifyMesh(const TriMesh* mesh, double threshold, int32_t phases,
    const MeshLogSink& sink, std::string* error)
{
    if (!checkMesh(mesh, error))
        return nullptr;
    if (std::isnan(threshold))
        return fail(error, "the threshold is not a number"), nullptr;
    // The result is always a new mesh: the caller frees it after giving it to the new
    // object, which must never free the source object's mesh.
    if (phases < 1) {
        TriMesh* copy = triMeshCopy(mesh);
        if (!copy)
            fail(error, "out of memory");
        return copy;
    }
    return guarded([&]() -> TriMesh* {
        MeshPtr current;
        for (int32_t phase = 1; phase <= phases; ++phase) {
            const TriMesh& input = current ? *current : *mesh;
            bool changed = false;
            MeshPtr next(runPhase(input, threshold, phase, sink, &changed));
            if (!next)
                return fail(error, "out of memory"), nullptr;
            current = std::move(next);
            if (!changed || current->nbTriangles == 0)
                break;
        }
        return current.release();
    });
}

std::vector<TriMesh*> splitIntoParts(const TriMesh* mesh, std::string* error)
{
    std::vector<TriMesh*> parts;
    if (!checkMesh(mesh, error))
        return parts;
    const bool ok = guarded([&] {
        const int32_t n = mesh->nbPoints;
        const int32_t m = mesh->nbTriangles;
        std::vector<int32_t> parent(static_cast<size_t>(n));
        std::iota(parent.begin(), parent.end(), 0);
        auto find = [&](int32_t v) {
            while (parent[size_t(v)] != v) {
                parent[size_t(v)] = parent[size_t(parent[size_t(v)])];
                v = parent[size_t(v)];
            }
            return v;
        };
        auto join = [&](int32_t a, int32_t b) {
            a = find(a);
            b = find(b);
            if (a != b)
                parent[size_t(std::max(a, b))] = std::min(a, b);
        };
        // Vertices at one place are one vertex for connectivity (coordinates are finite,
        // so the ordering is strict and weak).
        std::vector<int32_t> byPlace(static_cast<size_t>(n));
        std::iota(byPlace.begin(), byPlace.end(), 0);
        auto less = [&](int32_t a, int32_t b) {
            const float* p = vertex(*mesh, a);
            const float* q = vertex(*mesh, b);
            return std::lexicographical_compare(p, p + 3, q, q + 3);
        };
        std::sort(byPlace.begin(), byPlace.end(), less);
        for (size_t i = 1; i < byPlace.size(); ++i)
            if (!less(byPlace[i - 1], byPlace[i]))
                join(byPlace[i - 1], byPlace[i]);
        for (int32_t t = 0; t < m; ++t) {
            const int32_t* v = mesh->triangles + int64_t(t) * 3;
            join(v[0], v[1]);
            join(v[0], v[2]);
        }

        // Parts numbered in the order of their first triangle.
        std::vector<int32_t> partOfRoot(static_cast<size_t>(n), -1);
        std::vector<int32_t> partOfTriangle(static_cast<size_t>(m));
        std::vector<int64_t> triangleCount;
        for (int32_t t = 0; t < m; ++t) {
            const int32_t r = find(mesh->triangles[int64_t(t) * 3]);
            if (partOfRoot[size_t(r)] < 0) {
                partOfRoot[size_t(r)] = int32_t(triangleCount.size());
                triangleCount.push_back(0);
            }
            partOfTriangle[size_t(t)] = partOfRoot[size_t(r)];
            ++triangleCount[size_t(partOfRoot[size_t(r)])];
        }
        // A vertex used by a triangle belongs to that triangle's part.
        std::vector<int32_t> partOfVertex(static_cast<size_t>(n), -1);
        for (int64_t i = 0; i < int64_t(m) * 3; ++i)
            partOfVertex[size_t(mesh->triangles[i])] = partOfTriangle[size_t(i / 3)];
        const size_t count = triangleCount.size();
        std::vector<int64_t> pointCount(count, 0);
        std::vector<int32_t> localIndex(static_cast<size_t>(n), -1);
        for (int32_t v = 0; v < n; ++v)
            if (partOfVertex[size_t(v)] >= 0)
                localIndex[size_t(v)] = int32_t(pointCount[size_t(partOfVertex[size_t(v)])]++);

        parts.reserve(count);
        for (size_t i = 0; i < count; ++i) {
            TriMesh* part = allocateTriMesh(pointCount[i], triangleCount[i]);
            if (!part)
                return false;
            parts.push_back(part);
        }
        for (int32_t v = 0; v < n; ++v)
            if (partOfVertex[size_t(v)] >= 0)
                std::copy(vertex(*mesh, v), vertex(*mesh, v) + 3,
                    parts[size_t(partOfVertex[size_t(v)])]->points
                        + int64_t(localIndex[size_t(v)]) * 3);
        std::vector<int64_t> filled(count, 0);
        for (int32_t t = 0; t < m; ++t) {
            const size_t p = size_t(partOfTriangle[size_t(t)]);
            int32_t* out = parts[p]->triangles + filled[p]++ * 3;
            for (int k = 0; k < 3; ++k)
                out[k] = localIndex[size_t(mesh->triangles[int64_t(t) * 3 + k])];
        }
        for (TriMesh* part : parts)
            triMeshComputeBox(part);
        return true;
    });
    if (!ok) {
        for (TriMesh*& part : parts)
            triMeshFree(&part);
        parts.clear();
        fail(error, "out of memory");
    }
    return parts;
}

std::vector<TriMesh*> separateMesh(const TriMesh* mesh, const MeshLogSink& sink, std::string* error)
{
    std::vector<TriMesh*> parts = splitIntoParts(mesh, error);
    const LineSink finishSink = sink ? sink : LineSink(postLogLine);
    for (TriMesh* part : parts)
        finishMesh(part, finishSink);
    return parts;
}

} // namespace vexa::mesh
