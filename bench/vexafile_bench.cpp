// Reading planes and boxes from image files, page cache warm, against references on
// the same samples: one read of a contiguous run of the same byte count, and a
// gather through a mapping of the file, fresh per call or kept across calls.
//
// Files (created once in $TMPDIR, deleted at the end): 512^3 U8, 1024^3 U8
// (left out with VEXAFILE_BENCH_SMALL) and 512^3 F32, each plain and tiled. Ratios
// are printed after the runs:
//   FRONT plane / contiguous read           (target <= 1.5; tiled <= 2)
//   TOP and RIGHT sections / kept mapping   (target <= 1.5)
//   TOP and RIGHT sections / fresh mapping  (target <= 2)
//   256^3 box tiled / plain                 (target <= 1)
#include "vexafile.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

struct Volume {
    std::string name;
    int side[3];
    int type;
    bool tiled;
    std::string path;
    FileDescriptor* desc = nullptr;
};

std::string tempDir()
{
    const char* d = std::getenv("TMPDIR");
    return d && *d ? d : "/tmp";
}

std::vector<Volume>& volumes()
{
    static std::vector<Volume> v;
    return v;
}

// Writes the volume through the library itself, plane by plane, so that the tiled
// copy holds the same samples as the plain one.
void create(Volume& v)
{
    v.path = tempDir() + "/vexafile_bench_" + v.name + "_" + std::to_string(getpid());
    int fd = ::open(v.path.c_str(), O_CREAT | O_TRUNC | O_RDWR, 0644);
    ::close(fd);
    v.desc = vexaFileNew();
    vexaFileSetFullName(v.desc, v.path.c_str());
    vexaFileSetSizes(v.desc, v.side[0], v.side[1], v.side[2]);
    vexaFileSetTypeData(v.desc, v.type);
    vexaFileSetEndian(v.desc, 0);
    if (v.tiled)
        vexaFileSetTiled(v.desc, 1);
    const size_t es = size_t(vexaTypeSize(v.type));
    const int chunk = 32; // planes per write: whole layers of tiles
    std::vector<unsigned char> planes(size_t(v.side[0]) * v.side[1] * chunk * es);
    for (int z = 0; z < v.side[2]; z += chunk) {
        for (size_t i = 0; i < planes.size(); ++i)
            planes[i] = (unsigned char)(i * 31 + size_t(z) * 7);
        vexaFileWriteBlockPart(v.desc, planes.data(), 0, 0, 0, z, v.side[0], v.side[1], chunk);
    }
}

int64_t fileBytes(const Volume& v)
{
    return int64_t(v.side[0]) * v.side[1] * v.side[2] * vexaTypeSize(v.type);
}

void warm(const Volume& v)
{
    std::vector<unsigned char> buf(size_t(8) << 20);
    int fd = ::open(v.path.c_str(), O_RDONLY);
    while (::read(fd, buf.data(), buf.size()) > 0) { }
    ::close(fd);
}

enum Plane { Front = 0, Right = 1, Top = 2 };

void readPlane(benchmark::State& state, Volume* v, int orientation)
{
    int mid = v->side[orientation == 0 ? 2 : (orientation == 1 ? 0 : 1)] / 2;
    int64_t bytes = 0;
    // Warm, as the references are: the first read of a file maps it and faults its
    // pages in; the sections a user browses come after.
    vexaFileFree(vexaFileReadImage(v->desc, orientation, mid));
    for (auto _ : state) {
        void* p = vexaFileReadImage(v->desc, orientation, mid);
        benchmark::DoNotOptimize(p);
        vexaFileFree(p);
    }
    int u = orientation == 1 ? v->side[2] : v->side[0];
    int h = orientation == 2 ? v->side[2] : v->side[1];
    bytes = int64_t(u) * h * vexaTypeSize(v->type);
    state.SetBytesProcessed(state.iterations() * bytes);
}

void readBox(benchmark::State& state, Volume* v)
{
    int s = v->side[0] / 4;
    for (auto _ : state) {
        void* p = vexaFileReadBlockPart(v->desc, 0, s, s, s, 256, 256, 256);
        benchmark::DoNotOptimize(p);
        vexaFileFree(p);
    }
    state.SetBytesProcessed(state.iterations() * 256 * 256 * 256 * vexaTypeSize(v->type));
}

