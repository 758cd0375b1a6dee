// What every backend's objects share: COM reference counting, and the
// texture methods that only pick a level and hand the call to its surface.
#pragma once
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
