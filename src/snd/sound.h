// Sound manager: the sound table and playback. Sounds are WAV files loaded
// whole into DirectSound buffers, one per sound, and named by slot numbers;
// -1 means none, and playing -1 does nothing.
#pragma once
#include <cstdint>

#include "base/types.h"
#include "snd/dsound.h"

constexpr int SOUND_SLOTS = 2048;
constexpr int SOUND_NAME_SIZE = 260; // names keep at most 259 characters

struct SoundSlot {
    char name[SOUND_NAME_SIZE];  // as requested, before slash conversion; "" while free
    IDirectSoundBuffer8* buffer; // the loaded sound; null = slot free
};

extern IDirectSound8* g_dsound; // null while the program runs silent
extern SoundSlot g_sounds[SOUND_SLOTS];

// 1 when sound output is ready, 0 when the program runs silent (headless,
// no audio device). Call once at start-up.
int snd_init(HWND window);
// The same over an output nobody hears, drained with ds_render: for tests,
// tools and the fuzzer.
int snd_init_null_output();
// Releases every slot's buffer, then the sound object.
void snd_deinit();

// Releases the slot's buffer, if any, and empties the slot.
void snd_free(int32_t slot);
// The first slot from 0 up whose name equals `name`, ASCII case ignored; -1 if none.
int snd_find(const char* name);
// Loads the WAV file `name` (canonical 44-byte PCM header) into `slot`,
// replacing what was there. Returns slot, or -1 with the slot left empty.
int snd_load(const char* name, int32_t slot);
// Find or load: the slot holding `name`, loading it into the highest free
// slot if needed; -1 if it cannot be loaded.
int snd_get(const char* name);
// Plays the slot's sound. flags 0 plays a fresh duplicate (sounds overlap
// themselves); DSBPLAY_LOOPING loops the slot's own buffer. volume in
// hundredths of a dB (0 full), pan -10000..10000, frequency in Hz (0 = the
// recording's rate). Returns the Play result; nothing happens for -1 or an
// empty slot.
HRESULT snd_play(int32_t slot, uint32_t flags, int32_t volume, int32_t pan, uint32_t frequency);
