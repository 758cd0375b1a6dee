// The fast rasterizer of the tiled device. It computes exactly what the
// straightforward path (soft_raster.cpp, soft_shade.cpp) computes, the same
// float operations in the same order, but a block of 2 x 2 quads side by
// side at a time, one pixel per vector lane. Everything the
// device state decides is resolved once per draw (soft_fast_prepare): the
// kernel variant for the stage count, fog, blending and depth test, the
// samplers' level chains, filters and addressing. The kernel is compiled
// for SSE2 (one quad), AVX2 (two) and AVX-512 (four), and the best one the
// processor runs is chosen when the program starts.
#pragma once
#include <cstdint>

#include "gfx/soft/soft_pipeline.h"

// The instruction sets the kernel is built for.
enum class SoftSimd { sse2, avx2, avx512 };

// What the processor runs best; sse2 where nothing wider is.
SoftSimd soft_simd_best();
// Chooses the set new draws are prepared for (at start the best one, or
// a lesser one the STORM_SIMD environment variable names: "sse2" or "avx2"). Returns false,
// changing nothing, when the processor cannot run it.
bool soft_simd_use(SoftSimd simd);
const char* soft_simd_name(SoftSimd simd);

// A texture's levels as queued draws read them: where the texels of each
// level were when the frame first sampled the texture. A writer that comes
// later gets new texels, so the draws never read a level being written.
constexpr int SOFT_MAX_LEVELS = 16; // a 32768-texel side; the device's limit is far below
struct SoftLevelView {
    const uint32_t* texels;
    int width, height;
};
struct SoftLevelChain {
    SoftLevelView level[SOFT_MAX_LEVELS];
    int count;
};

// How one stage samples, resolved from its sampler and texture.
struct SoftFastStage {
    const SoftLevelView* levels; // the texture's level chain
    int base, last;              // most detailed level in use; least detailed level
    float top_width, top_height; // size of level `base`, for the level of detail
    float lod_bias;
    uint8_t mag_linear, min_linear; // the filter is linear (or anisotropic)
    uint8_t mip;                    // 0: no mip maps, 1: nearest level, 2: linear between two
    uint8_t has_alpha;
    uint8_t coord; // index of u in the interpolated attributes: 0 or 2
    // Addressing per axis: 0 wraps by a mask (every level a power of two),
    // 1 clamps, 2 anything else (read per pixel with the Direct3D mode).
    uint8_t address_u, address_v;
    uint32_t mode_u, mode_v; // D3DTEXTUREADDRESS, for address class 2
    float border[4];         // r, g, b, a
};

struct SoftFastDraw;
typedef void (*SoftFastRaster)(const SoftFastDraw& draw, const TriangleSetup& setup, int x0, int y0,
                               int x1, int y1);

// One draw, ready for the kernel.
struct SoftFastDraw {
    SoftDrawContext context;
    SoftFastRaster raster;
    SoftFastStage stage[FF_STAGES];
    float diffuse;      // every channel of the colour a stage reads as diffuse
    float fog_range;    // fog_end - fog_start
    uint8_t need_alpha; // some stage or the blend reads an alpha
};

// Resolves `context` for the kernel of the active instruction set; stage s
// reads the levels of chains[s] (null where it samples nothing).
void soft_fast_prepare(const SoftDrawContext& context, const SoftLevelChain* const* chains,
                       SoftFastDraw* draw);
// The levels of `texture` as they are now.
void soft_level_chain(const SoftTexture& texture, SoftLevelChain* chain);

// The kernel soft_fast_prepare would choose now for a draw with `key`.
SoftFastRaster soft_fast_raster(const FfKey& key);

// The kernels, one table per instruction set, indexed by soft_fast_variant.
int soft_fast_variant(const FfKey& key);
constexpr int SOFT_FAST_VARIANTS = 3 * 2 * 2 * 2;
extern const SoftFastRaster soft_fast_sse2[SOFT_FAST_VARIANTS];
extern const SoftFastRaster soft_fast_avx2[SOFT_FAST_VARIANTS];
extern const SoftFastRaster soft_fast_avx512[SOFT_FAST_VARIANTS];
