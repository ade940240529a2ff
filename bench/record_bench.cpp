// Recording a 3D view into a film: 250 frames of the iso-surface of a sphere in a 256^3
// volume (about 377 k triangles), rendered offscreen at 640 x 480, read back and written
// to an AVI film in $TMPDIR, against rendering alone in the same run: "overhead_pct"
// is the time recording adds over rendering alone, the film's opening and closing
// (the last frames encoded, the index written) included. Encoding either inline or on
// the capture's encoding thread.
// Needs an X server with OpenGL 3.3 (Mesa llvmpipe under xvfb-run is fine).
#include "mesh/isosurface.h"
#include "mesh/trimesh.h"
#include "scene/filmcapture.h"
#include "scene/gui/offscreenrenderer.h"
#include "scene/scene.h"
#include "vexa_types.h"

#include <QGuiApplication>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace vexa;

namespace {

constexpr int kSize = 256;
constexpr int kFrames = 250;
constexpr int kWidth = 640;
constexpr int kHeight = 480;

std::string tempPath(const char* name)
{
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/" + name;
}

scene::Scene& sphereScene(std::int64_t& triangles)
{
    static scene::Scene* made = nullptr;
    static std::int64_t count = 0;
    if (!made) {
        made = new scene::Scene;
        std::vector<std::uint8_t> v(std::size_t(kSize) * kSize * kSize);
        const double c = (kSize - 1) / 2.0;
        std::size_t i = 0;
        for (int z = 0; z < kSize; ++z)
            for (int y = 0; y < kSize; ++y)
                for (int x = 0; x < kSize; ++x)
                    v[i++] = std::uint8_t(std::clamp(
                        127.5 + (100.0 - std::hypot(x - c, y - c, z - c)) * 64.0, 0.0, 255.0));
        mesh::IsoSurfaceParams params;
        params.seuil1 = params.seuil2 = 127;
        TriMesh* m
            = mesh::extractIsoSurfaceFromArray(kSize, kSize, kSize, TYPEDATA_U8, v.data(), params);
        if (m) {
            triMeshFinish(m);
            count = m->nbTriangles;
            made->setMesh(made->createObject("surface"), m);
            triMeshFree(&m);
        }
        made->resetCamera();
    }
    triangles = count;
    return *made;
}

// Seconds for `frames` frames, rendered only or, with a capture, also recorded.
double timeFrames(scene::Scene& scene, gui::OffscreenRenderer& renderer, int frames,
    scene::FilmCapture* capture, std::string& reason)
{
    static int turn = 0;
    const auto begin = std::chrono::steady_clock::now();
    for (int f = 0; f < frames; ++f) {
        // Turn a little every frame so nothing can be reused from the previous one.
        scene.rotateCamera(1, 0.01 * (++turn % 7 + 1));
        const QImage frame = renderer.render(scene, kWidth, kHeight);
        if (capture
            && !capture->addFrame(
                frame.constBits(), kWidth, kHeight, int(frame.bytesPerLine()), reason))
            return -1;
        benchmark::DoNotOptimize(frame.constBits());
    }
    if (capture && !capture->finish(reason))
        return -1;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
}

// The machine's load drifts, so rendering alone and recording alternate in blocks of
// 50 frames; each block's film is closed within the block, so no encoding spills over
// into the next one.
void recordFrames(benchmark::State& state, int queueFrames)
{
    constexpr int kBlock = 50;
    std::int64_t triangles = 0;
    scene::Scene& scene = sphereScene(triangles);
    gui::OffscreenRenderer renderer;
    if (renderer.render(scene, kWidth, kHeight).isNull()) {
        state.SkipWithError(renderer.lastError().toStdString().c_str());
        return;
    }
    const std::string path = tempPath("vexa_bench_record.avi");
    double renderSeconds = 0, recordSeconds = 0;
    int frames = 0;
    for (auto _ : state) {
        for (int block = 0; block < kFrames / kBlock; ++block) {
            std::string reason;
            renderSeconds += timeFrames(scene, renderer, kBlock, nullptr, reason);
            scene::FilmCaptureSettings settings;
            settings.path = path;
            settings.width = kWidth;
            settings.height = kHeight;
            settings.queueFrames = queueFrames;
            const auto begin = std::chrono::steady_clock::now();
            std::unique_ptr<scene::FilmCapture> capture
                = scene::FilmCapture::open(settings, reason);
            if (!capture || timeFrames(scene, renderer, kBlock, capture.get(), reason) < 0) {
                state.SkipWithError(reason.c_str());
                return;
            }
            recordSeconds
                += std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
            frames += kBlock;
        }
    }
    std::filesystem::remove(path);
    state.counters["triangles"] = double(triangles);
    state.counters["render_fps"] = frames / renderSeconds;
    state.counters["record_fps"] = frames / recordSeconds;
    state.counters["overhead_pct"] = (recordSeconds / renderSeconds - 1) * 100;
}

void BM_RecordInline640(benchmark::State& state)
{
    recordFrames(state, 0);
}
void BM_RecordThreaded640(benchmark::State& state)
{
    recordFrames(state, 4);
}

BENCHMARK(BM_RecordInline640)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_RecordThreaded640)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

} // namespace

int main(int argc, char** argv)
{
    // The frames are rendered offscreen: no window is needed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
