// A file block larger than what the process may hold: an N x N x N U8 file (2048 by
// default, 8 GiB) opened as a file block, its three middle sections read, its
// companions built, then 100 section changes browsed. Reports times, throughput and
// the peak resident memory after every step; the target is under 1 GiB throughout.
//
//   bigblock_bench [N] [--transpose] [--keep-cache]
//
// The files go to a fresh folder under $TMPDIR (or /tmp) and are removed at exit.
// Unless --keep-cache, the files are dropped from the page cache before the first
// sections and before a second, cold browse, so disk reads are measured too.
// A scenario of dependent steps measured once each, so a plain program rather than
// repeated benchmark loops.
#include "data/block.h"
#include "data/companions.h"
#include "data/section.h"
#include "vexafile.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

using namespace vexa;
using Clock = std::chrono::steady_clock;

namespace {

std::string gFolder;

void removeFolder()
{
    if (!gFolder.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(gFolder, ec);
        gFolder.clear();
    }
}

void onSignal(int sig)
{
    removeFolder();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

double seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

long vmHwmKiB()
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

void reportMemory(const char* step)
{
    rusage ru {};
    getrusage(RUSAGE_SELF, &ru);
    std::printf("  %-28s peak RSS: ru_maxrss %.1f MiB, VmHWM %.1f MiB\n", step,
        double(ru.ru_maxrss) / 1024, double(vmHwmKiB()) / 1024);
}

// Drops the file's pages from the page cache, so that the next reads come from disk.
void dropCache(const std::string& path)
{
    int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return;
    ::fdatasync(fd);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
}

bool createCube(const std::string& path, int n, bool transpose)
{
    FileDescriptor* d = vexaFileNew();
    vexaFileSetFullName(d, path.c_str());
    vexaFileSetSizes(d, n, n, n);
    vexaFileSetTranspose(d, transpose ? 1 : 0);
    vexaFileSetTypeData(d, TYPEDATA_U8);
    vexaFileSetNbBits(d, 8);
    vexaFileSetHeader(d, VEXAFILE_HEADER_GDR);
    bool ok = vexaFileWriteHeader(d) != 0;
    std::vector<unsigned char> plane(std::size_t(n) * n);
    for (int z = 0; ok && z < n; ++z) {
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x)
                plane[std::size_t(y) * n + x] = static_cast<unsigned char>(x + 2 * y + 3 * z);
        ok = vexaFileWriteImage(d, plane.data(), VEXAFILE_FRONT, z) != 0;
    }
    vexaFileRelease(d);
    return ok;
}

bool readWhole(const BlockDescriptor& b, int plane, int index)
{
    int w = 0, h = 0;
    sectionSize(b, plane, w, h);
    void* s = readSection(b, false, -1, plane, index, 0, 0, w - 1, h - 1);
    std::free(s);
    return s != nullptr;
}

// 100 section changes, FRONT, RIGHT and TOP in turn, each at a new index.
double browse(const BlockDescriptor& b, int n)
{
    const auto start = Clock::now();
    for (int i = 0; i < 100; ++i) {
        const int plane = i % 3;
        const int index = int((std::int64_t(i) * 613 + 97) % n);
        if (!readWhole(b, plane, index)) {
            std::fprintf(stderr, "section read failed\n");
            return 0;
        }
    }
    return 100 / seconds(start);
}

void printLoad()
{
    std::ifstream in("/proc/loadavg");
    std::string text;
    std::getline(in, text);
    std::printf("  load average: %s\n", text.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    int n = 2048;
    bool transpose = false, keepCache = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--transpose") == 0)
            transpose = true;
        else if (std::strcmp(argv[i], "--keep-cache") == 0)
            keepCache = true;
        else
            n = std::atoi(argv[i]);
    }
    if (n < 2 || n > 4096) {
        std::fprintf(stderr, "usage: %s [N (2..4096)] [--transpose] [--keep-cache]\n", argv[0]);
        return 2;
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/bigblock-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!::mkdtemp(name.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    gFolder = name.data();
    std::atexit(removeFolder);
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    const std::string path = gFolder + "/cube_xy.gdr";
    const double gib = double(n) * n * n / double(1 << 30);
    std::printf("bigblock: %d^3 U8 (%.2f GiB)%s in %s\n", n, gib, transpose ? ", transposed" : "",
        gFolder.c_str());
    printLoad();

    auto t = Clock::now();
    if (!createCube(path, n, transpose)) {
        std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), vexaFileGetLastError());
        return 1;
    }
    std::printf("1 file written                %8.2f s\n", seconds(t));
    if (!keepCache)
        dropCache(path);
    reportMemory("after writing");

    t = Clock::now();
    std::string reason;
    std::unique_ptr<BlockDescriptor> block = blockOpenFile(path, &reason);
    if (!block) {
        std::fprintf(stderr, "cannot open: %s\n", reason.c_str());
        return 1;
    }
    const int mid = n / 2;
    for (int plane : { PLANE_FRONT, PLANE_TOP, PLANE_RIGHT }) {
        const auto s = Clock::now();
        if (!readWhole(*block, plane, mid))
            return 1;
        static const char* const names[] = { "FRONT", "RIGHT", "TOP" };
        std::printf("2 %-5s %5d (no companions) %8.3f s\n", names[plane], mid, seconds(s));
    }
    std::printf("  three middle sections        %8.3f s\n", seconds(t));
    reportMemory("after first sections");

    t = Clock::now();
    CompanionHooks hooks;
    int lastTenth = -1;
    hooks.progress = [&](int done, int total) {
        const int tenth = done * 10 / total;
        if (tenth != lastTenth) {
            lastTenth = tenth;
            std::printf("    companions %3d%%  %.1f s\n", tenth * 10, seconds(t));
            std::fflush(stdout);
        }
    };
    if (buildCompanions(*block, hooks, &reason) != CompanionBuild::Done) {
        std::fprintf(stderr, "companions failed: %s\n", reason.c_str());
        return 1;
    }
    const double build = seconds(t);
    const double mib = gib * 1024;
    std::printf(
        "3 companions built            %8.2f s  (%.0f MiB/s of block, %.0f MiB/s read+written)\n",
        build, mib / build, 3 * mib / build);
    reportMemory("after companions");

    std::printf("4 browse, page cache warm     %8.1f changes/s\n", browse(*block, n));
    if (!keepCache)
        for (const std::string& f : { path, gFolder + "/cube_xz.gdr", gFolder + "/cube_yz.gdr" })
            dropCache(f);
    std::printf("  browse, files cold          %8.1f changes/s\n", browse(*block, n));
    reportMemory("after browsing");
    printLoad();
    block.reset();
    removeFolder();
    return 0;
}
