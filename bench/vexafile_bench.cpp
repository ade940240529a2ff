// Reading planes and boxes from image files, page cache warm, against two references
// on the same samples: one read of a contiguous run of the same byte count, and a
// gather through a fresh mapping of the file.
//
// Files (created once in $TMPDIR, deleted at the end): 512^3 U8, 1024^3 U8 and 512^3
// F32, each plain and tiled. Ratios are printed after the runs:
//   FRONT plane / contiguous read        (target <= 1.5)
//   TOP and RIGHT sections / mapped gather (target <= 2)
//   256^3 box tiled / plain               (target <= 1)
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

// A fresh mapping of the file, the samples of the plane picked out, the mapping
// released: what a reader built on mmap would pay per call.
void mappedGather(benchmark::State& state, Volume* v, int orientation)
{
    const int X = v->side[0], Y = v->side[1], Z = v->side[2];
    const size_t es = size_t(vexaTypeSize(v->type));
    int fd = ::open(v->path.c_str(), O_RDONLY);
    const size_t len = size_t(fileBytes(*v));
    int u = orientation == 1 ? Z : X;
    int h = orientation == 2 ? Z : Y;
    for (auto _ : state) {
        auto* out = static_cast<unsigned char*>(std::calloc(size_t(u) * h, es));
        auto* m
            = static_cast<const unsigned char*>(::mmap(nullptr, len, PROT_READ, MAP_SHARED, fd, 0));
        size_t k = 0;
        if (orientation == 1) {
            const size_t x = size_t(X / 2);
            for (int y = 0; y < Y; ++y)
                for (int z = 0; z < Z; ++z)
                    std::memcpy(
                        out + (size_t(y) * Z + z) * es, m + ((size_t(z) * Y + y) * X + x) * es, es);
        } else if (orientation == 2) {
            const size_t y = size_t(Y / 2);
            for (int z = Z - 1; z >= 0; --z, ++k)
                std::memcpy(out + k * X * es, m + ((size_t(z) * Y + y) * X) * es, X * es);
        } else {
            std::memcpy(out, m + size_t(Z / 2) * X * Y * es, size_t(X) * Y * es);
        }
        benchmark::DoNotOptimize(out);
        ::munmap(const_cast<unsigned char*>(m), len);
        std::free(out);
    }
    ::close(fd);
    state.SetBytesProcessed(state.iterations() * int64_t(u) * h * int64_t(es));
}

class Recorder : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> seconds;
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration)
                seconds[r.benchmark_name()] = r.GetAdjustedRealTime() / 1e3; // ms
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char** argv)
{
    auto& vols = volumes();
    bool small = std::getenv("VEXAFILE_BENCH_SMALL") != nullptr;
    int big = small ? 512 : 1024;
    vols.push_back({ "u8_512_plain", { 512, 512, 512 }, TYPEDATA_U8, false, "", nullptr });
    vols.push_back({ "u8_512_tiled", { 512, 512, 512 }, TYPEDATA_U8, true, "", nullptr });
    vols.push_back({ "u8_" + std::to_string(big) + "_plain", { big, big, big }, TYPEDATA_U8, false,
        "", nullptr });
    vols.push_back({ "u8_" + std::to_string(big) + "_tiled", { big, big, big }, TYPEDATA_U8, true,
        "", nullptr });
    vols.push_back({ "f32_512_plain", { 512, 512, 512 }, TYPEDATA_F32, false, "", nullptr });
    vols.push_back({ "f32_512_tiled", { 512, 512, 512 }, TYPEDATA_F32, true, "", nullptr });
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
                    (v.name + "/" + planeNames[o] + "_mmap").c_str(), mappedGather, &v, o)
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
        auto it = rec.seconds.find(n);
        return it == rec.seconds.end() ? -1.0 : it->second;
    };
    std::printf("\nRatios (lower is better)\n");
    for (Volume& v : vols) {
        std::string plain = v.name;
        if (v.tiled)
            plain.replace(plain.rfind("tiled"), 5, "plain");
        double front = t(v.name + "/front"), pread = t(plain + "/front_pread");
        if (front > 0 && pread > 0)
            std::printf("%-16s FRONT / contiguous read   %.2f (target 1.5)\n", v.name.c_str(),
                front / pread);
        for (int o : { 1, 2 }) {
            double a = t(v.name + "/" + planeNames[o]),
                   m = t(plain + "/" + planeNames[o] + "_mmap");
            if (a > 0 && m > 0)
                std::printf("%-16s %-5s / mapped gather     %.2f (target 2)\n", v.name.c_str(),
                    o == 1 ? "RIGHT" : "TOP", a / m);
        }
        if (v.tiled) {
            double bt = t(v.name + "/box256"), bp = t(plain + "/box256");
            if (bt > 0 && bp > 0)
                std::printf(
                    "%-16s box 256^3 tiled / plain   %.2f (target 1)\n", v.name.c_str(), bt / bp);
        }
    }
    for (Volume& v : vols) {
        vexaFileRelease(v.desc);
        std::remove(v.path.c_str());
    }
    benchmark::Shutdown();
    return 0;
}
