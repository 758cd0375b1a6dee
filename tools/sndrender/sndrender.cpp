// sndrender: loads a WAV file the way the program does, plays it through the
// sound manager with a volume, pan and frequency, and writes what the mixer
// renders (16-bit stereo at the mixer's rate) to another WAV file. A person
// can then listen to the result, or measure it with a tool such as sox.
//
//     sndrender IN.wav OUT.wav [--volume MB] [--pan P] [--frequency HZ]
//                              [--loop SECONDS] [--copies N] [--gap MS]
//
// Without --loop the sound plays once (each of --copies N as its own
// duplicate, started --gap milliseconds apart) and the file ends when the
// last copy does; with --loop the slot's own buffer loops for that long.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "res/files.h"
#include "res/wav.h"
#include "snd/dsound.h"
#include "snd/sound.h"

namespace
{

struct Options {
    const char* input = nullptr;
    const char* output = nullptr;
    long volume = 0;
    long pan = 0;
    long frequency = 0;
    double loop_seconds = 0.0;
    long copies = 1;
    long gap_ms = 250;
};

void usage(FILE* to)
{
    std::fprintf(to, "usage: sndrender IN.wav OUT.wav [--volume MB] [--pan P] [--frequency HZ]\n"
                     "                 [--loop SECONDS] [--copies N] [--gap MS]\n"
                     "  --volume     hundredths of a decibel, -10000..0 (default 0)\n"
                     "  --pan        -10000 (left) .. 10000 (right) (default 0)\n"
                     "  --frequency  playback rate in Hz, 0 = the recording's own (default 0)\n"
                     "  --loop       loop the sound for this many seconds\n"
                     "  --copies     overlapping one-shot plays (default 1), --gap ms apart\n");
}

bool parse_number(const char* text, double* value)
{
    char* end = nullptr;
    *value = std::strtod(text, &end);
    return end != text && *end == '\0' && std::isfinite(*value);
}

// 0 on success, else the exit code.
int parse(int argc, char** argv, Options* options)
{
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (!std::strcmp(arg, "--help") || !std::strcmp(arg, "-h")) {
            usage(stdout);
            return -1;
        }
        if (arg[0] == '-' && arg[1] == '-') {
            double value = 0.0;
            if (i + 1 >= argc || !parse_number(argv[i + 1], &value)) {
                std::fprintf(stderr, "sndrender: %s needs a number\n", arg);
                return 2;
            }
            ++i;
            if (!std::strcmp(arg, "--volume"))
                options->volume = std::lround(value);
            else if (!std::strcmp(arg, "--pan"))
                options->pan = std::lround(value);
            else if (!std::strcmp(arg, "--frequency"))
                options->frequency = std::lround(value);
            else if (!std::strcmp(arg, "--loop"))
                options->loop_seconds = value;
            else if (!std::strcmp(arg, "--copies"))
                options->copies = std::lround(value);
            else if (!std::strcmp(arg, "--gap"))
                options->gap_ms = std::lround(value);
            else {
                std::fprintf(stderr, "sndrender: unknown option %s\n", arg);
                return 2;
            }
            continue;
        }
        if (positional == 0)
            options->input = arg;
        else if (positional == 1)
            options->output = arg;
        ++positional;
    }
    if (positional != 2) {
        usage(stderr);
        return 2;
    }
    if (options->volume < DSBVOLUME_MIN || options->volume > DSBVOLUME_MAX ||
        options->pan < DSBPAN_LEFT || options->pan > DSBPAN_RIGHT ||
        (options->frequency != 0 && (options->frequency < long(DSBFREQUENCY_MIN) ||
                                     options->frequency > long(DSBFREQUENCY_MAX))) ||
        options->loop_seconds < 0.0 || options->loop_seconds > 600.0 || options->copies < 1 ||
        options->copies > 1000 || options->gap_ms < 0 || options->gap_ms > 60000) {
        std::fprintf(stderr, "sndrender: a value is out of range (see --help)\n");
        return 2;
    }
    return 0;
}

bool write_wav(const char* path, const std::vector<float>& stereo, int rate)
{
    std::vector<int16_t> samples(stereo.size());
    for (size_t i = 0; i < stereo.size(); ++i)
        samples[i] = int16_t(std::lround(stereo[i] * 32767.0f));
    MemFile* wav = wav_encode_pcm16(samples.data(), int32_t(samples.size() / 2), 2, rate);
    if (!wav)
        return false;
    FILE* file = std::fopen(path, "wb");
    bool written = file && std::fwrite(wav->data, 1, size_t(wav->size), file) == size_t(wav->size);
    if (file && std::fclose(file) != 0)
        written = false;
    mf_close(wav);
    return written;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    int status = parse(argc, argv, &options);
    if (status != 0)
        return status < 0 ? 0 : status;

    snd_init_null_output();
    int slot = snd_get(options.input);
    if (slot == -1) {
        std::fprintf(stderr,
                     "sndrender: cannot load %s (missing, or not a 44-byte-header PCM WAV)\n",
                     options.input);
        snd_deinit();
        return 1;
    }

    const int rate = ds_output_rate();
    const int block = 1024;
    std::vector<float> rendered;
    std::vector<float> mix(block * 2);
    auto render_block = [&]() {
        ds_render(mix.data(), block);
        rendered.insert(rendered.end(), mix.begin(), mix.end());
    };

    if (options.loop_seconds > 0.0) {
        snd_play(slot, DSBPLAY_LOOPING, options.volume, options.pan, uint32_t(options.frequency));
        long frames = std::lround(options.loop_seconds * rate);
        while (long(rendered.size() / 2) < frames)
            render_block();
        rendered.resize(size_t(frames) * 2);
    } else {
        const long gap_frames = options.gap_ms * rate / 1000;
        long started = 0;
        long next_start = 0;
        long frame = 0;
        // Frames are rendered in blocks; each copy starts at the first block
        // boundary at or after its time, as a play from the frame loop would.
        while (started < options.copies || ds_buffers_playing() > 0) {
            while (started < options.copies && frame >= next_start) {
                snd_play(slot, 0, options.volume, options.pan, uint32_t(options.frequency));
                ++started;
                next_start += gap_frames;
            }
            render_block();
            frame += block;
        }
    }

    float peak_left = 0.0f, peak_right = 0.0f;
    for (size_t i = 0; i + 1 < rendered.size(); i += 2) {
        peak_left = std::fmax(peak_left, std::fabs(rendered[i]));
        peak_right = std::fmax(peak_right, std::fabs(rendered[i + 1]));
    }
    snd_deinit();
    if (!write_wav(options.output, rendered, rate)) {
        std::fprintf(stderr, "sndrender: cannot write %s\n", options.output);
        return 1;
    }
    std::printf("sndrender: %zu frames at %d Hz (%.3f s), peak left %.4f, right %.4f -> %s\n",
                rendered.size() / 2, rate, double(rendered.size() / 2) / rate, double(peak_left),
                double(peak_right), options.output);
    return 0;
}
