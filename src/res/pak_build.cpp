// Archive building and checking. The program itself trusts nothing about an
// archive beyond what files.cpp checks when it opens one; the tools go further:
// they refuse to write what the format cannot hold (names without room for
// their terminator, sizes past int32), refuse names that would escape the
// folder they are unpacked into, and decode every directory field byte by
// byte, little-endian, against the real size of the file.

#include "res/pak_build.h"

#include <climits>
#include <cstdlib>
#include <cstring>

static int32_t read_le32(const uint8_t* p)
{
    return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                   uint32_t(p[3]) << 24);
}

static void write_le32(uint8_t* p, int32_t v)
{
    for (int i = 0; i < 4; i++)
        p[i] = uint8_t(uint32_t(v) >> (8 * i));
}

const char* pak_status_text(int status)
{
    switch (status) {
    case PAK_OK:
        return "ok";
    case PAK_NAME_EMPTY:
        return "empty member name";
    case PAK_NAME_TOO_LONG:
        return "member name of 128 bytes or more (the format holds 127)";
    case PAK_NAME_UNSAFE:
        return "member name is absolute, has an empty, '.' or '..' part, or control bytes";
    case PAK_NAME_DUPLICATE:
        return "two members with the same name (letter case ignored)";
    case PAK_MEMBER_TOO_BIG:
        return "member larger than 2 GiB - 1 bytes (the format's limit)";
    case PAK_ARCHIVE_TOO_BIG:
        return "archive would pass 2 GiB - 1 bytes (the format's limit)";
    case PAK_NO_MEMORY:
        return "out of memory";
    case PAK_SHORT_FILE:
        return "file too short to hold an entry count";
    case PAK_BAD_COUNT:
        return "negative entry count";
    case PAK_DIRECTORY_OUTSIDE:
        return "directory runs past the end of the file";
    case PAK_NAME_UNTERMINATED:
        return "entry name not terminated within 128 bytes";
    case PAK_MEMBER_OUTSIDE:
        return "entry's bytes lie outside the file";
    case PAK_BAD_ARGUMENT:
        return "bad argument";
    default:
        return "unknown status";
    }
}

static bool is_separator(char c)
{
    return c == '\\' || c == '/';
}

int pak_check_name(const char* name)
{
    if (!name)
        return PAK_BAD_ARGUMENT;
    size_t length = strnlen(name, PAK_NAME_SIZE);
    if (length == 0)
        return PAK_NAME_EMPTY;
    if (length >= size_t(PAK_NAME_SIZE))
        return PAK_NAME_TOO_LONG;
    // "C:" opens a drive-relative or absolute path where drives exist.
    if (length >= 2 && name[1] == ':' &&
        ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z')))
        return PAK_NAME_UNSAFE;
    // Walk the parts between separators; a leading separator shows up as an
    // empty first part, so absolute names are caught with the rest.
    size_t start = 0;
    for (size_t i = 0; i <= length; i++) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        if (i < length && (c < 0x20 || c == 0x7F))
            return PAK_NAME_UNSAFE;
        if (i < length && !is_separator(name[i]))
            continue;
        size_t part = i - start;
        if (part == 0)
            return PAK_NAME_UNSAFE;
        if (part == 1 && name[start] == '.')
            return PAK_NAME_UNSAFE;
        if (part == 2 && name[start] == '.' && name[start + 1] == '.')
            return PAK_NAME_UNSAFE;
        start = i + 1;
    }
    return PAK_OK;
}

int pak_check_size(int64_t size)
{
    return size < 0 || size > INT32_MAX ? PAK_MEMBER_TOO_BIG : PAK_OK;
}

