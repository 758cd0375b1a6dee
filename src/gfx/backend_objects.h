// What every backend's objects share: COM reference counting, texture
// levels kept in memory where locks reach them, the surfaces that expose one
// level each, and the texture methods that only pick a level and hand the
// call to its surface.
#pragma once
#include <cstdint>
#include <vector>

#include "gfx/d3d8.h"

// AddRef and Release for objects that free themselves when the last
// reference goes: the Direct3D object, devices, textures, vertex buffers.
// Surfaces are not among them: they count on the object that owns them.
template <class Interface> class RefCounted : public Interface
{
  public:
    DWORD AddRef() final { return ++refs_; }
    DWORD Release() final
    {
        DWORD left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }

  private:
    DWORD refs_ = 1;
};

// One level in memory: X8R8G8B8 or A8R8G8B8 words, rows top first, tightly
// packed.
struct TexelLevel {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> texels;
};

// Sizes `count` levels from width x height down, each half the one before
// (never below 1), cleared to zero, so a texture filled only partly reads
// black elsewhere.
template <class Level>
void make_level_chain(std::vector<Level>* levels, int width, int height, int count)
{
    levels->resize(size_t(count));
    for (Level& level : *levels) {
        level.width = width;
        level.height = height;
        level.texels.assign(size_t(width) * size_t(height), 0);
        width = width > 1 ? width / 2 : 1;
        height = height > 1 ? height / 2 : 1;
    }
}

// A surface over a level in memory. References count on its owner. A lock
// hands out a pointer into the level; a second lock of a locked surface is
// refused, as on hardware.
class MemorySurface : public IDirect3DSurface8
{
  public:
    MemorySurface(IUnknown8* owner, TexelLevel* level, D3DFORMAT format, D3DPOOL pool)
        : owner_(owner), level_(level), format_(format), pool_(pool)
    {
    }
    DWORD AddRef() override { return owner_->AddRef(); }
    DWORD Release() override { return owner_->Release(); }
    HRESULT GetDesc(D3DSURFACE_DESC* desc) override
    {
        if (!desc)
            return D3DERR_INVALIDCALL;
        *desc = D3DSURFACE_DESC{};
        desc->Format = format_;
        desc->Type = D3DRTYPE_SURFACE;
        desc->Pool = pool_;
        desc->Size = UINT(level_->width * level_->height * 4);
        desc->MultiSampleType = D3DMULTISAMPLE_NONE;
        desc->Width = UINT(level_->width);
        desc->Height = UINT(level_->height);
        return D3D_OK;
    }
    HRESULT LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD) override
    {
        if (!locked || locked_)
            return D3DERR_INVALIDCALL;
        int left = 0, top = 0;
        if (rect) {
            if (rect->left < 0 || rect->top < 0 || rect->right > level_->width ||
                rect->bottom > level_->height || rect->left >= rect->right ||
                rect->top >= rect->bottom)
                return D3DERR_INVALIDCALL;
            left = rect->left;
            top = rect->top;
        }
        locked->Pitch = level_->width * 4;
        locked->pBits = level_->texels.data() + size_t(top) * size_t(level_->width) + size_t(left);
        locked_ = true;
        return D3D_OK;
    }
    HRESULT UnlockRect() override
    {
        if (!locked_)
            return D3DERR_INVALIDCALL;
        locked_ = false;
        return D3D_OK;
    }

  private:
    IUnknown8* owner_;
    TexelLevel* level_;
    D3DFORMAT format_;
    D3DPOOL pool_;
    bool locked_ = false;
};

// A texture whose levels are surfaces (owned, one per level, deleted with
// the texture). A level out of range is an invalid call.
template <class Surface> class LeveledTexture : public RefCounted<IDirect3DTexture8>
{
  public:
    ~LeveledTexture() override
    {
        for (Surface* surface : surfaces_)
            delete surface;
    }
    DWORD GetLevelCount() override { return DWORD(surfaces_.size()); }
    HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override
    {
        return level < surfaces_.size() ? surfaces_[level]->GetDesc(desc) : D3DERR_INVALIDCALL;
    }
    HRESULT GetSurfaceLevel(UINT level, IDirect3DSurface8** surface) override
    {
        if (!surface)
            return D3DERR_INVALIDCALL;
        *surface = nullptr;
        if (level >= surfaces_.size())
            return D3DERR_INVALIDCALL;
        AddRef();
        *surface = surfaces_[level];
        return D3D_OK;
    }
    HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override
    {
        return level < surfaces_.size() ? surfaces_[level]->LockRect(locked, rect, flags)
                                        : D3DERR_INVALIDCALL;
    }
    HRESULT UnlockRect(UINT level) override
    {
        return level < surfaces_.size() ? surfaces_[level]->UnlockRect() : D3DERR_INVALIDCALL;
    }

  protected:
    std::vector<Surface*> surfaces_;
};
