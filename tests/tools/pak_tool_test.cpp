// storm-pak as a person uses it: its exit codes, what it writes and what it
// refuses to write.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "test_util.h"
#include "tools/tool_paths.h"

namespace fs = std::filesystem;

namespace
{

class PakToolTest : public ::testing::Test
{
  protected:
    void SetUp() override { ASSERT_TRUE(fs::exists(pak_tool())) << pak_tool() << " is not built"; }
    // Runs storm-pak with `args`; its stdout and stderr land in out/err.
    int pak(const std::string& args)
    {
        return run_command(quoted(pak_tool()) + " " + args + " >out.txt 2>err.txt");
    }
    std::string out() { return read_text("out.txt"); }
    std::string err() { return read_text("err.txt"); }
    size_t count_files(const fs::path& dir)
    {
        size_t n = 0;
        for (auto& e : fs::recursive_directory_iterator(dir, fs::directory_options::none, ec_))
            n += e.is_regular_file();
        return n;
    }

    std::error_code ec_;
    ScratchDir scratch_;
};

TEST_F(PakToolTest, RoundTripsAFolderByteForByte)
{
    Bytes every_byte(256);
    for (int i = 0; i < 256; i++)
        every_byte[size_t(i)] = uint8_t(i);
    write_bytes("in/textures/common/notfound.tga", every_byte);
    write_bytes("in/sound/rain.wav", Bytes(70000, 0x5A));
    write_bytes("in/empty", {});
    write_bytes("in/" + std::string(120, 'n'), {1, 2}); // 120 bytes: fits

    ASSERT_EQ(pak("create a.pak in"), 0) << err();
    ASSERT_EQ(pak("list a.pak"), 0) << err();
    // Sorted by name, '\' separated; offsets run on from the directory.
    EXPECT_EQ(out(), "empty\t548\t0\n" + std::string(120, 'n') + "\t548\t2\n" +
                         "sound\\rain.wav\t550\t70000\n" +
                         "textures\\common\\notfound.tga\t70550\t256\n");
    ASSERT_EQ(pak("extract a.pak back"), 0) << err();
    EXPECT_EQ(count_files("back"), 4u);
    for (auto& e : fs::recursive_directory_iterator("in")) {
        if (!e.is_regular_file())
            continue;
        EXPECT_EQ(read_bytes(e), read_bytes("back" / e.path().lexically_relative("in"))) << e;
    }
    // The same folder always makes the same archive, even from the unpacked copy.
    ASSERT_EQ(pak("create b.pak back"), 0) << err();
    EXPECT_EQ(read_bytes("a.pak"), read_bytes("b.pak"));
}

TEST_F(PakToolTest, RefusesWhatTheFormatCannotHold)
{
    // 128 bytes of path: no room left for the terminator.
    write_bytes("long/" + std::string(60, 'd') + "/" + std::string(67, 'f'), {1});
    EXPECT_EQ(pak("create long.pak long"), 1);
    EXPECT_NE(err().find("128 bytes"), std::string::npos) << err();
    EXPECT_FALSE(fs::exists("long.pak"));
    // Over 2 GiB: refused from its size, before a byte is read (sparse).
    write_bytes("big/huge.bin", {});
    fs::resize_file("big/huge.bin", uintmax_t(1) << 31);
    EXPECT_EQ(pak("create big.pak big"), 1);
    EXPECT_NE(err().find("2 GiB"), std::string::npos) << err();
    EXPECT_FALSE(fs::exists("big.pak"));
    // Two names the program cannot tell apart; a '\' that would come back as a folder.
    write_bytes("twins/Rain.wav", {1});
    write_bytes("twins/rain.wav", {2});
    EXPECT_EQ(pak("create twins.pak twins"), 1);
    write_bytes("slash/a\\b", {1});
    EXPECT_EQ(pak("create slash.pak slash"), 1);
}

TEST_F(PakToolTest, DamagedOrEscapingArchivesAreReportedAndNothingIsWritten)
{
    Bytes outside = raw_pak({{"a", "data"}});
    put32(outside, 4 + 128, 0x7FFFFFF0);
    for (const Bytes& bytes : {Bytes{1, 0, 0}, outside, raw_pak({{std::string(128, 'n'), "x"}})}) {
        write_bytes("bad.pak", bytes);
        EXPECT_EQ(pak("list bad.pak"), 1) << bytes.size();
        EXPECT_NE(err().find("damaged"), std::string::npos) << err();
        EXPECT_EQ(pak("extract bad.pak out"), 1) << bytes.size();
        EXPECT_EQ(count_files("out"), 0u);
    }
    // Names that would land outside the folder: the archive lists, but nothing is unpacked.
    fs::create_directories("deep/inside");
    for (std::string name : {"..\\escaped.txt", "x\\..\\..\\escaped.txt", "/tmp/escaped.txt",
                             "\\escaped.txt", "C:\\escaped.txt"}) {
        write_bytes("evil.pak", raw_pak({{"fine.txt", "ok"}, {name, "gotcha"}}));
        EXPECT_EQ(pak("list evil.pak"), 0) << name;
        EXPECT_EQ(pak("extract evil.pak deep/inside"), 1) << name;
        EXPECT_NE(err().find("nothing extracted"), std::string::npos) << err();
        EXPECT_EQ(count_files("deep"), 0u) << name;
    }
    EXPECT_FALSE(fs::exists("escaped.txt") || fs::exists("deep/escaped.txt") ||
                 fs::exists("/tmp/escaped.txt"));

    // Of two equal names the program reads the first; unpacking keeps that one.
    write_bytes("dup.pak", raw_pak({{"A.txt", "first"}, {"a.TXT", "second"}}));
    ASSERT_EQ(pak("extract dup.pak out"), 0) << err();
    EXPECT_EQ(read_text("out/A.txt"), "first");
    EXPECT_FALSE(fs::exists("out/a.TXT"));
}

TEST_F(PakToolTest, CommandLineAndExitCodes)
{
    EXPECT_EQ(pak("--help"), 0);
    EXPECT_NE(out().find("create OUT.pak DIR"), std::string::npos);
    for (const char* usage : {"", "pack a.pak dir", "list"})
        EXPECT_EQ(pak(usage), 2) << usage;
    EXPECT_EQ(pak("list missing.pak"), 1);
    EXPECT_EQ(pak("create out.pak no-such-folder"), 1);
}

} // namespace
