// Flights on disk and bench statistics.
#include <gtest/gtest.h>

#include <fstream>

#include "app/bench.h"
#include "app/recording.h"
#include "test_util.h"

namespace
{

void write_text(const char* path, const char* text)
{
    std::ofstream(path, std::ios::binary) << text;
}

TEST(Flight, RoundTripsEveryFrameExactly)
{
    ScratchDir scratch;
    const RecordedFrame frames[] = {
        {0.0f, 0, 0, 0}, {1.0f / 60.0f, -3, 12, 2}, {0.1f, 2147483647, -2147483647 - 1, 3}};
    FILE* file = std::fopen("f.rec", "w");
    for (const RecordedFrame& f : frames)
        ASSERT_EQ(recording_write_frame(file, f), 1);
    std::fclose(file);

    std::vector<RecordedFrame> loaded;
    ASSERT_EQ(recording_load("f.rec", &loaded, stderr), 1);
    ASSERT_EQ(loaded.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(loaded[i].dt, frames[i].dt); // bit for bit, not merely close
        EXPECT_EQ(loaded[i].dx, frames[i].dx);
        EXPECT_EQ(loaded[i].dy, frames[i].dy);
        EXPECT_EQ(loaded[i].buttons, frames[i].buttons);
    }
}

TEST(Flight, CommentsBlankLinesAndCrLfAreFineButBadLinesAreNamed)
{
    ScratchDir scratch;
    write_text("ok.rec",
               "# a hand-written flight\r\n\r\n0.02 1 -1 2\r\n   # indented comment\n0.5 0 0 0");
    std::vector<RecordedFrame> frames;
    ASSERT_EQ(recording_load("ok.rec", &frames, stderr), 1);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_FLOAT_EQ(frames[1].dt, 0.5f);

    const char* bad[] = {"0.02 1 2\n",     "-0.1 0 0 0\n",   "nan 0 0 0\n",
                         "0.02 1 2 3 4\n", "0.02 a 2 3\n",   "0.02 1 2 99999999999\n",
                         "1e300 0 0 0\n",  "0.02, 1, 2, 3\n"};
    for (const char* text : bad) {
        std::string content = std::string("0.01 0 0 0\n") + text;
        write_text("bad.rec", content.c_str());
        FILE* err = std::tmpfile();
        EXPECT_EQ(recording_load("bad.rec", &frames, err), 0) << text;
        std::rewind(err);
        char message[256] = {};
        std::fgets(message, sizeof message, err);
        std::fclose(err);
        EXPECT_NE(std::string(message).find("bad.rec:2:"), std::string::npos) << message;
    }
    EXPECT_EQ(recording_load("missing.rec", &frames, stderr), 0);
}

TEST(Bench, LeavesOutTheWarmUpAndTakesNearestRankPercentiles)
{
    std::vector<double> starts, durations;
    // Half a second of slow warm-up frames, then 100 frames of 1..100 ms.
    for (int i = 0; i < 5; ++i) {
        starts.push_back(i * 0.1);
        durations.push_back(0.1);
    }
    double t = 1.0;
    for (int i = 1; i <= 100; ++i) {
        starts.push_back(t);
        durations.push_back(i / 1000.0);
        t += i / 1000.0;
    }
    BenchSummary s = bench_summarise(starts, durations, 1.0);
    EXPECT_EQ(s.warmup_frames, 5);
    EXPECT_EQ(s.frames, 100);
    EXPECT_NEAR(s.p50_ms, 50.0, 1e-9);
    EXPECT_NEAR(s.p99_ms, 99.0, 1e-9);
    EXPECT_NEAR(s.seconds, 5.05, 1e-9);
    EXPECT_NEAR(s.mean_fps, 100 / 5.05, 1e-9);

    // A run shorter than the warm-up still reports what it has.
    BenchSummary short_run = bench_summarise({0.0, 0.01}, {0.01, 0.03}, 1.0);
    EXPECT_EQ(short_run.frames, 2);
    EXPECT_NEAR(short_run.p99_ms, 30.0, 1e-9);
    EXPECT_EQ(bench_summarise({}, {}, 1.0).frames, 0);
}

} // namespace
