// The DirectSound 8 subset the sound manager uses: the sound object, static
// secondary buffers with volume, pan and frequency control, duplicates that
// share their samples, and the result codes a caller can get back. The
// implementation mixes every playing buffer in software (snd_mix) and hands
// the result to the audio device on the device's own thread.
//
// A few functions at the end are this program's own, marked as such: the
// fire-and-forget release of duplicates, the watch that carries the sound
// over the loss of its output device, and the pull side of the null output
// that tests and tools drain by hand.
#pragma once
#include <cstdint>

#include "base/types.h"

// Results. The failures are HRESULTs with the top bit set.
constexpr HRESULT DS_OK = 0;
constexpr HRESULT DSERR_ALLOCATED = static_cast<HRESULT>(0x8878000Au);
constexpr HRESULT DSERR_CONTROLUNAVAIL = static_cast<HRESULT>(0x8878001Eu);
constexpr HRESULT DSERR_INVALIDPARAM = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT DSERR_INVALIDCALL = static_cast<HRESULT>(0x88780032u);
constexpr HRESULT DSERR_BADFORMAT = static_cast<HRESULT>(0x88780064u);
constexpr HRESULT DSERR_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT DSERR_NODRIVER = static_cast<HRESULT>(0x88780078u);

constexpr WORD WAVE_FORMAT_PCM = 1;

// Cooperative levels.
constexpr DWORD DSSCL_NORMAL = 1;
constexpr DWORD DSSCL_PRIORITY = 2;

// Buffer capabilities (DSBUFFERDESC.dwFlags).
// A primary buffer is refused: the mixer is the primary buffer.
constexpr DWORD DSBCAPS_PRIMARYBUFFER = 0x01;
constexpr DWORD DSBCAPS_CTRLFREQUENCY = 0x20;
constexpr DWORD DSBCAPS_CTRLPAN = 0x40;
constexpr DWORD DSBCAPS_CTRLVOLUME = 0x80;

constexpr DWORD DSBPLAY_LOOPING = 1;
constexpr DWORD DSBLOCK_ENTIREBUFFER = 2;

constexpr DWORD DSBSTATUS_PLAYING = 1;
constexpr DWORD DSBSTATUS_LOOPING = 4;

constexpr LONG DSBVOLUME_MIN = -10000;
constexpr LONG DSBVOLUME_MAX = 0;
constexpr LONG DSBPAN_LEFT = -10000;
constexpr LONG DSBPAN_RIGHT = 10000;
constexpr DWORD DSBFREQUENCY_ORIGINAL = 0;
constexpr DWORD DSBFREQUENCY_MIN = 100;
// The later, wider limit, so 176.4 and 192 kHz recordings load and play.
constexpr DWORD DSBFREQUENCY_MAX = 200000;
constexpr DWORD DSBSIZE_MIN = 4;
constexpr DWORD DSBSIZE_MAX = 0x0FFFFFFF;

// The sample format of a buffer; 18 bytes, as WAV files and DirectSound
// have it.
#pragma pack(push, 2)
struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18, "WAVEFORMATEX is an 18-byte record");

struct DSBUFFERDESC {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwBufferBytes;
    DWORD dwReserved;
    WAVEFORMATEX* lpwfxFormat;
    GUID guid3DAlgorithm;
};
// dwSize as callers fill it in: the record as the 32-bit system laid it out
// (36 bytes), or this build's own sizeof.
constexpr DWORD DSBUFFERDESC_SIZE = 36;

