// The fast rasterizer for processors with AVX-512 (F, BW, DQ and VL): the
// build compiles this file with those sets on x86 (and like the baseline
// elsewhere, where it is never chosen). A block is 8 x 2 pixels, four quads.
#define SOFT_FAST_LANES 16
#define SOFT_FAST_TABLE soft_fast_avx512
#include "gfx/soft/soft_fast_kernel.h"
