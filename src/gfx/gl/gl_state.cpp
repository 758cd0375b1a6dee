// The cache of GL state between draws. The program sets a handful of states
// before each of its ~1,850 draws a frame, mostly to the values they already
// have; this keeps what was last applied and calls GL only for differences:
// depth test, function and writes, blending and its factors, culling, the
// program, the texture and sampler of each unit, the colour mask. Sampler
// objects are made once per distinct sampler description and kept.
#include <cstring>
#include <unordered_map>

#include "gfx/gl/gl_internal.h"

namespace
{

constexpr int UNITS = FF_STAGES;

// The sampler settings a GL sampler object holds: everything of FfSampler
// but what belongs to the texture (its alpha, its most detailed level).
struct SamplerKey {
    FfSampler sampler;
    bool operator==(const SamplerKey& other) const
    {
        return std::memcmp(&sampler, &other.sampler, sizeof sampler) == 0;
    }
};

struct SamplerKeyHash {
    size_t operator()(const SamplerKey& key) const
    {
        const auto* bytes = reinterpret_cast<const uint8_t*>(&key.sampler);
        uint64_t hash = 14695981039346656037ull;
        for (size_t i = 0; i < sizeof key.sampler; ++i)
            hash = (hash ^ bytes[i]) * 1099511628211ull;
        return size_t(hash);
    }
};

GLenum compare_function(int func)
{
    switch (func) {
    case D3DCMP_NEVER:
        return GL_NEVER;
    case D3DCMP_LESS:
        return GL_LESS;
    case D3DCMP_EQUAL:
        return GL_EQUAL;
    case D3DCMP_LESSEQUAL:
        return GL_LEQUAL;
    case D3DCMP_GREATER:
        return GL_GREATER;
    case D3DCMP_NOTEQUAL:
        return GL_NOTEQUAL;
    case D3DCMP_GREATEREQUAL:
        return GL_GEQUAL;
    default:
        return GL_ALWAYS;
    }
}

GLenum blend_factor(int factor)
{
    switch (factor) {
    case D3DBLEND_ZERO:
        return GL_ZERO;
    case D3DBLEND_SRCCOLOR:
        return GL_SRC_COLOR;
    case D3DBLEND_INVSRCCOLOR:
        return GL_ONE_MINUS_SRC_COLOR;
    case D3DBLEND_SRCALPHA:
        return GL_SRC_ALPHA;
    case D3DBLEND_INVSRCALPHA:
        return GL_ONE_MINUS_SRC_ALPHA;
    case D3DBLEND_DESTALPHA:
        return GL_DST_ALPHA;
    case D3DBLEND_INVDESTALPHA:
        return GL_ONE_MINUS_DST_ALPHA;
    case D3DBLEND_DESTCOLOR:
        return GL_DST_COLOR;
    case D3DBLEND_INVDESTCOLOR:
        return GL_ONE_MINUS_DST_COLOR;
    default: // ONE, and anything the program never sets
        return GL_ONE;
    }
}

GLint address_mode(int mode)
{
    switch (mode) {
    case D3DTADDRESS_MIRROR:
        return GL_MIRRORED_REPEAT;
    case D3DTADDRESS_CLAMP:
        return GL_CLAMP_TO_EDGE; // the edge texel, never a blend with the border
    case D3DTADDRESS_BORDER:
        // OpenGL ES has no border; its shader reads the border colour where
        // the coordinates leave the texture.
        return gl_profile() == GlProfile::es ? GL_CLAMP_TO_EDGE : GL_CLAMP_TO_BORDER;
    default:
        return GL_REPEAT;
    }
}

bool linear(int filter)
{
    // Anisotropic filtering with the default degree of 1 is bilinear.
    return filter == D3DTEXF_LINEAR || filter == D3DTEXF_ANISOTROPIC;
}

GLint min_filter(const FfSampler& s)
{
    bool lin = linear(s.min_filter);
    switch (s.mip_filter) {
    case D3DTEXF_NONE:
        return lin ? GL_LINEAR : GL_NEAREST;
    case D3DTEXF_POINT:
        return lin ? GL_LINEAR_MIPMAP_NEAREST : GL_NEAREST_MIPMAP_NEAREST;
    default: // LINEAR; an anisotropic mip filter has no meaning of its own
        return lin ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_LINEAR;
    }
}

GLuint make_sampler(const FfSampler& s)
{
    GLuint sampler = 0;
    glGenSamplers(1, &sampler);
    glSamplerParameteri(sampler, GL_TEXTURE_WRAP_S, address_mode(s.address_u));
    glSamplerParameteri(sampler, GL_TEXTURE_WRAP_T, address_mode(s.address_v));
    glSamplerParameteri(sampler, GL_TEXTURE_MAG_FILTER,
                        linear(s.mag_filter) ? GL_LINEAR : GL_NEAREST);
    glSamplerParameteri(sampler, GL_TEXTURE_MIN_FILTER, min_filter(s));
    if (gl_profile() == GlProfile::es)
        return sampler; // the bias and the border are the shader's there
    glSamplerParameterf(sampler, GL_TEXTURE_LOD_BIAS, s.lod_bias);
    float border[4] = {float((s.border >> 16) & 0xFF) / 255.0f,
                       float((s.border >> 8) & 0xFF) / 255.0f, float(s.border & 0xFF) / 255.0f,
                       float(s.border >> 24) / 255.0f};
    glSamplerParameterfv(sampler, GL_TEXTURE_BORDER_COLOR, border);
    return sampler;
}

} // namespace

