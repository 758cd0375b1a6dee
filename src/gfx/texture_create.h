// Texture creation fitted to what the device accepts, and the mip-chain
// regeneration that keeps the smaller levels in step with level 0.
#pragma once
#include "gfx/d3d8.h"

// Filter codes: the low 16 bits pick the filter; FILTER_DITHER asks for
// ordered dithering (meaningless for 32-bit texels, so it changes nothing).
constexpr DWORD FILTER_DEFAULT = 0xFFFFFFFFu;
constexpr DWORD FILTER_POINT = 2;
constexpr DWORD FILTER_BOX = 5;
constexpr DWORD FILTER_DITHER = 0x80000;

// A width, height or level count of 0xFFFFFFFF asks for the default size.
constexpr UINT TX_DEFAULT = 0xFFFFFFFFu;

// Adapts a texture request to the device: size defaults, the maximum size,
// aspect ratio and power-of-two rules, the mip level count and the format.
// Each out-pointer may be null (a null width or height counts as the default).
HRESULT tx_check_requirements(IDirect3DDevice8* device, UINT* width, UINT* height, UINT* levels,
                              DWORD usage, D3DFORMAT* format, D3DPOOL pool);

// Creates a texture of the request as tx_check_requirements adapts it.
// *texture is null unless the result is 0; device errors pass through.
HRESULT tx_create_texture(IDirect3DDevice8* device, UINT width, UINT height, UINT levels,
                          DWORD usage, D3DFORMAT format, D3DPOOL pool, IDirect3DTexture8** texture);

// Rebuilds every level below `source_level` from the one above it (box filter
// by default). A texture of one level is left as it is and gives 0.
HRESULT tx_filter_texture(IDirect3DTexture8* texture, UINT source_level, DWORD filter);

// Fills `destination` with `source` reduced 2:1. Only the box filter between
// 32-bit levels is done; other valid requests give D3DERR_NOTAVAILABLE.
HRESULT tx_copy_level(IDirect3DSurface8* destination, IDirect3DSurface8* source, DWORD filter);

// The 2:1 box reduction of one 32-bit level of src_width x src_height texels
// into the locked destination (half the size, at least 1 x 1). Each channel
// is (s0 + s1 + s2 + s3 + 2) / 4; a 1-texel side reads its texel twice.
void tx_box_shrink(const D3DLOCKED_RECT* destination, const D3DLOCKED_RECT* source, UINT src_width,
                   UINT src_height);