// A secondary buffer. Its samples may be shared with duplicates; everything
// else (play state, position, volume, pan, frequency) is its own.
struct IDirectSoundBuffer8 {
    // The last release stops the buffer; the samples go when no duplicate
    // uses them any more.
    virtual ULONG Release() = 0;
    // Hands out `bytes` of the buffer from `offset` for writing, or all of it
    // with DSBLOCK_ENTIREBUFFER. The region never wraps, so the second one is
    // always empty; either second-region pointer may be null.
    virtual HRESULT Lock(DWORD offset, DWORD bytes, void** audio1, DWORD* bytes1, void** audio2,
                         DWORD* bytes2, DWORD flags) = 0;
    virtual HRESULT Unlock(void* audio1, DWORD bytes1, void* audio2, DWORD bytes2) = 0;
    // Hundredths of a decibel, DSBVOLUME_MIN..DSBVOLUME_MAX.
    virtual HRESULT SetVolume(LONG volume) = 0;
    virtual HRESULT GetVolume(LONG* volume) = 0;
    // DSBPAN_LEFT..DSBPAN_RIGHT: the far channel loses |pan| / 100 dB.
    virtual HRESULT SetPan(LONG pan) = 0;
    virtual HRESULT GetPan(LONG* pan) = 0;
    // Playback rate in Hz; DSBFREQUENCY_ORIGINAL returns to the format's rate.
    virtual HRESULT SetFrequency(DWORD frequency) = 0;
    // Starts (or goes on) playing from the current position; the flags
    // replace any given before. reserved1 and priority must be 0. A one-shot
    // play that reaches the end stops there and starts over at the next Play.
    virtual HRESULT Play(DWORD reserved1, DWORD priority, DWORD flags) = 0;
    // DSBSTATUS_PLAYING, with DSBSTATUS_LOOPING for a looping play; 0 once stopped.
    virtual HRESULT GetStatus(DWORD* status) = 0;

  protected:
    ~IDirectSoundBuffer8() = default;
};

// The sound object: one at a time, owner of every buffer made through it.
struct IDirectSound8 {
    // The last release closes the output and releases every buffer still
    // alive, duplicates included.
    virtual ULONG Release() = 0;
    // The new buffer holds silence in the described format, stopped at 0,
    // volume 0, pan 0, at the format's own rate. A format or size the
    // mixer cannot play is refused and *buffer stays null.
    virtual HRESULT CreateSoundBuffer(const DSBUFFERDESC* description, IDirectSoundBuffer8** buffer,
                                      void* outer) = 0;
    // A new buffer over the same samples, stopped at 0, with the original's
    // volume, pan and frequency.
    virtual HRESULT DuplicateSoundBuffer(IDirectSoundBuffer8* original,
                                         IDirectSoundBuffer8** duplicate) = 0;
    virtual HRESULT SetCooperativeLevel(HWND window, DWORD level) = 0;

  protected:
    ~IDirectSound8() = default;
};

// Output devices for DirectSoundCreate8: null (or DSDEVID_DefaultPlayback) is
// the system's audio device. DSDEVID_NullOutput is this program's own: a
// device that is never started, whose mix is pulled with ds_render.
extern const GUID DSDEVID_DefaultPlayback;
extern const GUID DSDEVID_NullOutput;

// Creates the sound object. Fails with DSERR_NODRIVER where there is no audio
// device (and in headless runs), DSERR_ALLOCATED while another one exists.
HRESULT DirectSoundCreate8(const GUID* device, IDirectSound8** sound, void* outer);

// ---- this program's own ----------------------------------------------------

// The most buffers (loaded sounds and duplicates together) alive at once.
constexpr int DS_MAX_BUFFERS = 4096;
// The rate the null output mixes at.
constexpr int DS_NULL_OUTPUT_RATE = 48000;

// Gives up the caller's reference once the buffer has stopped at the end of
// its one-shot play. For duplicates
// that are played once and never looked at again, so a long run does not
// pile them up.
void ds_release_when_stopped(IDirectSoundBuffer8* buffer);

// Mixes the next `frames` stereo frames (interleaved float, -1..1) of every
// playing buffer into `out`. The audio device calls it on its own thread;
// with the null output the owner calls it. Silence when there is no object.
void ds_render(float* out, int frames);

// How often a lost output device is tried again.
constexpr uint32_t DS_RETRY_INTERVAL_MS = 500;

// Keeps the sound going over the loss of the output device; the frame loop
// calls it once a frame with the millisecond tick counter. When the device
// has stopped it is closed, and from then on another is opened every
// DS_RETRY_INTERVAL_MS until one opens; in between the mix moves on in real
// time, heard by nobody. The loss and the return are each written once to
// the log and stderr. Does nothing with the null output or without an object.
void ds_watch_output(uint32_t now_ms);

// The rate the sound object mixes at, 0 when there is none.
int ds_output_rate();

// Buffers alive (after releasing finished one-shot duplicates) and buffers
// playing now, for checks that nothing grows over a long run.
int ds_buffers_alive();
int ds_buffers_playing();
