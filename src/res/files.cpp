// Resource files: every image and sound the program uses is read whole into a
// MemFile and parsed from memory. A file is looked for on disk first (in each
// search directory in turn), then in the archive "data.pak", which is read
// whole once at start-up and used in place.
//
// Invariants: an open MemFile always has a data block (a file of zero bytes
// gets a one-byte block), and reads never touch memory outside it: bytes at
// or past the end, or before the start after a seek, read as zero while pos
// still advances (saturating rather than overflowing). A loaded archive
// always has a directory that lies inside its bytes; a member whose bytes do
// not is never handed out. Archive names keep '\' as their separator; only
// the disk lookup maps it to the host's.

#include "res/files.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
static const char HOST_SEPARATOR = '\\';
#else
static const char HOST_SEPARATOR = '/';
#endif

MemFile* g_pak_file = nullptr;
int32_t g_pak_count = 0;
PakEntry* g_pak_entries = nullptr;

// Copies of the directories given to mf_set_search_dirs, in search order.
static char** g_search_dirs = nullptr;
static int g_search_dir_count = 0;

static int32_t read_le32(const void* bytes)
{
    const uint8_t* p = static_cast<const uint8_t*>(bytes);
    uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    return int32_t(v);
}

// Positions live in int32; arithmetic on them is done in 64 bits and pinned
// to the int32 range, so a position far outside the data stays outside.
static int32_t clamp_pos(int64_t v)
{
    if (v < INT32_MIN)
        return INT32_MIN;
    if (v > INT32_MAX)
        return INT32_MAX;
    return int32_t(v);
}

// A MemFile of `size` bytes, contents undefined, pos 0.
static MemFile* mf_alloc(int32_t size)
{
    MemFile* file = static_cast<MemFile*>(malloc(sizeof(MemFile)));
    if (!file)
        return nullptr;
    file->data = static_cast<uint8_t*>(malloc(size > 0 ? size_t(size) : 1));
    if (!file->data) {
        free(file);
        return nullptr;
    }
    file->size = size;
    file->pos = 0;
    return file;
}

MemFile* mf_open_memory(const void* bytes, int32_t size)
{
    if (size < 0 || (size > 0 && !bytes))
        return nullptr;
    MemFile* file = mf_alloc(size);
    if (file && size > 0)
        memcpy(file->data, bytes, size_t(size));
    return file;
}

void mf_close(MemFile* file)
{
    if (!file)
        return;
    free(file->data);
    free(file);
}

// ---- disk -----------------------------------------------------------------

