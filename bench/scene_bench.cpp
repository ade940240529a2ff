// Frame time of the 3D view, rendered offscreen at 1024 x 768 through the same path as
// snapshots (draw, then read the frame back), for two iso-surfaces of 256^3 volumes:
// a sphere (about 377 k triangles) and smooth noise (about 4.3 M triangles). Each mesh
// is also written as binary STL to $TMPDIR so that bench/vtk_render.py renders the very
// same triangles with the peer (bench/compare_render.sh runs both).
// A third figure ray-marches a 256^3 volume (a soft sphere, of floats through a transfer
// function or of bytes classified beforehand) filling most of the frame, the first
// frame's upload excluded.
// Needs an X server with OpenGL 3.3 (Mesa llvmpipe under xvfb-run is fine).
#include "mesh/isosurface.h"
#include "mesh/meshformats.h"
#include "mesh/trimesh.h"
#include "scene/gui/offscreenrenderer.h"
#include "scene/raymarch.h"
#include "scene/scene.h"
#include "scene/volume.h"
#include "vexa_types.h"

#include <QGuiApplication>
#include <QImage>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace vexa;
using namespace vexa::mesh;

namespace {

constexpr int kSize = 256;

std::string tempPath(const char* name)
{
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/" + name;
}

// A sphere of radius 100 samples, 255 inside and 0 outside with a linear edge.
std::vector<std::uint8_t> sphereVolume()
{
    std::vector<std::uint8_t> v(std::size_t(kSize) * kSize * kSize);
    const double c = (kSize - 1) / 2.0;
    std::size_t i = 0;
    for (int z = 0; z < kSize; ++z)
        for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x) {
                const double d
                    = std::sqrt((x - c) * (x - c) + (y - c) * (y - c) + (z - c) * (z - c));
                v[i++] = std::uint8_t(std::clamp(127.5 + (100.0 - d) * 64.0, 0.0, 255.0));
            }
    return v;
}

// Smooth noise: a sum of a few incommensurate waves, many folded sheets at level 127.
std::vector<std::uint8_t> noiseVolume()
{
    std::vector<std::uint8_t> v(std::size_t(kSize) * kSize * kSize);
    std::size_t i = 0;
    for (int z = 0; z < kSize; ++z)
        for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x) {
                const double s = std::sin(x * 0.21 + 0.3 * std::sin(y * 0.13))
                    + std::sin(y * 0.17 + z * 0.05) + std::sin(z * 0.23 + x * 0.07)
                    + 0.5 * std::sin((x + y + z) * 0.11);
                v[i++] = std::uint8_t(std::clamp(127.5 + s * 40.0, 0.0, 255.0));
            }
    return v;
}

struct Fixture {
    scene::Scene scene;
    std::int64_t triangles = 0;
};

Fixture& fixture(bool noise)
{
    static Fixture* made[2] = { nullptr, nullptr };
    Fixture*& f = made[noise ? 1 : 0];
    if (f)
        return *f;
    f = new Fixture;
    const std::vector<std::uint8_t> volume = noise ? noiseVolume() : sphereVolume();
    IsoSurfaceParams params;
    params.seuil1 = params.seuil2 = 127;
    TriMesh* mesh
        = extractIsoSurfaceFromArray(kSize, kSize, kSize, TYPEDATA_U8, volume.data(), params);
    if (!mesh)
        return *f;
    triMeshFinish(mesh);
    f->triangles = mesh->nbTriangles;
    mesh::writeMeshStlBinary(
        tempPath(noise ? "vexa_bench_noise.stl" : "vexa_bench_sphere.stl").c_str(), mesh);
    const std::uint32_t id = f->scene.createObject("surface");
    f->scene.setMesh(id, mesh);
    triMeshFree(&mesh);
    f->scene.resetCamera();
    return *f;
}

void renderFrames(benchmark::State& state, bool noise)
{
    Fixture& f = fixture(noise);
    gui::OffscreenRenderer renderer;
    if (renderer.render(f.scene, 1024, 768).isNull()) {
        state.SkipWithError(renderer.lastError().toStdString().c_str());
        return;
    }
    int turn = 0;
    for (auto _ : state) {
        // Turn a little every frame so nothing can be reused from the previous one.
        f.scene.rotateCamera(1, 0.01 * (++turn % 7 + 1));
        QImage frame = renderer.render(f.scene, 1024, 768);
        benchmark::DoNotOptimize(frame.constBits());
    }
    state.counters["triangles"] = double(f.triangles);
    state.counters["fps"]
        = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_RenderSphere377k(benchmark::State& state)
{
    renderFrames(state, false);
}
void BM_RenderNoise4M(benchmark::State& state)
{
    renderFrames(state, true);
}

// Density falling off from the centre: the rays cross clear, translucent and nearly
// opaque parts, so early termination helps some pixels and not others; the clear
// corners are skipped by bricks. Float values go through the transfer function while
// marching; the byte volume is the same density classified beforehand, as the volume
// of an 8-bit image through its palette reaches the GPU.
const std::vector<scene::TransferPoint> kRamp
    = { { 0, 0, 0, 0, 0 }, { 0.5, 0.2, 0.4, 1, 0.02 }, { 1, 1, 0.9, 0.6, 0.3 } };

double density(int x, int y, int z)
{
    const double c = (kSize - 1) / 2.0;
    return 1 - std::hypot(x - c, y - c, z - c) / c;
}

std::shared_ptr<scene::Volume> floatVolume()
{
    std::vector<float> values(std::size_t(kSize) * kSize * kSize);
    std::size_t i = 0;
    for (int z = 0; z < kSize; ++z)
        for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x)
                values[i++] = float(density(x, y, z));
    return scene::volumeFromFloats(values.data(), kSize, kSize, kSize, kRamp);
}

