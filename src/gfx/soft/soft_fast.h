// The fast rasterizer of the tiled device. It computes exactly what the
// straightforward path (soft_raster.cpp, soft_shade.cpp) computes, the same
// float operations in the same order, but a block of 2 x 2 quads side by
// side at a time, one pixel per vector lane. Everything the
// device state decides is resolved once per draw (soft_fast_prepare): the
// kernel variant for the stage count, fog, blending and depth test (or a
// kernel with all of the draw's states fixed, see SoftDrawShape), the
// samplers' level chains, filters and addressing. The kernel is compiled
// for SSE2 (one quad), AVX2 (two) and AVX-512 (four), and the best one the
// processor runs is chosen when the program starts.
#pragma once
#include <cstdint>

#include "gfx/soft/soft_pipeline.h"

// The instruction sets the kernel is built for: the x86 sets of a native
// build, or WebAssembly's SIMD128, the one set of the browser build.
enum class SoftSimd { sse2, avx2, avx512, simd128 };

// What the processor runs best: the browser build's set, or on x86 sse2
// where nothing wider is.
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
    // The same texels with each row stacked on the next (SoftTexture::stacked),
    // so one read holds a 2 x 2 square; null for a level of one row.
    const uint32_t* stacked;
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
    // Where the texture's level 0 reads only transparent texels, for a draw
    // that keeps the target there (soft_fast_wants_clear_cells), else null:
    // SoftTexture::clear_cells, 2^cells_shift cells a row.
    const uint32_t* clear_cells;
    int cells_shift, cells_rows;
};

// The states a kernel is compiled for. A kernel for a variant alone reads
// every other state from the draw, per block; kernels with more states fixed
// (SOFT_FAST_SHAPES) let those tests fold away for the common kinds of draw.
// A field at SOFT_ANY is read from the draw; a draw takes a fixed kernel
// only where every fixed field matches it.
constexpr int SOFT_ANY = -1;

struct SoftStageShape {
    int colour_op = SOFT_ANY, colour_arg1 = SOFT_ANY, colour_arg2 = SOFT_ANY;
    int alpha_op = SOFT_ANY, alpha_arg1 = SOFT_ANY, alpha_arg2 = SOFT_ANY;
    int sampled = SOFT_ANY;
    // As in SoftFastStage.
    int address_u = SOFT_ANY, address_v = SOFT_ANY;
    int mag_linear = SOFT_ANY, min_linear = SOFT_ANY, mip = SOFT_ANY, has_alpha = SOFT_ANY;
    int unbiased = SOFT_ANY; // 1: the level-of-detail bias is 0
};

struct SoftDrawShape {
    int stages, fog, blend, depth_test; // the variant, always fixed
    int lit = SOFT_ANY, fog_mode = SOFT_ANY, fog_on_eye_depth = SOFT_ANY;
    int depth_write = SOFT_ANY, depth_func = SOFT_ANY;
    int src_blend = SOFT_ANY, dst_blend = SOFT_ANY;
    int need_alpha = SOFT_ANY; // as in SoftFastDraw
    SoftStageShape stage[FF_STAGES] = {};
};

// A kernel variant: the stage count, fog, blending and the depth test, which
// every kernel has fixed. Its code indexes the kernel tables.
constexpr int SOFT_FAST_VARIANTS = 3 * 2 * 2 * 2;
constexpr int soft_fast_variant_code(int stages, bool fog, bool blend, bool depth_test)
{
    return stages * 8 + fog * 4 + blend * 2 + depth_test;
}
constexpr SoftDrawShape soft_fast_variant_shape(int code)
{
    SoftDrawShape shape{};
    shape.stages = code / 8;
    shape.fog = code >> 2 & 1;
    shape.blend = code >> 1 & 1;
    shape.depth_test = code & 1;
    return shape;
}

