// Conversion and transposition throughput of vexaMem, each measured against memcpy
// of the same byte count in the same run.
//
// Bandwidth is bytes read plus bytes written per second. "of_memcpy" is that
// bandwidth as a fraction of memcpy's; "x_memcpy" (transposition) is the time as a
// multiple of memcpy's time for the same array.
//
// Times are the thread's CPU time (page faults included), not wall time: the
// machines this runs on are shared, and a memory-bound loop that is descheduled
// would otherwise look slow.
//
// Two figures per conversion: "api" calls vexaMemConvert, which allocates its result
// and so pays for faulting a fresh buffer in; "into" calls vexaMemConvertInto on a
// buffer already mapped, which is the loop alone.
#include "vexamem.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

double cpuSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

constexpr std::size_t kCount = std::size_t { 64 } << 20; // samples: 64 MiB of U8 and up

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<unsigned char, FreeDeleter>;

Buffer touched(std::size_t bytes)
{
    Buffer b(static_cast<unsigned char*>(std::malloc(bytes)));
    if (b)
        std::memset(b.get(), 1, bytes);
    return b;
}

// Inputs of each type, with values that reach the clamps of the narrower outputs.
const unsigned char* input(int type)
{
    static std::map<int, Buffer> inputs;
    auto it = inputs.find(type);
    if (it != inputs.end())
        return it->second.get();
    Buffer b(static_cast<unsigned char*>(std::malloc(kCount * vexaTypeSize(type))));
    for (std::size_t i = 0; i < kCount; ++i) {
        double v = static_cast<double>(i % 100003) * 0.731 - 9000.0;
        switch (type) {
        case TYPEDATA_U8:
            reinterpret_cast<std::uint8_t*>(b.get())[i] = static_cast<std::uint8_t>(i * 7);
            break;
        case TYPEDATA_S16:
            reinterpret_cast<std::int16_t*>(b.get())[i] = static_cast<std::int16_t>(i * 13);
            break;
        case TYPEDATA_S32:
            reinterpret_cast<std::int32_t*>(b.get())[i] = static_cast<std::int32_t>(i * 40503u);
            break;
        case TYPEDATA_F32:
            reinterpret_cast<float*>(b.get())[i] = static_cast<float>(v);
            break;
        case TYPEDATA_F64:
            reinterpret_cast<double*>(b.get())[i] = v;
            break;
        }
    }
    return inputs.emplace(type, std::move(b)).first->second.get();
}

// A destination already mapped, shared by the benchmarks that write into one.
unsigned char* scratch()
{
    static Buffer b = touched(kCount * 8);
    return b.get();
}

// memcpy seconds per byte for a byte count, measured once per count (best of a few).
double memcpySecondsPerByte(std::size_t bytes)
{
    static std::map<std::size_t, double> measured;
    auto it = measured.find(bytes);
    if (it != measured.end())
        return it->second;
    Buffer from = touched(bytes);
    unsigned char* to = scratch();
    double best = 1e30;
    for (int k = 0; k < 5; ++k) {
        const double t0 = cpuSeconds();
        std::memcpy(to, from.get(), bytes);
        benchmark::ClobberMemory();
        best = std::min(best, cpuSeconds() - t0);
    }
    return measured[bytes] = best / static_cast<double>(bytes);
}

const char* typeName(int type)
{
    switch (type) {
    case TYPEDATA_U8:
        return "U8";
    case TYPEDATA_S16:
        return "S16";
    case TYPEDATA_S32:
        return "S32";
    case TYPEDATA_F32:
        return "F32";
    case TYPEDATA_F64:
        return "F64";
    default:
        return "?";
    }
}

void BM_memcpy(benchmark::State& state)
{
    const auto bytes = static_cast<std::size_t>(state.range(0)) << 20;
    Buffer from = touched(bytes);
    unsigned char* to = scratch();
    for (auto _ : state) {
        std::memcpy(to, from.get(), bytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * 2 * bytes));
}

