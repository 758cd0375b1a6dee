// DirectSound over the software mixer. Owns the one sound object, a fixed
// table of DS_MAX_BUFFERS buffer records and, beside it, the mixer's channel
// table with the same numbering.
//
// Two threads meet here. The program's thread calls every method; the audio
// device's thread calls ds_render. What both touch, the channel table (play
// state, position, step, gains, the sample pointer) and the object's life, is
// guarded by s_mix_lock. The program's thread holds it only to copy a few
// fields: it never allocates, frees or reads a file under it, so the device
// thread never waits on such work. Everything else (reference counts, volume,
// pan and frequency as set, sample blocks) belongs to the program's thread.
//
// Sample blocks are reference counted by the buffers that share them, so a
// duplicate keeps its samples after the original is released. A block is
// freed only after every channel that pointed into it has been cleared under
// the lock, so the mixer never reads freed memory.
//
// One-shot duplicates handed to ds_release_when_stopped are released by the
// program's thread once the mixer has stopped them (checked on every
// create, duplicate and release-when-stopped call); the mixer itself never
// frees.
//
// The output device may go away while the program runs (unplugged, its sound
// server restarted). The frame loop's ds_watch_output notices, closes it and
// tries to open one again every half second; meanwhile it moves the mix on in
// real time itself, so one-shots still end and are released, and a device
// that comes back takes the rain and every sound still playing on from where
// they have got to.
#include "snd/dsound.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "base/log.h"
#include "snd/mixer.h"
#include "snd/snd_output.h"

const GUID DSDEVID_DefaultPlayback = {
    0xDEF00000u, 0x9C6D, 0x47ED, {0xAA, 0xF1, 0x4D, 0xDA, 0x8F, 0x2B, 0x5C, 0x03}};
const GUID DSDEVID_NullOutput = {
    0x53544F52u, 0x4E55, 0x4C4C, {0x00, 0x4F, 0x55, 0x54, 0x50, 0x55, 0x54, 0x00}};

constexpr HRESULT DSERR_NOAGGREGATION = static_cast<HRESULT>(0x80040110u);

namespace
{

// One allocation: this header, then the samples.
struct SampleBlock {
    uint32_t users; // buffers sharing the bytes
    uint32_t size;
    uint8_t* bytes; // just behind the header
};

class DsBuffer final : public IDirectSoundBuffer8
{
  public:
    ULONG Release() override;
    HRESULT Lock(DWORD offset, DWORD bytes, void** audio1, DWORD* bytes1, void** audio2,
                 DWORD* bytes2, DWORD flags) override;
    HRESULT Unlock(void* audio1, DWORD bytes1, void* audio2, DWORD bytes2) override;
    HRESULT SetVolume(LONG volume) override;
    HRESULT GetVolume(LONG* volume) override;
    HRESULT SetPan(LONG pan) override;
    HRESULT GetPan(LONG* pan) override;
    HRESULT SetFrequency(DWORD frequency) override;
    HRESULT Play(DWORD reserved1, DWORD priority, DWORD flags) override;
    HRESULT GetStatus(DWORD* status) override;

    int index = 0;
    bool in_use = false;
    bool release_when_stopped = false;
    ULONG references = 0;
    DWORD caps = 0;
    DWORD own_rate = 0;  // the format's rate, what DSBFREQUENCY_ORIGINAL returns to
    DWORD frequency = 0; // the rate it plays at, kept to follow a new output rate
    SampleBlock* block = nullptr;
    LONG volume = 0;
    LONG pan = 0;

    void apply_gains();
};

class DsObject final : public IDirectSound8
{
  public:
    ULONG Release() override;
    HRESULT CreateSoundBuffer(const DSBUFFERDESC* description, IDirectSoundBuffer8** buffer,
                              void* outer) override;
    HRESULT DuplicateSoundBuffer(IDirectSoundBuffer8* original,
                                 IDirectSoundBuffer8** duplicate) override;
    HRESULT SetCooperativeLevel(HWND window, DWORD level) override;

