// The conversion loops built for any x86-64 (SSE2) or other processor.
#define VEXAMEM_ISA generic
#include "convertkernels.inc"
