// Fuzz target: the input is a TGA file in memory, decoded as the texture
// loader does, then checked against the Image invariants.
#include <cstddef>
#include <cstdint>

#include "res/files.h"
#include "res/tga.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 24))
        return 0;
    // The decoder accepts images of up to 2 GiB of pixels; a few bytes of
    // input can ask for that much. Stay within the fuzzer's memory limit, but
    // keep the headers it refuses for their size in play.
    if (size >= 16) {
        int64_t pixels = int64_t(data[12] | data[13] << 8) * int64_t(data[14] | data[15] << 8);
        if (pixels > (1 << 22) && pixels * 4 <= INT32_MAX)
            return 0;
    }
    MemFile* file = mf_open_memory(data, int32_t(size));
    Image* image = image_load(file, IMAGE_FORMAT_TGA);
    if (image) {
        if (image->width <= 0 || image->height <= 0 ||
            int64_t(image->width) * image->height * 4 != image->size || !image->pixels)
            __builtin_trap();
        // Touch both ends of the block so the sanitizer checks its extent.
        volatile uint8_t edge = image->pixels[0] ^ image->pixels[image->size - 1];
        (void)edge;
    }
    image_free(image);
    mf_close(file);
    return 0;
}
