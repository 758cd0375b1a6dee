// Resources of the OpenGL device: managed textures, the surfaces that expose
// one level each (or the back buffer), and vertex buffers. What a lock hands
// out is always plain memory, as with the software device; GL copies follow
// behind. A texture level written through a lock is uploaded again before
// the next draw that samples the texture (the program writes level 0 and
// then its own mip chain, level by level; GL never derives levels itself).
// The back buffer is read from the device's frame when it is locked, and a
// write lock puts what was written back into the frame.

#include "gfx/gl/gl_internal.h"

HRESULT GlSurface::LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags)
{
    HRESULT result = MemorySurface::LockRect(locked, rect, flags);
    if (result != D3D_OK)
        return result;
    if (back_)
        gl_device_read_back(back_, level_); // in place: the level has the frame's size
    read_only_ = (flags & D3DLOCK_READONLY) != 0;
    return D3D_OK;
}

HRESULT GlSurface::UnlockRect()
{
    HRESULT result = MemorySurface::UnlockRect();
    if (result != D3D_OK || read_only_)
        return result;
    if (back_)
        gl_device_write_back(back_, level_);
    else
        level_->dirty = true;
    return D3D_OK;
}

GlTexture::GlTexture(int width, int height, int levels, D3DFORMAT format, D3DPOOL pool)
    : format_(format)
{
    make_level_chain(&levels_, width, height, levels);
    for (GlLevel& level : levels_)
        surfaces_.push_back(new GlSurface(this, &level, format, pool, nullptr));
}

GlTexture::~GlTexture()
{
    if (name_ && generation_ == gl_context_generation()) {
        gl_state_texture_deleted(name_);
        glDeleteTextures(1, &name_);
    }
}

// Uploads and parameter changes go through a unit no draw uses, so the
// state cache's record of the draw units stays true.
static constexpr GLenum UPLOAD_UNIT = GL_TEXTURE0 + 7;

void gl_swap_red_blue(const uint32_t* in, uint32_t* out, size_t count, bool opaque)
{
    uint32_t alpha = opaque ? 0xFF000000u : 0u;
    for (size_t i = 0; i < count; ++i) {
        uint32_t p = in[i];
        out[i] = (p & 0xFF00FF00u) | ((p >> 16) & 0xFFu) | ((p & 0xFFu) << 16) | alpha;
    }
}

void gl_upload_level(int level, int width, int height, const uint32_t* texels, bool sub,
                     bool opaque)
{
    GLenum format = GL_BGRA, type = GL_UNSIGNED_INT_8_8_8_8_REV;
    static std::vector<uint32_t> s_swapped;
    if (gl_profile() == GlProfile::es) {
        format = GL_RGBA;
        type = GL_UNSIGNED_BYTE;
        if (texels) {
            s_swapped.resize(size_t(width) * size_t(height));
            gl_swap_red_blue(texels, s_swapped.data(), s_swapped.size(), opaque);
            texels = s_swapped.data();
        }
    }
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    if (sub)
        glTexSubImage2D(GL_TEXTURE_2D, level, 0, 0, width, height, format, type, texels);
    else
        glTexImage2D(GL_TEXTURE_2D, level, GL_RGBA8, width, height, 0, format, type, texels);
}

GLuint GlTexture::prepare(int base_level)
{
    if (generation_ != gl_context_generation()) {
        // The context was lost and made anew: the old name means nothing
        // now, and every level is uploaded again from memory.
        name_ = 0;
        generation_ = gl_context_generation();
        for (GlLevel& level : levels_)
            level.dirty = true;
        base_level_ = 0;
    }
    int last = int(levels_.size()) - 1;
    if (base_level > last)
        base_level = last;
    bool bound = false;
    auto bind = [&]() {
        if (!bound) {
            glActiveTexture(UPLOAD_UNIT);
            glBindTexture(GL_TEXTURE_2D, name_);
            bound = true;
        }
    };
    if (!name_) {
        glGenTextures(1, &name_);
        bind();
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, 0);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, last);
        // A format without alpha reads as opaque, whatever its top byte
        // holds (on OpenGL ES, which WebGL cannot swizzle, the upload
        // makes it so).
        if (!has_alpha() && gl_profile() == GlProfile::desktop)
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_A, GL_ONE);
        for (int i = 0; i <= last; ++i) {
            GlLevel& level = levels_[size_t(i)];
            gl_upload_level(i, level.width, level.height, level.texels.data(), false, !has_alpha());
            level.dirty = false;
        }
    }
    for (int i = 0; i <= last; ++i) {
        GlLevel& level = levels_[size_t(i)];
        if (!level.dirty)
            continue;
        bind();
        gl_upload_level(i, level.width, level.height, level.texels.data(), true, !has_alpha());
        level.dirty = false;
    }
    if (base_level != base_level_) {
        bind();
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, base_level);
        base_level_ = base_level;
    }
    return name_;
}
