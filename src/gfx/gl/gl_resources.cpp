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
    if (name_) {
        gl_state_texture_deleted(name_);
        glDeleteTextures(1, &name_);
    }
}

// Uploads and parameter changes go through a unit no draw uses, so the
// state cache's record of the draw units stays true.
static constexpr GLenum UPLOAD_UNIT = GL_TEXTURE0 + 7;

GLuint GlTexture::prepare(int base_level)
{
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
        // A format without alpha reads as opaque, whatever its top byte holds.
        if (!has_alpha())
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_A, GL_ONE);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        for (int i = 0; i <= last; ++i) {
            GlLevel& level = levels_[size_t(i)];
            glTexImage2D(GL_TEXTURE_2D, i, GL_RGBA8, level.width, level.height, 0, GL_BGRA,
                         GL_UNSIGNED_INT_8_8_8_8_REV, level.texels.data());
            level.dirty = false;
        }
    }
    for (int i = 0; i <= last; ++i) {
        GlLevel& level = levels_[size_t(i)];
        if (!level.dirty)
            continue;
        bind();
        glTexSubImage2D(GL_TEXTURE_2D, i, 0, 0, level.width, level.height, GL_BGRA,
                        GL_UNSIGNED_INT_8_8_8_8_REV, level.texels.data());
        level.dirty = false;
    }
    if (base_level != base_level_) {
        bind();
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, base_level);
        base_level_ = base_level;
    }
    return name_;
}
