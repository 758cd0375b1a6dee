// The classic switches keep their forgiving reading; the long options are strict.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "app/cmdline.h"
#include "parsed_options.h"

namespace
{

using Settings = std::tuple<int, int, int>; // fullscreen, width, height

Settings parse(std::string text)
{
    g_fullscreen = 1;
    g_width = 640;
    g_height = 480;
    parse_command_line(text.data());
    return {g_fullscreen, g_width, g_height};
}

TEST(ClassicSwitches, ReadSizesAndWindowedLikeTheOriginal)
{
    struct Case {
        const char* text;
        Settings expected;
    } cases[] = {{"", {1, 640, 480}},
                 {"-w", {0, 640, 480}},
                 {"-W -X1024 -Y768", {0, 1024, 768}},
                 {"-x100 -y50", {1, 320, 200}},
                 {"-x -y", {1, 320, 200}},
                 {"-x-5", {1, 320, 480}},
                 {"-wide", {0, 640, 480}},
                 {"-x800 -x1024", {1, 800, 480}},
                 {"-x 800 -y\t600", {1, 800, 600}},
                 {"-x+900", {1, 900, 480}},
                 {"-x12abc", {1, 320, 480}},
                 {"please -x1000x-y700", {1, 1000, 700}},
                 {"-x99999999999999999999", {1, INT_MAX, 480}},
                 {"-x-99999999999999999999", {1, 320, 480}}};
    for (const Case& c : cases)
        EXPECT_EQ(parse(c.text), c.expected) << c.text;
    char text[] = "-W Hello -X800";
    parse_command_line(text);
    EXPECT_STREQ(text, "-w hello -x800"); // lowercased in place
}

TEST(ClassicSwitches, AtoiReadsLikeTheCLibraryAndSaturates)
{
    // The size switches above cover signs, spaces and overflow; these are the edges.
    for (auto [text, value] : {std::pair{"+-3", 0},
                               {"- 3", 0},
                               {"2147483648", INT_MAX},
                               {"-2147483648", INT_MIN},
                               {"-2147483649", INT_MIN}})
        EXPECT_EQ(atoi_saturating(text), value) << text;
}

TEST(LongOptions, AreTakenOutBeforeTheClassicParserSeesTheRest)
{
    Parsed p = run_options({"--frames", "7", "-x", "800", "--seed=12", "-w", "--headless"});
    ASSERT_EQ(p.result, OptionsResult::RUN);
    EXPECT_EQ(p.classic, "-x 800 -w");
    EXPECT_EQ(p.options.max_frames, 7);
    EXPECT_TRUE(p.options.has_seed);
    EXPECT_EQ(p.options.seed, 12u);
    EXPECT_TRUE(p.options.headless);
    EXPECT_TRUE(p.err.empty());

    // A value never leaks into the classic text, so a directory whose name
    // holds "-w" does not make the window windowed.
    std::filesystem::path dir = std::filesystem::temp_directory_path() / "storm-x-wing";
    std::filesystem::create_directories(dir);
    p = run_options({"--data", dir.c_str()});
    ASSERT_EQ(p.result, OptionsResult::RUN);
    EXPECT_EQ(p.classic, "");
    EXPECT_EQ(p.options.data_dir, dir.string());
    std::filesystem::remove(dir);
}

TEST(LongOptions, BadValuesAreUsageErrorsWithAMessage)
{
    auto expect_usage = [](std::vector<const char*> words) {
        Parsed p = run_options(words);
        EXPECT_EQ(p.result, OptionsResult::EXIT_USAGE)
            << words[0] << " " << (words.size() > 1 ? words[1] : "");
        std::string name = std::string(words[0] + 2).substr(0, std::string(words[0] + 2).find('='));
        EXPECT_NE(p.err.find("'--" + name + "'"), std::string::npos) << p.err;
    };
    expect_usage({"--frames"}); // the value missing
    expect_usage({"--headless=yes"});
    const std::pair<const char*, std::vector<const char*>> bad[] = {
        {"--frames", {"0", "-3", "ten", "5x", "99999999999"}},
        {"--fixed-step", {"0", "-0.5", "nan", "inf", "1e9"}},
        {"--seed", {"-1", "4294967296", ""}},
        {"--data", {"/no/such/dir/here", ""}},
        {"--renderer", {"vulkan", "GL"}},
        {"--threads", {"0", "65", "-2", "two", ""}}};
    for (const auto& [option, values] : bad)
        for (const char* value : values)
            expect_usage({option, value});
}

TEST(LongOptions, RendererIsAutoAndThreadsOnePerCoreUnlessNamed)
{
    EXPECT_EQ(run_options({}).options.renderer, "auto");
    for (const char* name : {"auto", "gl", "soft", "ref"})
        EXPECT_EQ(run_options({"--renderer", name}).options.renderer, name);
    EXPECT_EQ(run_options({}).options.threads, 0);
    EXPECT_EQ(run_options({"--threads", "1"}).options.threads, 1);
    EXPECT_EQ(run_options({"--threads=64"}).options.threads, 64);
}

TEST(LongOptions, GoodValuesUnknownWordsHelpAndVersion)
{
    Parsed p = run_options({"--fixed-step", "0.02", "--seed", "4294967295", "--frames=1"});
    ASSERT_EQ(p.result, OptionsResult::RUN);
    EXPECT_DOUBLE_EQ(p.options.fixed_step, 0.02);
    EXPECT_EQ(p.options.seed, 4294967295u);
    EXPECT_EQ(p.options.max_frames, 1);

    p = run_options({"--fullscreen-please", "-y", "300"});
    EXPECT_EQ(p.result, OptionsResult::RUN);
    EXPECT_NE(p.err.find("warning"), std::string::npos);
    EXPECT_NE(p.err.find("--fullscreen-please"), std::string::npos);
    EXPECT_EQ(p.classic, "-y 300");

    // Help and version answer and stop, whatever follows.
    p = run_options({"-w", "--help", "--frames", "nonsense"});
    EXPECT_EQ(p.result, OptionsResult::EXIT_OK);
    EXPECT_NE(p.out.find("--headless"), std::string::npos);
    EXPECT_NE(p.out.find("-x WIDTH"), std::string::npos);
    p = run_options({"--version"});
    EXPECT_EQ(p.result, OptionsResult::EXIT_OK);
    EXPECT_EQ(p.out.rfind("storm ", 0), 0u);
}

} // namespace
