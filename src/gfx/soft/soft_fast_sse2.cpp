// The fast rasterizer for the SSE2 baseline of every x86-64 processor (and
// for whatever vector unit the compiler targets elsewhere).
#define SOFT_FAST_LANES 4
#define SOFT_FAST_TABLE soft_fast_sse2
#include "gfx/soft/soft_fast_kernel.h"