std::shared_ptr<scene::Volume> byteVolume()
{
    const std::vector<std::uint8_t> table = scene::transferTable(kRamp);
    auto volume = std::make_shared<scene::Volume>();
    volume->nx = volume->ny = volume->nz = kSize;
    volume->rgba.reserve(std::size_t(kSize) * kSize * kSize * 4);
    for (int z = 0; z < kSize; ++z)
        for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x) {
                const double level = std::clamp(density(x, y, z), 0.0, 1.0) * 255;
                const std::uint8_t* entry = &table[std::size_t(std::lround(level)) * 4];
                volume->rgba.insert(volume->rgba.end(), entry, entry + 4);
            }
    return volume;
}

// The first frame, before any turn, is also written to $TMPDIR as a PNG so that
// builds can be compared picture to picture.
void rayMarch(
    benchmark::State& state, const char* name, int width, int height, bool interactive, bool bytes)
{
    static const std::shared_ptr<scene::Volume> volumes[2] = { floatVolume(), byteVolume() };
    const std::shared_ptr<scene::Volume>& volume = volumes[bytes ? 1 : 0];
    scene::Scene scene;
    const std::uint32_t id = scene.createObject("volume", scene::OBJECT_VOLUME);
    scene.setVolume(id, volume);
    scene.resetCamera();
    gui::OffscreenRenderer renderer;
    renderer.setInteractive(interactive);
    const QImage first = renderer.render(scene, width, height);
    if (first.isNull()) {
        state.SkipWithError(renderer.lastError().toStdString().c_str());
        return;
    }
    first.save(
        QString::fromStdString(tempPath((std::string("vexa_bench_") + name + ".png").c_str())));
    int turn = 0;
    // The rasteriser's threads count too: on a shared machine the processor time of
    // a frame varies far less than its wall time.
    const std::clock_t start = std::clock();
    for (auto _ : state) {
        scene.rotateCamera(1, 0.01 * (++turn % 7 + 1));
        QImage frame = renderer.render(scene, width, height);
        benchmark::DoNotOptimize(frame.constBits());
    }
    const double seconds = double(std::clock() - start) / CLOCKS_PER_SEC;
    state.counters["cpu_ms"]
        = 1000 * seconds / double(std::max<std::int64_t>(state.iterations(), 1));
    state.counters["voxels"] = double(volume->voxelCount());
    state.counters["fps"]
        = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_RayMarchVolume256(benchmark::State& state)
{
    rayMarch(state, "RayMarchVolume256", 1024, 768, false, false);
}
void BM_RayMarchVolume256At512(benchmark::State& state)
{
    rayMarch(state, "RayMarchVolume256At512", 512, 512, false, false);
}
// Frames while the view turns.
void BM_RayMarchVolume256At512Moving(benchmark::State& state)
{
    rayMarch(state, "RayMarchVolume256At512Moving", 512, 512, true, false);
}
void BM_RayMarchVolume256U8At512(benchmark::State& state)
{
    rayMarch(state, "RayMarchVolume256U8At512", 512, 512, false, true);
}
void BM_RayMarchVolume256U8At512Moving(benchmark::State& state)
{
    rayMarch(state, "RayMarchVolume256U8At512Moving", 512, 512, true, true);
}

// The processor's march alone, without GL, on one thread and on all: the same volume
// and camera as the still frame at 512 x 512, samples counted per frame.
void BM_MarchOnProcessor256U8At512(benchmark::State& state)
{
    static const std::shared_ptr<scene::Volume> volume = byteVolume();
    static const std::shared_ptr<const scene::MarchVolume> marched = scene::marchVolumeOf(*volume);
    scene::Scene scene;
    const std::uint32_t id = scene.createObject("volume", scene::OBJECT_VOLUME);
    scene.setVolume(id, volume);
    scene.resetCamera();
    scene.rotateCamera(1, 0.03);
    using scene::operator*;
    std::optional<scene::MarchFrame> frame;
    scene.readObject(id, [&](const scene::SceneObject& object) {
        frame = scene::marchFrameOf(*volume, object.volumeBox, scene.projectionMatrix(0, 512, 512),
            scene.viewMatrix(0) * scene.modelMatrix(object), 512, 512);
    });
    if (!frame) {
        state.SkipWithError("no frame");
        return;
    }
    const scene::PixelRect rect = scene::marchedRect(*marched, *frame);
    std::vector<std::uint8_t> pixels(std::size_t(rect.width) * std::size_t(rect.height) * 4);
    for (auto _ : state) {
        scene::marchVolume(*marched, *frame, rect, pixels.data(), int(state.range(0)));
        benchmark::DoNotOptimize(pixels.data());
    }
    state.counters["fps"]
        = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_MarchOnProcessor256U8At512)
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2);
BENCHMARK(BM_RayMarchVolume256)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK(BM_RayMarchVolume256At512)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK(BM_RayMarchVolume256At512Moving)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(3);
BENCHMARK(BM_RayMarchVolume256U8At512)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK(BM_RayMarchVolume256U8At512Moving)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(3);
BENCHMARK(BM_RenderSphere377k)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK(BM_RenderNoise4M)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
