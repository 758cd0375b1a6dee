// The fast rasterizer for WebAssembly's 128-bit vectors, the browser
// build's one set.
#define SOFT_FAST_LANES 4
#define SOFT_FAST_TABLE soft_fast_simd128
#include "gfx/soft/soft_fast_kernel.h"
