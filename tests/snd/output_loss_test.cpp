// The sound object over an output device that goes away and comes back. A
// scripted device stands in for SDL's (the test pulls the mix as its thread
// would), and the frame loop's watch is driven with made-up tick counts.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/log.h"
#include "snd/dsound.h"
#include "snd/snd_output.h"
#include "snd/snd_test_util.h"
#include "snd/sound.h"
#include "test_util.h"

namespace
{

struct ScriptedDevice {
    int rate = 48000; // what the next open answers; 0: no device to be had
    bool running = false;
    int opens = 0;
    int closes = 0;
};
ScriptedDevice s_device;

const SndOutput SCRIPTED = {
    []() {
        ++s_device.opens;
        s_device.running = s_device.rate > 0;
        return s_device.rate;
    },
    []() {
        ++s_device.closes;
        s_device.running = false;
    },
    []() { return s_device.running ? 1 : 0; },
};

const char LOST[] = "sound: the audio device was lost; retrying";
const char BACK[] = "sound: audio device back";

int count(const std::string& text, const std::string& what)
{
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

class OutputLoss : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        s_device = ScriptedDevice{};
        log_open();
        snd_set_output(&SCRIPTED);
        ASSERT_EQ(snd_init(nullptr), 1);
    }
    void TearDown() override
    {
        snd_deinit();
        snd_set_output(nullptr);
        log_close();
    }

    // Frames of the loop every 10 ms from `from` up to `to`, as the frame
    // loop calls the watch.
    void frames(uint32_t from, uint32_t to)
    {
        for (uint32_t now = from; now <= to; now += 10)
            ds_watch_output(now);
    }

    ScratchDir scratch_; // the log goes here
};

TEST_F(OutputLoss, TheLossIsToldOnceTriedAgainEveryHalfSecondAndTheReturnToldOnce)
{
    frames(1000, 2000); // a running device is left alone
    EXPECT_EQ(s_device.opens, 1);
    EXPECT_EQ(s_device.closes, 0);

    testing::internal::CaptureStderr();
    s_device.running = false; // it went away
    s_device.rate = 0;        // and nothing can be opened for a while
    frames(2010, 5000);
    EXPECT_EQ(s_device.closes, 1);
    EXPECT_EQ(s_device.opens, 1 + 5); // at 2510, 3010, ... 4510: twice a second, no more
    EXPECT_EQ(g_dsound != nullptr, true) << "the program runs on with its sounds";

    s_device.rate = 44100; // a device is back
    frames(5010, 8000);
    EXPECT_EQ(s_device.opens, 1 + 6);
    EXPECT_EQ(s_device.closes, 1);
    EXPECT_EQ(ds_output_rate(), 44100);

    std::string err = testing::internal::GetCapturedStderr();
    log_close();
    std::ifstream file("debug.log");
    std::stringstream log;
    log << file.rdbuf();
    for (const std::string& told : {err, log.str()}) {
        EXPECT_EQ(count(told, LOST), 1) << told;
        EXPECT_EQ(count(told, BACK), 1) << told;
    }
}

// Where a ramp from -0.45 to 0.45 over `frames` frames is, read from one
// mixed frame of it.
double ramp_position(float value, int frames)
{
    return (double(value) + 0.45) / 0.9 * frames;
}

TEST_F(OutputLoss, TheMixKeepsTimeWithoutADeviceAndGoesOnFromThereAtTheNewRate)
{
    // A one-second rain loop whose every frame tells where it is, and a
    // quarter-second clap.
    std::vector<float> ramp(48000);
    for (size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = -0.45f + 0.9f * float(i) / 48000.0f;
    g_sounds[2047] = {"rain", make_buffer(g_dsound, pcm(1, 48000, 16), pcm16(ramp))};
    g_sounds[2046] = {
        "clap", make_buffer(g_dsound, pcm(1, 48000, 16), pcm16(std::vector<float>(12000, 0.01f)))};
    snd_play(2047, DSBPLAY_LOOPING, 0, 0, 0);
    render(4800); // the device pulled a tenth of a second
    snd_play(2046, 0, 0, 0, 0);
    EXPECT_EQ(ds_buffers_alive(), 3);

    s_device.running = false;
    s_device.rate = 0;
    testing::internal::CaptureStderr();
    frames(1000, 2200); // lost at 1000, tried again at 1500 and 2000
    // The clap ended unheard and was released, as it would have been.
    EXPECT_EQ(ds_buffers_alive(), 2);
    EXPECT_EQ(ds_buffers_playing(), 1);

    // Back at half the rate: the rain goes on from where the lost time took
    // it, each output frame now two of its own.
    s_device.rate = 24000;
    ds_watch_output(2500); // 0.3 s more at the old rate, then the device opens
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(ds_output_rate(), 24000);
    const int expected = (4800 + 1500 * 48) % 48000; // 1.5 s nobody heard
    std::vector<float> out = render(1001);
    EXPECT_NEAR(ramp_position(out[0], 48000), expected, 3.0);
    EXPECT_NEAR(ramp_position(out[2000], 48000), expected + 2000, 3.0);
}

} // namespace
