// storm-assets: writes every picture and sound the scene names, under the
// folder given, with the relative paths the program asks for. Everything is
// made here from seeded noise and a system font; the same build writes the
// same bytes on every run. The file layouts come from res/ (tga_write, wav),
// the same code the program reads them with.
//
// Exit codes: 0 done, 1 a file could not be made or written, 2 the command
// line was wrong.

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "art.h"
#include "res/files.h"
#include "res/tga.h"
#include "res/tga_write.h"
#include "res/wav.h"

namespace fs = std::filesystem;

// Every file of the data set. Textures that blend by alpha are 32-bit; the
// rest have no use for an alpha byte.
static const PictureAsset PICTURES[] = {
    {"textures/common/notfound.tga", 24, make_notfound},
    {"textures/floor.tga", 24, make_floor},
    {"textures/shade.tga", 32, make_shade},
    {"textures/bigchars.tga", 32, make_font},
    {"textures/bolt.tga", 24, make_bolt},
    {"textures/rain.tga", 32, make_rain},
    {"textures/water.tga", 32, make_water},
    {"textures/leaf.tga", 32, make_leaf},
    {"data/hf.tga", 24, make_heights},
    {"data/hflight.tga", 24, make_light},
};

static const SoundAsset SOUNDS[] = {
    {"sound/rain.wav", make_rain_sound},     {"sound/thunder1.wav", make_thunder1},
    {"sound/thunder2.wav", make_thunder2},   {"sound/thunder3.wav", make_thunder3},
    {"sound/bgthunder.wav", make_bgthunder},
};

static const char* USAGE = "usage: storm-assets [--font FILE] [--contact-sheet FILE.png] [OUTDIR]\n"
                           "       storm-assets --list | --help\n";

static const char* HELP =
    "Writes every texture (TGA) and sound (WAV) the scene uses under OUTDIR, by\n"
    "their relative paths (textures/floor.tga, sound/rain.wav, ...).\n"
    "  --contact-sheet FILE.png  also draw every texture side by side into FILE.png\n"
    "  --font FILE               TrueType font for textures/bigchars (default: the\n"
    "                            one found when the tool was built)\n"
    "  --list                    print the relative paths and exit\n";

static bool write_bytes(const fs::path& path, const MemFile* file)
{
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    if (ec) {
        fprintf(stderr, "storm-assets: %s: %s\n", path.parent_path().c_str(), ec.message().c_str());
        return false;
    }
    FILE* fp = fopen(path.c_str(), "wb");
    if (!fp) {
        fprintf(stderr, "storm-assets: %s: %s\n", path.c_str(), strerror(errno));
        return false;
    }
    bool ok = fwrite(file->data, 1, size_t(file->size), fp) == size_t(file->size);
    ok = fclose(fp) == 0 && ok;
    if (!ok)
        fprintf(stderr, "storm-assets: %s: write error\n", path.c_str());
    return ok;
}

static MemFile* encode_picture(const Picture& pic, int depth)
{
    Image* image = image_alloc(pic.width, pic.height);
    if (!image)
        return nullptr;
    for (size_t i = 0; i < pic.pixels.size(); i++) {
        const Color& c = pic.pixels[i];
        uint8_t* p = image->pixels + i * 4;
        p[0] = uint8_t(std::lround(clamp01(c.b) * 255));
        p[1] = uint8_t(std::lround(clamp01(c.g) * 255));
        p[2] = uint8_t(std::lround(clamp01(c.r) * 255));
        p[3] = uint8_t(std::lround(clamp01(c.a) * 255));
    }
    MemFile* file = tga_encode(image, depth);
    image_free(image);
    return file;
}

static MemFile* encode_sound(const Sound& sound)
{
    int channels = int(sound.channels.size()), frames = sound.frames();
    std::vector<int16_t> samples(size_t(frames) * channels);
    for (int n = 0; n < frames; n++) {
        for (int c = 0; c < channels; c++) {
            float v = std::max(-1.0f, std::min(1.0f, sound.channels[size_t(c)][size_t(n)]));
            samples[size_t(n) * channels + c] = int16_t(std::lround(v * 32767.0f));
        }
    }
    return wav_encode_pcm16(samples.data(), frames, channels, SAMPLE_RATE);
}

int main(int argc, char** argv)
{
    const char* out_dir = nullptr;
    const char* sheet = nullptr;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
            printf("%s\n%s", USAGE, HELP);
            return 0;
        }
        if (strcmp(argv[i], "--list") == 0) {
            for (const PictureAsset& a : PICTURES)
                printf("%s\n", a.path);
            for (const SoundAsset& a : SOUNDS)
                printf("%s\n", a.path);
            return 0;
        }
        if ((strcmp(argv[i], "--contact-sheet") == 0 || strcmp(argv[i], "--font") == 0) &&
            i + 1 < argc) {
            if (strcmp(argv[i], "--font") == 0)
                set_font_file(argv[++i]);
            else
                sheet = argv[++i];
            continue;
        }
        if (argv[i][0] == '-' || out_dir) {
            fputs(USAGE, stderr);
            return 2;
        }
        out_dir = argv[i];
    }
    if (!out_dir && !sheet) {
        fputs(USAGE, stderr);
        return 2;
    }

    int failures = 0;
    std::vector<std::pair<std::string, Picture>> pictures;
    for (const PictureAsset& a : PICTURES) {
        Picture pic = a.make();
        if (pic.width == 0) {
            fprintf(stderr, "storm-assets: %s could not be made\n", a.path);
            failures++;
            continue;
        }
        if (out_dir) {
            MemFile* file = encode_picture(pic, a.depth);
            if (!file || !write_bytes(fs::path(out_dir) / a.path, file))
                failures++;
            mf_close(file);
        }
        std::string name = a.path;
        pictures.emplace_back(name.substr(0, name.size() - 4), std::move(pic));
    }
    if (out_dir) {
        for (const SoundAsset& a : SOUNDS) {
            MemFile* file = encode_sound(a.make());
            if (!file || !write_bytes(fs::path(out_dir) / a.path, file))
                failures++;
            mf_close(file);
        }
    }
    if (sheet && !write_contact_sheet(sheet, pictures)) {
        fprintf(stderr, "storm-assets: %s: cannot write the contact sheet\n", sheet);
        failures++;
    }
    if (failures) {
        fprintf(stderr, "storm-assets: %d file(s) not made\n", failures);
        return 1;
    }
    return 0;
}
