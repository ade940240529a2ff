// The march built for any processor.
#define VEXA_MARCH_ISA generic
#include "raymarchkernel.inc"
