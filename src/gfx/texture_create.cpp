// Texture creation and mip chains. Owns no state: every request reads the
// device's caps and display format afresh, so a test that changes the caps
// sees the new rules at once.
//
// Creation clamps the requested size to the device's maximum and aspect
// ratio first and rounds to powers of two after, and only a size that ends up
// a power of two in both directions gets a mip chain. The texture manager
// writes A8R8G8B8 texels straight into level 0, so a refused format is never
// swapped for another: the request fails instead.
//
// Regeneration walks the chain top down, each level built from the one just
// made above it, with a rounded 2 x 2 box average per channel. Levels of at
// least 2 x 2 take a packed path that sums two channels per 32-bit word; the
// 1-texel-wide or -tall tail takes a plain per-channel path. Both give the
// same integers, (s0 + s1 + s2 + s3 + 2) / 4.

#include "gfx/texture_create.h"

#include <cstddef>
#include <cstdint>

static constexpr DWORD USAGE_ALLOWED = D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL;
static constexpr UINT POW2_LIMIT = 0x80000000u; // the largest power of two a UINT holds

static bool is_pow2(UINT v)
{
    return v != 0 && (v & (v - 1)) == 0;
}

// The smallest power of two >= v (1 for 0), pinned to the largest one a UINT
// holds so that absurd caps cannot wrap the size to 0.
static UINT round_up_pow2(UINT v)
{
    if (v > POW2_LIMIT)
        return POW2_LIMIT;
    UINT p = 1;
    while (p < v)
        p <<= 1;
    return p;
}

static UINT min_u64(UINT a, uint64_t b)
{
    return uint64_t(a) < b ? a : UINT(b);
}

static UINT full_level_count(UINT width, UINT height)
{
    UINT size = width > height ? width : height;
    UINT levels = 1;
    while (size > 1) {
        size >>= 1;
        ++levels;
    }
    return levels;
}

HRESULT tx_check_requirements(IDirect3DDevice8* device, UINT* width, UINT* height, UINT* levels,
                              DWORD usage, D3DFORMAT* format, D3DPOOL pool)
{
    if (usage == 0xFFFFFFFFu)
        usage = 0;
    if (!device || (usage & ~USAGE_ALLOWED) || pool > D3DPOOL_SYSTEMMEM)
        return D3DERR_INVALIDCALL;

    IDirect3D8* d3d = nullptr;
    HRESULT hr = device->GetDirect3D(&d3d);
    if (FAILED(hr))
        return hr;
    D3DCAPS8 caps = {};
    D3DDISPLAYMODE mode = {};
    hr = device->GetDeviceCaps(&caps);
    if (SUCCEEDED(hr))
        hr = device->GetDisplayMode(&mode);
    if (FAILED(hr)) {
        d3d->Release();
        return hr;
    }

    UINT w = width ? *width : TX_DEFAULT;
    UINT h = height ? *height : TX_DEFAULT;
    if (w == TX_DEFAULT && h == TX_DEFAULT)
        w = h = 256;
    else if (w == TX_DEFAULT)
        w = h;
    else if (h == TX_DEFAULT)
        h = w;
    if (w == 0)
        w = 1;
    if (h == 0)
        h = 1;

    if (w > caps.MaxTextureWidth)
        w = caps.MaxTextureWidth;
    if (h > caps.MaxTextureHeight)
        h = caps.MaxTextureHeight;

    uint64_t aspect = caps.MaxTextureAspectRatio;
    if (caps.TextureCaps & D3DPTEXTURECAPS_SQUAREONLY)
        aspect = 1;
    if (aspect != 0) {
        w = min_u64(w, aspect * h);
        h = min_u64(h, aspect * w);
    }

    if (caps.TextureCaps & D3DPTEXTURECAPS_POW2) {
        w = round_up_pow2(w);
        h = round_up_pow2(h);
    }

    UINT level_count = levels ? *levels : 0;
    if ((caps.TextureCaps & D3DPTEXTURECAPS_MIPMAP) && is_pow2(w) && is_pow2(h)) {
        UINT full = full_level_count(w, h);
        if (level_count == 0 || level_count > full)
            level_count = full;
    } else {
        level_count = 1;
    }

    D3DFORMAT wanted = format ? *format : D3DFMT_A8R8G8B8;
    hr = d3d->CheckDeviceFormat(caps.AdapterOrdinal, caps.DeviceType, mode.Format, usage,
                                D3DRTYPE_TEXTURE, wanted);
    d3d->Release();
    if (FAILED(hr))
        return D3DERR_NOTAVAILABLE;

    if (width)
        *width = w;
    if (height)
        *height = h;
    if (levels)
        *levels = level_count;
    if (format)
        *format = wanted;
    return D3D_OK;
}

