// Display buffers of image windows: building the buffer of a visible part from each
// common sample type at zoom 1 and 4, and changing the shown section of a 512^3 block
// kept in memory or in a file (section read plus buffer build).
#include "data/block.h"
#include "data/datarecord.h"
#include "data/section.h"
#include "vexa_types.h"
#include "views/displaybuffer.h"
#include "views/imageview.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

using namespace vexa;

namespace {

std::vector<std::uint8_t> samplesOf(int type, int count)
{
    std::vector<std::uint8_t> bytes(std::size_t(count) * std::size_t(vexaTypeSize(type)));
    for (int i = 0; i < count; ++i) {
        const double v = (i * 37) % 1000;
        switch (type) {
        case TYPEDATA_U8:
            bytes[std::size_t(i)] = std::uint8_t(i * 37);
            break;
        case TYPEDATA_S16: {
            const std::int16_t s = std::int16_t(v - 500);
            std::memcpy(&bytes[std::size_t(i) * 2], &s, 2);
            break;
        }
        case TYPEDATA_F32: {
            const float f = float(v * 0.01);
            std::memcpy(&bytes[std::size_t(i) * 4], &f, 4);
            break;
        }
        default: {
            const double d = v * 0.01;
            std::memcpy(&bytes[std::size_t(i) * 8], &d, 8);
        }
        }
    }
    return bytes;
}

void buildBuffer(benchmark::State& state, int type, int side, int zoom)
{
    const std::vector<std::uint8_t> samples = samplesOf(type, side * side);
    DisplayRequest r;
    r.samples = samples.data();
    r.width = r.height = r.visibleW = r.visibleH = side;
    r.type = type;
    r.gain = type == TYPEDATA_U8 ? 1.0 : 0.37;
    r.offset = type == TYPEDATA_U8 ? 0.0 : 20.0;
    r.zx = r.zy = zoom;
    DisplayBitmap bitmap;
    for (auto _ : state) {
        buildDisplayBitmap(r, bitmap);
        benchmark::DoNotOptimize(bitmap.bits.data());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(samples.size()));
}

// The reference: a plain copy of the same samples.
void copySamples(benchmark::State& state, int type, int side)
{
    const std::vector<std::uint8_t> samples = samplesOf(type, side * side);
    std::vector<std::uint8_t> copy(samples.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), samples.data(), samples.size());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(samples.size()));
}

BENCHMARK_CAPTURE(buildBuffer, U8_1024_zoom1, TYPEDATA_U8, 1024, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(buildBuffer, S16_1024_zoom1, TYPEDATA_S16, 1024, 1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(buildBuffer, F32_1024_zoom1, TYPEDATA_F32, 1024, 1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(buildBuffer, F64_1024_zoom1, TYPEDATA_F64, 1024, 1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(copySamples, F32_1024_memcpy, TYPEDATA_F32, 1024)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(buildBuffer, U8_256_zoom4, TYPEDATA_U8, 256, 4)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(buildBuffer, S16_256_zoom4, TYPEDATA_S16, 256, 4)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(buildBuffer, F32_256_zoom4, TYPEDATA_F32, 256, 4)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(buildBuffer, F64_256_zoom4, TYPEDATA_F64, 256, 4)->Unit(benchmark::kMillisecond);

constexpr int kSide = 512;

std::unique_ptr<BlockDescriptor> memoryBlock()
{
    auto block = std::make_unique<BlockDescriptor>();
    block->dimX = block->dimY = block->dimZ = kSide;
    block->typeData = TYPEDATA_U8;
    if (!block->samples.allocate(std::size_t(kSide) * kSide * kSide))
        return nullptr;
    for (std::size_t i = 0; i < block->samples.size(); ++i)
        block->samples.bytes()[i] = std::uint8_t(i % 251);
    return block;
}

std::unique_ptr<DataRecord> recordOf(std::unique_ptr<BlockDescriptor> block)
{
    auto record = std::make_unique<DataRecord>();
    record->image = std::make_unique<ImageObject>();
    record->image->block = std::move(block);
    record->image->image->samples.reset();
    prepareDisplayedSection(*record->image);
    return record;
}

void sectionChange(benchmark::State& state, DataRecord& record, int plane)
{
    int index = 0;
    for (auto _ : state) {
        index = (index + 37) % kSide;
        if (!loadSection(record, plane, index) || !rebuildDisplay(record)) {
            state.SkipWithError("section change failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

void memorySection(benchmark::State& state)
{
    static std::unique_ptr<DataRecord> record = recordOf(memoryBlock());
    sectionChange(state, *record, int(state.range(0)));
}

std::string gFilePath;

void fileSection(benchmark::State& state)
{
    static std::unique_ptr<DataRecord> record = [] {
        std::unique_ptr<BlockDescriptor> source = memoryBlock();
        const char* dir = std::getenv("TMPDIR");
        gFilePath = std::string(dir && *dir ? dir : "/tmp") + "/views_bench_"
            + std::to_string(getpid()) + ".gdr";
        std::string reason;
        if (!source || !blockCopyToFile(*source, gFilePath, &reason))
            return std::unique_ptr<DataRecord>();
        source.reset();
        std::unique_ptr<BlockDescriptor> file = blockOpenFile(gFilePath, &reason);
        return file ? recordOf(std::move(file)) : std::unique_ptr<DataRecord>();
    }();
    if (!record) {
        state.SkipWithError("cannot make the file block");
        return;
    }
    sectionChange(state, *record, int(state.range(0)));
}

BENCHMARK(memorySection)->ArgName("plane")->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(fileSection)->ArgName("plane")->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!gFilePath.empty())
        std::filesystem::remove(gFilePath);
    return 0;
}
