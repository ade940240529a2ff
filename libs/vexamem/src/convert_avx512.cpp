// The conversion loops built for avx512, with hand-written loops for the most used
// pairs.
// GCC 12 reports the deliberately undefined pass-through operands inside its own
// AVX-512 intrinsics as maybe uninitialised once they are inlined.
#if defined(__clang__)
#include <immintrin.h>
#else
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#endif

#define VEXAMEM_ISA avx512
#define VEXAMEM_FAST_KERNELS "convertfast_avx512.inc"
#include "convertkernels.inc"
