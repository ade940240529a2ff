// Section reads of a 512^3 U8 block, as the views and tasks do them: FRONT, RIGHT and
// TOP, as U8 and as F64, from memory, from a file, and from a file with companion
// files; and RIGHT sections of memory cubes up to 1024^3 (1 GiB, made only when
// those benchmarks run). The files live in $TMPDIR (page cache warm after the first pass) and are
// removed at the end.
#include "data/blockoutputs.h"
#include "data/dataapi.h"
#include "data/registry.h"
#include "data/section.h"
#include "vexafile.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

using namespace vexa;

namespace {

constexpr int kSize = 512;

struct Fixture {
    DataRecord* memory = nullptr;
    DataRecord* file = nullptr;
    DataRecord* companions = nullptr;
    std::string dir;

    Fixture()
    {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vexa_bench_XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        dir = mkdtemp(name.data());

        auto object = newBlockOutputObject();
        blockSetSize(*object->block, kSize, kSize, kSize);
        memory = showImageObject(std::move(object), kFreshId, kFreshId);
        auto** planes = static_cast<std::uint8_t**>(dozDataGetPtr(memory->blockId));
        for (int z = 0; z < kSize; ++z)
            for (int i = 0; i < kSize * kSize; ++i)
                planes[z][i] = std::uint8_t(i * 7 + z);
        std::free(planes);

        blockCopyToFile(*memory->block(), dir + "/cube.gdr");
        blockCopyToFile(*memory->block(), dir + "/cubexy.gdr");
        writeCompanion(dir + "/cubexz.gdr", PLANE_TOP, false);
        writeCompanion(dir + "/cubeyz.gdr", PLANE_RIGHT, true);
        file = open(dir + "/cube.gdr");
        companions = open(dir + "/cubexy.gdr");
    }

    ~Fixture()
    {
        dataResetRegistry();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }

    void writeCompanion(const std::string& path, int plane, bool reversed)
    {
        FileDescriptor* f = vexaFileNew();
        vexaFileSetFullName(f, path.c_str());
        vexaFileSetSizes(f, kSize, kSize, kSize);
        vexaFileSetTypeData(f, TYPEDATA_U8);
        vexaFileSetHeader(f, 1);
        vexaFileWriteHeader(f);
        for (int k = 0; k < kSize; ++k) {
            void* s = readSection(*memory->block(), false, -1, plane, reversed ? kSize - 1 - k : k,
                0, 0, kSize - 1, kSize - 1);
            vexaFileWriteImage(f, s, 0, k);
            std::free(s);
        }
        vexaFileRelease(f);
    }

