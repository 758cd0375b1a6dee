// Choosing the fast rasterizer's instruction set and resolving a draw for
// it: which kernel variant runs, and each stage's sampler reduced to what
// the kernel tests per block.
#include "gfx/soft/soft_fast.h"

#include <atomic>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace
{

bool cpu_runs(SoftSimd simd)
{
#if !SOFT_FAST_X86_SETS
    return simd == SoftSimd::simd128;
#elif defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
    __builtin_cpu_init(); // in case this runs before the library's own start-up
    switch (simd) {
    case SoftSimd::avx512:
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
               __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl");
    case SoftSimd::avx2:
        return __builtin_cpu_supports("avx2");
    case SoftSimd::sse2:
        return true;
    default:
        return false;
    }
#else
    return simd == SoftSimd::sse2;
#endif
}

// The set chosen at start: the best, unless STORM_SIMD names a lesser one.
SoftSimd initial_simd()
{
    SoftSimd best = soft_simd_best();
    const char* asked = std::getenv("STORM_SIMD");
    for (SoftSimd simd : {SoftSimd::sse2, SoftSimd::avx2})
        if (asked && std::strcmp(asked, soft_simd_name(simd)) == 0 && simd < best)
            return simd;
    return best;
}

std::atomic<SoftSimd>& active_simd()
{
    static std::atomic<SoftSimd> active{initial_simd()};
    return active;
}

bool is_linear(uint8_t filter)
{
    return filter == D3DTEXF_LINEAR || filter == D3DTEXF_ANISOTROPIC;
}

bool power_of_two(int size)
{
    return size > 0 && (size & (size - 1)) == 0;
}

uint8_t address_kind(uint8_t mode, bool every_level_power_of_two)
{
    if (mode == D3DTADDRESS_WRAP && every_level_power_of_two)
        return 0;
    return mode == D3DTADDRESS_CLAMP ? 1 : 2;
}

void prepare_stage(const SoftLevelChain& chain, const FfSampler& sampler, const FfStage& stage,
                   SoftFastStage* out)
{
    out->levels = chain.level;
    out->last = chain.count - 1;
    out->base = sampler.max_level < out->last ? sampler.max_level : out->last;
    out->top_width = float(chain.level[out->base].width);
    out->top_height = float(chain.level[out->base].height);
    out->lod_bias = sampler.lod_bias;
    out->mag_linear = is_linear(sampler.mag_filter);
    out->min_linear = is_linear(sampler.min_filter);
    out->mip =
        sampler.mip_filter == D3DTEXF_NONE ? 0 : (sampler.mip_filter == D3DTEXF_POINT ? 1 : 2);
    out->has_alpha = sampler.has_alpha;
    out->coord = stage.coord_set == 1 ? 2 : 0;
    // Halving a power of two (down to 1) gives powers of two: the top level
    // decides for the chain.
    out->address_u = address_kind(sampler.address_u, power_of_two(chain.level[0].width));
    out->address_v = address_kind(sampler.address_v, power_of_two(chain.level[0].height));
    out->mode_u = sampler.address_u;
    out->mode_v = sampler.address_v;
    constexpr float K = 1.0f / 255.0f;
    D3DCOLOR b = sampler.border;
    out->border[0] = float((b >> 16) & 0xFF) * K;
    out->border[1] = float((b >> 8) & 0xFF) * K;
    out->border[2] = float(b & 0xFF) * K;
    out->border[3] = float(b >> 24) * K;
}

bool reads_source_alpha(uint8_t factor)
{
    return factor == D3DBLEND_SRCALPHA || factor == D3DBLEND_INVSRCALPHA;
}

// Whether anything that reaches the pixel reads an alpha: a blend factor, or
// a colour argument that replicates one. Otherwise the kernel leaves alpha
// out of sampling and the stages.
bool needs_alpha(const FfKey& key)
{
    if (key.blend && (reads_source_alpha(key.src_blend) || reads_source_alpha(key.dst_blend)))
        return true;
    for (int s = 0; s < key.stages; ++s)
        if ((key.stage[s].colour_arg1 | key.stage[s].colour_arg2) & D3DTA_ALPHAREPLICATE)
            return true;
    return false;
}

// A field of a shape against the draw's value: SOFT_ANY takes any.
bool fits(int shape, int value)
{
    return shape == SOFT_ANY || shape == value;
}

bool stage_fits(const SoftStageShape& shape, const FfStage& stage, const SoftFastStage& sampler)
{
    return fits(shape.colour_op, stage.colour_op) && fits(shape.colour_arg1, stage.colour_arg1) &&
           fits(shape.colour_arg2, stage.colour_arg2) && fits(shape.alpha_op, stage.alpha_op) &&
           fits(shape.alpha_arg1, stage.alpha_arg1) && fits(shape.alpha_arg2, stage.alpha_arg2) &&
           fits(shape.sampled, stage.sampled) && fits(shape.address_u, sampler.address_u) &&
           fits(shape.address_v, sampler.address_v) && fits(shape.mag_linear, sampler.mag_linear) &&
           fits(shape.min_linear, sampler.min_linear) && fits(shape.mip, sampler.mip) &&
           fits(shape.has_alpha, sampler.has_alpha) &&
           fits(shape.unbiased, sampler.lod_bias == 0.0f);
}

// Whether the prepared `draw` has every state `shape` fixes.
bool draw_fits(const SoftDrawShape& shape, const SoftFastDraw& draw)
{
    const FfKey& key = draw.context.draw.key;
    if (soft_fast_variant(key) !=
            soft_fast_variant_code(shape.stages, shape.fog, shape.blend, shape.depth_test) ||
        !fits(shape.lit, key.lit) || !fits(shape.fog_mode, key.fog_mode) ||
        !fits(shape.fog_on_eye_depth, key.fog_on_eye_depth) ||
        !fits(shape.depth_write, key.depth_write) || !fits(shape.depth_func, key.depth_func) ||
        !fits(shape.src_blend, key.src_blend) || !fits(shape.dst_blend, key.dst_blend) ||
        !fits(shape.need_alpha, draw.need_alpha))
        return false;
    for (int s = 0; s < shape.stages; ++s)
        if (!stage_fits(shape.stage[s], key.stage[s], draw.stage[s]))
            return false;
    return true;
}

// One set's table from the compilations that hold its kernels.
SoftFastKernels merged(std::initializer_list<const SoftFastKernels*> parts)
{
    SoftFastKernels table{};
    for (const SoftFastKernels* part : parts) {
        for (int i = 0; i < SOFT_FAST_KERNELS; ++i)
            if (part->kernel[i])
                table.kernel[i] = part->kernel[i];
        if (part->write_back) {
            table.write_back = part->write_back;
            table.fence = part->fence;
        }
    }
    return table;
}

const SoftFastRaster* active_table()
{
    return soft_fast_active().kernel;
}

} // namespace