static int ascii_lower(int c)
{
    return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

int pak_names_equal(const char* a, const char* b)
{
    if (!a || !b)
        return 0;
    for (;; a++, b++) {
        int x = ascii_lower(static_cast<unsigned char>(*a));
        int y = ascii_lower(static_cast<unsigned char>(*b));
        if (x != y)
            return 0;
        if (x == 0)
            return 1;
    }
}

MemFile* pak_build(const PakMember* members, int32_t count, int* status)
{
    int ignored;
    if (!status)
        status = &ignored;
    if (count < 0 || (count > 0 && !members)) {
        *status = PAK_BAD_ARGUMENT;
        return nullptr;
    }
    // Everything is checked before anything is written, in 64 bits.
    int64_t total = 4 + int64_t(count) * PAK_ENTRY_SIZE;
    for (int32_t i = 0; i < count; i++) {
        int name_status = pak_check_name(members[i].name);
        if (name_status != PAK_OK) {
            *status = name_status;
            return nullptr;
        }
        if (members[i].size < 0 || (members[i].size > 0 && !members[i].data)) {
            *status = PAK_BAD_ARGUMENT;
            return nullptr;
        }
        for (int32_t j = 0; j < i; j++) {
            if (pak_names_equal(members[i].name, members[j].name)) {
                *status = PAK_NAME_DUPLICATE;
                return nullptr;
            }
        }
        total += members[i].size;
        if (total > INT32_MAX) {
            *status = PAK_ARCHIVE_TOO_BIG;
            return nullptr;
        }
    }
    if (total > INT32_MAX) {
        *status = PAK_ARCHIVE_TOO_BIG;
        return nullptr;
    }

    uint8_t* bytes = static_cast<uint8_t*>(calloc(size_t(total), 1));
    if (!bytes) {
        *status = PAK_NO_MEMORY;
        return nullptr;
    }
    write_le32(bytes, count);
    int32_t offset = 4 + count * PAK_ENTRY_SIZE;
    for (int32_t i = 0; i < count; i++) {
        uint8_t* entry = bytes + 4 + int64_t(i) * PAK_ENTRY_SIZE;
        memcpy(entry, members[i].name, strlen(members[i].name));
        write_le32(entry + PAK_NAME_SIZE, offset);
        write_le32(entry + PAK_NAME_SIZE + 4, members[i].size);
        if (members[i].size > 0)
            memcpy(bytes + offset, members[i].data, size_t(members[i].size));
        offset += members[i].size;
    }
    MemFile* file = mf_open_memory(bytes, int32_t(total));
    free(bytes);
    *status = file ? PAK_OK : PAK_NO_MEMORY;
    return file;
}

int pak_read_count(const uint8_t* data, int64_t size, int32_t* count)
{
    if (count)
        *count = 0;
    if (!count || (!data && size > 0) || size < 0)
        return PAK_BAD_ARGUMENT;
    if (size < 4)
        return PAK_SHORT_FILE;
    int32_t n = read_le32(data);
    *count = n;
    if (n < 0)
        return PAK_BAD_COUNT;
    if (4 + int64_t(n) * PAK_ENTRY_SIZE > size)
        return PAK_DIRECTORY_OUTSIDE;
    return PAK_OK;
}

int pak_read_entry(const uint8_t* data, int64_t size, int32_t index, PakEntryInfo* entry)
{
    if (!entry)
        return PAK_BAD_ARGUMENT;
    memset(entry, 0, sizeof(*entry));
    if (!data || index < 0 || 4 + (int64_t(index) + 1) * PAK_ENTRY_SIZE > size)
        return PAK_BAD_ARGUMENT;
    const uint8_t* raw = data + 4 + int64_t(index) * PAK_ENTRY_SIZE;
    memcpy(entry->name, raw, PAK_NAME_SIZE);
    entry->name[PAK_NAME_SIZE] = '\0';
    entry->offset = read_le32(raw + PAK_NAME_SIZE);
    entry->size = read_le32(raw + PAK_NAME_SIZE + 4);
    if (memchr(raw, 0, PAK_NAME_SIZE) == nullptr)
        return PAK_NAME_UNTERMINATED;
    if (entry->offset < 0 || entry->size < 0 || int64_t(entry->offset) + entry->size > size)
        return PAK_MEMBER_OUTSIDE;
    return PAK_OK;
}
