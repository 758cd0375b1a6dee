// In-memory files, the archive and the disk search.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "res/files.h"
#include "res/res_test_util.h"
#include "test_util.h"

namespace
{

MemFile* wrap(const Bytes& b)
{
    return mf_open_memory(b.data(), int32_t(b.size()));
}

// The file's bytes as text ("<none>" for no file); closes the file.
std::string take(MemFile* f)
{
    std::string s = f ? std::string(reinterpret_cast<char*>(f->data), size_t(f->size)) : "<none>";
    mf_close(f);
    return s;
}

TEST(MemFileTest, SeekKeepsOutOfRangePositionsWithoutOverflow)
{
    MemFile* f = wrap(Bytes(10, 7));
    struct Case {
        int32_t offset, whence;
        int result, pos, eof;
    } cases[] = {
        {0, 2, 1, 10, 1},   {4, 2, 1, 6, 0},
        {11, 0, 0, 11, 1},  {0, 3, 0, 11, 1},                // an unknown whence leaves pos alone
        {-20, 1, 0, -9, 0}, {INT32_MIN, 2, 0, INT32_MAX, 1}, // 10 + 2^31 is pinned
    };
    for (const Case& c : cases) {
        EXPECT_EQ(mf_seek(f, c.offset, c.whence), c.result) << c.offset << " " << c.whence;
        EXPECT_EQ(f->pos, c.pos) << c.offset << " " << c.whence;
        EXPECT_EQ(mf_eof(f), c.eof) << c.offset << " " << c.whence;
    }
    EXPECT_EQ(mf_seek(nullptr, 0, 0), 0);
    mf_close(f);
}

TEST(MemFileTest, ReadsAreZeroOutsideTheDataAndStillAdvance)
{
    MemFile* f = wrap({0xC8, 0x80, 0x02, 0xFF, 0xFF});
    EXPECT_EQ(mf_getc(f), 200);
    EXPECT_EQ(mf_getw(f), 640);
    EXPECT_EQ(mf_getw(f), 65535);
    mf_seek(f, -1, 0);
    EXPECT_EQ(mf_getc(f), 0);
    EXPECT_EQ(mf_getc(f), 200);
    mf_seek(f, 4, 0);
    EXPECT_EQ(mf_getw(f), 0xFF); // high byte past the end
    EXPECT_EQ(f->pos, 6);
    mf_seek(f, INT32_MAX, 0);
    EXPECT_EQ(mf_getw(f), 0);
    EXPECT_EQ(f->pos, INT32_MAX);
    mf_close(f);

    f = wrap({1, 2, 3, 4, 5, 6});
    Bytes buf(8, 0xAA);
    EXPECT_EQ(mf_read(buf.data(), 3, 2, f), 2);
    EXPECT_EQ(buf, Bytes({1, 2, 3, 4, 5, 6, 0xAA, 0xAA}));
    mf_seek(f, -2, 0);
    EXPECT_EQ(mf_read(buf.data(), 2, 3, f), 3); // starts before the data
    EXPECT_EQ(buf, Bytes({0, 0, 1, 2, 3, 4, 0xAA, 0xAA}));
    EXPECT_EQ(mf_read(buf.data(), 3, 2, f), 2); // runs past the end
    EXPECT_EQ(buf, Bytes({5, 6, 0, 0, 0, 0, 0xAA, 0xAA}));
    EXPECT_EQ(f->pos, 10);
    EXPECT_EQ(mf_read(buf.data(), -1, 3, f), 3); // negative: nothing moves
    EXPECT_EQ(mf_read(buf.data(), 2, -1, f), -1);
    EXPECT_EQ(f->pos, 10);
    EXPECT_EQ(buf[0], 5);
    mf_seek(f, INT32_MAX - 1, 0);
    EXPECT_EQ(mf_read(buf.data(), 4, 2, f), 2);
    EXPECT_EQ(buf, Bytes(8, 0));
    EXPECT_EQ(f->pos, INT32_MAX);
    mf_close(f);
}

// Each test in a fresh current directory, with no archive or search directories.
class ResFilesTest : public ::testing::Test
{
  protected:
    void TearDown() override
    {
        pak_close();
        mf_set_search_dirs(nullptr, 0);
    }
    void search(std::vector<const char*> dirs)
    {
        mf_set_search_dirs(dirs.data(), int(dirs.size()));
    }
    ScratchDir scratch_;
};

TEST_F(ResFilesTest, PakLookupAndMemberLifetime)
{
    write_bytes("one.pak", raw_pak({{"TEXTURES\\Floor.TGA", "floor"},
                                    {"textures/rain.tga", "rain"},
                                    {"dup", "first"},
                                    {"DUP", "second"},
                                    {"empty", ""}}));
    write_bytes("two.pak", raw_pak({{"dup", "two"}}));
    ASSERT_EQ(pak_open("one.pak"), 1);
    char asked[] = "textures/floor.tga";
    fix_path_slashes(asked);
    EXPECT_EQ(take(mf_open_pak(asked)), "floor");
    EXPECT_EQ(take(mf_open_pak("textures\\rain.tga")), "<none>"); // compared as stored
    EXPECT_EQ(take(mf_open_pak("textures/rain.tga")), "rain");
    MemFile* empty = mf_open_pak("empty");
    ASSERT_NE(empty, nullptr);
    EXPECT_TRUE(empty->data && empty->size == 0 && mf_eof(empty));
    mf_close(empty);

    MemFile* member = mf_open_pak("Dup");
    ASSERT_EQ(pak_open("two.pak"), 1);
    EXPECT_EQ(take(mf_open_pak("dup")), "two");
    EXPECT_EQ(pak_open("missing.pak"), 0);
    EXPECT_EQ(take(mf_open_pak("dup")), "<none>");
    EXPECT_EQ(take(member), "first"); // outlives both reloads
}

TEST_F(ResFilesTest, DamagedDirectoryOrEntriesAreNeverUsed)
{
    Bytes good = raw_pak({{"a", "ok"}});
    Bytes negative = good, too_many = good, wraps = good;
    put32(negative, 0, -1);
    put32(too_many, 0, 2);
    put32(wraps, 0, 31580642); // * 136 wraps to 16 in 32 bits
    for (const Bytes& bad : {Bytes{}, Bytes{0, 0, 0}, negative, too_many, wraps}) {
        ASSERT_EQ(pak_open_memory(wrap(good)), 1);
        EXPECT_EQ(pak_open_memory(wrap(bad)), 0);
        EXPECT_TRUE(g_pak_file == nullptr && g_pak_count == 0);
    }

    // Entries reaching outside the archive are skipped; a later good one serves.
    Bytes pak = raw_pak({{"a", ""}, {"a", ""}, {"a", ""}, {"a", ""}, {"a", "good"}});
    const int32_t bad_fields[4][2] = {
        {-1, 0}, {0, -1}, {INT32_MAX, 2}, {int32_t(pak.size()) - 1, 2}};
    for (int i = 0; i < 4; i++) {
        put32(pak, 4 + i * 136 + 128, bad_fields[i][0]);
        put32(pak, 4 + i * 136 + 132, bad_fields[i][1]);
    }
    ASSERT_EQ(pak_open_memory(wrap(pak)), 1);
    EXPECT_EQ(take(mf_open_pak("a")), "good");

    // A name filling all 128 bytes ends there: the offset behind it reads as
    // "x\0\0\0" to a compare that runs on.
    std::string name(128, 'n');
    pak = raw_pak({{name, "data"}});
    put32(pak, 4 + 128, 'x');
    ASSERT_EQ(pak_open_memory(wrap(pak)), 1);
    EXPECT_EQ(take(mf_open_pak(name.c_str())), std::string(&pak['x'], &pak['x'] + 4));
    EXPECT_EQ(take(mf_open_pak((name + "x").c_str())), "<none>");
}

TEST_F(ResFilesTest, DiskWinsAndSearchDirectoriesGoInOrder)
{
    write_bytes("a/textures/floor.tga", {'a'});
    write_bytes("b/textures/floor.tga", {'b'});
    write_bytes("b/data.pak",
                raw_pak({{"textures\\floor.tga", "pak"}, {"textures\\shade.tga", "pakshade"}}));
    write_bytes("empty", {});
    search({"a", "b/"});
    ASSERT_EQ(pak_open("data.pak"), 1);
    EXPECT_EQ(take(mf_open("textures\\floor.tga")), "a");
    EXPECT_EQ(take(mf_open("textures\\shade.tga")), "pakshade");
    EXPECT_EQ(take(mf_open("empty")), "<none>");
    EXPECT_EQ(take(mf_read_disk("textures")), "<none>"); // a directory is no file
    search({"b", "a"});
    EXPECT_EQ(take(mf_read_disk("textures/floor.tga")), "b");
    std::string absolute = (scratch_.path() / "a/textures/floor.tga").string();
    EXPECT_EQ(take(mf_read_disk(absolute.c_str())), "a");

    // No directories: relative to the current directory.
    mf_set_search_dirs(nullptr, 0);
    EXPECT_EQ(take(mf_read_disk("a\\textures\\floor.tga")), "a");
}

} // namespace
