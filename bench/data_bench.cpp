// Section reads of a 512^3 U8 block, as the views and tasks do them: FRONT, RIGHT and
// TOP, as U8 and as F64, from memory, from a file, and from a file with companion
// files. The files live in $TMPDIR (page cache warm after the first pass) and are
// removed at the end.
#include "data/blockoutputs.h"
#include "data/dataapi.h"
#include "data/registry.h"
#include "data/section.h"
#include "vexafile.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
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

// What the hardware allows for a RIGHT section: the bare loop that fetches one sample
// of each row of each plane (one cache line per sample), with no API around it. And
// a bare copy of a FRONT plane.
void referenceGather(benchmark::State& state)
{
    Fixture& f = fixture();
    auto** planes = static_cast<std::uint8_t**>(dozDataGetPtr(f.memory->blockId));
    std::vector<std::uint8_t> out(std::size_t(kSize) * kSize);
    int x = 0;
    for (auto _ : state) {
        for (int z = 0; z < kSize; ++z)
            for (int y = 0; y < kSize; ++y)
                out[std::size_t(y) * kSize + z] = planes[z][std::size_t(y) * kSize + x];
        benchmark::DoNotOptimize(out.data());
        x = (x + 37) % kSize;
    }
    std::free(planes);
    state.SetBytesProcessed(state.iterations() * std::int64_t(kSize) * kSize);
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

BENCHMARK(readSections)->Apply(args)->Unit(benchmark::kMicrosecond);
BENCHMARK(readRightStepping)->Unit(benchmark::kMicrosecond);
BENCHMARK(referenceGather)->Unit(benchmark::kMicrosecond);
BENCHMARK(referenceFrontCopy)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
