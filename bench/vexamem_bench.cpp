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
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

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

// Seconds to obtain a fresh result block of a byte count, the way the allocating
// entry points do (malloc, huge pages hinted, faulted in by one call) and free it:
// the kernel zeroes every page, a cost no conversion into fresh memory avoids.
// Measured once per count, best of a few, after one untimed round that lets the
// hypervisor back the memory.
double freshPagesSeconds(std::size_t bytes)
{
    static std::map<std::size_t, double> measured;
    auto it = measured.find(bytes);
    if (it != measured.end())
        return it->second;
    double best = 1e30;
    for (int k = 0; k < 4; ++k) {
        const double t0 = cpuSeconds();
        void* p = std::malloc(bytes);
        const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
        const auto begin = (reinterpret_cast<std::uintptr_t>(p) + page - 1) & ~(page - 1);
        const auto end = (reinterpret_cast<std::uintptr_t>(p) + bytes) & ~(page - 1);
        if (p && end > begin) {
            madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
            madvise(reinterpret_cast<void*>(begin), end - begin, 23 /* MADV_POPULATE_WRITE */);
        }
        benchmark::DoNotOptimize(p);
        std::free(p);
        if (k > 0)
            best = std::min(best, cpuSeconds() - t0);
    }
    return measured[bytes] = best;
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

// Seconds of the best call of each measured conversion, by (input, output, scaled,
// kind) with kind 0 "into", 1 "api", 2 the reference loop; read back for the
// comparison rows. memcpy's figure is its best call too: on a shared machine the
// best is the least disturbed.
std::map<std::vector<int>, double>& measured()
{
    static std::map<std::vector<int>, double> m;
    return m;
}

// The reference: the conversion rule written as the plain loop a caller would write,
// left to the compiler's vectoriser (this file is built with -O3).
template <class In, class Out>
void referenceLoop(const void* src, void* dst, std::size_t n, double scale, double offset)
{
    const In* in = static_cast<const In*>(src);
    Out* out = static_cast<Out*>(dst);
    for (std::size_t i = 0; i < n; ++i) {
        double v = static_cast<double>(in[i]) * scale + offset;
        if constexpr (std::is_integral_v<Out>) {
            constexpr double lo = static_cast<double>(std::numeric_limits<Out>::min());
            constexpr double hi = static_cast<double>(std::numeric_limits<Out>::max());
            v = v > lo ? v : lo;
            v = v < hi ? v : hi;
        }
        out[i] = static_cast<Out>(v);
    }
}

using LoopFn = void (*)(const void*, void*, std::size_t, double, double);

template <class In> LoopFn referenceFor(int out)
{
    switch (out) {
    case TYPEDATA_U8:
        return &referenceLoop<In, std::uint8_t>;
    case TYPEDATA_S16:
        return &referenceLoop<In, std::int16_t>;
    case TYPEDATA_S32:
        return &referenceLoop<In, std::int32_t>;
    case TYPEDATA_F32:
        return &referenceLoop<In, float>;
    default:
        return &referenceLoop<In, double>;
    }
}

LoopFn reference(int in, int out)
{
    switch (in) {
    case TYPEDATA_U8:
        return referenceFor<std::uint8_t>(out);
    case TYPEDATA_S16:
        return referenceFor<std::int16_t>(out);
    case TYPEDATA_S32:
        return referenceFor<std::int32_t>(out);
    case TYPEDATA_F32:
        return referenceFor<float>(out);
    default:
        return referenceFor<double>(out);
    }
}

void BM_reference(benchmark::State& state)
{
    const int in = static_cast<int>(state.range(0));
    const int out = static_cast<int>(state.range(1));
    const bool scaled = state.range(2) != 0;
    const LoopFn loop = reference(in, out);
    const unsigned char* src = input(in);
    unsigned char* dst = scratch();
    const std::size_t moved = kCount * (vexaTypeSize(in) + vexaTypeSize(out));
    state.SetLabel(std::string(typeName(in)) + "->" + typeName(out) + (scaled ? " scaled" : " 1/0")
        + " reference loop");
    double seconds = 0, best = 1e30;
    for (auto _ : state) {
        const double t0 = cpuSeconds();
        loop(src, dst, kCount, scaled ? 0.731 : 1.0, scaled ? 12.5 : 0.0);
        benchmark::ClobberMemory();
        const double call = cpuSeconds() - t0;
        seconds += call;
        best = std::min(best, call);
    }
    measured()[{ in, out, int(scaled), 2 }] = best;
    setMemcpyCounters(state, moved, seconds);
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
    // The first fresh block of this size in the process is also backed by the
    // hypervisor, at many times the kernel's cost; a session converting volumes
    // pays that once, so it is kept out of the figure.
    if (api)
        std::free(vexaMemConvert(src, static_cast<int>(kCount), scale, offset, in, out));
    double seconds = 0, best = 1e30;
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
        const double call = cpuSeconds() - t0;
        seconds += call;
        best = std::min(best, call);
    }
    measured()[{ in, out, int(scaled), int(api) }] = best;
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
    for (int scaled : { 0, 1 })
        for (int in : types)
            for (int out : types)
                benchmark::RegisterBenchmark("convert_reference", BM_reference)
                    ->Args({ in, out, scaled })
                    ->Unit(benchmark::kMillisecond)
                    ->MinTime(0.3);
}

