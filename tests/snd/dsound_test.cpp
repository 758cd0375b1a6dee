// The DirectSound stand-in: what it accepts, what duplicates share, how plays
// start, stop and end, and the audio device's thread running beside the
// program's.
#include <gtest/gtest.h>

#include <SDL.h>

#include <cstring>
#include <vector>

#include "app/sys.h"
#include "snd/dsound.h"

namespace
{

WAVEFORMATEX pcm(WORD channels, DWORD rate, WORD bits)
{
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = channels;
    format.nSamplesPerSec = rate;
    format.wBitsPerSample = bits;
    format.nBlockAlign = WORD(channels * bits / 8);
    format.nAvgBytesPerSec = rate * format.nBlockAlign;
    return format;
}

DSBUFFERDESC describe(WAVEFORMATEX* format, DWORD bytes, DWORD caps = 0xE0)
{
    DSBUFFERDESC description{};
    description.dwSize = DSBUFFERDESC_SIZE;
    description.dwFlags = caps;
    description.dwBufferBytes = bytes;
    description.lpwfxFormat = format;
    return description;
}

class SoundObject : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_EQ(DirectSoundCreate8(&DSDEVID_NullOutput, &sound_, nullptr), DS_OK);
    }
    void TearDown() override
    {
        if (sound_)
            sound_->Release();
    }

    IDirectSoundBuffer8* create(WAVEFORMATEX format, DWORD bytes, DWORD caps = 0xE0)
    {
        DSBUFFERDESC description = describe(&format, bytes, caps);
        IDirectSoundBuffer8* buffer = nullptr;
        EXPECT_EQ(sound_->CreateSoundBuffer(&description, &buffer, nullptr), DS_OK);
        return buffer;
    }

    void fill(IDirectSoundBuffer8* buffer, uint8_t value)
    {
        void* bytes = nullptr;
        DWORD length = 0;
        ASSERT_EQ(buffer->Lock(0, 0, &bytes, &length, nullptr, nullptr, DSBLOCK_ENTIREBUFFER),
                  DS_OK);
        std::memset(bytes, value, length);
        buffer->Unlock(bytes, length, nullptr, 0);
    }

    std::vector<float> render(int frames)
    {
        std::vector<float> out(static_cast<size_t>(frames) * 2);
        ds_render(out.data(), frames);
        return out;
    }

    IDirectSound8* sound_ = nullptr;
};

TEST_F(SoundObject, RefusesFormatsAndSizesItCannotPlay)
{
    struct Case {
        const char* what;
        WAVEFORMATEX format;
        DWORD bytes;
    };
    std::vector<Case> refused;
    auto add = [&](const char* what, auto change, DWORD bytes = 1000) {
        WAVEFORMATEX format = pcm(2, 44100, 16);
        change(format);
        refused.push_back({what, format, bytes});
    };
    add("float samples", [](WAVEFORMATEX& f) { f.wFormatTag = 3; });
    add("no channels", [](WAVEFORMATEX& f) {
        f.nChannels = 0;
        f.nBlockAlign = 0;
        f.nAvgBytesPerSec = 0;
    });
    add("six channels", [](WAVEFORMATEX& f) { f = pcm(6, 44100, 16); });
    add("24-bit", [](WAVEFORMATEX& f) { f = pcm(2, 44100, 24); });
    add("block align", [](WAVEFORMATEX& f) { f.nBlockAlign = 2; });
    add("bytes a second", [](WAVEFORMATEX& f) { f.nAvgBytesPerSec += 1; });
    add("rate zero", [](WAVEFORMATEX& f) { f = pcm(2, 0, 16); });
    add("rate too high", [](WAVEFORMATEX& f) { f = pcm(2, 400000, 16); });
    add(
        "empty", [](WAVEFORMATEX&) {}, 0);
    add(
        "below the minimum", [](WAVEFORMATEX&) {}, 2);
    add(
        "beyond the maximum", [](WAVEFORMATEX&) {}, DSBSIZE_MAX + 1);
    for (Case& c : refused) {
        DSBUFFERDESC description = describe(&c.format, c.bytes);
        IDirectSoundBuffer8* buffer = reinterpret_cast<IDirectSoundBuffer8*>(&c);
        EXPECT_LT(sound_->CreateSoundBuffer(&description, &buffer, nullptr), 0) << c.what;
        EXPECT_EQ(buffer, nullptr) << c.what;
    }

    WAVEFORMATEX format = pcm(1, 22050, 8);
    DSBUFFERDESC description = describe(&format, 100);
    IDirectSoundBuffer8* buffer = nullptr;
    description.lpwfxFormat = nullptr;
    EXPECT_EQ(sound_->CreateSoundBuffer(&description, &buffer, nullptr), DSERR_INVALIDPARAM);
    description.lpwfxFormat = &format;
    description.dwSize = 12;
    EXPECT_EQ(sound_->CreateSoundBuffer(&description, &buffer, nullptr), DSERR_INVALIDPARAM);
    EXPECT_EQ(ds_buffers_alive(), 0);

    for (WORD channels : {1, 2})
        for (WORD bits : {8, 16})
            for (DWORD rate : {8000u, 11025u, 44100u, 192000u}) {
                IDirectSoundBuffer8* ok = create(pcm(channels, rate, bits), 4000);
                ASSERT_NE(ok, nullptr);
                DWORD frequency = 0;
                ok->GetFrequency(&frequency);
                EXPECT_EQ(frequency, rate);
            }
    EXPECT_EQ(ds_buffers_alive(), 16);
}

