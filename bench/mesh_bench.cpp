// Times of the mesh work on two 256^3 volumes: a float sphere distance field (level 0)
// and byte smooth noise (level 127.5, about 4.3 M triangles). Prints one line per
// measure, "name milliseconds" (median of several runs), for bench/compare_mesh.sh.
// Writes the two volumes (raw, x fastest) and the noise surface (binary STL) to
// $TMPDIR so that bench/vtk_mesh.py times the peer on the very same input.
// usage: mesh_bench [runs] [part of a name: only those measures]
#include "mesh/isosurface.h"
#include "mesh/meshformats.h"
#include "mesh/meshprocessing.h"
#include "mesh/trimesh.h"
#include "vexa_types.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

using namespace vexa::mesh;

namespace {

constexpr int kSize = 256;

std::string tempPath(const char* name)
{
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/" + name;
}

std::vector<float> sphereVolume()
{
    std::vector<float> v(size_t(kSize) * kSize * kSize);
    const double c = (kSize - 1) / 2.0;
    size_t i = 0;
    for (int z = 0; z < kSize; ++z)
        for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x)
                v[i++] = float(
                    100.0 - std::sqrt((x - c) * (x - c) + (y - c) * (y - c) + (z - c) * (z - c)));
    return v;
}

std::vector<uint8_t> noiseVolume()
{
    std::vector<uint8_t> v(size_t(kSize) * kSize * kSize);
    size_t i = 0;
    for (int z = 0; z < kSize; ++z)
        for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x) {
                const double s = std::sin(x * 0.21 + 0.3 * std::sin(y * 0.13))
                    + std::sin(y * 0.17 + z * 0.05) + std::sin(z * 0.23 + x * 0.07)
                    + 0.5 * std::sin((x + y + z) * 0.11);
                v[i++] = uint8_t(std::clamp(127.5 + s * 40.0, 0.0, 255.0));
            }
    return v;
}

template <typename T> void writeRaw(const char* name, const std::vector<T>& v)
{
    if (FILE* f = std::fopen(tempPath(name).c_str(), "wb")) {
        std::fwrite(v.data(), sizeof(T), v.size(), f);
        std::fclose(f);
    }
}

double gCpuMs = 0; // processor time of the last median's runs, per run

