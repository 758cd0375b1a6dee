// The fixed-function pipeline as every backend sees it. A device keeps the
// raw render and texture-stage states as the program sets them; before a
// draw, ff_describe turns them into one description: a compact key (what
// decides the code path or shader variant) plus the sampler settings of each
// stage and the values that only feed the arithmetic (fog range and colour).
// Backends read the description, never the raw states, so they cannot drift
// apart in what a state means.
#pragma once
#include <cstddef>
#include <cstdint>

#include "gfx/d3d8.h"

// The stages a draw can use. The program uses two; the description keeps
// only these.
constexpr int FF_STAGES = 2;

// The raw states of a device, indexed by their Direct3D numbers.
struct FfStates {
    DWORD render[D3D_RENDER_STATE_COUNT];
    DWORD stage[D3D_MAX_TEXTURE_STAGES][D3D_STAGE_STATE_COUNT];
};

// Direct3D's documented defaults for a device created with an automatic
// depth buffer.
void ff_state_defaults(FfStates* states);

// One texture stage of the cascade. Arguments are D3DTA_ values: a source
// (diffuse, current, texture, factor) with the complement and
// alpha-replicate modifiers.
struct FfStage {
    uint8_t colour_op; // D3DTEXTUREOP
    uint8_t colour_arg1, colour_arg2;
    uint8_t alpha_op; // D3DTOP_DISABLE: the alpha passes through unchanged
    uint8_t alpha_arg1, alpha_arg2;
    uint8_t coord_set; // 0: the first texture coordinates, 1: the second
    uint8_t sampled;   // a texture is bound and the stage reads it; else texels are opaque black
};

// Everything that selects a code path. Zero-filled beyond what is in use, so
// two keys compare and hash bytewise.
struct FfKey {
    FfStage stage[FF_STAGES]; // the first `stages` are live
    uint8_t stages;           // stages before the first whose colour op is DISABLE
    uint8_t lit;              // lighting without a material: diffuse is black, alpha 0
    uint8_t fog_mode;         // D3DFOGMODE; D3DFOG_NONE when there is no fog
    uint8_t fog_on_eye_depth; // perspective projection: fog on eye depth, else device depth
    uint8_t depth_test, depth_write, depth_func; // depth_func: D3DCMPFUNC
    uint8_t blend, src_blend, dst_blend;         // D3DBLEND factors, used when blend is 1
    uint8_t cull;                                // D3DCULL
    uint8_t reserved[3];
};

bool operator==(const FfKey& a, const FfKey& b);
inline bool operator!=(const FfKey& a, const FfKey& b)
{
    return !(a == b);
}
size_t ff_key_hash(const FfKey& key);

// How one stage samples its texture.
struct FfSampler {
    uint8_t address_u, address_v;               // D3DTEXTUREADDRESS
    uint8_t mag_filter, min_filter, mip_filter; // D3DTEXTUREFILTERTYPE
    uint8_t max_level;                          // the most detailed level in use
    uint8_t has_alpha;                          // the texture's format carries alpha
    uint8_t reserved;
    float lod_bias;
    D3DCOLOR border; // A8R8G8B8
};

// Values that feed the arithmetic but never choose a path.
struct FfParams {
    float fog_start, fog_end, fog_density;
    float fog_colour[3]; // 0..1
};

struct FfDraw {
    FfKey key;
    FfSampler sampler[FF_STAGES];
    FfParams params;
};

// What a backend knows of the texture bound to each stage.
struct FfTexture {
    bool present;   // bound, with at least one level
    bool has_alpha; // A8R8G8B8
};

// Describes a draw made under `states` with the given textures and
// projection (a projection whose last column is 0, 0, 0, 1 is affine).
void ff_describe(const FfStates& states, const FfTexture textures[FF_STAGES],
                 const Matrix& projection, FfDraw* draw);