TEST_F(SoundObject, DuplicatesShareSamplesAndNothingElse)
{
    IDirectSoundBuffer8* original = create(pcm(1, 48000, 8), 4800);
    fill(original, 0xA0);
    original->SetVolume(-300);
    original->SetPan(2000);
    original->SetFrequency(24000);

    IDirectSoundBuffer8* duplicate = nullptr;
    ASSERT_EQ(sound_->DuplicateSoundBuffer(original, &duplicate), DS_OK);
    LONG volume = 0, pan = 0;
    DWORD frequency = 0, status = 1, position = 1;
    duplicate->GetVolume(&volume);
    duplicate->GetPan(&pan);
    duplicate->GetFrequency(&frequency);
    duplicate->GetStatus(&status);
    duplicate->GetCurrentPosition(&position, nullptr);
    EXPECT_EQ(volume, -300);
    EXPECT_EQ(pan, 2000);
    EXPECT_EQ(frequency, 24000u);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(position, 0u);

    void* a = nullptr;
    void* b = nullptr;
    DWORD length = 0;
    original->Lock(0, 0, &a, &length, nullptr, nullptr, DSBLOCK_ENTIREBUFFER);
    duplicate->Lock(0, 0, &b, &length, nullptr, nullptr, DSBLOCK_ENTIREBUFFER);
    EXPECT_EQ(a, b);

    duplicate->SetVolume(0);
    duplicate->SetPan(0);
    original->GetVolume(&volume);
    EXPECT_EQ(volume, -300);

    // The duplicate outlives the original and still plays its samples.
    duplicate->Play(0, 0, 0);
    render(100);
    EXPECT_EQ(original->Release(), 0u);
    std::vector<float> out = render(100);
    EXPECT_FLOAT_EQ(out[0], 0.25f);
    EXPECT_FLOAT_EQ(out[1], 0.25f);
    EXPECT_EQ(duplicate->Release(), 0u);
    EXPECT_EQ(ds_buffers_alive(), 0);
    EXPECT_EQ(ds_buffers_playing(), 0);
}

TEST_F(SoundObject, PlayStopAndTheEndOfABuffer)
{
    IDirectSoundBuffer8* buffer = create(pcm(2, 48000, 16), 400); // 100 frames
    fill(buffer, 0x10);
    DWORD status = 0, position = 0;

    EXPECT_EQ(buffer->Play(1, 0, 0), DSERR_INVALIDPARAM);
    ASSERT_EQ(buffer->Play(0, 0, 0), DS_OK);
    render(30);
    buffer->GetCurrentPosition(&position, nullptr);
    EXPECT_EQ(position, 30u * 4);
    buffer->Stop();
    render(30);
    buffer->GetCurrentPosition(&position, nullptr);
    EXPECT_EQ(position, 30u * 4); // a stop keeps its place
    buffer->Play(0, 0, 0);
    render(70);
    buffer->GetStatus(&status);
    EXPECT_EQ(status, 0u); // ran off its end
    buffer->GetCurrentPosition(&position, nullptr);
    EXPECT_EQ(position, 0u);

    // Play on a playing buffer goes on from where it is, with the new flags.
    buffer->Play(0, 0, 0);
    render(60);
    buffer->Play(0, 0, DSBPLAY_LOOPING);
    render(60);
    buffer->GetStatus(&status);
    EXPECT_EQ(status, DSBSTATUS_PLAYING | DSBSTATUS_LOOPING);
    buffer->GetCurrentPosition(&position, nullptr);
    EXPECT_EQ(position, 20u * 4);

    EXPECT_EQ(buffer->SetCurrentPosition(400), DSERR_INVALIDPARAM);
    EXPECT_EQ(buffer->SetCurrentPosition(43), DS_OK);
    buffer->GetCurrentPosition(&position, nullptr);
    EXPECT_EQ(position, 40u);
}