double cpuNowMs()
{
    timespec t {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double medianMs(int runs, const std::function<void()>& work)
{
    std::vector<double> times;
    const double cpuStart = cpuNowMs();
    for (int r = 0; r < runs; ++r) {
        const auto start = std::chrono::steady_clock::now();
        work();
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    gCpuMs = (cpuNowMs() - cpuStart) / runs;
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

TriMesh* extract(const void* volume, int type, double level, int method, int threads)
{
    IsoSurfaceParams p;
    p.seuil1 = p.seuil2 = level;
    p.method = method;
    p.threads = threads;
    return extractIsoSurfaceFromArray(kSize, kSize, kSize, type, volume, p);
}

void report(const char* name, double ms, const TriMesh* mesh = nullptr)
{
    // Wall time first (what the comparison uses), then the mean processor time of a
    // run, which a loaded machine inflates less.
    if (mesh)
        std::printf(
            "%s %.1f %d %d cpu=%.1f\n", name, ms, mesh->nbPoints, mesh->nbTriangles, gCpuMs);
    else
        std::printf("%s %.1f cpu=%.1f\n", name, ms, gCpuMs);
    std::fflush(stdout);
}

const char* gOnly = nullptr;

bool wanted(const char* name)
{
    return !gOnly || std::strstr(name, gOnly);
}

void timeExtraction(
    const char* name, const void* volume, int type, double level, int method, int threads, int runs)
{
    if (!wanted(name))
        return;
    TriMesh* last = nullptr;
    const double ms = medianMs(runs, [&] {
        triMeshFree(&last);
        last = extract(volume, type, level, method, threads);
    });
    report(name, ms, last);
    triMeshFree(&last);
}

// The reference a weld is held to: a plain remap of points through a hash map keyed
// by their coordinates.
size_t plainRemap(const std::vector<float>& points, std::vector<int32_t>& triangles)
{
    struct Key {
        float x, y, z;
        bool operator==(const Key& o) const { return x == o.x && y == o.y && z == o.z; }
    };
    struct Hash {
        size_t operator()(const Key& k) const
        {
            uint32_t b[3];
            std::memcpy(b, &k, sizeof b);
            return (size_t(b[0]) * 73856093u) ^ (size_t(b[1]) * 19349663u)
                ^ (size_t(b[2]) * 83492791u);
        }
    };
    std::unordered_map<Key, int32_t, Hash> map;
    map.reserve(points.size() / 3 / 4);
    std::vector<int32_t> index(points.size() / 3);
    std::vector<float> kept;
    for (size_t i = 0; i < index.size(); ++i) {
        const Key k { points[3 * i], points[3 * i + 1], points[3 * i + 2] };
        auto [it, added] = map.try_emplace(k, int32_t(kept.size() / 3));
        if (added)
            kept.insert(kept.end(), { k.x, k.y, k.z });
        index[i] = it->second;
    }
    for (int32_t& t : triangles)
        t = index[size_t(t)];
    return kept.size() / 3;
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    gOnly = argc > 2 ? argv[2] : nullptr;
    const std::vector<float> sphere = sphereVolume();
    const std::vector<uint8_t> noise = noiseVolume();
    writeRaw("vexa_mesh_sphere_f32.raw", sphere);
    writeRaw("vexa_mesh_noise_u8.raw", noise);

    timeExtraction(
        "mc15_sphere_1t", sphere.data(), TYPEDATA_F32, 0.0, kIsoMarchingCubes15, 1, runs);
    timeExtraction(
        "mc15_sphere_2t", sphere.data(), TYPEDATA_F32, 0.0, kIsoMarchingCubes15, 2, runs);
    timeExtraction("mc15_noise_1t", noise.data(), TYPEDATA_U8, 127.5, kIsoMarchingCubes15, 1, runs);
    timeExtraction("mc15_noise_2t", noise.data(), TYPEDATA_U8, 127.5, kIsoMarchingCubes15, 2, runs);
    const char* others[] = { "cuberille_noise_1t", nullptr, "mc33_noise_1t", "smc_noise_1t",
        "smc_emulation_noise_1t", "smc_table_noise_1t" };
    for (int method : { 0, 2, 3, 4, 5 })
        timeExtraction(others[method], noise.data(), TYPEDATA_U8, 127.5, method, 1, runs);

    if (!wanted("weld_soup smooth_20_noise simplify_noise"))
        return 0;
    TriMesh* mesh = extract(noise.data(), TYPEDATA_U8, 127.5, kIsoMarchingCubes15, 0);
    if (!mesh || mesh->nbTriangles == 0) {
        std::fprintf(stderr, "extraction failed\n");
        return 1;
    }
    writeMeshStlBinary(tempPath("vexa_mesh_noise.stl").c_str(), mesh);

    // The noise surface as a soup: three points per triangle.
    std::vector<float> soup;
    soup.reserve(size_t(mesh->nbTriangles) * 9);
    for (int64_t i = 0; i < int64_t(mesh->nbTriangles) * 3; ++i) {
        const float* p = mesh->points + 3 * int64_t(mesh->triangles[i]);
        soup.insert(soup.end(), p, p + 3);
    }
    std::vector<int32_t> soupTriangles(size_t(mesh->nbTriangles) * 3);
    for (size_t i = 0; i < soupTriangles.size(); ++i)
        soupTriangles[i] = int32_t(i);
    size_t welded = 0, remapped = 0;
    if (wanted("weld_soup plain_remap_soup")) {
        const double weldMs = medianMs(runs, [&] {
            std::vector<float> p = soup;
            std::vector<int32_t> t = soupTriangles;
            weldVertices(p, t);
            welded = p.size() / 3;
        });
        report("weld_soup", weldMs);
        const double remapMs = medianMs(runs, [&] {
            std::vector<int32_t> t = soupTriangles;
            remapped = plainRemap(soup, t);
        });
        report("plain_remap_soup", remapMs);
        if (welded != remapped)
            std::fprintf(stderr, "weld kept %zu points, the plain remap %zu\n", welded, remapped);
    }

    if (wanted("smooth_20_noise")) {
        const double smoothMs = medianMs(std::max(1, runs / 2), [&] {
            TriMesh* smoothed = smoothMeshPasses(mesh, 1.0, 20);
            triMeshFree(&smoothed);
        });
        report("smooth_20_noise", smoothMs);
    }

    TriMesh* simplified = nullptr;
    if (wanted("simplify_noise")) {
        const double simplifyMs = medianMs(std::max(1, runs / 2), [&] {
            triMeshFree(&simplified);
            simplified = simplifyMesh(mesh, 0.01, 5, [](const std::string&) {});
        });
        report("simplify_noise", simplifyMs, simplified);
    }
    triMeshFree(&simplified);
    triMeshFree(&mesh);
    return 0;
}
