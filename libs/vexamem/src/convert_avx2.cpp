// The conversion loops built for avx2.
#define VEXAMEM_ISA avx2
#include "convertkernels.inc"
