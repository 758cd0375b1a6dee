// Fuzz target: the input is a WAV file. It is served from an archive in
// memory and loaded into a sound slot by the sound manager's loader,
// then played (one-shot and looping) and mixed for a few blocks on the null
// output. Checks: a loaded buffer has the declared length and holds the
// file's samples followed by silence; the mix stays finite and in range.
//
// Built without SDL: no audio device is installed, so there never is one.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "res/files.h"
#include "snd/dsound.h"
#include "snd/sound.h"

// Header fields as the loader sees them: bytes past the end read as zero.
static uint32_t field(const uint8_t* data, size_t size, size_t offset, int bytes)
{
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value |= uint32_t(offset + i < size ? data[offset + i] : 0) << (8 * i);
    return value;
}

static void serve_as_archive_member(const uint8_t* data, size_t size, const char* name)
{
    std::vector<uint8_t> pak(4 + PAK_ENTRY_SIZE + size, 0);
    pak[0] = 1;
    PakEntry entry{};
    std::strncpy(entry.name, name, sizeof entry.name - 1);
    entry.offset = 4 + PAK_ENTRY_SIZE;
    entry.size = int32_t(size);
    std::memcpy(pak.data() + 4, &entry, sizeof entry);
    if (size)
        std::memcpy(pak.data() + 4 + PAK_ENTRY_SIZE, data, size);
    pak_open_memory(mf_open_memory(pak.data(), int32_t(pak.size())));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    // A few header bytes can declare a buffer of 256 MB; keep within the
    // fuzzer's memory and time without losing the large-but-sane headers.
    const uint32_t declared = field(data, size, 40, 4);
    if (declared > (1u << 24))
        return 0;

    serve_as_archive_member(data, size, "sound\\fuzz.wav");
    if (!snd_init_null_output())
        __builtin_trap();
    int slot = snd_load("sound/fuzz.wav", SOUND_SLOTS - 1);
    if (slot != -1) {
        if (slot != SOUND_SLOTS - 1 || !g_sounds[slot].buffer)
            __builtin_trap();
        void* bytes = nullptr;
        DWORD length = 0;
        g_sounds[slot].buffer->Lock(0, 0, &bytes, &length, nullptr, nullptr, DSBLOCK_ENTIREBUFFER);
        if (!bytes || length != declared)
            __builtin_trap();
        size_t from_file = size > 44 ? size - 44 : 0;
        if (from_file > length)
            from_file = length;
        const uint8_t* buffer = static_cast<const uint8_t*>(bytes);
        if (from_file && std::memcmp(buffer, data + 44, from_file) != 0)
            __builtin_trap();
        uint8_t silence = field(data, size, 34, 2) == 8 ? 0x80 : 0x00;
        for (size_t i = from_file; i < length; ++i) {
            if (buffer[i] != silence)
                __builtin_trap();
        }
        g_sounds[slot].buffer->Unlock(bytes, length, nullptr, 0);

        // Parameters from the input itself, in and out of range.
        int32_t pan = int32_t(field(data, size, 0, 4)) % 12000;
        int32_t volume = -int32_t(field(data, size, 4, 4) % 11000);
        uint32_t frequency = field(data, size, 8, 4) % 250000;
        snd_play(slot, 0, volume, pan, frequency);
        snd_play(slot, 0, 0, 0, 0);
        snd_play(slot, DSBPLAY_LOOPING, volume, -pan, frequency / 2);
        float mix[2 * 256];
        for (int block = 0; block < 4; ++block) {
            ds_render(mix, 256);
            for (float sample : mix) {
                if (!std::isfinite(sample) || sample < -1.0f || sample > 1.0f)
                    __builtin_trap();
            }
        }
    }
    snd_deinit();
    if (ds_buffers_alive() != 0)
        __builtin_trap();
    pak_close();
    return 0;
}