HRESULT tx_create_texture(IDirect3DDevice8* device, UINT width, UINT height, UINT levels,
                          DWORD usage, D3DFORMAT format, D3DPOOL pool, IDirect3DTexture8** texture)
{
    if (texture)
        *texture = nullptr;
    if (!device || !texture)
        return D3DERR_INVALIDCALL;
    if (usage == 0xFFFFFFFFu)
        usage = 0;
    HRESULT hr = tx_check_requirements(device, &width, &height, &levels, usage, &format, pool);
    if (FAILED(hr))
        return hr;
    hr = device->CreateTexture(width, height, levels, usage, format, pool, texture);
    if (FAILED(hr)) {
        *texture = nullptr;
        return hr;
    }
    return D3D_OK;
}

static bool filter_valid(DWORD filter)
{
    DWORD kind = filter & 0xFFFF;
    return kind >= 1 && kind <= 5 && filter < 0x100000;
}

HRESULT tx_filter_texture(IDirect3DTexture8* texture, UINT source_level, DWORD filter)
{
    if (!texture)
        return D3DERR_INVALIDCALL;
    D3DSURFACE_DESC desc;
    HRESULT hr = texture->GetLevelDesc(0, &desc);
    if (FAILED(hr))
        return hr;
    // Every format this program creates is 32-bit true colour: the box filter
    // serves it (only a palettised format would want point sampling).
    if (filter == FILTER_DEFAULT)
        filter = FILTER_BOX;

    UINT count = texture->GetLevelCount();
    if (source_level == 0xFFFFFFFFu)
        source_level = 0;
    if (source_level >= count)
        return D3DERR_INVALIDCALL;
    // Point and box build each level from the one made just before it;
    // the others would go back to the source level every time.
    bool cascade = (filter & 0xFF) == FILTER_POINT || (filter & 0xFF) == FILTER_BOX;

    IDirect3DSurface8* source = nullptr;
    hr = texture->GetSurfaceLevel(source_level, &source);
    if (FAILED(hr))
        return hr;
    for (UINT level = source_level + 1; level < count; ++level) {
        IDirect3DSurface8* target = nullptr;
        hr = texture->GetSurfaceLevel(level, &target);
        if (SUCCEEDED(hr))
            hr = tx_copy_level(target, source, filter);
        if (FAILED(hr)) {
            if (target)
                target->Release();
            source->Release();
            return hr;
        }
        if (cascade) {
            source->Release();
            source = target;
        } else {
            target->Release();
        }
    }
    source->Release();
    return D3D_OK;
}

static bool is_32bit(D3DFORMAT format)
{
    return format == D3DFMT_A8R8G8B8 || format == D3DFMT_X8R8G8B8;
}

static UINT half_side(UINT side)
{
    return side > 1 ? side / 2 : 1;
}

