// Writing films: 250 frames of 640 x 480 RGBA into a Motion JPEG AVI, against the cost
// of producing the same frames alone. Frames per second are the items processed.
#include "video/filmwriter.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kWidth = 640, kHeight = 480, kFrames = 250;

// A gradient that scrolls and a square that moves: content that changes every frame,
// as a rendered view does, so the encoder cannot coast on repeated pictures.
void produceFrame(std::vector<std::uint8_t>& rgba, int n)
{
    for (int y = 0; y < kHeight; ++y) {
        std::uint8_t* row = rgba.data() + std::size_t(y) * kWidth * 4;
        for (int x = 0; x < kWidth; ++x) {
            const bool square = x >= 2 * n && x < 2 * n + 64 && y >= 200 && y < 264;
            row[x * 4 + 0] = square ? 255 : std::uint8_t(x + n);
            row[x * 4 + 1] = square ? 255 : std::uint8_t(y - n);
            row[x * 4 + 2] = std::uint8_t((x ^ y) + n);
            row[x * 4 + 3] = 255;
        }
    }
}

std::string benchPath()
{
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/vexa_bench_" + std::to_string(getpid())
        + ".avi";
}

void BM_ProduceFramesOnly(benchmark::State& state)
{
    std::vector<std::uint8_t> rgba(std::size_t(kWidth) * kHeight * 4);
    for (auto _ : state) {
        for (int n = 0; n < kFrames; ++n) {
            produceFrame(rgba, n);
            benchmark::DoNotOptimize(rgba.data());
        }
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_ProduceFramesOnly)->Unit(benchmark::kMillisecond);

void BM_WriteMjpegAvi(benchmark::State& state)
{
    std::vector<std::uint8_t> rgba(std::size_t(kWidth) * kHeight * 4);
    const std::string path = benchPath();
    for (auto _ : state) {
        std::string reason;
        auto writer = vexa::video::FilmWriter::open({ path, kWidth, kHeight, 25.0 }, reason);
        if (!writer) {
            state.SkipWithError(reason.c_str());
            return;
        }
        for (int n = 0; n < kFrames; ++n) {
            produceFrame(rgba, n);
            if (!writer->addFrameRgba(rgba.data(), kWidth * 4, reason)) {
                state.SkipWithError(reason.c_str());
                return;
            }
        }
        if (!writer->close(reason)) {
            state.SkipWithError(reason.c_str());
            return;
        }
    }
    std::remove(path.c_str());
    state.SetItemsProcessed(state.iterations() * kFrames);
    state.SetBytesProcessed(state.iterations() * kFrames * std::int64_t(kWidth) * kHeight * 4);
}
BENCHMARK(BM_WriteMjpegAvi)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
