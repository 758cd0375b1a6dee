// Building and inspecting "data.pak" archives outside the program: the pak
// tool and the asset generator make archives here, and the tool checks the
// ones it lists or unpacks. The on-disk records are those of files.h.
#pragma once

#include <cstdint>

#include "res/files.h"

// Why an archive, a member or a name was refused. PAK_OK is 0.
enum PakStatus {
    PAK_OK = 0,
    PAK_NAME_EMPTY,      // a member name of no bytes
    PAK_NAME_TOO_LONG,   // 128 bytes or more: the field has no room for the NUL
    PAK_NAME_UNSAFE,     // absolute, a drive, '.'/'..'/empty parts, control bytes
    PAK_NAME_DUPLICATE,  // equal to an earlier name, ASCII case ignored
    PAK_MEMBER_TOO_BIG,  // more bytes than an int32 size can say (2 GiB)
    PAK_ARCHIVE_TOO_BIG, // directory and members past the int32 offset range
    PAK_NO_MEMORY,
    PAK_SHORT_FILE,        // fewer than 4 bytes: not even a count
    PAK_BAD_COUNT,         // a negative entry count
    PAK_DIRECTORY_OUTSIDE, // the directory runs past the end of the file
    PAK_NAME_UNTERMINATED, // an entry name that fills all 128 bytes
    PAK_MEMBER_OUTSIDE,    // an entry's bytes are not all inside the file
    PAK_BAD_ARGUMENT,
};

// One line of text for a status, for messages.
const char* pak_status_text(int status);

// Whether `name` can be stored and later unpacked: 1..127 bytes, relative,
// parts separated by '\' (or '/'), no empty, "." or ".." part, no drive prefix
// ("C:"), no control bytes. PAK_OK or the reason.
int pak_check_name(const char* name);

// Whether a member of `size` bytes fits the format (0 .. INT32_MAX).
int pak_check_size(int64_t size);

// 1 when two member names are the same member to the program: equal but for
// the case of ASCII letters.
int pak_names_equal(const char* a, const char* b);

// One member to store: its name as the program will ask for it ('\'
// separators) and its bytes.
struct PakMember {
    const char* name;
    const uint8_t* data;
    int32_t size;
};

// Lays out an archive: the count, the directory in the given order, then the
// members' bytes back to back in the same order; unused name bytes are zero,
// so equal input gives equal bytes. Every name must pass pak_check_name and
// no two may be equal (case ignored). Returns the archive as a MemFile
// (release with mf_close) and PAK_OK in *status, or null and the reason.
MemFile* pak_build(const PakMember* members, int32_t count, int* status);

// What an entry of an archive says, decoded and checked.
struct PakEntryInfo {
    char name[PAK_NAME_SIZE + 1]; // always NUL-terminated
    int32_t offset;
    int32_t size;
};

// Reads the entry count of the archive bytes and checks that the directory
// lies inside them. PAK_OK or the damage found.
int pak_read_count(const uint8_t* data, int64_t size, int32_t* count);

// Decodes entry `index` (the count must have been checked by pak_read_count)
// and checks that its name is terminated and its bytes lie inside the file.
// The entry is filled as far as it could be read even when damaged.
int pak_read_entry(const uint8_t* data, int64_t size, int32_t index, PakEntryInfo* entry);
