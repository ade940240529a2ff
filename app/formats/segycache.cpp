#include "formats/segycache.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

#include "atomicsave.hpp"
#include "config/config.h"
#include "vexa_reason.hpp"
#include "vexa_types.h"
#include "vexafile.h"

namespace vexa {

namespace {

namespace fs = std::filesystem;

std::atomic<void (*)(std::int32_t, std::int32_t)> gRange { nullptr };
std::atomic<bool (*)(std::int32_t)> gProceed { nullptr };

struct DescriptorReleaser {
    void operator()(FileDescriptor* desc) const { vexaFileRelease(desc); }
};
using Descriptor = std::unique_ptr<FileDescriptor, DescriptorReleaser>;

// Conversions run a few MiB of planes at a time whatever the cube's size, which
// also keeps the checks for a stop frequent.
constexpr std::size_t kChunkBytes = std::size_t(16) << 20;

// FNV-1a of the file's absolute name: stable from run to run.
std::uint64_t nameHash(const std::string& path)
{
    std::error_code ec;
    fs::path absolute = fs::absolute(path, ec);
    const std::string name = ec ? path : absolute.lexically_normal().string();
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : name) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

// "segy-<name hash>-": what every conversion of the file at one place shares, so that
// a file replaced by a new one (new inode) still has its old conversion removed.
std::string identityPrefix(const std::string& path)
{
    char text[32];
    std::snprintf(
        text, sizeof text, "segy-%016llx-", static_cast<unsigned long long>(nameHash(path)));
    return text;
}

// The name ends in "xy" so that companions (xz, yz) may sit beside it.
std::string cacheName(const std::string& path, const struct stat& st)
{
    return identityPrefix(path) + std::to_string(std::uint64_t(st.st_dev)) + "-"
        + std::to_string(std::uint64_t(st.st_ino)) + "-" + std::to_string(std::int64_t(st.st_size))
        + "-" + std::to_string(std::int64_t(st.st_mtim.tv_sec)) + "."
        + std::to_string(std::int64_t(st.st_mtim.tv_nsec)) + "-xy.gdr";
}

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size
        && a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// A finished conversion carries the SEG-Y file's modification time: a cache file
// written since (a section saved into the block) no longer stands for the SEG-Y.
bool usableCache(const std::string& cachePath, const FormatHeader& header, const struct stat& segy)
{
    struct stat st { };
    if (::stat(cachePath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)
        || st.st_mtim.tv_sec != segy.st_mtim.tv_sec || st.st_mtim.tv_nsec != segy.st_mtim.tv_nsec)
        return false;
    Descriptor desc(vexaFileNameOpen(cachePath.c_str()));
    if (!desc || !vexaFileReadHeader(desc.get()))
        return false;
    int width = 0, height = 0, depth = 0;
    vexaFileGetSizes(desc.get(), &width, &height, &depth);
    const std::uint64_t samples
        = std::uint64_t(header.width) * std::uint64_t(header.height) * std::uint64_t(header.depth);
    return width == header.width && height == header.height && depth == header.depth
        && vexaFileGetTypeData(desc.get()) == TYPEDATA_F32 && vexaFileGetTiled(desc.get()) == 0
        && vexaFileGetTranspose(desc.get()) == 0
        && std::uint64_t(st.st_size)
        == std::uint64_t(vexaFileGetOffsetData(desc.get())) + samples * sizeof(float);
}

// Conversions of earlier versions of the same file are of no more use.
void removeOlderConversions(const std::string& directory, const std::string& prefix,
    const std::string& keep, bool (*inUse)(const std::string&))
{
    std::error_code ec;
    std::vector<fs::path> old;
    for (fs::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind(prefix, 0) == 0 && name != keep && name.find(".tmp") == std::string::npos)
            old.push_back(it->path());
    }
    // One still open as a block keeps serving it: it goes at a later conversion.
    for (const fs::path& p : old)
        if (!inUse || !inUse(p.string()))
            fs::remove(p, ec);
}

void progressRange(std::int32_t first, std::int32_t last)
{
    if (auto range = gRange.load())
        range(first, last);
}

bool progressProceed(std::int32_t position)
{
    auto proceed = gProceed.load();
    return !proceed || proceed(position);
}

} // namespace

void setFormatProgress(FormatProgress progress)
{
    gRange.store(progress.range);
    gProceed.store(progress.proceed);
}

bool keepVolumeInFile(std::uint64_t bytes, std::uint64_t available)
{
    return double(bytes) > config::fileBlockShare() * double(available);
}

std::string vexaCacheDirectory()
{
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg == '/')
        return (fs::path(xdg) / "vexa").string();
    if (const char* home = std::getenv("HOME"); home && *home == '/')
        return (fs::path(home) / ".cache" / "vexa").string();
    return {};
}

