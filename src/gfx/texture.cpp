// Texture manager. Owns g_textures, 2048 slots that are zero at start.
// Slot 0 is never handed out or searched; 1 to 2046 are allocated from the
// top down, so the first texture asked for lands in 2046; 2047 is reserved
// for the missing-texture image. Nothing frees a single slot while the
// program runs; tex_load on an explicit slot replaces its texture, and
// tex_free_all empties the table at shutdown.
//
// Invariants: a slot with a name holds a texture (a failed load leaves its
// slot free and unnamed, so the next request tries again); every texture is
// A8R8G8B8, created blank with all levels zero; `width` and `height` keep the
// size asked for, not the possibly larger size the device gave. Image copies
// are bounded by both the image and the texture, whichever is smaller.

#include "gfx/texture.h"

#include <cstdio>
#include <cstring>

#include "base/log.h"
#include "gfx/device.h"
#include "gfx/texture_create.h"
#include "res/files.h"
#include "res/tga.h"

TextureSlot g_textures[TEXTURE_SLOT_COUNT];

static bool slot_valid(int32_t slot)
{
    return slot >= 0 && slot < TEXTURE_SLOT_COUNT;
}

// Empties a slot: releases its texture and forgets its name and size.
static void slot_clear(TextureSlot* slot)
{
    if (slot->texture)
        slot->texture->Release();
    std::memset(slot, 0, sizeof *slot);
}

// Names compare without regard to ASCII case, whatever the locale.
static bool names_equal(const char* a, const char* b)
{
    for (;; ++a, ++b) {
        unsigned char ca = static_cast<unsigned char>(*a), cb = static_cast<unsigned char>(*b);
        if (ca >= 'A' && ca <= 'Z')
            ca = static_cast<unsigned char>(ca - 'A' + 'a');
        if (cb >= 'A' && cb <= 'Z')
            cb = static_cast<unsigned char>(cb - 'A' + 'a');
        if (ca != cb)
            return false;
        if (ca == 0)
            return true;
    }
}

int tex_find(const char* name)
{
    if (!name)
        return MISSING_TEXTURE_SLOT;
    for (int slot = 1; slot < TEXTURE_SLOT_COUNT; ++slot) {
        const TextureSlot& entry = g_textures[slot];
        if (entry.texture && names_equal(entry.name, name))
            return slot;
    }
    return MISSING_TEXTURE_SLOT;
}

int tex_alloc_slot()
{
    for (int slot = MISSING_TEXTURE_SLOT - 1; slot >= 1; --slot) {
        if (!g_textures[slot].texture)
            return slot;
    }
    return -1;
}

// Zeroes every level, row by row through each lock's pitch. The device may
// already hand out zeroed memory; a texture its owner fills only in part (the
// fire fills part of level 0 and never the smaller levels) must read black
// wherever it was not written, whatever the device.
static bool clear_levels(IDirect3DTexture8* texture)
{
    DWORD count = texture->GetLevelCount();
    for (DWORD level = 0; level < count; ++level) {
        D3DSURFACE_DESC desc;
        D3DLOCKED_RECT lock;
        if (FAILED(texture->GetLevelDesc(level, &desc)) ||
            FAILED(texture->LockRect(level, &lock, nullptr, 0)))
            return false;
        for (UINT y = 0; y < desc.Height; ++y)
            std::memset(static_cast<uint8_t*>(lock.pBits) + ptrdiff_t(y) * lock.Pitch, 0,
                        size_t(desc.Width) * 4);
        texture->UnlockRect(level);
    }
    return true;
}

int tex_create(int32_t width, int32_t height, const char* name, int32_t slot)
{
    if (!slot_valid(slot) || !name || !g_device)
        return -1;
    IDirect3DTexture8* texture = nullptr;
    if (FAILED(tx_create_texture(g_device, UINT(width), UINT(height), 0, 0, D3DFMT_A8R8G8B8,
                                 D3DPOOL_MANAGED, &texture)))
        return -1;
    if (!clear_levels(texture)) {
        texture->Release();
        return -1;
    }
    TextureSlot& entry = g_textures[slot];
    slot_clear(&entry); // callers hand free slots; never leak one that is not
    entry.texture = texture;
    std::snprintf(entry.name, sizeof entry.name, "%s", name);
    entry.width = width;
    entry.height = height;
    return slot;
}

int tex_create_named(int32_t width, int32_t height, const char* name)
{
    int slot = tex_alloc_slot();
    if (slot < 0)
        return -1;
    return tex_create(width, height, name, slot);
}

// Copies the image into level 0, stopping at the texture's own size when the
// device gave less than the image (an image above the maximum texture size).
static bool upload_level0(IDirect3DTexture8* texture, const Image* image)
{
    D3DSURFACE_DESC desc;
    D3DLOCKED_RECT lock;
    if (FAILED(texture->GetLevelDesc(0, &desc)) || FAILED(texture->LockRect(0, &lock, nullptr, 0)))
        return false;
    int32_t rows = image->height < int32_t(desc.Height) ? image->height : int32_t(desc.Height);
    int32_t cols = image->width < int32_t(desc.Width) ? image->width : int32_t(desc.Width);
    for (int32_t y = 0; y < rows; ++y) {
        const uint8_t* from = image->pixels + size_t(y) * size_t(image->width) * 4;
        uint8_t* to = static_cast<uint8_t*>(lock.pBits) + ptrdiff_t(y) * lock.Pitch;
        std::memcpy(to, from, size_t(cols) * 4);
    }
    texture->UnlockRect(0);
    return true;
}

// Loads the image file at `path` (rewritten in place to '\' separators) into
// `slot` under `name` and builds its mip chain. Returns slot, or -1.
static int tex_load_image(char* path, const char* name, int32_t slot, int32_t format)
{
    if (!path || !name || !slot_valid(slot))
        return -1;
    fix_path_slashes(path);
    MemFile* file = mf_open(path);
    if (!file)
        return -1;
    Image* image = image_load(file, format);
    if (!image) {
        mf_close(file);
        return -1;
    }
    int result = tex_create(image->width, image->height, name, slot);
    if (result >= 0 && !upload_level0(g_textures[slot].texture, image)) {
        slot_clear(&g_textures[slot]);
        result = -1;
    }
    if (result >= 0)
        tx_filter_texture(g_textures[slot].texture, 0, FILTER_DEFAULT);
    image_free(image);
    mf_close(file);
    return result;
}

int tex_load(const char* name, int32_t slot)
{
    if (!name)
        return -1;
    log_printf("loading texture \"%s\" as #%u", name, unsigned(slot));
    char path[TEXTURE_PATH_SIZE];
    int length = std::snprintf(path, sizeof path, "%s.tga", name);
    bool fits = length >= 0 && length < int(sizeof path);
    if (slot_valid(slot))
        slot_clear(&g_textures[slot]);
    if (!slot_valid(slot) || !fits || tex_load_image(path, name, slot, IMAGE_FORMAT_TGA) < 0) {
        log_printf("failed ... ");
        return -1;
    }
    return slot;
}

int tex_get(const char* name)
{
    if (!name)
        return -1;
    int slot = tex_find(name);
    if (slot != MISSING_TEXTURE_SLOT)
        return slot;
    slot = tex_alloc_slot();
    if (slot < 0)
        return -1;
    return tex_load(name, slot);
}

void tex_free_all()
{
    for (TextureSlot& entry : g_textures)
        slot_clear(&entry);
}

void tex_update_mips(int32_t slot)
{
    if (slot_valid(slot) && g_textures[slot].texture)
        tx_filter_texture(g_textures[slot].texture, 0, FILTER_DEFAULT);
}
