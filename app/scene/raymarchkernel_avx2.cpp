// The march built for AVX2 with fused multiply-adds.
#define VEXA_MARCH_ISA avx2
#include "raymarchkernel.inc"
