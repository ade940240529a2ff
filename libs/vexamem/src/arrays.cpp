// Byte copy, rectangle extraction and the allocation of returned buffers.
#include "vexa_bigalloc.hpp"
#include "vexamem.h"
#include "vexamem_internal.hpp"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23 // Linux 5.14
#endif

namespace vexamem {

namespace {

// Results from this size on are faulted in by one system call before the loop
// writes them: faulting a fresh buffer page by page from the loop costs more than
// the conversion itself (about 20 us a page on virtual machines).
constexpr std::size_t kPrefaultBytes = std::size_t { 1 } << 20;

void prefault(void* p, std::size_t bytes)
{
    if (!p || bytes < kPrefaultBytes)
        return;
    faultIn(p, bytes);
}

// True when the kernel gives 2 MiB pages to memory hinted with MADV_HUGEPAGE
// ("[always]" or "[madvise]" selected).
bool hintedHugePagesEnabled()
{
    std::FILE* f = std::fopen("/sys/kernel/mm/transparent_hugepage/enabled", "r");
    if (!f)
        return false;
    char text[128] = {};
    const bool read = std::fgets(text, sizeof text, f) != nullptr;
    std::fclose(f);
    return read && (std::strstr(text, "[always]") || std::strstr(text, "[madvise]"));
}

} // namespace

void faultIn(void* p, std::size_t bytes)
{
    long page = sysconf(_SC_PAGESIZE);
    if (!p || page <= 0)
        return;
    const auto mask = static_cast<std::uintptr_t>(page) - 1;
    auto begin = (reinterpret_cast<std::uintptr_t>(p) + mask) & ~mask;
    auto end = (reinterpret_cast<std::uintptr_t>(p) + bytes) & ~mask;
    // Advisory: on kernels without it the loop faults the pages in as before. The
    // pages keep their contents (zeros for a calloc block).
    if (end > begin)
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
}

bool resultGetsHugePages(std::size_t bytes)
{
    static const bool enabled = hintedHugePagesEnabled();
    // vexa::hintHugePages hints blocks of four huge pages and more.
    constexpr std::size_t kHintedBytes = std::size_t { 8 } << 20;
    return enabled && bytes >= kHintedBytes;
}

void* allocateResult(std::size_t bytes, bool zeroFilled)
{
    void* p = vexa::allocateLarge(bytes, zeroFilled);
    prefault(p, bytes);
    return p;
}

} // namespace vexamem

using namespace vexamem;

extern "C" {

VEXA_API void vexaMemCopy(const void* source, void* destination, int byteCount)
{
    if (!source || !destination || byteCount <= 0)
        return;
    const auto* in = static_cast<const unsigned char*>(source);
    auto* out = static_cast<unsigned char*>(destination);
    std::size_t n = static_cast<std::size_t>(byteCount);
    auto inAddress = reinterpret_cast<std::uintptr_t>(in);
    auto outAddress = reinterpret_cast<std::uintptr_t>(out);
    std::size_t gap = outAddress - inAddress;
    if (outAddress <= inAddress || gap >= n) {
        std::memmove(out, in, n);
        return;
    }
    // The copy runs in increasing address order, so a destination that overlaps
    // the source from above repeats its first gap bytes: copy period by period.
    for (std::size_t done = 0; done < n; done += gap)
        std::memcpy(out + done, in + done, done + gap <= n ? gap : n - done);
}

VEXA_API void* vexaMemExtract(
    const void* source, int width, int height, int x, int y, int w, int h, int type)
{
    if (!source || w <= 0 || h <= 0 || x < 0 || y < 0)
        return nullptr;
    // The rectangle must lie inside the array: anything else would read outside it.
    if (std::int64_t { x } + w > width || std::int64_t { y } + h > height)
        return nullptr;
    const std::size_t es = elementSize(type);
    const bool valid = vexaTypeIsValid(type);
    void* result = allocateResult(byteCount(std::int64_t { w } * h, type), !valid);
    if (!result || !valid)
        return result;
    auto* out = static_cast<unsigned char*>(result);
    const auto* in = static_cast<const unsigned char*>(source);
    const std::size_t rowBytes = static_cast<std::size_t>(w) * es;
    const std::size_t stride = static_cast<std::size_t>(width) * es;
    const unsigned char* row
        = in + static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x) * es;
    for (int j = 0; j < h; ++j, row += stride, out += rowBytes)
        std::memcpy(out, row, rowBytes);
    return result;
}

VEXA_API void vexaMemFree(void* buffer)
{
    std::free(buffer);
}

} // extern "C"
