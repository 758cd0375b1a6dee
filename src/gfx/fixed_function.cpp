// Derives the description of a draw from a device's raw states: which
// stages run, which of them sample, how fog, depth, blending and culling
// behave, and each stage's sampler. The one place that knows what the
// program's render states mean.
#include "gfx/fixed_function.h"

#include <cstring>

void ff_state_defaults(FfStates* states)
{
    std::memset(states, 0, sizeof *states);
    DWORD* rs = states->render;
    rs[D3DRS_ZENABLE] = D3DZB_TRUE;
    rs[D3DRS_ZWRITEENABLE] = 1;
    rs[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
    rs[D3DRS_CULLMODE] = D3DCULL_CCW;
    rs[D3DRS_SRCBLEND] = D3DBLEND_ONE;
    rs[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
    rs[D3DRS_FOGSTART] = d3d_float_to_dword(0.0f);
    rs[D3DRS_FOGEND] = d3d_float_to_dword(1.0f);
    rs[D3DRS_FOGDENSITY] = d3d_float_to_dword(1.0f);
    rs[D3DRS_LIGHTING] = 1;
    for (DWORD s = 0; s < D3D_MAX_TEXTURE_STAGES; ++s) {
        DWORD* ts = states->stage[s];
        ts[D3DTSS_COLOROP] = s == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
        ts[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
        ts[D3DTSS_COLORARG2] = D3DTA_CURRENT;
        ts[D3DTSS_ALPHAOP] = s == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
        ts[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
        ts[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
        ts[D3DTSS_TEXCOORDINDEX] = s;
        ts[D3DTSS_ADDRESSU] = D3DTADDRESS_WRAP;
        ts[D3DTSS_ADDRESSV] = D3DTADDRESS_WRAP;
        ts[D3DTSS_ADDRESSW] = D3DTADDRESS_WRAP;
        ts[D3DTSS_MAGFILTER] = D3DTEXF_POINT;
        ts[D3DTSS_MINFILTER] = D3DTEXF_POINT;
        ts[D3DTSS_MIPFILTER] = D3DTEXF_NONE;
        ts[D3DTSS_MAXANISOTROPY] = 1;
        ts[D3DTSS_RESULTARG] = D3DTA_CURRENT;
    }
}

bool operator==(const FfKey& a, const FfKey& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

size_t ff_key_hash(const FfKey& key)
{
    // FNV-1a over the bytes: keys are small and zero-filled beyond their use.
    const auto* bytes = reinterpret_cast<const uint8_t*>(&key);
    uint64_t hash = 14695981039346656037ull;
    for (size_t i = 0; i < sizeof key; ++i)
        hash = (hash ^ bytes[i]) * 1099511628211ull;
    return size_t(hash);
}

static bool reads_texture(const DWORD* ts)
{
    auto refers = [](DWORD arg) { return (arg & D3DTA_SELECTMASK) == D3DTA_TEXTURE; };
    bool colour = refers(ts[D3DTSS_COLORARG1]) || refers(ts[D3DTSS_COLORARG2]);
    bool alpha = ts[D3DTSS_ALPHAOP] != D3DTOP_DISABLE &&
                 (refers(ts[D3DTSS_ALPHAARG1]) || refers(ts[D3DTSS_ALPHAARG2]));
    return colour || alpha;
}

static void describe_stage(const DWORD* ts, const FfTexture& texture, FfStage* stage,
                           FfSampler* sampler)
{
    stage->colour_op = uint8_t(ts[D3DTSS_COLOROP]);
    stage->colour_arg1 = uint8_t(ts[D3DTSS_COLORARG1]);
    stage->colour_arg2 = uint8_t(ts[D3DTSS_COLORARG2]);
    stage->alpha_op = uint8_t(ts[D3DTSS_ALPHAOP]);
    if (stage->alpha_op != D3DTOP_DISABLE) {
        stage->alpha_arg1 = uint8_t(ts[D3DTSS_ALPHAARG1]);
        stage->alpha_arg2 = uint8_t(ts[D3DTSS_ALPHAARG2]);
    }
    stage->coord_set = (ts[D3DTSS_TEXCOORDINDEX] & 0xFFFF) == 1 ? 1 : 0;
    stage->sampled = texture.present && reads_texture(ts) ? 1 : 0;
    if (!stage->sampled)
        return;
    sampler->address_u = uint8_t(ts[D3DTSS_ADDRESSU]);
    sampler->address_v = uint8_t(ts[D3DTSS_ADDRESSV]);
    sampler->mag_filter = uint8_t(ts[D3DTSS_MAGFILTER]);
    sampler->min_filter = uint8_t(ts[D3DTSS_MINFILTER]);
    sampler->mip_filter = uint8_t(ts[D3DTSS_MIPFILTER]);
    sampler->max_level = uint8_t(ts[D3DTSS_MAXMIPLEVEL] < 15 ? ts[D3DTSS_MAXMIPLEVEL] : 15);
    sampler->has_alpha = texture.has_alpha ? 1 : 0;
    sampler->lod_bias = d3d_dword_to_float(ts[D3DTSS_MIPMAPLODBIAS]);
    sampler->border = ts[D3DTSS_BORDERCOLOR];
}

void ff_describe(const FfStates& states, const FfTexture textures[FF_STAGES],
                 const Matrix& projection, FfDraw* draw)
{
    std::memset(draw, 0, sizeof *draw);
    const DWORD* rs = states.render;
    FfKey& key = draw->key;

    while (key.stages < FF_STAGES && states.stage[key.stages][D3DTSS_COLOROP] != D3DTOP_DISABLE) {
        int s = key.stages++;
        describe_stage(states.stage[s], textures[s], &key.stage[s], &draw->sampler[s]);
    }
    key.lit = rs[D3DRS_LIGHTING] ? 1 : 0;

    DWORD fog_mode =
        rs[D3DRS_FOGTABLEMODE] != D3DFOG_NONE ? rs[D3DRS_FOGTABLEMODE] : rs[D3DRS_FOGVERTEXMODE];
    if (rs[D3DRS_FOGENABLE] && fog_mode != D3DFOG_NONE) {
        key.fog_mode = uint8_t(fog_mode);
        // An affine projection has no eye depth to fog on: fog follows the
        // device depth instead.
        const float* p = projection.m;
        key.fog_on_eye_depth =
            !(p[3] == 0.0f && p[7] == 0.0f && p[11] == 0.0f && p[15] == 1.0f) ? 1 : 0;
    }

    key.depth_test = rs[D3DRS_ZENABLE] != D3DZB_FALSE ? 1 : 0;
    if (key.depth_test) {
        key.depth_write = rs[D3DRS_ZWRITEENABLE] ? 1 : 0;
        key.depth_func = uint8_t(rs[D3DRS_ZFUNC]);
    }
    key.blend = rs[D3DRS_ALPHABLENDENABLE] ? 1 : 0;
    if (key.blend) {
        key.src_blend = uint8_t(rs[D3DRS_SRCBLEND]);
        key.dst_blend = uint8_t(rs[D3DRS_DESTBLEND]);
    }
    key.cull = uint8_t(rs[D3DRS_CULLMODE]);

    FfParams& params = draw->params;
    params.fog_start = d3d_dword_to_float(rs[D3DRS_FOGSTART]);
    params.fog_end = d3d_dword_to_float(rs[D3DRS_FOGEND]);
    params.fog_density = d3d_dword_to_float(rs[D3DRS_FOGDENSITY]);
    D3DCOLOR fog = rs[D3DRS_FOGCOLOR];
    params.fog_colour[0] = float((fog >> 16) & 0xFF) / 255.0f;
    params.fog_colour[1] = float((fog >> 8) & 0xFF) / 255.0f;
    params.fog_colour[2] = float(fog & 0xFF) / 255.0f;
}
