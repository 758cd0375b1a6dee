// Fuzz target: the input is a whole archive. Looks up fixed names, every name
// in the directory and a name taken from the input's tail, and reads each
// member it gets back the ways the loaders do, including past its end.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "res/files.h"

static void read_member(MemFile* file)
{
    if (!file)
        return;
    uint8_t buffer[256];
    unsigned sum = 0;
    while (!mf_eof(file) && file->pos < 4096)
        sum += unsigned(mf_getc(file));
    mf_seek(file, 0, 0);
    sum += unsigned(mf_getw(file));
    mf_read(buffer, 7, 9, file);
    mf_seek(file, 3, 2);
    mf_read(buffer, 16, 4, file);
    mf_seek(file, -5, 1);
    sum += unsigned(mf_getc(file));
    mf_seek(file, -1, 0);
    mf_read(buffer, 2, 8, file);
    mf_seek(file, file->size + 2, 0);
    sum += unsigned(mf_getw(file));
    mf_read(buffer, 128, 2, file);
    if (file->size > 0 && sum == 0xFFFFFFFFu)
        buffer[0] = file->data[file->size - 1];
    mf_close(file);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 24))
        return 0;
    if (!pak_open_memory(mf_open_memory(data, int32_t(size))))
        return 0;

    static const char* const FIXED[] = {"", "a", "textures\\floor.tga", "DATA\\HF.TGA",
                                        "sound/rain.wav"};
    for (const char* name : FIXED)
        read_member(mf_open_pak(name));

    char name[PAK_NAME_SIZE + 2];
    int32_t count = g_pak_count < 64 ? g_pak_count : 64;
    for (int32_t i = 0; i < count; i++) {
        memcpy(name, g_pak_entries[i].name, PAK_NAME_SIZE);
        name[PAK_NAME_SIZE] = '\0';
        read_member(mf_open_pak(name));
        name[PAK_NAME_SIZE] = 'x'; // one byte longer than any stored name
        name[PAK_NAME_SIZE + 1] = '\0';
        read_member(mf_open_pak(name));
    }

    size_t tail = size < PAK_NAME_SIZE + 1 ? size : PAK_NAME_SIZE + 1;
    memcpy(name, data + size - tail, tail);
    name[tail] = '\0';
    read_member(mf_open_pak(name));

    pak_close();
    return 0;
}