    ULONG references = 0;
};

std::mutex s_mix_lock;
// Guarded by s_mix_lock.
SndChannel s_channels[DS_MAX_BUFFERS];
int s_channel_span = 0; // channels at and above this index are all idle
bool s_object_alive = false;
SndLimiter s_limiter;

// The program's thread only.
DsBuffer s_buffers[DS_MAX_BUFFERS];
DsObject s_object;
int s_output_rate = 0;
bool s_null_output = false;
bool s_output_open = false;   // a device is open and pulls the mix
uint32_t s_last_attempt = 0;  // when the lost device was last tried again
uint32_t s_mix_ticks = 0;     // how far the mix has been moved on without a device
uint64_t s_mix_remainder = 0; // the part of a frame left over from that, in 1/1000 frames

DsBuffer* as_buffer(IDirectSoundBuffer8* buffer)
{
    // Every buffer handed out is a record of the table; anything else is a
    // caller's mistake, refused rather than followed.
    auto* record = static_cast<DsBuffer*>(buffer);
    if (!buffer || record < s_buffers || record >= s_buffers + DS_MAX_BUFFERS || !record->in_use)
        return nullptr;
    return record;
}

DsBuffer* free_record()
{
    for (int i = 0; i < DS_MAX_BUFFERS; ++i) {
        if (!s_buffers[i].in_use)
            return &s_buffers[i];
    }
    return nullptr;
}

void release_block(SampleBlock* block)
{
    if (block && --block->users == 0)
        std::free(block);
}

// Takes the records off the mixer, then frees what only they used. The
// caller does not hold the lock.
void destroy_records(DsBuffer* const* records, int count)
{
    {
        std::lock_guard<std::mutex> lock(s_mix_lock);
        for (int i = 0; i < count; ++i)
            s_channels[records[i]->index] = SndChannel{};
        while (s_channel_span > 0 && !s_channels[s_channel_span - 1].samples)
            --s_channel_span;
    }
    for (int i = 0; i < count; ++i) {
        DsBuffer* record = records[i];
        release_block(record->block);
        record->block = nullptr;
        record->references = 0;
        record->release_when_stopped = false;
        record->in_use = false;
    }
}

// Releases the one-shot buffers that have finished.
void collect_stopped()
{
    static DsBuffer* finished[DS_MAX_BUFFERS];
    int count = 0;
    {
        std::lock_guard<std::mutex> lock(s_mix_lock);
        for (int i = 0; i < s_channel_span; ++i) {
            const DsBuffer& record = s_buffers[i];
            if (record.in_use && record.release_when_stopped && !s_channels[i].playing)
                finished[count++] = &s_buffers[i];
        }
    }
    if (count > 0)
        destroy_records(finished, count);
}

bool format_is_playable(const WAVEFORMATEX& format)
{
    if (format.wFormatTag != WAVE_FORMAT_PCM)
        return false;
    if (format.nChannels != 1 && format.nChannels != 2)
        return false;
    if (format.wBitsPerSample != 8 && format.wBitsPerSample != 16)
        return false;
    if (format.nBlockAlign != format.nChannels * format.wBitsPerSample / 8)
        return false;
    if (format.nSamplesPerSec < DSBFREQUENCY_MIN || format.nSamplesPerSec > DSBFREQUENCY_MAX)
        return false;
    return format.nAvgBytesPerSec == format.nSamplesPerSec * format.nBlockAlign;
}

} // namespace

// ---- buffers ---------------------------------------------------------------

void DsBuffer::apply_gains()
{
    float left = 0.0f, right = 0.0f;
    snd_pan_gains(volume, pan, &left, &right);
    std::lock_guard<std::mutex> lock(s_mix_lock);
    s_channels[index].gain_left = left;
    s_channels[index].gain_right = right;
}

ULONG DsBuffer::Release()
{
    if (!in_use || references == 0)
        return 0;
    if (--references > 0)
        return references;
    DsBuffer* self = this;
    destroy_records(&self, 1);
    return 0;
}

HRESULT DsBuffer::Lock(DWORD offset, DWORD bytes, void** audio1, DWORD* bytes1, void** audio2,
                       DWORD* bytes2, DWORD flags)
{
    if (!audio1 || !bytes1)
        return DSERR_INVALIDPARAM;
    *audio1 = nullptr;
    *bytes1 = 0;
    if (audio2)
        *audio2 = nullptr;
    if (bytes2)
        *bytes2 = 0;
    const DWORD size = block->size;
    if (flags & DSBLOCK_ENTIREBUFFER) {
        offset = 0;
        bytes = size;
    }
    // Buffers are filled once, whole, never streamed: a region that would
    // run past the end is a caller's mistake, not a wrap to the start.
    if (offset >= size || bytes == 0 || bytes > size - offset)
        return DSERR_INVALIDPARAM;
    *audio1 = block->bytes + offset;
    *bytes1 = bytes;
    return DS_OK;
}