// A wrapped, trilinear texture added to the unlit (black) diffuse colour:
// the texture as it is.
constexpr SoftStageShape SOFT_STAGE_TEXEL = {.colour_op = D3DTOP_ADD,
                                             .colour_arg1 = int(D3DTA_TEXTURE),
                                             .colour_arg2 = int(D3DTA_CURRENT),
                                             .sampled = 1,
                                             .address_u = 0,
                                             .address_v = 0,
                                             .mag_linear = 1,
                                             .min_linear = 1,
                                             .mip = 2,
                                             .unbiased = 1};

// The same with the texture's alpha.
constexpr SoftStageShape soft_stage_with_alpha(SoftStageShape stage)
{
    stage.alpha_op = D3DTOP_ADD;
    stage.alpha_arg1 = int(D3DTA_TEXTURE);
    stage.alpha_arg2 = int(D3DTA_CURRENT);
    stage.has_alpha = 1;
    return stage;
}

// A clamped texture, magnified linearly and its levels point-sampled and
// mixed, doubling what the stage before gave (MODULATE2X): a light map.
constexpr SoftStageShape SOFT_STAGE_LIGHT_MAP = {.colour_op = D3DTOP_MODULATE2X,
                                                 .colour_arg1 = int(D3DTA_TEXTURE),
                                                 .colour_arg2 = int(D3DTA_CURRENT),
                                                 .sampled = 1,
                                                 .address_u = 1,
                                                 .address_v = 1,
                                                 .mag_linear = 1,
                                                 .min_linear = 0,
                                                 .mip = 2,
                                                 .unbiased = 1};

// An opaque texel light-mapped, in linear fog on eye depth, depth-tested
// (less or equal) and written.
constexpr SoftDrawShape SOFT_SHAPE_LIGHT_MAPPED = {
    .stages = 2,
    .fog = 1,
    .blend = 0,
    .depth_test = 1,
    .lit = 1,
    .fog_mode = D3DFOG_LINEAR,
    .fog_on_eye_depth = 1,
    .depth_write = 1,
    .depth_func = D3DCMP_LESSEQUAL,
    .need_alpha = 0,
    .stage = {SOFT_STAGE_TEXEL, SOFT_STAGE_LIGHT_MAP}};

// A texel blended by its alpha (SRCALPHA, INVSRCALPHA) in linear fog on eye
// depth; with `depth`, depth-tested (less or equal) and written, else
// neither.
constexpr SoftDrawShape soft_shape_alpha_blended(bool depth)
{
    return {.stages = 1,
            .fog = 1,
            .blend = 1,
            .depth_test = depth,
            .lit = 1,
            .fog_mode = D3DFOG_LINEAR,
            .fog_on_eye_depth = 1,
            .depth_write = depth,
            .depth_func = depth ? int(D3DCMP_LESSEQUAL) : SOFT_ANY,
            .src_blend = D3DBLEND_SRCALPHA,
            .dst_blend = D3DBLEND_INVSRCALPHA,
            .need_alpha = 1,
            .stage = {soft_stage_with_alpha(SOFT_STAGE_TEXEL)}};
}

// A texel added to the target (ONE, ONE), without fog or depth.
constexpr SoftDrawShape SOFT_SHAPE_ADDITIVE = {.stages = 1,
                                               .fog = 0,
                                               .blend = 1,
                                               .depth_test = 0,
                                               .lit = 1,
                                               .depth_write = 0,
                                               .src_blend = D3DBLEND_ONE,
                                               .dst_blend = D3DBLEND_ONE,
                                               .need_alpha = 0,
                                               .stage = {SOFT_STAGE_TEXEL}};

// The fixed kernels, after the variants in every table.
enum SoftFastShape {
    SOFT_FAST_LIGHT_MAPPED,
    SOFT_FAST_ALPHA_BLENDED,       // over everything: no depth
    SOFT_FAST_ALPHA_BLENDED_DEPTH, // among the opaque: depth-tested and written
    SOFT_FAST_ADDITIVE,
};
constexpr SoftDrawShape SOFT_FAST_SHAPES[] = {
    SOFT_SHAPE_LIGHT_MAPPED,
    soft_shape_alpha_blended(false),
    soft_shape_alpha_blended(true),
    SOFT_SHAPE_ADDITIVE,
};
constexpr int SOFT_FAST_SHAPE_COUNT = int(sizeof SOFT_FAST_SHAPES / sizeof SOFT_FAST_SHAPES[0]);