    static DataRecord* open(const std::string& path)
    {
        auto object = std::make_unique<ImageObject>();
        object->block = blockOpenFile(path);
        return showImageObject(std::move(object), kFreshId, kFreshId);
    }
};

Fixture& fixture()
{
    static Fixture f;
    return f;
}

enum Source { kMemory, kFile, kCompanions };

void readSections(benchmark::State& state)
{
    Fixture& f = fixture();
    auto source = Source(state.range(0));
    int plane = int(state.range(1));
    int type = int(state.range(2));
    DataRecord* r = source == kMemory ? f.memory : source == kFile ? f.file : f.companions;
    int index = 0;
    for (auto _ : state) {
        // Successive sections, as when a user scrolls through the volume.
        void* s = plane == 0 ? dozDataGetFront(r->blockId, index, type)
            : plane == 1     ? dozDataGetRight(r->blockId, index, type)
                             : dozDataGetTop(r->blockId, index, type);
        benchmark::DoNotOptimize(s);
        dozDataFree(s);
        index = (index + 37) % kSize;
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(kSize) * kSize);
    static const char* sources[] = { "memory", "file", "file+companions" };
    static const char* planes[] = { "FRONT", "RIGHT", "TOP" };
    state.SetLabel(std::string(sources[source]) + " " + planes[plane]
        + (type == TYPEDATA_U8 ? " U8" : " F64"));
}

void args(benchmark::internal::Benchmark* b)
{
    for (int source : { kMemory, kFile, kCompanions })
        for (int type : { TYPEDATA_U8, TYPEDATA_F64 })
            for (int plane : { 0, 1, 2 })
                b->Args({ source, plane, type });
}

// RIGHT sections at consecutive x, as when a user steps through them: neighbouring x
// share cache lines.
void readRightStepping(benchmark::State& state)
{
    Fixture& f = fixture();
    int index = 0;
    for (auto _ : state) {
        void* s = dozDataGetRight(f.memory->blockId, index, TYPEDATA_U8);
        benchmark::DoNotOptimize(s);
        dozDataFree(s);
        index = (index + 1) % kSize;
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(kSize) * kSize);
}

// The side of a 4 GiB U8 cube.
constexpr int kFourGiBSide = 1625;

// A memory-only U8 cube of the given side (1024: 1 GiB), made on first use.
DataRecord* cube(int side)
{
    if (side == kSize)
        return fixture().memory;
    static std::map<int, DataRecord*> cubes;
    DataRecord*& r = cubes[side];
    if (!r) {
        auto object = newBlockOutputObject();
        blockSetSize(*object->block, side, side, side);
        r = showImageObject(std::move(object), kFreshId, kFreshId);
        auto** planes = static_cast<std::uint8_t**>(dozDataGetPtr(r->blockId));
        for (int z = 0; z < side; ++z)
            for (std::size_t i = 0; i < std::size_t(side) * side; ++i)
                planes[z][i] = std::uint8_t(i * 7 + z);
        std::free(planes);
    }
    return r;
}

// Each sample of a RIGHT section sits on its own cache line: the memory traffic a
// section needs is side * side lines of 64 bytes, whatever the code does. Compared
// with referenceFrontCopy's bytes_per_second (a streaming copy), this says how close
// a gather comes to what the memory system delivers.
void setLineCounter(benchmark::State& state, int side)
{
    state.counters["line_bytes_per_s"] = benchmark::Counter(
        double(state.iterations()) * double(side) * side * 64, benchmark::Counter::kIsRate);
}

// RIGHT sections of a memory cube of side 512, 1024 or 1625 (4 GiB), by wall time (the gather may
// use a second thread; the CPU column is the whole process's). A RIGHT section of a
// block of N bytes fetches one cache line per sample, so a 4 GiB block's costs about 8
// times the 512^3 one and twice the 1024^3 U8 one.
void readRightMemory(benchmark::State& state)
{
    const int side = int(state.range(0));
    DataRecord* r = cube(side);
    int index = 0;
    for (auto _ : state) {
        void* s = dozDataGetRight(r->blockId, index, TYPEDATA_U8);
        benchmark::DoNotOptimize(s);
        dozDataFree(s);
        index = (index + 37) % side;
    }
    state.counters["sections_per_s"]
        = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    setLineCounter(state, side);
}

// What the hardware allows for a RIGHT section on one thread: the bare loop that
// fetches one sample of each row of each plane (one cache line per sample), with no
// API around it. And a bare copy of a FRONT plane.
void gatherBare(benchmark::State& state, int side)
{
    auto** planes = static_cast<std::uint8_t**>(dozDataGetPtr(cube(side)->blockId));
    std::vector<std::uint8_t> out(std::size_t(side) * side);
    int x = 0;
    for (auto _ : state) {
        for (int z = 0; z < side; ++z)
            for (int y = 0; y < side; ++y)
                out[std::size_t(y) * side + z] = planes[z][std::size_t(y) * side + x];
        benchmark::DoNotOptimize(out.data());
        x = (x + 37) % side;
    }
    std::free(planes);
    state.counters["sections_per_s"]
        = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    setLineCounter(state, side);
}

void referenceGather(benchmark::State& state)
{
    gatherBare(state, kSize);
}

void bareRightGather(benchmark::State& state)
{
    gatherBare(state, int(state.range(0)));
}

// The rate at which this machine delivers cache lines from memory at best: one byte
// of every line of the whole cube read in address order (the prefetchers' ideal),
// 2 GiB at a time, on one thread and on two.
void streamLines(benchmark::State& state)
{
    const int side = int(state.range(0));
    const int threads = int(state.range(1));
    auto** planes = static_cast<std::uint8_t**>(dozDataGetPtr(cube(side)->blockId));
    const std::size_t planeBytes = std::size_t(side) * side;
    std::uint64_t lines = 0;
    for (auto _ : state) {
        std::atomic<unsigned> sum { 0 };
        auto run = [&](int first, int last) {
            unsigned local = 0;
            for (int z = first; z < last; ++z)
                for (std::size_t i = 0; i < planeBytes; i += 64)
                    local += planes[z][i];
            sum += local;
        };
        if (threads == 1) {
            run(0, side);
        } else {
            std::thread other(run, side / 2, side);
            run(0, side / 2);
            other.join();
        }
        benchmark::DoNotOptimize(sum.load());
        lines += std::uint64_t(side) * ((planeBytes + 63) / 64);
    }
    std::free(planes);
    state.counters["line_bytes_per_s"]
        = benchmark::Counter(double(lines) * 64, benchmark::Counter::kIsRate);
}

void referenceFrontCopy(benchmark::State& state)
{
    Fixture& f = fixture();
    auto** planes = static_cast<std::uint8_t**>(dozDataGetPtr(f.memory->blockId));
    std::vector<std::uint8_t> out(std::size_t(kSize) * kSize);
    int z = 0;
    for (auto _ : state) {
        std::memcpy(out.data(), planes[z], out.size());
        benchmark::DoNotOptimize(out.data());
        z = (z + 37) % kSize;
    }
    std::free(planes);
    state.SetBytesProcessed(state.iterations() * std::int64_t(kSize) * kSize);
}

} // namespace

// Process CPU time: a RIGHT gather may run on two threads.
BENCHMARK(readSections)->Apply(args)->MeasureProcessCPUTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(readRightStepping)->MeasureProcessCPUTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(referenceGather)->Unit(benchmark::kMicrosecond);
BENCHMARK(readRightMemory)
    ->Arg(kSize)
    ->Arg(1024)
    ->Arg(kFourGiBSide)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(bareRightGather)
    ->Arg(kSize)
    ->Arg(1024)
    ->Arg(kFourGiBSide)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(streamLines)
    ->Args({ kFourGiBSide, 1 })
    ->Args({ kFourGiBSide, 2 })
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(referenceFrontCopy)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