HRESULT DsBuffer::Unlock(void*, DWORD, void*, DWORD)
{
    // The bytes were written in place. The next Play takes the mixer's lock,
    // which is what makes them visible to the device's thread.
    return DS_OK;
}

HRESULT DsBuffer::SetVolume(LONG new_volume)
{
    if (!(caps & DSBCAPS_CTRLVOLUME))
        return DSERR_CONTROLUNAVAIL;
    if (new_volume < DSBVOLUME_MIN || new_volume > DSBVOLUME_MAX)
        return DSERR_INVALIDPARAM;
    volume = new_volume;
    apply_gains();
    return DS_OK;
}

HRESULT DsBuffer::GetVolume(LONG* out)
{
    if (!out)
        return DSERR_INVALIDPARAM;
    *out = volume;
    return DS_OK;
}

HRESULT DsBuffer::SetPan(LONG new_pan)
{
    if (!(caps & DSBCAPS_CTRLPAN))
        return DSERR_CONTROLUNAVAIL;
    if (new_pan < DSBPAN_LEFT || new_pan > DSBPAN_RIGHT)
        return DSERR_INVALIDPARAM;
    pan = new_pan;
    apply_gains();
    return DS_OK;
}

HRESULT DsBuffer::GetPan(LONG* out)
{
    if (!out)
        return DSERR_INVALIDPARAM;
    *out = pan;
    return DS_OK;
}

HRESULT DsBuffer::SetFrequency(DWORD new_frequency)
{
    if (!(caps & DSBCAPS_CTRLFREQUENCY))
        return DSERR_CONTROLUNAVAIL;
    if (new_frequency == DSBFREQUENCY_ORIGINAL)
        new_frequency = own_rate;
    if (new_frequency < DSBFREQUENCY_MIN || new_frequency > DSBFREQUENCY_MAX)
        return DSERR_INVALIDPARAM;
    frequency = new_frequency;
    uint64_t step = snd_step(new_frequency, uint32_t(s_output_rate));
    std::lock_guard<std::mutex> lock(s_mix_lock);
    s_channels[index].step = step;
    return DS_OK;
}

HRESULT DsBuffer::Play(DWORD reserved1, DWORD priority, DWORD flags)
{
    if (reserved1 != 0 || priority != 0)
        return DSERR_INVALIDPARAM;
    std::lock_guard<std::mutex> lock(s_mix_lock);
    s_channels[index].playing = 1;
    s_channels[index].looping = (flags & DSBPLAY_LOOPING) ? 1 : 0;
    return DS_OK;
}

HRESULT DsBuffer::GetStatus(DWORD* status)
{
    if (!status)
        return DSERR_INVALIDPARAM;
    std::lock_guard<std::mutex> lock(s_mix_lock);
    const SndChannel& channel = s_channels[index];
    *status = channel.playing ? DSBSTATUS_PLAYING | (channel.looping ? DSBSTATUS_LOOPING : 0) : 0;
    return DS_OK;
}

// ---- the sound object ------------------------------------------------------

ULONG DsObject::Release()
{
    if (references == 0)
        return 0;
    if (--references > 0)
        return references;
    if (s_output_open)
        snd_output_close();
    s_output_open = false;
    {
        std::lock_guard<std::mutex> lock(s_mix_lock);
        s_object_alive = false;
    }
    static DsBuffer* alive[DS_MAX_BUFFERS];
    int count = 0;
    for (DsBuffer& record : s_buffers) {
        if (record.in_use)
            alive[count++] = &record;
    }
    destroy_records(alive, count);
    s_output_rate = 0;
    s_null_output = false;
    return 0;
}

