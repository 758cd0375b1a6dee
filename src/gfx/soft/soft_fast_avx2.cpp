// The fast rasterizer for processors with AVX2: the build compiles this file
// with -mavx2 on x86 (and like the baseline elsewhere, where it is never
// chosen).
#define SOFT_FAST_LANES 8
#define SOFT_FAST_TABLE soft_fast_avx2
#include "gfx/soft/soft_fast_kernel.h"
