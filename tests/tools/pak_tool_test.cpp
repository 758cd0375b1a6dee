// storm-pak as a person uses it: its exit codes, what it writes and what it
// refuses to write.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "test_util.h"
#include "tools/tool_paths.h"

namespace fs = std::filesystem;

namespace
{

using Bytes = std::vector<uint8_t>;

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

    ScratchDir scratch_;
};

void put32(Bytes& b, size_t at, int32_t v)
{
    for (int i = 0; i < 4; i++)
        b[at + i] = uint8_t(uint32_t(v) >> (8 * i));
}

// An archive of the given raw names and bodies, laid out by hand so it can
// hold what the builder would refuse.
Bytes raw_pak(const std::vector<std::pair<std::string, std::string>>& members)
{
    Bytes out(4 + members.size() * 136, 0);
    put32(out, 0, int32_t(members.size()));
    for (size_t i = 0; i < members.size(); i++) {
        memcpy(&out[4 + i * 136], members[i].first.data(),
               std::min<size_t>(members[i].first.size(), 128));
        put32(out, 4 + i * 136 + 128, int32_t(out.size()));
        put32(out, 4 + i * 136 + 132, int32_t(members[i].second.size()));
        out.insert(out.end(), members[i].second.begin(), members[i].second.end());
    }
    return out;
}

size_t count_files(const fs::path& dir)
{
    size_t n = 0;
    if (!fs::exists(dir))
        return 0;
    for (auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file())
            n++;
    return n;
}

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
    std::string expect = "empty\t548\t0\n" + std::string(120, 'n') + "\t548\t2\n" +
                         "sound\\rain.wav\t550\t70000\n" +
                         "textures\\common\\notfound.tga\t70550\t256\n";
    EXPECT_EQ(out(), expect);

    ASSERT_EQ(pak("extract a.pak back"), 0) << err();
    EXPECT_EQ(count_files("back"), 4u);
    for (auto& e : fs::recursive_directory_iterator("in")) {
        if (!e.is_regular_file())
            continue;
        fs::path rel = e.path().lexically_relative("in");
        EXPECT_EQ(read_bytes(e.path()), read_bytes("back" / rel)) << rel;
    }

    // The same folder always makes the same archive, even packed anew from
    // the unpacked copy.
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
    fs::create_directories("big");
    {
        std::ofstream touch("big/huge.bin");
    }
    fs::resize_file("big/huge.bin", (uintmax_t(1) << 31));
    EXPECT_EQ(pak("create big.pak big"), 1);
    EXPECT_NE(err().find("2 GiB"), std::string::npos) << err();
    EXPECT_FALSE(fs::exists("big.pak"));

    // Two names the program cannot tell apart.
    write_bytes("twins/Rain.wav", {1});
    write_bytes("twins/rain.wav", {2});
    EXPECT_EQ(pak("create twins.pak twins"), 1);
    EXPECT_NE(err().find("same name"), std::string::npos) << err();

    // A '\' inside a file name would come back as a folder.
    write_bytes("slash/a\\b", {1});
    EXPECT_EQ(pak("create slash.pak slash"), 1);
}

TEST_F(PakToolTest, DamagedArchivesAreReportedAndNothingIsWritten)
{
    Bytes outside = raw_pak({{"a", "data"}});
    put32(outside, 4 + 128, 0x7FFFFFF0);
    Bytes count_wraps = raw_pak({{"a", "x"}});
    put32(count_wraps, 0, 31580642);
    const std::vector<std::pair<std::string, Bytes>> damaged = {
        {"short", {1, 0, 0}},
        {"negative count", {0xFF, 0xFF, 0xFF, 0xFF}},
        {"directory past the end", count_wraps},
        {"member past the end", outside},
        {"unterminated name", raw_pak({{std::string(128, 'n'), "x"}})},
    };
    for (const auto& [what, bytes] : damaged) {
        write_bytes("bad.pak", bytes);
        EXPECT_EQ(pak("list bad.pak"), 1) << what;
        EXPECT_NE(err().find("damaged"), std::string::npos) << what << ": " << err();
        EXPECT_EQ(pak("extract bad.pak out"), 1) << what;
        EXPECT_EQ(count_files("out"), 0u) << what;
    }

    // Names that would land outside the folder: the archive is well formed,
    // so it lists, but nothing of it is unpacked.
    fs::create_directories("deep/inside");
    const std::vector<std::string> escapes = {"..\\escaped.txt", "x\\..\\..\\escaped.txt",
                                              "/tmp/escaped.txt", "\\escaped.txt",
                                              "C:\\escaped.txt"};
    for (const std::string& name : escapes) {
        write_bytes("evil.pak", raw_pak({{"fine.txt", "ok"}, {name, "gotcha"}}));
        EXPECT_EQ(pak("list evil.pak"), 0) << name;
        EXPECT_EQ(pak("extract evil.pak deep/inside"), 1) << name;
        EXPECT_NE(err().find("nothing extracted"), std::string::npos) << err();
        EXPECT_EQ(count_files("deep"), 0u) << name;
    }
    EXPECT_FALSE(fs::exists("escaped.txt"));
    EXPECT_FALSE(fs::exists("deep/escaped.txt"));
    EXPECT_FALSE(fs::exists("/tmp/escaped.txt"));
}

TEST_F(PakToolTest, ExtractKeepsTheMemberTheProgramWouldRead)
{
    // The program reads the first of two equal names; unpacking must not
    // let the second overwrite it.
    write_bytes("dup.pak", raw_pak({{"A.txt", "first"}, {"a.TXT", "second"}}));
    ASSERT_EQ(pak("extract dup.pak out"), 0) << err();
    EXPECT_EQ(read_text("out/A.txt"), "first");
    EXPECT_FALSE(fs::exists("out/a.TXT"));
    EXPECT_NE(err().find("skipped"), std::string::npos);
}

TEST_F(PakToolTest, CommandLine)
{
    EXPECT_EQ(pak("--help"), 0);
    EXPECT_NE(out().find("create OUT.pak DIR"), std::string::npos);
    EXPECT_EQ(pak(""), 2);
    EXPECT_EQ(pak("pack a.pak dir"), 2);
    EXPECT_EQ(pak("list"), 2);
    EXPECT_EQ(pak("list missing.pak"), 1);
    EXPECT_EQ(pak("create out.pak no-such-folder"), 1);
}

} // namespace
