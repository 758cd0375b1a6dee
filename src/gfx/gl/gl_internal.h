// Objects and helpers shared by the files of the OpenGL backend: the
// reference counting of its objects, textures with their CPU copies, the
// vertex buffer, the shader programs made from fixed-function keys and the
// cache of GL state.
#pragma once
#include "gfx/gl/gl_api.h"

#include <cstddef>
#include <cstdint>
#include <vector>

#include "gfx/backend_objects.h"
#include "gfx/d3d8.h"
#include "gfx/fixed_function.h"
#include "gfx/gl/gl_device.h"

// ---------------------------------------------------------------------------
// Resources (gl_resources.cpp)

// One mip level as the program sees it; `dirty`: written since it was last
// uploaded.
struct GlLevel : TexelLevel {
    bool dirty = true;
};

class GlDevice;
// Fills `into` (the back buffer's size) with the device's frame, rows top
// first; and puts it back after a write lock.
void gl_device_read_back(GlDevice* device, GlLevel* into);
void gl_device_write_back(GlDevice* device, const GlLevel* from);

// A level of a texture, or the back buffer. References count on the owner.
// The back buffer's texels are read from the device when it is locked.
class GlSurface final : public MemorySurface
{
  public:
    GlSurface(IUnknown8* owner, GlLevel* level, D3DFORMAT format, D3DPOOL pool, GlDevice* back)
        : MemorySurface(owner, level, format, pool), level_(level), back_(back)
    {
    }
    HRESULT LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override;
    HRESULT UnlockRect() override;

  private:
    GlLevel* level_;
    GlDevice* back_; // the device whose back buffer this is, or null for a texture level
    bool read_only_ = false;
};

// A managed texture: the levels live in memory, where locks reach them; a GL
// texture mirrors them and takes a level again before a draw reads it after
// it was written.
class GlTexture final : public LeveledTexture<GlSurface>
{
  public:
    GlTexture(int width, int height, int levels, D3DFORMAT format, D3DPOOL pool);
    ~GlTexture() override;

    bool has_alpha() const { return format_ == D3DFMT_A8R8G8B8; }
    // The GL texture with every written level uploaded and the most detailed
    // level in use set to `base_level` (clamped to the chain).
    GLuint prepare(int base_level);

  private:
    D3DFORMAT format_;
    std::vector<GlLevel> levels_;
    GLuint name_ = 0;
    unsigned generation_ = 0; // the context generation name_ belongs to
    int base_level_ = 0;
};

// Texels of the frame and of textures are A8R8G8B8 words, bytes B, G, R, A
// in memory. Desktop GL takes them as they are; OpenGL ES only as bytes R,
// G, B, A. These turn a run of words round into `out` (and back: the swap is
// its own inverse); `opaque` sets alpha, for a format that has none.
void gl_swap_red_blue(const uint32_t* in, uint32_t* out, size_t count, bool opaque);
// Fills (or with `sub`, updates) a level of the bound 2D texture from words
// in the program's order, in whatever form the context takes.
void gl_upload_level(int level, int width, int height, const uint32_t* texels, bool sub,
                     bool opaque);

// ---------------------------------------------------------------------------
// Shader programs (gl_shader.cpp)

// The uniforms of one generated program and the values last given to it, so
// a draw sends only what changed.
struct GlProgram {
    GLuint name = 0;
    GLint wvp = -1, fog = -1, fog_colour = -1;
    uint64_t matrix_serial = 0; // the device's transform serial last uploaded
    uint64_t fog_serial = 0;    // the device's fog serial last uploaded
};

// What decides a draw's shader: the stages, lighting and fog of its key;
// on OpenGL ES also what desktop samplers do and ES ones cannot (border
// addressing and a level-of-detail bias), which its shader then does.
// Everything else is zero, so keys compare and hash as bytes.
struct GlShaderKey {
    FfKey key;
    uint8_t border_u[FF_STAGES], border_v[FF_STAGES];
    D3DCOLOR border[FF_STAGES];
    float lod_bias[FF_STAGES];
    bool operator==(const GlShaderKey& other) const;
    bool operator!=(const GlShaderKey& other) const { return !(*this == other); }
};
GlShaderKey gl_shader_key(const FfDraw& draw);
// The generated program for a shader key, compiled on first use; null when
// it cannot be compiled or linked (the reason is in the log).
GlProgram* gl_program_for(const GlShaderKey& shader_key);
// Compiles the programs of the keys the program's passes use, so a broken
// shader shows at start-up; 0 with a reason when one fails.
int gl_programs_check(char* why, int why_size);
// Releases every program made so far.
void gl_programs_release();
// Forgets every program without deleting it: its context is gone.
void gl_programs_forget();
// The attribute locations every program shares.
constexpr GLuint GL_ATTR_POSITION = 0;
constexpr GLuint GL_ATTR_COORD0 = 1;
constexpr GLuint GL_ATTR_COORD1 = 2;

// ---------------------------------------------------------------------------
// State cache (gl_state.cpp)

// Applies a draw's fixed-function key (depth, blending, culling) and binds
// its program, its textures and their samplers, changing only what differs
// from the last draw. Also owns the sampler objects.
struct GlStateCache;
GlStateCache* gl_state_create();
void gl_state_destroy(GlStateCache* cache);
// Forgets what is bound, after someone else (the platform's present) used
// the context.
void gl_state_forget(GlStateCache* cache);
// Forgets the sampler objects too, without deleting them: their context is
// gone.
void gl_state_lost(GlStateCache* cache);
// Forgets a texture that is being deleted wherever it is bound.
void gl_state_texture_deleted(GLuint texture);
void gl_state_apply_key(GlStateCache* cache, const FfKey& key);
void gl_state_use_program(GlStateCache* cache, GLuint program);
void gl_state_bind_texture(GlStateCache* cache, int unit, GLuint texture, const FfSampler& sampler);
// Colour writes of draws leave the frame's alpha (always opaque) alone;
// clears write all four channels.
void gl_state_colour_mask(GlStateCache* cache, bool alpha);
void gl_state_depth_mask(GlStateCache* cache, bool write);
