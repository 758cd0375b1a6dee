// Screensaver mode: its options and window ids, where its trace goes, and the
// autopilot that flies the recorded person by the real clock.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/cmdline.h"
#include "app/saver.h"
#include "base/log.h"
#include "parsed_options.h"
#include "test_util.h"

namespace
{

TEST(SaverOptions, BothDashFormsAreTakenWholeAndNeverReachTheClassicSwitches)
{
    Parsed p = run_options({"-root", "-x", "800"});
    ASSERT_EQ(p.result, OptionsResult::RUN);
    EXPECT_TRUE(p.options.saver);
    EXPECT_FALSE(p.options.has_window_id);
    EXPECT_EQ(p.classic, "-x 800");

    // "-window-id" holds "-w" and its value an "x": neither may turn into a
    // windowed or resized run.
    const std::vector<std::vector<const char*>> forms = {{"-window-id", "0x2a00007"},
                                                         {"--window-id", "0x2A00007"},
                                                         {"-window-id=44040199"},
                                                         {"--window-id=0X2a00007"}};
    for (const auto& words : forms) {
        p = run_options(words);
        ASSERT_EQ(p.result, OptionsResult::RUN) << words[0] << p.err;
        EXPECT_TRUE(p.options.saver);
        EXPECT_EQ(p.options.window_id, 0x2a00007u) << words[0];
        EXPECT_EQ(p.classic, "");
    }

    p = run_options({"--root", "--sound", "-rooted", "-wide"});
    EXPECT_TRUE(p.options.sound);
    EXPECT_EQ(p.classic, "-rooted -wide"); // only the exact words are ours
    EXPECT_FALSE(run_options({}).options.saver);
    EXPECT_FALSE(run_options({}).options.sound);
}

TEST(SaverOptions, BadWindowIdsAndHeadlessScreensaversAreUsageErrors)
{
    for (const char* bad : {"", "0", "0x", "0x0", "zz", "-5", "+5", " 12", "12 ", "12abc", "0x0x5",
                            "0x20000000", "536870912", "99999999999999999999"}) {
        Parsed p = run_options({"--window-id", bad});
        EXPECT_EQ(p.result, OptionsResult::EXIT_USAGE) << "'" << bad << "'";
        EXPECT_NE(p.err.find("'--window-id'"), std::string::npos) << p.err;
    }
    EXPECT_EQ(run_options({"-window-id"}).result, OptionsResult::EXIT_USAGE); // no value
    EXPECT_EQ(run_options({"--root=1"}).result, OptionsResult::EXIT_USAGE);
    Parsed p = run_options({"--root", "--headless"});
    EXPECT_EQ(p.result, OptionsResult::EXIT_USAGE);
    EXPECT_NE(p.err.find("--headless"), std::string::npos);
    // The largest id X hands out is fine.
    EXPECT_EQ(run_options({"--window-id", "0x1fffffff"}).result, OptionsResult::RUN);
}

TEST(SaverOptions, TheGivenWindowWinsThenTheEnvironmentThenTheRoot)
{
    LaunchOptions options;
    options.saver = true;
    uint32_t id = 99;
    EXPECT_TRUE(saver_window(options, nullptr, &id, stderr));
    EXPECT_EQ(id, 0u); // the root window
    EXPECT_TRUE(saver_window(options, "", &id, stderr));
    EXPECT_EQ(id, 0u);
    EXPECT_TRUE(saver_window(options, "0x400007", &id, stderr));
    EXPECT_EQ(id, 0x400007u);
    EXPECT_TRUE(saver_window(options, "4194311", &id, stderr));
    EXPECT_EQ(id, 4194311u);

    FILE* err = std::tmpfile();
    EXPECT_FALSE(saver_window(options, "window 7", &id, err));
    EXPECT_NE(read_all(err).find("XSCREENSAVER_WINDOW='window 7'"), std::string::npos);

    options.has_window_id = true;
    options.window_id = 0x600008;
    EXPECT_TRUE(saver_window(options, "junk", &id, stderr));
    EXPECT_EQ(id, 0x600008u);
}

TEST(SaverTrace, GoesToTheXdgStateFolderAndItIsMadeAsNeeded)
{
    EXPECT_EQ(saver_state_dir("/var/x/state", "/home/a"), "/var/x/state/storm");
    // Relative or empty base directories are invalid and ignored.
    EXPECT_EQ(saver_state_dir("state", "/home/a"), "/home/a/.local/state/storm");
    EXPECT_EQ(saver_state_dir("", "/home/a"), "/home/a/.local/state/storm");
    EXPECT_EQ(saver_state_dir(nullptr, "/home/a"), "/home/a/.local/state/storm");
    EXPECT_EQ(saver_state_dir(nullptr, "home"), "");
    EXPECT_EQ(saver_state_dir(nullptr, nullptr), "");

    ScratchDir scratch;
    std::string dir = (scratch.path() / "deep" / "state" / "storm").string();
    ASSERT_EQ(saver_open_log(dir), 1);
    log_printf("hello");
    log_close();
    EXPECT_TRUE(std::filesystem::exists(dir + "/debug.log"));
    EXPECT_FALSE(std::filesystem::exists("debug.log"));

    // A folder that cannot be made leaves the run without a log.
    std::ofstream("plain-file") << "x";
    EXPECT_EQ(saver_open_log((scratch.path() / "plain-file" / "storm").string()), 0);
    EXPECT_EQ(g_log_file, nullptr);
    EXPECT_EQ(saver_open_log(""), 0);
}

// A flight of `count` frames of `dt` seconds; frame i moves dx = i + 1, dy = 1.
std::vector<RecordedFrame> flight(int count, float dt)
{
    std::vector<RecordedFrame> frames;
    for (int i = 0; i < count; ++i)
        frames.push_back({dt, i + 1, 1, 0});
    return frames;
}

// Plays `calls` steps of `step` seconds and sums what arrived.
RecordedFrame play(Autopilot* pilot, int calls, double step, int* calls_with_input = nullptr)
{
    RecordedFrame sum = {0.0f, 0, 0, 0};
    for (int i = 0; i < calls; ++i) {
        RecordedFrame got = autopilot_take(pilot, step);
        sum.dx += got.dx;
        sum.dy += got.dy;
        if (calls_with_input && got.dy)
            ++*calls_with_input;
    }
    return sum;
}

TEST(Autopilot, PlaysTheFlightByTheClockAtAnyFrameRate)
{
    // One second recorded at 30 frames a second: 30 frames, dx 1..30.
    const int total_dx = 30 * 31 / 2;
    for (double fps : {10.0, 30.0, 60.0, 144.0}) {
        Autopilot pilot;
        autopilot_start(&pilot, flight(30, 1.0f / 30.0f));
        int with_input = 0;
        // A second and a moment (the float steps add up to a hair over a
        // second), short of the next lap's first frame.
        RecordedFrame sum = play(&pilot, int(fps), 1.0 / fps, &with_input);
        RecordedFrame rest = play(&pilot, 1, 0.001, &with_input);
        EXPECT_EQ(sum.dx + rest.dx, total_dx) << fps;
        EXPECT_EQ(sum.dy + rest.dy, 30) << fps;
        // Faster frames share out the same input, each recorded frame once;
        // slower ones sum it, so every frame has some.
        if (fps > 30.0) {
            EXPECT_EQ(with_input, 30) << fps;
        } else {
            EXPECT_GE(with_input, int(fps)) << fps;
        }
    }
}

TEST(Autopilot, LoopsKeepsTheButtonsAndNeverRunsAheadOfAStall)
{
    Autopilot pilot;
    autopilot_start(&pilot, flight(30, 1.0f / 30.0f));
    // Three laps in a little over three seconds, the fourth not yet begun.
    EXPECT_EQ(play(&pilot, 302, 0.01).dy, 30 * 3);

    // A stall of a minute plays only AUTOPILOT_MAX_STEP of the flight
    // (frames of 1/8 s: exact in binary).
    autopilot_start(&pilot, flight(30, 0.125f));
    RecordedFrame burst = autopilot_take(&pilot, 60.0);
    EXPECT_EQ(burst.dy, int(AUTOPILOT_MAX_STEP / 0.125));
    EXPECT_FLOAT_EQ(burst.dt, float(AUTOPILOT_MAX_STEP));

    // The second button is held from the frame that presses it to the one
    // that lets go, however many calls lie between.
    std::vector<RecordedFrame> frames = {{0.1f, 0, 0, 2}, {0.3f, 0, 0, 2}, {0.1f, 0, 0, 0}};
    autopilot_start(&pilot, frames);
    EXPECT_EQ(autopilot_take(&pilot, 0.05).buttons, 0);
    EXPECT_EQ(autopilot_take(&pilot, 0.1).buttons, 2);
    EXPECT_EQ(autopilot_take(&pilot, 0.1).buttons, 2);
    EXPECT_EQ(autopilot_take(&pilot, 0.1).buttons, 2);
    EXPECT_EQ(autopilot_take(&pilot, 0.1).buttons, 2);
    EXPECT_EQ(autopilot_take(&pilot, 0.1).buttons, 0);
}

TEST(Autopilot, FlightsWithoutTimeOrFramesStillEnd)
{
    Autopilot pilot;
    autopilot_start(&pilot, flight(3, 0.0f)); // no time at all: one frame a call
    EXPECT_EQ(autopilot_take(&pilot, 0.02).dx, 1);
    EXPECT_EQ(autopilot_take(&pilot, 0.02).dx, 2);
    EXPECT_EQ(autopilot_take(&pilot, 0.02).dx, 3);
    EXPECT_EQ(autopilot_take(&pilot, 0.02).dx, 1);

    // Zero-length frames inside a flight arrive with the next real one.
    autopilot_start(&pilot, {{0.0f, 5, 0, 0}, {0.0f, 7, 0, 0}, {0.5f, 1, 0, 0}});
    EXPECT_EQ(autopilot_take(&pilot, 0.01).dx, 12);

    autopilot_start(&pilot, {});
    RecordedFrame none = autopilot_take(&pilot, 0.5);
    EXPECT_EQ(none.dx, 0);
    EXPECT_EQ(none.buttons, 0);
}

TEST(Autopilot, TheInstalledFlightIsFoundAsAResourceAndParsedFromMemory)
{
    ScratchDir scratch;
    std::ofstream(SAVER_FLIGHT) << "# flight\n0.5 1 2 0\n0.5 3 4 2\n";
    std::vector<RecordedFrame> frames;
    ASSERT_EQ(saver_load_flight(&frames, stderr), 1);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1].buttons, 2);

    std::ofstream(SAVER_FLIGHT) << "0.5 1 2 0\n0.5 three 4 2\n";
    FILE* err = std::tmpfile();
    EXPECT_EQ(saver_load_flight(&frames, err), 0);
    EXPECT_NE(read_all(err).find("flight.rec:2:"), std::string::npos);

    std::filesystem::remove(SAVER_FLIGHT);
    err = std::tmpfile();
    EXPECT_EQ(saver_load_flight(&frames, err), 0);
    EXPECT_NE(read_all(err).find("no flight.rec"), std::string::npos);
}

} // namespace
