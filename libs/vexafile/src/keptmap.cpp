#include "keptmap.hpp"

#include "vexafile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <list>
#include <mutex>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vexafile {

KeptMapping::~KeptMapping()
{
    ::munmap(const_cast<unsigned char*>(data_), size_t(size_));
}

namespace {

struct Identity {
    dev_t dev;
    ino_t ino;
    int64_t size;
    int64_t mtimeSec, mtimeNsec;
    bool operator==(const Identity&) const = default;
};

Identity identityOf(const struct stat& st)
{
    return Identity { st.st_dev, st.st_ino, int64_t(st.st_size), int64_t(st.st_mtim.tv_sec),
        int64_t(st.st_mtim.tv_nsec) };
}

struct Entry {
    std::string path;
    Identity id;
    std::shared_ptr<const KeptMapping> map;
};

// Most recently used first. A handful of entries: a linear search is cheapest.
struct Cache {
    std::mutex lock;
    std::list<Entry> entries;
    int64_t bytes = 0;
};

Cache& cache()
{
    static Cache* c = new Cache; // never destroyed: readers may run during exit
    return *c;
}

void eraseEntry(Cache& c, std::list<Entry>::iterator it)
{
    c.bytes -= it->map->size();
    c.entries.erase(it);
}

std::shared_ptr<const KeptMapping> mapFile(const std::string& path, Identity& id)
{
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return nullptr;
    struct stat st;
    std::shared_ptr<const KeptMapping> result;
    // The identity comes from the open descriptor, so that it describes the very
    // file mapped even if the name was replaced in between.
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0
        && int64_t(st.st_size) <= kKeptBytesMax) {
        void* p = ::mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_SHARED, fd, 0);
        if (p != MAP_FAILED) {
            id = identityOf(st);
            result = std::make_shared<const KeptMapping>(
                static_cast<const unsigned char*>(p), int64_t(st.st_size));
        }
    }
    ::close(fd);
    return result;
}

std::atomic<int64_t> gMappedFileLimit { 0 };

// A quarter of the physical memory. Resident pages of a kept mapping are file pages
// the kernel may reclaim, but they count as the program's own: a larger file would
// fill them as its RIGHT and TOP sections are gathered across it. Below the limit the
// gathers run from memory in milliseconds, where positioned reads would cross the whole
// file for each section.
int64_t defaultMappedFileLimit()
{
    const int64_t fallback = int64_t(1) << 30;
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long page = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page <= 0)
        return fallback;
    return int64_t(pages) * int64_t(page) / 4;
}

} // namespace

int64_t mappedFileLimit()
{
    const int64_t set = gMappedFileLimit.load(std::memory_order_relaxed);
    if (set > 0)
        return set;
    static const int64_t byDefault = defaultMappedFileLimit();
    return byDefault;
}

std::shared_ptr<const KeptMapping> keptMapping(const std::string& path)
{
    struct stat st;
    if (path.empty() || ::fstatat(AT_FDCWD, path.c_str(), &st, 0) != 0 || !S_ISREG(st.st_mode))
        return nullptr;
    const Identity now = identityOf(st);
    Cache& c = cache();
    {
        std::lock_guard<std::mutex> hold(c.lock);
        for (auto it = c.entries.begin(); it != c.entries.end(); ++it) {
            if (it->path != path)
                continue;
            if (it->id == now) {
                c.entries.splice(c.entries.begin(), c.entries, it);
                return it->map;
            }
            eraseEntry(c, it);
            break;
        }
    }
    Identity id {};
    auto map = mapFile(path, id);
    if (!map || !(id == now))
        return map; // changed while being mapped: used once, not kept
    std::lock_guard<std::mutex> hold(c.lock);
    for (auto it = c.entries.begin(); it != c.entries.end(); ++it)
        if (it->path == path) {
            eraseEntry(c, it); // another thread mapped it meanwhile
            break;
        }
    c.entries.push_front(Entry { path, id, map });
    c.bytes += map->size();
    while (c.entries.size() > 1
        && (int(c.entries.size()) > kKeptMappingsMax || c.bytes > kKeptBytesMax))
        eraseEntry(c, std::prev(c.entries.end()));
    return map;
}

void forgetKeptMapping(const std::string& path)
{
    Cache& c = cache();
    std::lock_guard<std::mutex> hold(c.lock);
    for (auto it = c.entries.begin(); it != c.entries.end(); ++it)
        if (it->path == path) {
            eraseEntry(c, it);
            return;
        }
}

} // namespace vexafile

extern "C" {

void vexaFileSetMappedFileLimit(long long bytes)
{
    vexafile::gMappedFileLimit.store(bytes > 0 ? int64_t(bytes) : 0, std::memory_order_relaxed);
}

long long vexaFileGetMappedFileLimit(void)
{
    return vexafile::mappedFileLimit();
}

} // extern "C"