SegyCacheOutcome segyCacheFile(const std::string& path, const FormatHeader& header,
    std::string& cachePath, std::string* reason, bool (*inUse)(const std::string&))
{
    auto fail = [&](const std::string& why) {
        setReason(reason, fileReason(path, why));
        return SegyCacheOutcome::Failed;
    };
    if (header.typeData != TYPEDATA_F32 || header.width < 1 || header.height < 1
        || header.depth < 1)
        return fail("en-tête SEG-Y non lu avant la conversion");
    struct stat before { };
    if (::stat(path.c_str(), &before) != 0)
        return fail(withCause("ouverture impossible", errno));
    const std::string directory = vexaCacheDirectory();
    if (directory.empty())
        return fail("aucun dossier de cache (ni XDG_CACHE_HOME ni HOME)");
    std::error_code ec;
    fs::create_directories(directory, ec);
    if (ec)
        return fail(withCause("dossier de cache " + directory + " impossible à créer", ec.value()));
    const std::string name = cacheName(path, before);
    const std::string target = (fs::path(directory) / name).string();
    if (usableCache(target, header, before)) {
        cachePath = target;
        return SegyCacheOutcome::Ready;
    }
    // Written into since, by a block still open: converting again would change the
    // samples under that block.
    if (inUse && inUse(target))
        return fail("sa conversion " + target
            + " est ouverte et a été modifiée ; fermez la donnée qui l'utilise avant de rouvrir "
              "le fichier");

    atomicsave::AtomicFile out;
    if (!out.open(target))
        return fail(withCause("conversion impossible à écrire dans " + target, out.error()));
    Descriptor desc(vexaFileNew());
    if (!desc)
        return fail("Mémoire insuffisante");
    vexaFileSetFullName(desc.get(), out.tempPath().c_str());
    vexaFileSetSizes(desc.get(), header.width, header.height, header.depth);
    vexaFileSetTypeData(desc.get(), TYPEDATA_F32);
    vexaFileSetNbBits(desc.get(), vexaTypeBits(TYPEDATA_F32));
    vexaFileSetSign(desc.get(), vexaTypeSign(TYPEDATA_F32));
    vexaFileSetHeader(desc.get(), VEXAFILE_HEADER_GDR);
    if (!vexaFileWriteHeader(desc.get()))
        return fail("conversion impossible à écrire dans " + target);
    const std::size_t planeFloats = std::size_t(header.width) * std::size_t(header.height);
    const off_t total = off_t(vexaFileGetOffsetData(desc.get()))
        + off_t(planeFloats) * off_t(header.depth) * off_t(sizeof(float));
    // A full disk fails here, before minutes of conversion.
    if (int err = ::posix_fallocate(out.fd(), 0, total))
        return fail(withCause("place insuffisante pour la conversion dans " + directory, err));

    const int chunk = int(std::clamp<std::size_t>(
        kChunkBytes / (planeFloats * sizeof(float)), 1, std::size_t(header.depth)));
    std::vector<float> planes;
    try {
        planes.resize(planeFloats * std::size_t(chunk));
    } catch (const std::bad_alloc&) {
        return fail("Mémoire insuffisante");
    }
    progressRange(0, header.depth);
    for (int z = 0; z < header.depth; z += chunk) {
        if (!progressProceed(z)) {
            out.discard();
            return SegyCacheOutcome::Stopped;
        }
        const int count = std::min(chunk, header.depth - z);
        if (!segyReadPlanes(path, header, z, count, planes.data(), reason)) {
            out.discard();
            return SegyCacheOutcome::Failed;
        }
        if (!vexaFileWriteBlockPart(desc.get(), planes.data(), VEXAFILE_FRONT, 0, 0, z,
                header.width, header.height, count))
            return fail("conversion impossible à écrire dans " + target);
    }
    if (!progressProceed(header.depth)) {
        out.discard();
        return SegyCacheOutcome::Stopped;
    }
    struct stat after { };
    if (::stat(path.c_str(), &after) != 0 || !sameFile(before, after))
        return fail("le fichier a changé pendant sa conversion");
    if (!out.commit())
        return fail(withCause("conversion impossible à écrire dans " + target, out.error()));
    const struct timespec times[2] = { before.st_mtim, before.st_mtim };
    if (::utimensat(AT_FDCWD, target.c_str(), times, 0) != 0) {
        const int err = errno;
        fs::remove(target, ec);
        return fail(withCause("conversion impossible à dater dans " + target, err));
    }
    removeOlderConversions(directory, identityPrefix(path), name, inUse);
    cachePath = target;
    return SegyCacheOutcome::Ready;
}

} // namespace vexa
