// The PCM WAV layout the sound loader reads: the canonical 44-byte header with
// every field at a fixed offset, then the samples. Both the loader and the
// tools that write sounds take the offsets from here.
#pragma once

#include <cstdint>

struct MemFile;

constexpr int32_t WAV_HEADER_SIZE = 44;
constexpr int32_t WAV_FMT_LENGTH_OFFSET = 16; // int32, always 16 in this layout
constexpr int32_t WAV_FORMAT_OFFSET = 20;     // the 16 bytes of WavFormat
constexpr int32_t WAV_FORMAT_SIZE = 16;
constexpr int32_t WAV_DATA_LENGTH_OFFSET = 40; // int32, bytes of samples
constexpr int32_t WAV_DATA_OFFSET = 44;        // first sample byte
constexpr int32_t WAV_FMT_LENGTH = 16;
constexpr uint16_t WAV_FORMAT_PCM = 1;

// The first 16 bytes of a WAVEFORMATEX, as stored at offset 20 (little-endian
// on disk; decoded field by field, so this is the host's view of them).
struct WavFormat {
    uint16_t format_tag;        // 1: PCM
    uint16_t channels;          // 1 mono, 2 stereo (interleaved left, right)
    uint32_t samples_per_sec;   // frames per second
    uint32_t avg_bytes_per_sec; // samples_per_sec * block_align
    uint16_t block_align;       // bytes per frame: channels * bits / 8
    uint16_t bits_per_sample;   // 8 (unsigned) or 16 (signed)
};

// What a reader finds at the fixed offsets.
struct WavHeader {
    int32_t fmt_length; // as stored; the layout needs 16
    WavFormat format;
    int32_t data_length;    // as declared by the file
    int32_t data_available; // bytes of samples the file really holds from
                            // offset 44: data_length cut to the file, >= 0
};

// Reads the header fields at their fixed offsets, the way the sound loader
// does (no chunk identifier is looked at). Returns 1 when the file holds the
// whole 44-byte header, else 0 with `header` zeroed. Moves the read position
// to 44.
int wav_read_header(MemFile* file, WavHeader* header);

// 1 when the file is a well-formed canonical PCM WAV: "RIFF" with the right
// size, "WAVE", a 16-byte "fmt " chunk of PCM with 1 or 2 channels of 8 or 16
// bits whose block align and byte rate agree, then "data" whose length is a
// whole number of frames and exactly fills the rest of the file.
int wav_is_canonical(MemFile* file);

// Encodes `frames` frames of interleaved signed 16-bit samples (`channels` 1
// or 2) at `rate` frames per second in the canonical layout. Returns the file
// as a MemFile (release with mf_close), or null when the arguments cannot be
// described or the data would pass 2 GiB.
MemFile* wav_encode_pcm16(const int16_t* samples, int32_t frames, int32_t channels, int32_t rate);
