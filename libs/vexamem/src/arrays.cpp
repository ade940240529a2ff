// Byte copy, rectangle extraction and the allocation of returned buffers.
#include "vexa_bigalloc.hpp"
#include "vexamem.h"
#include "vexamem_internal.hpp"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace vexamem {

void* allocateResult(std::size_t bytes, bool zeroFilled)
{
    return vexa::allocateLarge(bytes, zeroFilled);
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