HRESULT tx_copy_level(IDirect3DSurface8* destination, IDirect3DSurface8* source, DWORD filter)
{
    if (!filter_valid(filter) || !destination || !source)
        return D3DERR_INVALIDCALL;
    D3DSURFACE_DESC src_desc, dst_desc;
    HRESULT hr = source->GetDesc(&src_desc);
    if (SUCCEEDED(hr))
        hr = destination->GetDesc(&dst_desc);
    if (FAILED(hr))
        return hr;
    // Say so rather than report success for a reduction that is not done.
    if ((filter & 0xFFFF) != FILTER_BOX || src_desc.Format != dst_desc.Format ||
        !is_32bit(src_desc.Format) || dst_desc.Width != half_side(src_desc.Width) ||
        dst_desc.Height != half_side(src_desc.Height))
        return D3DERR_NOTAVAILABLE;

    D3DLOCKED_RECT src_lock, dst_lock;
    hr = source->LockRect(&src_lock, nullptr, D3DLOCK_READONLY);
    if (FAILED(hr))
        return hr;
    hr = destination->LockRect(&dst_lock, nullptr, 0);
    if (FAILED(hr)) {
        source->UnlockRect();
        return hr;
    }
    tx_box_shrink(&dst_lock, &src_lock, src_desc.Width, src_desc.Height);
    destination->UnlockRect();
    source->UnlockRect();
    return D3D_OK;
}

// Row y of a locked level, through the lock's own pitch.
static uint32_t* row_of(const D3DLOCKED_RECT* lock, UINT y)
{
    return reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(lock->pBits) +
                                       ptrdiff_t(y) * lock->Pitch);
}

// Four texels averaged with two channels per sum: blue and red in one word
// (mask 0x00FF00FF), green and alpha pre-shifted by two in another (mask
// 0x3FC03FC0). A channel sum of at most 4 x 255 + 2 fits its 10 bits, so no
// channel carries into the next, and the shifted green/alpha sum already
// sits where sum / 4 belongs once its two low bits are masked off.
static inline uint32_t box_packed(uint32_t a, uint32_t b, uint32_t c, uint32_t d)
{
    uint32_t rb =
        (a & 0x00FF00FFu) + (b & 0x00FF00FFu) + (c & 0x00FF00FFu) + (d & 0x00FF00FFu) + 0x00020002u;
    uint32_t ga = ((a >> 2) & 0x3FC03FC0u) + ((b >> 2) & 0x3FC03FC0u) + ((c >> 2) & 0x3FC03FC0u) +
                  ((d >> 2) & 0x3FC03FC0u) + 0x00800080u;
    return ((rb >> 2) & 0x00FF00FFu) | (ga & 0xFF00FF00u);
}

static inline uint32_t box_channels(uint32_t a, uint32_t b, uint32_t c, uint32_t d)
{
    uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        uint32_t sum = ((a >> shift) & 0xFF) + ((b >> shift) & 0xFF) + ((c >> shift) & 0xFF) +
                       ((d >> shift) & 0xFF) + 2;
        out |= (sum / 4) << shift;
    }
    return out;
}

void tx_box_shrink(const D3DLOCKED_RECT* destination, const D3DLOCKED_RECT* source, UINT src_width,
                   UINT src_height)
{
    UINT dst_width = half_side(src_width);
    UINT dst_height = half_side(src_height);
    if (src_width >= 2 && src_height >= 2) {
        for (UINT y = 0; y < dst_height; ++y) {
            const uint32_t* top = row_of(source, 2 * y);
            const uint32_t* bottom = row_of(source, 2 * y + 1);
            uint32_t* out = row_of(destination, y);
            for (UINT x = 0; x < dst_width; ++x)
                out[x] = box_packed(top[2 * x], top[2 * x + 1], bottom[2 * x], bottom[2 * x + 1]);
        }
        return;
    }
    // A line of texels: the missing neighbour is the texel itself.
    for (UINT y = 0; y < dst_height; ++y) {
        const uint32_t* top = row_of(source, 2 * y);
        const uint32_t* bottom = row_of(source, src_height > 1 ? 2 * y + 1 : 2 * y);
        uint32_t* out = row_of(destination, y);
        for (UINT x = 0; x < dst_width; ++x) {
            UINT x0 = 2 * x, x1 = src_width > 1 ? 2 * x + 1 : 2 * x;
            out[x] = box_channels(top[x0], top[x1], bottom[x0], bottom[x1]);
        }
    }
}
