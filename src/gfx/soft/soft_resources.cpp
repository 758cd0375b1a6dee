// Resources of the software device: textures with their mip levels and
// vertex buffers, all in plain memory (the levels are the backends' common
// ones). A second lock of a locked object is refused, as on hardware. A
// lock of a surface that queued draws use goes through their scene first;
// vertex buffers need no such care, as draws read their vertices when they
// are made.
#include "gfx/soft/soft_internal.h"
#include "gfx/soft/soft_scene.h"

SoftSurface::SoftSurface(SoftTexture* texture, TexelLevel* level, D3DFORMAT format, D3DPOOL pool)
    : MemorySurface(texture, level, format, pool), texture_(texture), level_(level)
{
}

HRESULT SoftSurface::LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags)
{
    if (texture_) {
        if (texture_->queued_in)
            texture_->queued_in->before_write(texture_, level_);
    } else {
        soft_scene_render(*queue_);
    }
    return MemorySurface::LockRect(locked, rect, flags);
}

SoftTexture::SoftTexture(int width, int height, int levels, D3DFORMAT format, D3DPOOL pool)
    : format_(format)
{
    make_level_chain(&levels_, width, height, levels);
    for (TexelLevel& level : levels_)
        surfaces_.push_back(new SoftSurface(this, &level, format, pool));
}

HRESULT SoftVertexBuffer::Lock(UINT offset, UINT size, BYTE** data, DWORD)
{
    if (!data || locked_)
        return D3DERR_INVALIDCALL;
    *data = nullptr;
    if (offset > bytes_.size() || size > bytes_.size() - offset)
        return D3DERR_INVALIDCALL;
    *data = bytes_.data() + offset;
    locked_ = true;
    return D3D_OK;
}

HRESULT SoftVertexBuffer::Unlock()
{
    if (!locked_)
        return D3DERR_INVALIDCALL;
    locked_ = false;
    return D3D_OK;
}