struct GlStateCache {
    bool known = false; // false: nothing below may be trusted
    FfKey key;          // depth, blend and cull part of the last key applied
    GLuint program = 0;
    GLuint texture[UNITS] = {};
    GLuint sampler[UNITS] = {};
    bool alpha_mask = false;
    bool depth_mask = true;
    std::unordered_map<SamplerKey, GLuint, SamplerKeyHash> samplers;
};

// The cache of the living device, told when a texture goes away: GL unbinds
// a deleted texture, and its name may come back for a new one.
static GlStateCache* s_live = nullptr;

GlStateCache* gl_state_create()
{
    s_live = new GlStateCache;
    return s_live;
}

void gl_state_texture_deleted(GLuint texture)
{
    if (!s_live)
        return;
    for (GLuint& bound : s_live->texture) {
        if (bound == texture)
            bound = 0;
    }
}

void gl_state_destroy(GlStateCache* cache)
{
    if (s_live == cache)
        s_live = nullptr;
    for (auto& entry : cache->samplers)
        glDeleteSamplers(1, &entry.second);
    delete cache;
}

void gl_state_forget(GlStateCache* cache)
{
    cache->known = false;
}

void gl_state_lost(GlStateCache* cache)
{
    cache->known = false;
    cache->samplers.clear();
}

// Puts GL into the state the cache believes in, after it was lost.
static void establish(GlStateCache* cache)
{
    if (cache->known)
        return;
    cache->known = true;
    std::memset(&cache->key, 0, sizeof cache->key);
    cache->key.cull = D3DCULL_NONE;
    glDisable(GL_DEPTH_TEST);
    glDepthMask(GL_TRUE);
    cache->depth_mask = true;
    glDepthFunc(GL_ALWAYS);
    glDisable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ZERO);
    glDisable(GL_CULL_FACE);
    // Direct3D's clockwise-front rule, with the picture upright in GL.
    glFrontFace(GL_CW);
    glDisable(GL_DITHER);
    glDisable(GL_SCISSOR_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_FALSE);
    cache->alpha_mask = false;
    glUseProgram(0);
    cache->program = 0;
    for (int unit = 0; unit < UNITS; ++unit) {
        glActiveTexture(GLenum(GL_TEXTURE0 + unit));
        glBindTexture(GL_TEXTURE_2D, 0);
        glBindSampler(GLuint(unit), 0);
        cache->texture[unit] = 0;
        cache->sampler[unit] = 0;
    }
}

void gl_state_depth_mask(GlStateCache* cache, bool write)
{
    establish(cache);
    if (cache->depth_mask != write) {
        glDepthMask(write ? GL_TRUE : GL_FALSE);
        cache->depth_mask = write;
    }
}

void gl_state_colour_mask(GlStateCache* cache, bool alpha)
{
    establish(cache);
    if (cache->alpha_mask != alpha) {
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, alpha ? GL_TRUE : GL_FALSE);
        cache->alpha_mask = alpha;
    }
}

void gl_state_apply_key(GlStateCache* cache, const FfKey& key)
{
    establish(cache);
    FfKey& had = cache->key;
    if (key.depth_test != had.depth_test) {
        if (key.depth_test)
            glEnable(GL_DEPTH_TEST);
        else
            glDisable(GL_DEPTH_TEST);
        had.depth_test = key.depth_test;
    }
    if (key.depth_test) {
        if (key.depth_func != had.depth_func) {
            glDepthFunc(compare_function(key.depth_func));
            had.depth_func = key.depth_func;
        }
    }
    // Depth writes only happen where the test runs, as in Direct3D; GL
    // would skip them anyway with the test off.
    gl_state_depth_mask(cache, key.depth_test && key.depth_write);

    if (key.blend != had.blend) {
        if (key.blend)
            glEnable(GL_BLEND);
        else
            glDisable(GL_BLEND);
        had.blend = key.blend;
    }
    if (key.blend && (key.src_blend != had.src_blend || key.dst_blend != had.dst_blend)) {
        glBlendFunc(blend_factor(key.src_blend), blend_factor(key.dst_blend));
        had.src_blend = key.src_blend;
        had.dst_blend = key.dst_blend;
    }

    if (key.cull != had.cull) {
        if (key.cull == D3DCULL_NONE) {
            glDisable(GL_CULL_FACE);
        } else {
            if (had.cull == D3DCULL_NONE)
                glEnable(GL_CULL_FACE);
            // CCW culls what appears counter-clockwise, the back of a
            // clockwise front; CW the other way round.
            glCullFace(key.cull == D3DCULL_CW ? GL_FRONT : GL_BACK);
        }
        had.cull = key.cull;
    }
}

void gl_state_use_program(GlStateCache* cache, GLuint program)
{
    establish(cache);
    if (cache->program != program) {
        glUseProgram(program);
        cache->program = program;
    }
}

void gl_state_bind_texture(GlStateCache* cache, int unit, GLuint texture, const FfSampler& sampler)
{
    establish(cache);
    GLuint sampler_name = 0;
    if (texture) {
        SamplerKey key;
        key.sampler = sampler;
        key.sampler.has_alpha = 0;
        key.sampler.max_level = 0;
        key.sampler.reserved = 0;
        auto found = cache->samplers.find(key);
        if (found == cache->samplers.end())
            found = cache->samplers.emplace(key, make_sampler(key.sampler)).first;
        sampler_name = found->second;
    }
    if (cache->texture[unit] != texture) {
        glActiveTexture(GLenum(GL_TEXTURE0 + unit));
        glBindTexture(GL_TEXTURE_2D, texture);
        cache->texture[unit] = texture;
    }
    if (cache->sampler[unit] != sampler_name) {
        glBindSampler(GLuint(unit), sampler_name);
        cache->sampler[unit] = sampler_name;
    }
}