// One read of a contiguous run of the byte count of a plane of the orientation.
void contiguous(benchmark::State& state, Volume* v, int orientation)
{
    int u = orientation == 1 ? v->side[2] : v->side[0];
    int h = orientation == 2 ? v->side[2] : v->side[1];
    size_t bytes = size_t(u) * h * size_t(vexaTypeSize(v->type));
    int fd = ::open(v->path.c_str(), O_RDONLY);
    for (auto _ : state) {
        void* p = std::calloc(bytes, 1);
        benchmark::DoNotOptimize(::pread(fd, p, bytes, off_t(fileBytes(*v) / 2)));
        std::free(p);
    }
    ::close(fd);
    state.SetBytesProcessed(state.iterations() * int64_t(bytes));
}

// The samples of the plane picked out of a mapping of the file: fresh per call (what
// a reader built on mmap would pay) or kept across calls (the speed a section reader
// that keeps its mapping can reach, page tables warm).
void gatherPlane(const unsigned char* m, const Volume& v, int orientation, unsigned char* out)
{
    const int X = v.side[0], Y = v.side[1], Z = v.side[2];
    const size_t es = size_t(vexaTypeSize(v.type));
    if (orientation == 1) {
        const size_t x = size_t(X / 2);
        for (int y = 0; y < Y; ++y)
            for (int z = 0; z < Z; ++z)
                std::memcpy(
                    out + (size_t(y) * Z + z) * es, m + ((size_t(z) * Y + y) * X + x) * es, es);
    } else if (orientation == 2) {
        const size_t y = size_t(Y / 2);
        size_t k = 0;
        for (int z = Z - 1; z >= 0; --z, ++k)
            std::memcpy(out + k * X * es, m + ((size_t(z) * Y + y) * X) * es, X * es);
    } else {
        std::memcpy(out, m + size_t(Z / 2) * X * Y * es, size_t(X) * Y * es);
    }
}

void mappedGather(benchmark::State& state, Volume* v, int orientation, bool keep)
{
    const size_t es = size_t(vexaTypeSize(v->type));
    int fd = ::open(v->path.c_str(), O_RDONLY);
    const size_t len = size_t(fileBytes(*v));
    int u = orientation == 1 ? v->side[2] : v->side[0];
    int h = orientation == 2 ? v->side[2] : v->side[1];
    const unsigned char* kept = nullptr;
    if (keep) {
        kept
            = static_cast<const unsigned char*>(::mmap(nullptr, len, PROT_READ, MAP_SHARED, fd, 0));
        std::vector<unsigned char> warmup(size_t(u) * h * es);
        gatherPlane(kept, *v, orientation, warmup.data());
    }
    for (auto _ : state) {
        auto* out = static_cast<unsigned char*>(std::calloc(size_t(u) * h, es));
        const unsigned char* m = kept;
        if (!keep)
            m = static_cast<const unsigned char*>(
                ::mmap(nullptr, len, PROT_READ, MAP_SHARED, fd, 0));
        gatherPlane(m, *v, orientation, out);
        benchmark::DoNotOptimize(out);
        if (!keep)
            ::munmap(const_cast<unsigned char*>(m), len);
        std::free(out);
    }
    if (kept)
        ::munmap(const_cast<unsigned char*>(kept), len);
    ::close(fd);
    state.SetBytesProcessed(state.iterations() * int64_t(u) * h * int64_t(es));
}