// Rows of the comparison table (bench/compare.sh), appended to path: each loop
// into an existing buffer against memcpy of the same bytes moved (outputs no wider
// than their input) or the reference loop (wider outputs), and the allocating entry
// point against the loop into an existing buffer (target: 80 % of its speed) and,
// for information, against that loop plus the kernel's zeroing of a fresh block.
void writeRows(const char* path)
{
    FILE* rows = std::fopen(path, "a");
    if (!rows)
        return;
    auto& m = measured();
    auto ms = [&](int in, int out, int scaled, int kind) {
        auto it = m.find({ in, out, scaled, kind });
        return it == m.end() ? -1.0 : it->second * 1e3;
    };
    const int types[] = { TYPEDATA_U8, TYPEDATA_S16, TYPEDATA_S32, TYPEDATA_F32, TYPEDATA_F64 };
    for (int scaled : { 0, 1 })
        for (int in : types)
            for (int out : types) {
                const std::string what = std::string("convert ") + typeName(in) + "->"
                    + typeName(out) + (scaled ? " scaled" : "");
                const double into = ms(in, out, scaled, 0), api = ms(in, out, scaled, 1);
                const double ref = ms(in, out, scaled, 2);
                const std::size_t moved = kCount * (vexaTypeSize(in) + vexaTypeSize(out));
                const double copy = memcpySecondsPerByte(moved / 2) * double(moved / 2) * 1e3;
                if (into > 0 && ref > 0)
                    std::fprintf(rows, "%s into\t%.3f\tvector loop\t%.3f\t%s\n", what.c_str(), into,
                        ref, vexaTypeSize(out) > vexaTypeSize(in) ? "1.00" : "-");
                if (into > 0)
                    std::fprintf(rows, "%s into\t%.3f\tmemcpy\t%.3f\t%s\n", what.c_str(), into,
                        copy, vexaTypeSize(out) > vexaTypeSize(in) ? "-" : "1.00");
                if (api > 0 && into > 0) {
                    std::fprintf(rows, "%s api\t%.3f\tinto\t%.3f\t1.25\n", what.c_str(), api, into);
                    const double fresh
                        = freshPagesSeconds(kCount * static_cast<std::size_t>(vexaTypeSize(out)));
                    std::fprintf(rows, "%s api\t%.3f\tinto + fresh pages\t%.3f\t-\n", what.c_str(),
                        api, into + fresh * 1e3);
                }
            }
    std::fclose(rows);
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
    if (const char* rows = std::getenv("VEXA_COMPARE_ROWS"))
        writeRows(rows);
    benchmark::Shutdown();
    return 0;
}