HRESULT DsObject::CreateSoundBuffer(const DSBUFFERDESC* description, IDirectSoundBuffer8** buffer,
                                    void* outer)
{
    if (!buffer)
        return DSERR_INVALIDPARAM;
    *buffer = nullptr;
    if (outer)
        return DSERR_NOAGGREGATION;
    if (!description || !description->lpwfxFormat ||
        (description->dwSize != DSBUFFERDESC_SIZE && description->dwSize != sizeof(DSBUFFERDESC)))
        return DSERR_INVALIDPARAM;
    if (description->dwFlags & DSBCAPS_PRIMARYBUFFER)
        return DSERR_INVALIDCALL; // the mixer is the primary buffer
    const WAVEFORMATEX& format = *description->lpwfxFormat;
    if (!format_is_playable(format))
        return DSERR_BADFORMAT;
    const DWORD size = description->dwBufferBytes;
    if (size < DSBSIZE_MIN || size > DSBSIZE_MAX || size < format.nBlockAlign)
        return DSERR_INVALIDPARAM;

    collect_stopped();
    DsBuffer* record = free_record();
    if (!record)
        return DSERR_OUTOFMEMORY;
    auto* block = static_cast<SampleBlock*>(std::malloc(sizeof(SampleBlock) + size));
    if (!block)
        return DSERR_OUTOFMEMORY;
    block->users = 1;
    block->size = size;
    block->bytes = reinterpret_cast<uint8_t*>(block + 1);
    // Silence in the buffer's own format: 8-bit samples are centred on 128.
    std::memset(block->bytes, format.wBitsPerSample == 8 ? 0x80 : 0, size);

    record->index = int(record - s_buffers);
    record->in_use = true;
    record->release_when_stopped = false;
    record->references = 1;
    record->caps = description->dwFlags;
    record->own_rate = format.nSamplesPerSec;
    record->frequency = format.nSamplesPerSec;
    record->block = block;
    record->volume = 0;
    record->pan = 0;

    SndChannel channel{};
    channel.samples = block->bytes;
    channel.frames = size / format.nBlockAlign;
    channel.channels = format.nChannels;
    channel.bits = format.wBitsPerSample;
    channel.step = snd_step(record->own_rate, uint32_t(s_output_rate));
    channel.gain_left = channel.gain_right = 1.0f;
    {
        std::lock_guard<std::mutex> lock(s_mix_lock);
        s_channels[record->index] = channel;
        if (record->index >= s_channel_span)
            s_channel_span = record->index + 1;
    }
    *buffer = record;
    return DS_OK;
}

HRESULT DsObject::DuplicateSoundBuffer(IDirectSoundBuffer8* original,
                                       IDirectSoundBuffer8** duplicate)
{
    if (!duplicate)
        return DSERR_INVALIDPARAM;
    *duplicate = nullptr;
    DsBuffer* source = as_buffer(original);
    if (!source)
        return DSERR_INVALIDPARAM;
    collect_stopped();
    DsBuffer* record = free_record();
    if (!record)
        return DSERR_OUTOFMEMORY;

    record->index = int(record - s_buffers);
    record->in_use = true;
    record->release_when_stopped = false;
    record->references = 1;
    record->caps = source->caps;
    record->own_rate = source->own_rate;
    record->frequency = source->frequency;
    record->block = source->block;
    ++record->block->users;
    record->volume = source->volume;
    record->pan = source->pan;
    {
        std::lock_guard<std::mutex> lock(s_mix_lock);
        SndChannel channel = s_channels[source->index];
        channel.position = 0;
        channel.playing = 0;
        channel.looping = 0;
        s_channels[record->index] = channel;
        if (record->index >= s_channel_span)
            s_channel_span = record->index + 1;
    }
    *duplicate = record;
    return DS_OK;
}

HRESULT DsObject::SetCooperativeLevel(HWND, DWORD level)
{
    // One mixer serves every level; the level only has to be a known one.
    return level >= DSSCL_NORMAL && level <= 3 ? DS_OK : DSERR_INVALIDPARAM;
}

