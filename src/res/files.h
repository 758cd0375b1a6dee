// In-memory files and the resource archive "data.pak".
#pragma once

#include <cstdint>

// A whole file in memory. `data` is never null for an open file (a file of
// zero bytes still has a block); `pos` may lie anywhere after a seek.
struct MemFile {
    uint8_t* data;
    int32_t size;
    int32_t pos;
};

// One directory record of the archive, stored little-endian on disk.
struct PakEntry {
    char name[128]; // member path with '\' separators, NUL-terminated if shorter than 128
    int32_t offset; // first byte of the member, from the start of the archive file
    int32_t size;   // member length in bytes
};
static_assert(sizeof(PakEntry) == 136, "PakEntry is a fixed on-disk record");

constexpr int32_t PAK_ENTRY_SIZE = 136;
constexpr int32_t PAK_NAME_SIZE = 128;

// The loaded archive: its whole bytes, the entry count and the directory
// (in place, 4 bytes into the data). None loaded: null, 0, null.
extern MemFile* g_pak_file;
extern int32_t g_pak_count;
extern PakEntry* g_pak_entries;

// Loads the archive at `path` (found like any disk file, see mf_read_disk),
// replacing any archive loaded before. 1 on success; 0 leaves none loaded.
int pak_open(const char* path);

// Loads an archive already read into memory; takes ownership of `file` (made
// by this module) in all cases. A directory that does not fit the file is refused (0, none loaded).
int pak_open_memory(MemFile* file);

// Drops the loaded archive, if any. Members opened from it stay valid.
void pak_close();

// Opens `path` from the disk if it is there, else from the archive.
MemFile* mf_open(const char* path);

// Reads a whole disk file. '\' in `path` is taken as the directory separator;
// relative paths are tried in each search directory in turn.
MemFile* mf_read_disk(const char* path);

// Returns a private copy of the first archive member named `path` (ASCII case
// ignored), or null when no archive is loaded or no entry matches.
MemFile* mf_open_pak(const char* path);

// Wraps a copy of `size` bytes as a MemFile (for decoders fed from memory).
MemFile* mf_open_memory(const void* bytes, int32_t size);

// Releases the data block, then the MemFile. Null is ignored.
void mf_close(MemFile* file);

// whence 0: from the start, 1: from pos, 2: backward from the end. The new
// pos is kept even outside the data; returns 1 only if 0 <= pos <= size.
int mf_seek(MemFile* file, int32_t offset, int32_t whence);

// 1 when pos >= size (or there is no file), else 0.
int mf_eof(const MemFile* file);

// Next byte as 0..255 and pos += 1. Outside the data the byte reads as 0.
int mf_getc(MemFile* file);

// Next two bytes as a little-endian unsigned 16-bit value; pos += 2.
int mf_getw(MemFile* file);

// Copies `count` items of `len` bytes into `destination` and advances pos by
// len * count. Bytes outside the data read as zero. Returns count (0 for no
// file, with the destination zeroed); a negative len or count copies nothing
// and leaves pos alone.
int mf_read(void* destination, int32_t len, int32_t count, MemFile* file);

// Rewrites every '/' in `path` to '\', in place: the form archive names use.
void fix_path_slashes(char* path);

// Sets the directories mf_read_disk searches, in order (the strings are
// copied). count 0 searches only the current directory, the default.
void mf_set_search_dirs(const char* const* dirs, int count);