// Counters comparing a measured loop with memcpy of the same bytes moved: memcpy
// of (read + written) / 2 bytes moves as many bytes in total.
void setMemcpyCounters(benchmark::State& state, std::size_t bytesMoved, double seconds)
{
    const double perByte = memcpySecondsPerByte(bytesMoved / 2);
    const double bandwidth = static_cast<double>(bytesMoved) * state.iterations() / seconds;
    state.counters["rw_GBps"] = bandwidth / 1e9;
    state.counters["memcpy_rw_GBps"] = 2.0 / perByte / 1e9;
    state.counters["of_memcpy"] = bandwidth * perByte / 2.0;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytesMoved));
}

void BM_convert(benchmark::State& state)
{
    const int in = static_cast<int>(state.range(0));
    const int out = static_cast<int>(state.range(1));
    const bool scaled = state.range(2) != 0;
    const bool api = state.range(3) != 0;
    const double scale = scaled ? 0.731 : 1.0;
    const double offset = scaled ? 12.5 : 0.0;
    const unsigned char* src = input(in);
    unsigned char* dst = scratch();
    const std::size_t moved = kCount * (vexaTypeSize(in) + vexaTypeSize(out));
    state.SetLabel(std::string(typeName(in)) + "->" + typeName(out) + (scaled ? " scaled" : " 1/0")
        + (api ? " api" : " into"));
    double seconds = 0;
    for (auto _ : state) {
        const double t0 = cpuSeconds();
        if (api) {
            void* r = vexaMemConvert(src, static_cast<int>(kCount), scale, offset, in, out);
            benchmark::DoNotOptimize(r);
            std::free(r);
        } else {
            vexaMemConvertInto(src, static_cast<int>(kCount), scale, offset, in, out, dst);
            benchmark::ClobberMemory();
        }
        seconds += cpuSeconds() - t0;
    }
    setMemcpyCounters(state, moved, seconds);
}

void registerConversions()
{
    const int types[] = { TYPEDATA_U8, TYPEDATA_S16, TYPEDATA_S32, TYPEDATA_F32, TYPEDATA_F64 };
    for (int api : { 0, 1 })
        for (int scaled : { 0, 1 })
            for (int in : types)
                for (int out : types)
                    benchmark::RegisterBenchmark("convert", BM_convert)
                        ->Args({ in, out, scaled, api })
                        ->Unit(benchmark::kMillisecond)
                        ->MinTime(0.3);
}

void BM_transpose(benchmark::State& state)
{
    int w = static_cast<int>(state.range(0));
    int h = static_cast<int>(state.range(1));
    const int type = static_cast<int>(state.range(2));
    const std::size_t bytes = static_cast<std::size_t>(w) * h * vexaTypeSize(type);
    Buffer a = touched(bytes);
    double seconds = 0;
    for (auto _ : state) {
        const double t0 = cpuSeconds();
        vexaMemTranspose(a.get(), type, w, h);
        benchmark::ClobberMemory();
        seconds += cpuSeconds() - t0;
        std::swap(w, h); // the array is now h wide
    }
    const double perIteration = seconds / state.iterations();
    state.counters["x_memcpy"] = perIteration / (memcpySecondsPerByte(bytes) * bytes);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * 2 * bytes));
}

void BM_rotate90(benchmark::State& state)
{
    const int w = static_cast<int>(state.range(0));
    const int h = static_cast<int>(state.range(1));
    const std::size_t bytes = static_cast<std::size_t>(w) * h * 4;
    Buffer a = touched(bytes);
    unsigned char* b = scratch();
    double seconds = 0;
    for (auto _ : state) {
        const double t0 = cpuSeconds();
        vexaMemRotate90(a.get(), w, h, TYPEDATA_F32, b);
        benchmark::ClobberMemory();
        seconds += cpuSeconds() - t0;
    }
    state.counters["x_memcpy"]
        = seconds / state.iterations() / (memcpySecondsPerByte(bytes) * bytes);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * 2 * bytes));
}

} // namespace

BENCHMARK(BM_memcpy)->Arg(64)->Arg(256)->Arg(512)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_transpose)
    ->Args({ 4096, 4096, TYPEDATA_F32 })
    ->Args({ 4096, 4096, TYPEDATA_U8 })
    ->Args({ 4096, 4096, TYPEDATA_F64 })
    ->Args({ 4096, 2048, TYPEDATA_F32 })
    ->Args({ 3000, 5000, TYPEDATA_S16 })
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_rotate90)->Args({ 4096, 4096 })->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    registerConversions();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