class Recorder : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> milliseconds;
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration)
                // CPU time (the kernel's copies and page faults included): on a shared
                // machine, wall time mostly measures the wait for a core.
                milliseconds[r.benchmark_name()] = r.GetAdjustedCPUTime(); // ms, the unit
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char** argv)
{
    auto& vols = volumes();
    // VEXAFILE_BENCH_SMALL leaves the 1024^3 files out (4 GiB of disk and page cache).
    const bool small = std::getenv("VEXAFILE_BENCH_SMALL") != nullptr;
    vols.push_back({ "u8_512_plain", { 512, 512, 512 }, TYPEDATA_U8, false, "", nullptr });
    vols.push_back({ "u8_512_tiled", { 512, 512, 512 }, TYPEDATA_U8, true, "", nullptr });
    if (!small) {
        vols.push_back({ "u8_1024_plain", { 1024, 1024, 1024 }, TYPEDATA_U8, false, "", nullptr });
        vols.push_back({ "u8_1024_tiled", { 1024, 1024, 1024 }, TYPEDATA_U8, true, "", nullptr });
    }
    if (!std::getenv("VEXA_COMPARE_ROWS")) {
        vols.push_back({ "f32_512_plain", { 512, 512, 512 }, TYPEDATA_F32, false, "", nullptr });
        vols.push_back({ "f32_512_tiled", { 512, 512, 512 }, TYPEDATA_F32, true, "", nullptr });
    }
    for (Volume& v : vols) {
        create(v);
        warm(v);
    }
    const char* planeNames[] = { "front", "right", "top" };
    for (Volume& v : vols) {
        for (int o = 0; o < 3; ++o) {
            benchmark::RegisterBenchmark((v.name + "/" + planeNames[o]).c_str(), readPlane, &v, o)
                ->Unit(benchmark::kMillisecond);
            if (!v.tiled) {
                benchmark::RegisterBenchmark(
                    (v.name + "/" + planeNames[o] + "_pread").c_str(), contiguous, &v, o)
                    ->Unit(benchmark::kMillisecond);
                benchmark::RegisterBenchmark(
                    (v.name + "/" + planeNames[o] + "_mmap").c_str(), mappedGather, &v, o, false)
                    ->Unit(benchmark::kMillisecond);
                benchmark::RegisterBenchmark(
                    (v.name + "/" + planeNames[o] + "_kept").c_str(), mappedGather, &v, o, true)
                    ->Unit(benchmark::kMillisecond);
            }
        }
        benchmark::RegisterBenchmark((v.name + "/box256").c_str(), readBox, &v)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    Recorder rec;
    benchmark::RunSpecifiedBenchmarks(&rec);

    auto t = [&](const std::string& n) {
        auto it = rec.milliseconds.find(n);
        return it == rec.milliseconds.end() ? -1.0 : it->second;
    };
    // Ratios to the references of the same run; with VEXA_COMPARE_ROWS set, also
    // appended to that file as rows of the comparison table (bench/compare.sh).
    const char* rowsPath = std::getenv("VEXA_COMPARE_ROWS");
    FILE* rows = rowsPath ? std::fopen(rowsPath, "a") : nullptr;
    std::printf("\nRatios (lower is better)\n");
    auto row = [&](const std::string& what, double ours, const char* refName, double ref,
                   double target) {
        if (ours <= 0 || ref <= 0)
            return;
        std::printf("%-36s %8.3f ms / %-10s %8.3f ms = %5.2f", what.c_str(), ours, refName, ref,
            ours / ref);
        std::printf(target > 0 ? " (target %.1f)\n" : "\n", target);
        char targetText[16] = "-";
        if (target > 0)
            std::snprintf(targetText, sizeof targetText, "%.2f", target);
        if (rows)
            std::fprintf(
                rows, "%s\t%.4f\t%s\t%.4f\t%s\n", what.c_str(), ours, refName, ref, targetText);
    };
    for (Volume& v : vols) {
        std::string plain = v.name;
        if (v.tiled)
            plain.replace(plain.rfind("tiled"), 5, "plain");
        const std::string label = "file " + v.name + " ";
        row(label + "FRONT", t(v.name + "/front"), "pread", t(plain + "/front_pread"),
            v.tiled ? 2.0 : 1.5);
        for (int o : { 1, 2 }) {
            const std::string n = planeNames[o];
            const char* upper = o == 1 ? "RIGHT" : "TOP";
            // The targets hold for plain files; a tiled file's sections are shown for
            // comparison.
            row(label + upper, t(v.name + "/" + n), "kept mmap", t(plain + "/" + n + "_kept"),
                v.tiled ? 0.0 : 1.5);
            row(label + upper + " (fresh mmap)", t(v.name + "/" + n), "fresh mmap",
                t(plain + "/" + n + "_mmap"), v.tiled ? 0.0 : 2.0);
        }
        if (v.tiled)
            row(label + "box 256^3", t(v.name + "/box256"), "plain file", t(plain + "/box256"),
                1.0);
    }
    if (rows)
        std::fclose(rows);
    for (Volume& v : vols) {
        vexaFileRelease(v.desc);
        std::remove(v.path.c_str());
    }
    benchmark::Shutdown();
    return 0;
}
