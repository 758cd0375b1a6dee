// Sound-test helpers: canonical 44-byte-header WAV files and filled buffers.
#pragma once
#include <cstdint>
#include <vector>

#include "res/res_test_util.h"
#include "snd/dsound.h"

inline void put_le(std::vector<uint8_t>& out, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(uint8_t(v >> (8 * i)));
}

inline WAVEFORMATEX pcm(WORD channels, DWORD rate, WORD bits)
{
    WAVEFORMATEX f{WAVE_FORMAT_PCM, channels, rate, 0, WORD(channels * bits / 8), bits, 0};
    f.nAvgBytesPerSec = rate * f.nBlockAlign;
    return f;
}

// A canonical WAV file; its data length field says `length` (the samples' size by default).
inline std::vector<uint8_t> make_wav(const WAVEFORMATEX& f, const std::vector<uint8_t>& samples,
                                     int64_t length = -1)
{
    uint32_t data = length >= 0 ? uint32_t(length) : uint32_t(samples.size());
    std::vector<uint8_t> out{'R', 'I', 'F', 'F'};
    put_le(out, 36 + data, 4);
    out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0});
    put_le(out, f.wFormatTag, 2);
    put_le(out, f.nChannels, 2);
    put_le(out, f.nSamplesPerSec, 4);
    put_le(out, f.nAvgBytesPerSec, 4);
    put_le(out, f.nBlockAlign, 2);
    put_le(out, f.wBitsPerSample, 2);
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    put_le(out, data, 4);
    out.insert(out.end(), samples.begin(), samples.end());
    return out;
}

// 16-bit little-endian samples from values in -1..1.
inline std::vector<uint8_t> pcm16(const std::vector<float>& values)
{
    std::vector<uint8_t> out;
    for (float v : values)
        put_le(out, uint16_t(int16_t(v * 32767.0f + (v < 0 ? -0.5f : 0.5f))), 2);
    return out;
}

inline HRESULT create(IDirectSound8* sound, WAVEFORMATEX format, DWORD bytes,
                      IDirectSoundBuffer8** out)
{
    DSBUFFERDESC description{DSBUFFERDESC_SIZE, 0xE0, bytes, 0, &format, {}};
    return sound->CreateSoundBuffer(&description, out, nullptr);
}

// The buffer's bytes; with `replace`, written over them first.
inline std::vector<uint8_t> buffer_bytes(IDirectSoundBuffer8* buffer,
                                         const std::vector<uint8_t>* replace = nullptr)
{
    void* data = nullptr;
    DWORD length = 0;
    buffer->Lock(0, 0, &data, &length, nullptr, nullptr, DSBLOCK_ENTIREBUFFER);
    auto* bytes = static_cast<uint8_t*>(data);
    for (size_t i = 0; replace && i < replace->size() && i < length; ++i)
        bytes[i] = (*replace)[i];
    std::vector<uint8_t> copy(bytes, bytes + length);
    buffer->Unlock(data, length, nullptr, 0);
    return copy;
}

// A new buffer in `format` holding `samples`.
inline IDirectSoundBuffer8* make_buffer(IDirectSound8* sound, WAVEFORMATEX format,
                                        const std::vector<uint8_t>& samples)
{
    IDirectSoundBuffer8* buffer = nullptr;
    if (create(sound, format, DWORD(samples.size()), &buffer) == DS_OK)
        buffer_bytes(buffer, &samples);
    return buffer;
}

// The next `frames` stereo frames of the mix, interleaved.
inline std::vector<float> render(int frames)
{
    std::vector<float> out(size_t(frames) * 2);
    ds_render(out.data(), frames);
    return out;
}