// The pixels of one tile, [x0, x1) x [y0, y1) of the target, as a thread
// renders them: in buffers of its own, `pitch` pixels a row, pixel (x0, y0)
// first. The buffers reach SOFT_TILE_MARGIN pixels right of the tile and
// one row below it, so a block that starts inside the tile lies wholly in
// them; what lands outside the tile is never copied back.
constexpr int SOFT_TILE_MARGIN = 8; // the widest block
struct SoftTile {
    int x0, y0, x1, y1;
    uint32_t* colour;
    uint16_t* depth;
    int pitch;
};

struct SoftFastDraw;
typedef void (*SoftFastRaster)(const SoftFastDraw& draw, const SoftTile& tile,
                               const TriangleSetup& setup);

// One draw, ready for the kernel.
struct SoftFastDraw {
    SoftDrawContext context;
    SoftFastRaster raster;
    SoftFastRaster variant_raster; // the kernel for its variant alone (soft_fast_raster)
    SoftFastStage stage[FF_STAGES];
    float diffuse;      // every channel of the colour a stage reads as diffuse
    float fog_range;    // fog_end - fog_start
    uint8_t need_alpha; // some stage or the blend reads an alpha
    int8_t shape;       // the SoftFastShape of `raster`, or -1 for the variant's
};

// Resolves `context` for the kernel of the active instruction set; stage s
// reads the levels of chains[s] (null where it samples nothing).
void soft_fast_prepare(const SoftDrawContext& context, const SoftLevelChain* const* chains,
                       SoftFastDraw* draw);
// Whether the kernel may skip the blocks of `draw` whose samples read only
// transparent texels, given its texture's clear cells: a draw without depth
// of one wrapped stage blended by a texture's alpha, magnified from level 0.
bool soft_fast_wants_clear_cells(const SoftFastDraw& draw);
// Gives stage 0 of `draw` the clear cells of its texture, of `width` by
// `height` texels on level 0.
void soft_fast_use_clear_cells(SoftFastDraw* draw, const uint32_t* cells, int width, int height);
// The levels of `texture` as they are now.
void soft_level_chain(SoftTexture& texture, SoftLevelChain* chain);

// The kernel soft_fast_prepare would choose now for a draw with `key`.
SoftFastRaster soft_fast_raster(const FfKey& key);

// The kernels, one table per instruction set: indexed by soft_fast_variant,
// then one for each of SOFT_FAST_SHAPES. A set's unit is compiled
// SOFT_FAST_PARTS times, each compilation holding every SOFT_FAST_PARTS-th
// kernel (the rest null), so a set's kernels compile in parallel; the build
// names the same count.
int soft_fast_variant(const FfKey& key);
constexpr int SOFT_FAST_KERNELS = SOFT_FAST_VARIANTS + SOFT_FAST_SHAPE_COUNT;
constexpr int SOFT_FAST_PARTS = 2;
struct SoftFastKernels {
    SoftFastRaster kernel[SOFT_FAST_KERNELS];
    // Copies a finished tile's row into the target past the cache (nothing
    // reads it again before the frame is shown); the fence makes the copies
    // seen before the tile is reported done. In the first part only.
    void (*write_back)(uint32_t* to, const uint32_t* from, int count);
    void (*fence)();
};
extern const SoftFastKernels soft_fast_sse2_part0, soft_fast_sse2_part1;
extern const SoftFastKernels soft_fast_avx2_part0, soft_fast_avx2_part1;
extern const SoftFastKernels soft_fast_avx512_part0, soft_fast_avx512_part1;
extern const SoftFastKernels soft_fast_simd128_part0, soft_fast_simd128_part1;
// The whole table of `simd`, and of the set new draws are prepared for.
const SoftFastKernels& soft_fast_table(SoftSimd simd);
const SoftFastKernels& soft_fast_active();