SoftSimd soft_simd_best()
{
    if (cpu_runs(SoftSimd::simd128))
        return SoftSimd::simd128;
    for (SoftSimd simd : {SoftSimd::avx512, SoftSimd::avx2})
        if (cpu_runs(simd))
            return simd;
    return SoftSimd::sse2;
}

bool soft_simd_use(SoftSimd simd)
{
    if (!cpu_runs(simd))
        return false;
    active_simd().store(simd);
    return true;
}

const char* soft_simd_name(SoftSimd simd)
{
    switch (simd) {
    case SoftSimd::avx512:
        return "avx512";
    case SoftSimd::avx2:
        return "avx2";
    case SoftSimd::simd128:
        return "simd128";
    default:
        return "sse2";
    }
}

int soft_fast_variant(const FfKey& key)
{
    int stages = key.stages < FF_STAGES ? key.stages : FF_STAGES;
    return soft_fast_variant_code(stages, key.fog_mode != D3DFOG_NONE, key.blend != 0,
                                  key.depth_test != 0);
}

const SoftFastKernels& soft_fast_table(SoftSimd simd)
{
    static_assert(SOFT_FAST_PARTS == 2, "every part of a set is named below");
#if SOFT_FAST_X86_SETS
    static const SoftFastKernels tables[] = {
        merged({&soft_fast_sse2_part0, &soft_fast_sse2_part1}),
        merged({&soft_fast_avx2_part0, &soft_fast_avx2_part1}),
        merged({&soft_fast_avx512_part0, &soft_fast_avx512_part1}),
    };
    return tables[int(simd)];
#else
    // The browser build has its one set; nothing else is ever chosen, as
    // cpu_runs says.
    (void)simd;
    static const SoftFastKernels table =
        merged({&soft_fast_simd128_part0, &soft_fast_simd128_part1});
    return table;
#endif
}