HRESULT DirectSoundCreate8(const GUID* device, IDirectSound8** sound, void* outer)
{
    if (!sound)
        return DSERR_INVALIDPARAM;
    *sound = nullptr;
    if (outer)
        return DSERR_NOAGGREGATION;
    if (s_object.references > 0)
        return DSERR_ALLOCATED;

    bool null_output = device && std::memcmp(device, &DSDEVID_NullOutput, sizeof(GUID)) == 0;
    if (device && !null_output && std::memcmp(device, &DSDEVID_DefaultPlayback, sizeof(GUID)) != 0)
        return DSERR_NODRIVER;
    {
        // Alive before the device starts pulling, so its first block is a mix.
        std::lock_guard<std::mutex> lock(s_mix_lock);
        s_object_alive = true;
        s_channel_span = 0;
        snd_limiter_init(&s_limiter, DS_NULL_OUTPUT_RATE);
    }
    int rate = null_output ? DS_NULL_OUTPUT_RATE : snd_output_open();
    if (rate <= 0) {
        std::lock_guard<std::mutex> lock(s_mix_lock);
        s_object_alive = false;
        return DSERR_NODRIVER;
    }
    if (rate != DS_NULL_OUTPUT_RATE) {
        // The device may already be pulling: its rate is only known now.
        std::lock_guard<std::mutex> lock(s_mix_lock);
        snd_limiter_init(&s_limiter, rate);
    }
    s_output_rate = rate;
    s_null_output = null_output;
    s_output_open = !null_output;
    s_object.references = 1;
    *sound = &s_object;
    return DS_OK;
}

// ---- this program's own ----------------------------------------------------

void ds_release_when_stopped(IDirectSoundBuffer8* buffer)
{
    DsBuffer* record = as_buffer(buffer);
    if (!record)
        return;
    record->release_when_stopped = true;
    collect_stopped();
}

void ds_render(float* out, int frames)
{
    if (!out || frames <= 0)
        return;
    std::lock_guard<std::mutex> lock(s_mix_lock);
    if (!s_object_alive) {
        std::memset(out, 0, sizeof(float) * 2 * size_t(frames));
        return;
    }
    snd_mix(s_channels, s_channel_span, &s_limiter, out, frames);
}

// Says once, in the log and on stderr, what happened to the sound.
static void report(const char* what)
{
    log_printf("sound: %s", what);
    std::fprintf(stderr, "storm: sound: %s\n", what);
}

// Moves the mix on by the real time since the last call, rendering into
// nothing, as a device would have pulled it. A program that stalled does not
// catch up more than a second at once.
static void keep_time(uint32_t now_ms)
{
    uint32_t elapsed = now_ms - s_mix_ticks;
    s_mix_ticks = now_ms;
    if (elapsed > 1000)
        elapsed = 1000;
    uint64_t due = uint64_t(elapsed) * uint64_t(s_output_rate) + s_mix_remainder;
    s_mix_remainder = due % 1000;
    int frames = int(due / 1000);
    static float discarded[2 * 1024];
    while (frames > 0) {
        int block = frames < 1024 ? frames : 1024;
        ds_render(discarded, block);
        frames -= block;
    }
}

// A new device may run at another rate: every channel's step follows it.
static void follow_rate(int rate)
{
    s_output_rate = rate;
    std::lock_guard<std::mutex> lock(s_mix_lock);
    for (int i = 0; i < s_channel_span; ++i) {
        if (s_buffers[i].in_use)
            s_channels[i].step = snd_step(s_buffers[i].frequency, uint32_t(rate));
    }
    snd_limiter_init(&s_limiter, rate);
}

void ds_watch_output(uint32_t now_ms)
{
    if (s_object.references == 0 || s_null_output)
        return;
    if (s_output_open) {
        if (snd_output_running())
            return;
        snd_output_close();
        s_output_open = false;
        s_last_attempt = s_mix_ticks = now_ms;
        s_mix_remainder = 0;
        report("the audio device was lost; retrying");
        return;
    }
    keep_time(now_ms);
    if (now_ms - s_last_attempt < DS_RETRY_INTERVAL_MS)
        return;
    s_last_attempt = now_ms;
    int rate = snd_output_open();
    if (rate <= 0)
        return;
    // The device pulls from the moment it opens; a first block at the old
    // rate is all a change of rate can cost.
    if (rate != s_output_rate)
        follow_rate(rate);
    s_output_open = true;
    report("audio device back");
}

int ds_output_rate()
{
    return s_output_rate;
}

int ds_buffers_alive()
{
    collect_stopped();
    int count = 0;
    for (const DsBuffer& record : s_buffers)
        count += record.in_use ? 1 : 0;
    return count;
}

int ds_buffers_playing()
{
    std::lock_guard<std::mutex> lock(s_mix_lock);
    int count = 0;
    for (int i = 0; i < s_channel_span; ++i)
        count += s_channels[i].playing ? 1 : 0;
    return count;
}
