// The texture table: every texture of the program lives in one of 2048 slots
// and is named by its slot number. Slot -1 means "none" to the binders.
#pragma once
#include <cstdint>

#include "gfx/d3d8.h"

constexpr int TEXTURE_SLOT_COUNT = 2048;
// Holds "textures/common/notfound", bound in place of empty slots. Also what
// tex_find answers when it finds nothing.
constexpr int MISSING_TEXTURE_SLOT = 2047;
constexpr int TEXTURE_NAME_SIZE = 64;  // 63 characters and the terminator
constexpr int TEXTURE_PATH_SIZE = 260; // name + ".tga" must fit, terminator included

struct TextureSlot {
    IDirect3DTexture8* texture; // null: the slot is free
    char name[TEXTURE_NAME_SIZE];
    int32_t width; // as requested, which the device may have rounded up
    int32_t height;
};

extern TextureSlot g_textures[TEXTURE_SLOT_COUNT];

// First slot from 1 to 2047 holding a texture named `name` (ASCII case
// ignored); MISSING_TEXTURE_SLOT when there is none.
int tex_find(const char* name);
// The highest free slot from 2046 down to 1, or -1 when the table is full.
int tex_alloc_slot();
// Creates a blank texture (every level cleared to zero) in `slot` under
// `name`, cut to 63 characters. Returns slot, or -1 with the slot untouched.
int tex_create(int32_t width, int32_t height, const char* name, int32_t slot);
// tex_create into a freshly allocated slot; -1 when none is free or it fails.
int tex_create_named(int32_t width, int32_t height, const char* name);
// Loads name + ".tga" into `slot`, replacing what was there, and logs the
// load. Returns slot, or -1 with the slot left empty.
int tex_load(const char* name, int32_t slot);
// Find-or-load: the slot of `name`, loading it into a new slot if needed;
// -1 when it cannot be loaded or the table is full.
int tex_get(const char* name);
// Releases every texture and empties the table (shutdown).
void tex_free_all();
// Rebuilds levels 1 and below of the slot's texture from level 0; call after
// rewriting level 0.
void tex_update_mips(int32_t slot);
