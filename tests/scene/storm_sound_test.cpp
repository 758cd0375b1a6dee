// A minute of the storm as it is heard: the scene's own updates start the
// rain, the claps and the distant rumbles exactly as the frame loop would at
// a given frame rate, and the real mixer renders the frames' share of sound
// offline. The scene starts a distant rumble with a fixed chance per update,
// so a faster frame rate starts more of them; the mix must stay near the
// rain at any rate, the claps must stand out of it, and nothing may clip.
//
// With STORM_MIX_WAV_DIR set, each minute is also written there as
// storm_mix_<fps>.wav, to be listened to or measured with sox.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "gfx/renderer.h"
#include "res/wav.h"
#include "scene/scene_test_util.h"
#include "snd/dsound.h"

namespace
{

double db(double amplitude)
{
    return 20.0 * std::log10(std::max(amplitude, 1e-9));
}

// RMS of both sides of interleaved stereo frames [first, last).
double rms(const std::vector<float>& mix, size_t first, size_t last)
{
    double sum = 0.0;
    for (size_t i = 2 * first; i < 2 * last; ++i)
        sum += double(mix[i]) * mix[i];
    return last > first ? std::sqrt(sum / double(2 * (last - first))) : 0.0;
}

// The louder side's RMS over frames [first, last): a clap is panned.
double louder_side_rms(const std::vector<float>& mix, size_t first, size_t last)
{
    double sum[2] = {0.0, 0.0};
    for (size_t i = first; i < last; ++i) {
        sum[0] += double(mix[2 * i]) * mix[2 * i];
        sum[1] += double(mix[2 * i + 1]) * mix[2 * i + 1];
    }
    return std::sqrt(std::max(sum[0], sum[1]) / double(last - first));
}

// Samples a 16-bit conversion would put at full scale.
int clipped(const std::vector<float>& mix)
{
    int count = 0;
    for (float v : mix)
        count += std::lround(std::fabs(double(v)) * 32767.0) >= 32767;
    return count;
}

void write_wav(const std::string& path, const std::vector<float>& mix, int rate)
{
    std::vector<int16_t> samples(mix.size());
    for (size_t i = 0; i < mix.size(); ++i)
        samples[i] = int16_t(std::lround(std::clamp(double(mix[i]), -1.0, 1.0) * 32767.0));
    MemFile* wav = wav_encode_pcm16(samples.data(), int32_t(samples.size() / 2), 2, rate);
    ASSERT_NE(wav, nullptr);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    std::fwrite(wav->data, 1, size_t(wav->size), file);
    std::fclose(file);
    mf_close(wav);
}

class StormSound : public SceneTest
{
  protected:
    static constexpr int RATE = DS_NULL_OUTPUT_RATE;
    static constexpr int SECONDS = 60;

    // Frames of the mix at which a lightning strike was started.
    std::vector<size_t> strikes_;

    // The scene flown for SECONDS at `fps` without input, as the frame loop
    // runs it: the clock, the scene's updates, the camera the frame draws
    // with; each frame then hears its 1/fps seconds of the mix.
    std::vector<float> fly(int fps)
    {
        scene_set_table(&STORM_SCENE, 1);
        const size_t per_frame = size_t(RATE / fps);
        std::vector<float> mix(size_t(SECONDS) * RATE * 2);
        float last_strike = g_last_strike;
        for (int frame = 0; frame < SECONDS * fps; ++frame) {
            scene_tick(float(frame + 1) / float(fps));
            r_set_camera();
            if (g_last_strike != last_strike)
                strikes_.push_back(size_t(frame) * per_frame);
            last_strike = g_last_strike;
            ds_render(mix.data() + 2 * size_t(frame) * per_frame, int(per_frame));
        }
        scene_set_table(nullptr, 0);
        return mix;
    }

    void check(int fps)
    {
        // The rain alone, one whole loop of it, as the scene started it.
        std::vector<float> rain(8 * RATE * 2);
        ds_render(rain.data(), 8 * RATE);
        const double rain_db = db(rms(rain, 0, rain.size() / 2));

        std::vector<float> mix = fly(fps);
        const size_t frames = mix.size() / 2;
        const double minute_db = db(rms(mix, 0, frames));
        // The bed: the median half second, what is heard between claps.
        std::vector<double> windows;
        for (size_t at = 0; at + RATE / 2 <= frames; at += RATE / 2)
            windows.push_back(db(rms(mix, at, at + RATE / 2)));
        std::nth_element(windows.begin(), windows.begin() + windows.size() / 2, windows.end());
        const double bed_db = windows[windows.size() / 2];
        // Each clap over its first quarter second.
        double quietest_clap_db = 1e9;
        for (size_t at : strikes_) {
            if (at + RATE / 4 <= frames)
                quietest_clap_db =
                    std::min(quietest_clap_db, db(louder_side_rms(mix, at, at + RATE / 4)));
        }
        float peak = 0.0f;
        for (float v : mix)
            peak = std::max(peak, std::fabs(v));
        const int clipped_samples = clipped(mix);

        std::printf("storm at %d fps: rain %.1f dBFS, minute %.1f dBFS, bed %.1f dBFS, %zu claps, "
                    "quietest %.1f dBFS, peak %.2f dBFS, %d clipped samples\n",
                    fps, rain_db, minute_db, bed_db, strikes_.size(), quietest_clap_db, db(peak),
                    clipped_samples);
        if (const char* dir = std::getenv("STORM_MIX_WAV_DIR"))
            write_wav(std::string(dir) + "/storm_mix_" + std::to_string(fps) + ".wav", mix, RATE);

        EXPECT_GT(rain_db, -30.0) << "the rain is missing";
        // Claps and rumbles add to the rain but never bury it: a little at
        // 60 fps, more at 240 (strikes every two seconds, a dozen rumbles
        // at once), never the roar of all of them at full length.
        const bool fast = fps > 60;
        EXPECT_GT(minute_db, rain_db);
        EXPECT_LT(minute_db, rain_db + (fast ? 9.0 : 6.0));
        EXPECT_LT(bed_db, rain_db + (fast ? 8.0 : 4.0));
        ASSERT_GE(strikes_.size(), 3u) << "a minute of storm has lightning";
        EXPECT_GT(quietest_clap_db, bed_db + 6.0) << "a clap is lost in the bed";
        EXPECT_EQ(clipped_samples, 0);
        EXPECT_LT(peak, 1.0f);
    }
};

TEST_F(StormSound, AMinuteAt60FramesASecondKeepsTheRainInFrontAndNeverClips)
{
    check(60);
}

TEST_F(StormSound, AMinuteAt240FramesASecondKeepsTheRainInFrontAndNeverClips)
{
    check(240);
}

} // namespace