TEST_F(SoundObject, OneObjectAtATimeAndItsReleaseTakesEverything)
{
    IDirectSound8* second = nullptr;
    EXPECT_EQ(DirectSoundCreate8(&DSDEVID_NullOutput, &second, nullptr), DSERR_ALLOCATED);
    EXPECT_EQ(second, nullptr);

    IDirectSoundBuffer8* buffer = create(pcm(1, 8000, 8), 800);
    IDirectSoundBuffer8* duplicate = nullptr;
    sound_->DuplicateSoundBuffer(buffer, &duplicate);
    duplicate->Play(0, 0, DSBPLAY_LOOPING);
    EXPECT_EQ(ds_buffers_alive(), 2);
    sound_->Release();
    sound_ = nullptr;
    EXPECT_EQ(ds_buffers_alive(), 0);
    EXPECT_EQ(ds_output_rate(), 0);
    std::vector<float> out = render(16);
    for (float sample : out)
        EXPECT_EQ(sample, 0.0f);

    ASSERT_EQ(DirectSoundCreate8(&DSDEVID_NullOutput, &sound_, nullptr), DS_OK);
    EXPECT_EQ(ds_output_rate(), DS_NULL_OUTPUT_RATE);
}

TEST_F(SoundObject, TheBufferTableHasALimit)
{
    IDirectSoundBuffer8* buffer = create(pcm(1, 8000, 8), 8);
    std::vector<IDirectSoundBuffer8*> duplicates;
    for (;;) {
        IDirectSoundBuffer8* duplicate = nullptr;
        if (sound_->DuplicateSoundBuffer(buffer, &duplicate) != DS_OK)
            break;
        duplicates.push_back(duplicate);
    }
    EXPECT_EQ(ds_buffers_alive(), DS_MAX_BUFFERS);
    // One-shot plays that ran out free their records for the next ones.
    for (IDirectSoundBuffer8* duplicate : duplicates) {
        duplicate->Play(0, 0, 0);
        ds_release_when_stopped(duplicate);
    }
    render(64); // 8 frames at 8 kHz last 48 output frames
    EXPECT_EQ(ds_buffers_alive(), 1);
}

// The device's thread mixes while the program's thread plays, changes and
// releases buffers. Run under ThreadSanitizer this is the check that the two
// only meet under the mixer's lock.
TEST(SoundDevice, TheDeviceThreadMixesWhileTheProgramPlays)
{
    if (sys_init(false) != 1)
        GTEST_SKIP() << "no video driver";
    IDirectSound8* sound = nullptr;
    if (DirectSoundCreate8(nullptr, &sound, nullptr) != DS_OK) {
        sys_shutdown();
        GTEST_SKIP() << "no audio device (set SDL_AUDIODRIVER=dummy)";
    }
    EXPECT_GT(ds_output_rate(), 0);

    WAVEFORMATEX format = pcm(1, 22050, 16);
    DSBUFFERDESC description = describe(&format, 2205 * 2); // 0.1 s
    IDirectSoundBuffer8* rain = nullptr;
    ASSERT_EQ(sound->CreateSoundBuffer(&description, &rain, nullptr), DS_OK);
    rain->Play(0, 0, DSBPLAY_LOOPING);

    uint32_t start = SDL_GetTicks();
    int plays = 0;
    int moves = 0; // the rain's position as the device thread advances it
    DWORD last_position = 0;
    while (SDL_GetTicks() - start < 400) {
        IDirectSoundBuffer8* clap = nullptr;
        if (sound->DuplicateSoundBuffer(rain, &clap) == DS_OK) {
            clap->SetVolume(-(plays % 30) * 100);
            clap->SetPan((plays % 21 - 10) * 1000);
            clap->SetFrequency(11025 + DWORD(plays % 40) * 1000);
            clap->Play(0, 0, 0);
            ds_release_when_stopped(clap);
            ++plays;
        }
        DWORD position = 0;
        rain->GetCurrentPosition(&position, nullptr);
        moves += position != last_position;
        last_position = position;
        // Changes made just before a pause, so the device thread mixes while
        // nothing else the program does would order the two.
        rain->SetFrequency(22050 + DWORD(plays % 7) * 100);
        rain->SetPan((plays % 5 - 2) * 500);
        rain->SetVolume(-(plays % 10) * 100);
        SDL_Delay(1);
    }
    EXPECT_GT(plays, 50);
    EXPECT_GT(moves, 5);
    // The claps last at most 0.2 s; the device thread ends them.
    uint32_t wait = SDL_GetTicks();
    while (ds_buffers_alive() > 1 && SDL_GetTicks() - wait < 3000)
        SDL_Delay(10);
    EXPECT_EQ(ds_buffers_alive(), 1);
    EXPECT_EQ(ds_buffers_playing(), 1);

    rain->Release();
    sound->Release();
    sys_shutdown();
}

} // namespace
