// Sound manager. Owns g_dsound and the sound table g_sounds: 2048 slots, each
// a name and the buffer the named WAV file was loaded into. A slot has a
// buffer exactly when it has a name; slot 0 is searched but never handed out,
// and new sounds take the highest free slot.
//
// WAV files are read at the fixed offsets of the canonical 44-byte PCM header
// (res/wav.h), with no chunk walking: the format record at 20, the data
// length at 40, the samples from 44. The sound object checks the format and refuses what it
// cannot play, so a corrupt file loads as nothing rather than as noise. A
// file shorter than its declared data leaves the rest of the buffer silent.
//
// Plays without looping use a fresh duplicate each, so a sound can overlap
// itself; the duplicate is handed back to the sound object to be released
// once it has finished. The manager logs nothing: a sound that is missing is
// simply not heard.
#include "snd/sound.h"

#include <cstring>

#include "res/files.h"
#include "res/wav.h"

IDirectSound8* g_dsound = nullptr;
SoundSlot g_sounds[SOUND_SLOTS];

static constexpr DWORD SOUND_BUFFER_CAPS =
    DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLPAN | DSBCAPS_CTRLVOLUME;

// Names are kept as their first SOUND_NAME_SIZE - 1 characters, and compared
// the same way, so a long name still finds the slot it was loaded into.
static void copy_name(char* destination, const char* name)
{
    size_t length = std::strlen(name);
    if (length > SOUND_NAME_SIZE - 1)
        length = SOUND_NAME_SIZE - 1;
    std::memcpy(destination, name, length);
    destination[length] = '\0';
}

static int ascii_lower(int c)
{
    return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

static bool names_equal(const char* a, const char* b)
{
    for (int i = 0; i < SOUND_NAME_SIZE - 1; ++i) {
        int ca = ascii_lower(static_cast<unsigned char>(a[i]));
        int cb = ascii_lower(static_cast<unsigned char>(b[i]));
        if (ca != cb)
            return false;
        if (ca == 0)
            return true;
    }
    return true;
}

static bool slot_is_valid(int32_t slot)
{
    return slot >= 0 && slot < SOUND_SLOTS;
}

static void empty_table()
{
    for (SoundSlot& slot : g_sounds) {
        slot.name[0] = '\0';
        slot.buffer = nullptr;
    }
}

static int init_with_device(const GUID* device, HWND window)
{
    if (g_dsound)
        snd_deinit();
    if (DirectSoundCreate8(device, &g_dsound, nullptr) < 0) {
        g_dsound = nullptr;
        return 0;
    }
    g_dsound->SetCooperativeLevel(window, DSSCL_PRIORITY);
    empty_table();
    return 1;
}

int snd_init(HWND window)
{
    return init_with_device(nullptr, window);
}

int snd_init_null_output()
{
    return init_with_device(&DSDEVID_NullOutput, nullptr);
}

void snd_deinit()
{
    for (int32_t slot = 0; slot < SOUND_SLOTS; ++slot)
        snd_free(slot);
    if (g_dsound)
        g_dsound->Release();
    g_dsound = nullptr;
}

void snd_free(int32_t slot)
{
    if (!slot_is_valid(slot))
        return;
    if (g_sounds[slot].buffer)
        g_sounds[slot].buffer->Release();
    g_sounds[slot].buffer = nullptr;
    g_sounds[slot].name[0] = '\0';
}

int snd_find(const char* name)
{
    // An empty name names nothing; it would otherwise match every free slot.
    if (!name || !name[0])
        return -1;
    for (int slot = 0; slot < SOUND_SLOTS; ++slot) {
        if (names_equal(g_sounds[slot].name, name))
            return slot;
    }
    return -1;
}

// Copies the samples behind the header into the new buffer: as many bytes as
// the buffer holds, but never more than the file has.
static void fill_buffer(IDirectSoundBuffer8* buffer, MemFile* file, int32_t available)
{
    void* bytes = nullptr;
    DWORD locked = 0;
    if (buffer->Lock(0, 0, &bytes, &locked, nullptr, nullptr, DSBLOCK_ENTIREBUFFER) < 0 || !bytes)
        return;
    int64_t count = int64_t(locked) < int64_t(available) ? int64_t(locked) : int64_t(available);
    mf_seek(file, WAV_DATA_OFFSET, 0);
    if (count > 0)
        mf_read(bytes, int32_t(count), 1, file);
    buffer->Unlock(bytes, locked, nullptr, 0);
}

int snd_load(const char* name, int32_t slot)
{
    if (!name || !slot_is_valid(slot))
        return -1;
    char path[SOUND_NAME_SIZE];
    copy_name(path, name);
    fix_path_slashes(path);
    snd_free(slot);
    // Without a sound object nothing could hold the samples; do not read the
    // file only to drop it.
    if (!g_dsound)
        return -1;
    MemFile* file = mf_open(path);
    if (!file)
        return -1;
    WavHeader header;
    if (!wav_read_header(file, &header)) {
        mf_close(file);
        return -1;
    }

    // The fmt chunk's length is not looked at: the layout is fixed.
    WAVEFORMATEX format{};
    format.wFormatTag = header.format.format_tag;
    format.nChannels = header.format.channels;
    format.nSamplesPerSec = header.format.samples_per_sec;
    format.nAvgBytesPerSec = header.format.avg_bytes_per_sec;
    format.nBlockAlign = header.format.block_align;
    format.wBitsPerSample = header.format.bits_per_sample;
    format.cbSize = 0;

    DSBUFFERDESC description{};
    description.dwSize = DSBUFFERDESC_SIZE;
    description.dwFlags = SOUND_BUFFER_CAPS;
    description.dwBufferBytes = DWORD(header.data_length);
    description.lpwfxFormat = &format;

    g_dsound->CreateSoundBuffer(&description, &g_sounds[slot].buffer, nullptr);
    if (!g_sounds[slot].buffer) {
        mf_close(file);
        return -1;
    }
    fill_buffer(g_sounds[slot].buffer, file, header.data_available);
    mf_close(file);
    copy_name(g_sounds[slot].name, name);
    return slot;
}

int snd_get(const char* name)
{
    int slot = snd_find(name);
    if (slot != -1)
        return slot;
    for (int32_t n = SOUND_SLOTS - 1; n >= 1; --n) {
        if (g_sounds[n].buffer)
            continue;
        int loaded = snd_load(name, n);
        if (loaded != -1)
            return loaded;
    }
    return -1;
}

HRESULT snd_play(int32_t slot, uint32_t flags, int32_t volume, int32_t pan, uint32_t frequency)
{
    if (!g_dsound || !slot_is_valid(slot) || !g_sounds[slot].buffer)
        return DSERR_INVALIDPARAM;
    IDirectSoundBuffer8* buffer = g_sounds[slot].buffer;
    IDirectSoundBuffer8* duplicate = nullptr;
    if (!(flags & DSBPLAY_LOOPING)) {
        HRESULT result = g_dsound->DuplicateSoundBuffer(buffer, &duplicate);
        // No duplicate (the buffer table is full): this play is not heard.
        if (result < 0 || !duplicate)
            return result < 0 ? result : DSERR_OUTOFMEMORY;
        buffer = duplicate;
    }
    buffer->SetVolume(volume);
    buffer->SetPan(pan);
    buffer->SetFrequency(frequency);
    HRESULT result = buffer->Play(0, 0, flags);
    if (duplicate)
        ds_release_when_stopped(duplicate);
    return result;
}
