// The conversion loops built for avx512.
#define VEXAMEM_ISA avx512
#include "convertkernels.inc"
