// PNG writer over stb_image_write. The program's pixels are 0xAARRGGBB words;
// PNG wants bytes in R, G, B(, A) order, so rows are repacked first.
#include "res/png_write.h"

#include <cstdio>
#include <vector>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-function"
#endif
#include <stb/stb_image_write.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

struct PngSink {
    FILE* file;
    bool failed;
};

static void write_to_file(void* context, void* data, int size)
{
    PngSink* sink = static_cast<PngSink*>(context);
    if (std::fwrite(data, 1, size_t(size), sink->file) != size_t(size))
        sink->failed = true;
}

int png_write(const char* path, const uint32_t* pixels, int width, int height, int pitch_bytes,
              bool keep_alpha, bool exclusive)
{
    if (!path || !pixels || width <= 0 || height <= 0 || pitch_bytes < width * 4)
        return 0;
    int channels = keep_alpha ? 4 : 3;
    std::vector<unsigned char> bytes(size_t(width) * size_t(height) * size_t(channels));
    unsigned char* out = bytes.data();
    for (int y = 0; y < height; ++y) {
        const uint32_t* row = reinterpret_cast<const uint32_t*>(
            reinterpret_cast<const unsigned char*>(pixels) + size_t(y) * size_t(pitch_bytes));
        for (int x = 0; x < width; ++x) {
            uint32_t p = row[x];
            *out++ = static_cast<unsigned char>(p >> 16);
            *out++ = static_cast<unsigned char>(p >> 8);
            *out++ = static_cast<unsigned char>(p);
            if (keep_alpha)
                *out++ = static_cast<unsigned char>(p >> 24);
        }
    }
    // "x" (C11) opens only a file that does not exist yet.
    FILE* file = std::fopen(path, exclusive ? "wbx" : "wb");
    if (!file)
        return 0;
    PngSink sink = {file, false};
    int ok = stbi_write_png_to_func(write_to_file, &sink, width, height, channels, bytes.data(),
                                    width * channels);
    bool failed = !ok || sink.failed;
    if (std::fclose(file) != 0)
        failed = true;
    if (failed)
        std::remove(path);
    return failed ? 0 : 1;
}
