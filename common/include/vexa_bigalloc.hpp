// Allocation of large sample buffers that C callers free with free().
//
// A fresh buffer of tens of megabytes is faulted in page by page on first touch;
// on virtual machines each 4 KiB fault costs microseconds (a 64 MiB buffer took
// 250 ms here), while 2 MiB pages cut that twenty-fold. The hint is advisory: the
// block stays an ordinary malloc block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <sys/mman.h>

namespace vexa {

inline void hintHugePages(void* p, std::size_t bytes)
{
#ifdef MADV_HUGEPAGE
    constexpr std::size_t kHugePage = std::size_t { 2 } << 20;
    if (!p || bytes < 4 * kHugePage)
        return;
    auto begin = (reinterpret_cast<std::uintptr_t>(p) + kHugePage - 1) & ~(kHugePage - 1);
    auto end = (reinterpret_cast<std::uintptr_t>(p) + bytes) & ~(kHugePage - 1);
    if (end > begin)
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)p;
    (void)bytes;
#endif
}

// malloc or calloc of bytes (null for 0) with the huge-page hint on large blocks.
inline void* allocateLarge(std::size_t bytes, bool zeroFilled)
{
    if (bytes == 0)
        return nullptr;
    void* p = zeroFilled ? std::calloc(1, bytes) : std::malloc(bytes);
    hintHugePages(p, bytes);
    return p;
}

} // namespace vexa