const SoftFastKernels& soft_fast_active()
{
    return soft_fast_table(active_simd().load());
}

bool soft_fast_wants_clear_cells(const SoftFastDraw& draw)
{
    const FfKey& key = draw.context.draw.key;
    const SoftFastStage& s = draw.stage[0];
    return key.stages == 1 && key.blend && !key.depth_test && !key.depth_write &&
           key.src_blend == D3DBLEND_SRCALPHA && key.dst_blend == D3DBLEND_INVSRCALPHA &&
           key.stage[0].sampled && s.has_alpha && s.address_u == 0 && s.address_v == 0 &&
           s.base == 0;
}

void soft_fast_use_clear_cells(SoftFastDraw* draw, const uint32_t* cells, int width, int height)
{
    SoftFastStage& s = draw->stage[0];
    s.clear_cells = cells;
    s.cells_shift = std::countr_zero(unsigned(2 * width));
    s.cells_rows = 2 * height;
}

void soft_level_chain(SoftTexture& texture, SoftLevelChain* chain)
{
    // A texture has at least one level; none has more than the bound.
    int count = texture.level_count();
    chain->count = count < SOFT_MAX_LEVELS ? count : SOFT_MAX_LEVELS;
    for (int i = 0; i < chain->count; ++i) {
        const TexelLevel& level = texture.level(i);
        chain->level[i] = {level.texels.data(), level.width, level.height, texture.stacked(i)};
    }
}

SoftFastRaster soft_fast_raster(const FfKey& key)
{
    return active_table()[soft_fast_variant(key)];
}

void soft_fast_prepare(const SoftDrawContext& context, const SoftLevelChain* const* chains,
                       SoftFastDraw* draw)
{
    const FfKey& key = context.draw.key;
    const SoftFastRaster* table = active_table();
    draw->context = context;
    draw->variant_raster = table[soft_fast_variant(key)];
    for (int s = 0; s < FF_STAGES; ++s) {
        draw->stage[s] = SoftFastStage{};
        if (s < key.stages && chains[s])
            prepare_stage(*chains[s], context.draw.sampler[s], key.stage[s], &draw->stage[s]);
    }
    // Without lights or a material, lighting leaves the colour black with
    // alpha 0; unlit vertices without a colour are opaque white.
    draw->diffuse = key.lit ? 0.0f : 1.0f;
    draw->fog_range = context.draw.params.fog_end - context.draw.params.fog_start;
    draw->need_alpha = needs_alpha(key);
    draw->raster = draw->variant_raster;
    draw->shape = -1;
    for (int i = 0; i < SOFT_FAST_SHAPE_COUNT; ++i) {
        if (draw_fits(SOFT_FAST_SHAPES[i], *draw)) {
            draw->raster = table[SOFT_FAST_VARIANTS + i];
            draw->shape = int8_t(i);
            break;
        }
    }
}
