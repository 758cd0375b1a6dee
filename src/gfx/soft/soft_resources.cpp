// Resources of the software device: textures with their mip levels, the
// surfaces that expose one level each, and vertex buffers. All live in plain
// memory. New textures are cleared to zero in every level, so a texture its
// owner fills only partly reads black elsewhere. Locks hand out pointers into
// that memory; a second lock of a locked object is refused, as on hardware.
#include "gfx/soft/soft_internal.h"

HRESULT SoftSurface::GetDesc(D3DSURFACE_DESC* desc)
{
    if (!desc)
        return D3DERR_INVALIDCALL;
    desc->Format = format_;
    desc->Type = type_;
    desc->Usage = 0;
    desc->Pool = pool_;
    desc->Size = static_cast<UINT>(level_->width * level_->height * 4);
    desc->MultiSampleType = D3DMULTISAMPLE_NONE;
    desc->Width = static_cast<UINT>(level_->width);
    desc->Height = static_cast<UINT>(level_->height);
    return D3D_OK;
}

HRESULT SoftSurface::LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD)
{
    if (!locked || locked_)
        return D3DERR_INVALIDCALL;
    int left = 0, top = 0;
    if (rect) {
        if (rect->left < 0 || rect->top < 0 || rect->right > level_->width ||
            rect->bottom > level_->height || rect->left >= rect->right || rect->top >= rect->bottom)
            return D3DERR_INVALIDCALL;
        left = rect->left;
        top = rect->top;
    }
    locked->Pitch = level_->width * 4;
    locked->pBits = level_->texels.data() + size_t(top) * size_t(level_->width) + size_t(left);
    locked_ = true;
    return D3D_OK;
}

HRESULT SoftSurface::UnlockRect()
{
    if (!locked_)
        return D3DERR_INVALIDCALL;
    locked_ = false;
    return D3D_OK;
}

SoftTexture::SoftTexture(int width, int height, int levels, D3DFORMAT format, D3DPOOL pool)
    : format_(format)
{
    levels_.resize(size_t(levels));
    for (int i = 0; i < levels; ++i) {
        SoftLevel& level = levels_[size_t(i)];
        level.width = width;
        level.height = height;
        level.texels.assign(size_t(width) * size_t(height), 0);
        width = width > 1 ? width / 2 : 1;
        height = height > 1 ? height / 2 : 1;
    }
    for (SoftLevel& level : levels_)
        surfaces_.push_back(new SoftSurface(this, &level, format, pool, D3DRTYPE_SURFACE));
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
