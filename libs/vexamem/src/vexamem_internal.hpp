// Shared pieces of the array library: byte counts, allocation and the conversion
// entry used by the element-wise operations.
#pragma once

#include "vexa_types.h"

#include <cstddef>
#include <cstdint>

namespace vexamem {

inline std::size_t elementSize(int type)
{
    return static_cast<std::size_t>(vexaTypeSize(type));
}

// Bytes of count samples, in 64 bits: count x 8 overflows an int for large arrays.
inline std::size_t byteCount(std::int64_t count, int type)
{
    return static_cast<std::size_t>(count) * elementSize(type);
}

// Buffers handed to callers come from malloc/calloc so that C code frees them with
// free(). Large results get transparent huge pages when the system allows it.
void* allocateResult(std::size_t bytes, bool zeroFilled);

// Faults in the pages of [p, p + bytes) with one system call (advisory).
void faultIn(void* p, std::size_t bytes);
// True when a malloc'd result of this size is backed by 2 MiB pages (allocateLarge
// hints it and the kernel honours the hint): the loop's first write to each page
// then faults in the whole page at once.
bool resultGetsHugePages(std::size_t bytes);

// One conversion loop: (source, destination, count, scale, offset).
using ConvertFn = void (*)(const void*, void*, std::size_t, double, double);

// The loops of each instruction set the library is built for (convertkernels.inc).
namespace generic {
ConvertFn convertFunction(int inputType, int outputType);
}
#if defined(VEXAMEM_HAVE_AVX2)
namespace avx2 {
ConvertFn convertFunction(int inputType, int outputType);
}
#endif
#if defined(VEXAMEM_HAVE_AVX512)
namespace avx512 {
ConvertFn convertFunction(int inputType, int outputType);
}
#endif

// Converts count samples of inputType into count samples of outputType at
// destination with the conversion rule (see vexaMemConvert). destination is fully
// written: invalid or RGBA outputs are zeroed. Buffers must not overlap.
void convertSamples(const void* source, std::size_t count, double scale, double offset,
    int inputType, int outputType, void* destination);

} // namespace vexamem