static bool path_is_absolute(const char* path)
{
    if (path[0] == '/' || path[0] == '\\')
        return true;
#ifdef _WIN32
    char c = path[0];
    if (((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) && path[1] == ':')
        return true;
#endif
    return false;
}

// Opens dir + separator + path, with the path's '\' turned into the host
// separator. A null or empty dir means the path as given.
static FILE* open_in_dir(const char* dir, const char* path)
{
    size_t dir_len = dir ? strlen(dir) : 0;
    size_t path_len = strlen(path);
    char* full = static_cast<char*>(malloc(dir_len + 1 + path_len + 1));
    if (!full)
        return nullptr;
    size_t n = 0;
    if (dir_len > 0) {
        memcpy(full, dir, dir_len);
        n = dir_len;
        if (full[n - 1] != '/' && full[n - 1] != HOST_SEPARATOR)
            full[n++] = HOST_SEPARATOR;
    }
    for (size_t i = 0; i < path_len; i++)
        full[n++] = path[i] == '\\' ? HOST_SEPARATOR : path[i];
    full[n] = '\0';
    FILE* fp = fopen(full, "rb");
    free(full);
    return fp;
}

// Reads an open file whole. The size is what the read actually delivered, so a
// file that shrank under us is not padded with stale bytes.
static MemFile* read_whole(FILE* fp)
{
    if (fseek(fp, 0, SEEK_END) != 0)
        return nullptr;
    long end = ftell(fp);
    if (end < 0 || end > long(INT32_MAX))
        return nullptr;
    if (fseek(fp, 0, SEEK_SET) != 0)
        return nullptr;
    MemFile* file = mf_alloc(int32_t(end));
    if (!file)
        return nullptr;
    size_t got = end > 0 ? fread(file->data, 1, size_t(end), fp) : 0;
    if (ferror(fp)) {
        mf_close(file);
        return nullptr;
    }
    file->size = int32_t(got);
    return file;
}

MemFile* mf_read_disk(const char* path)
{
    if (!path)
        return nullptr;
    FILE* fp = nullptr;
    if (g_search_dir_count == 0 || path_is_absolute(path)) {
        fp = open_in_dir(nullptr, path);
    } else {
        for (int i = 0; i < g_search_dir_count && !fp; i++)
            fp = open_in_dir(g_search_dirs[i], path);
    }
    if (!fp)
        return nullptr;
    MemFile* file = read_whole(fp);
    fclose(fp);
    return file;
}

void mf_set_search_dirs(const char* const* dirs, int count)
{
    for (int i = 0; i < g_search_dir_count; i++)
        free(g_search_dirs[i]);
    free(g_search_dirs);
    g_search_dirs = nullptr;
    g_search_dir_count = 0;
    if (!dirs || count <= 0)
        return;

    g_search_dirs = static_cast<char**>(malloc(sizeof(char*) * size_t(count)));
    if (!g_search_dirs)
        return;
    for (int i = 0; i < count; i++) {
        if (!dirs[i])
            continue;
        size_t len = strlen(dirs[i]);
        char* copy = static_cast<char*>(malloc(len + 1));
        if (!copy)
            continue; // out of memory: that directory is not searched
        memcpy(copy, dirs[i], len + 1);
        g_search_dirs[g_search_dir_count++] = copy;
    }
}

MemFile* mf_open(const char* path)
{
    MemFile* file = mf_read_disk(path);
    return file ? file : mf_open_pak(path);
}

// ---- archive --------------------------------------------------------------

int pak_open(const char* path)
{
    pak_close();
    MemFile* file = mf_read_disk(path);
    return file ? pak_open_memory(file) : 0;
}

int pak_open_memory(MemFile* file)
{
    pak_close();
    if (!file)
        return 0;
    if (!file->data || file->size < 4) {
        mf_close(file);
        return 0;
    }
    // The directory must lie inside the file; checked in 64 bits so a huge
    // count cannot wrap around into something that looks small.
    int32_t count = read_le32(file->data);
    if (count < 0 || int64_t(count) * PAK_ENTRY_SIZE > int64_t(file->size) - 4) {
        mf_close(file);
        return 0;
    }
    g_pak_file = file;
    g_pak_count = count;
    g_pak_entries = reinterpret_cast<PakEntry*>(file->data + 4);
    return 1;
}

void pak_close()
{
    mf_close(g_pak_file);
    g_pak_file = nullptr;
    g_pak_count = 0;
    g_pak_entries = nullptr;
}

static int ascii_lower(int c)
{
    return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

// Compares a directory name with a path, ASCII case ignored. A name that
// fills all 128 bytes has no terminator: it ends there, and never runs on
// into the offset field behind it.
static bool pak_name_equals(const char* name, const char* path)
{
    for (int i = 0; i < PAK_NAME_SIZE; i++) {
        int a = static_cast<unsigned char>(name[i]);
        int b = static_cast<unsigned char>(path[i]);
        if (ascii_lower(a) != ascii_lower(b))
            return false;
        if (a == 0)
            return true;
    }
    return path[PAK_NAME_SIZE] == '\0';
}

MemFile* mf_open_pak(const char* path)
{
    if (!path || !g_pak_file)
        return nullptr;
    for (int32_t i = 0; i < g_pak_count; i++) {
        const PakEntry* entry = &g_pak_entries[i];
        // Fields are decoded byte by byte: the archive is little-endian
        // whatever the host is.
        int32_t offset = read_le32(&entry->offset);
        int32_t size = read_le32(&entry->size);
        // An entry whose bytes are not all inside the archive is damaged;
        // it matches nothing, so a later good entry of that name may serve.
        if (offset < 0 || size < 0 || int64_t(offset) + size > g_pak_file->size)
            continue;
        if (!pak_name_equals(entry->name, path))
            continue;
        return mf_open_memory(g_pak_file->data + offset, size);
    }
    return nullptr;
}

// ---- reading --------------------------------------------------------------

int mf_seek(MemFile* file, int32_t offset, int32_t whence)
{
    if (!file || !file->data)
        return 0;
    int64_t target;
    switch (whence) {
    case 0:
        target = offset;
        break;
    case 1:
        target = int64_t(file->pos) + offset;
        break;
    case 2:
        target = int64_t(file->size) - offset;
        break;
    default:
        return 0;
    }
    file->pos = clamp_pos(target);
    return target >= 0 && target <= file->size ? 1 : 0;
}

int mf_eof(const MemFile* file)
{
    return !file || file->pos >= file->size ? 1 : 0;
}

int mf_getc(MemFile* file)
{
    if (!file)
        return 0;
    int value = 0;
    if (file->data && file->pos >= 0 && file->pos < file->size)
        value = file->data[file->pos];
    if (file->pos < INT32_MAX)
        file->pos++;
    return value;
}

int mf_getw(MemFile* file)
{
    int low = mf_getc(file);
    int high = mf_getc(file);
    return low + high * 256;
}

int mf_read(void* destination, int32_t len, int32_t count, MemFile* file)
{
    if (len < 0 || count < 0)
        return count;
    int64_t total = int64_t(len) * count;
    uint8_t* out = static_cast<uint8_t*>(destination);
    if (!file || !file->data) {
        if (out && total > 0)
            memset(out, 0, size_t(total));
        return 0;
    }
    // The items lie back to back in both the file and the destination, so
    // the whole read is one span: the part inside the data is copied, the
    // parts before its start or past its end are zero.
    int64_t start = file->pos;
    int64_t end = start + total;
    if (out && total > 0) {
        int64_t lo = start > 0 ? start : 0;
        int64_t hi = end < file->size ? end : file->size;
        if (lo >= hi) {
            memset(out, 0, size_t(total));
        } else {
            memset(out, 0, size_t(lo - start));
            memcpy(out + (lo - start), file->data + lo, size_t(hi - lo));
            memset(out + (hi - start), 0, size_t(end - hi));
        }
    }
    file->pos = clamp_pos(end);
    return count;
}

void fix_path_slashes(char* path)
{
    if (!path)
        return;
    for (; *path; path++) {
        if (*path == '/')
            *path = '\\';
    }
}
