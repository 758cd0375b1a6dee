// In-memory files, the archive and the disk search.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "res/files.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

MemFile* wrap(const Bytes& b) { return mf_open_memory(b.data(), int32_t(b.size())); }

// The file's bytes as text ("<none>" for no file); closes the file.
std::string take(MemFile* f) {
    std::string s = f ? std::string(reinterpret_cast<char*>(f->data), size_t(f->size)) : "<none>";
    mf_close(f);
    return s;
}

void put32(Bytes& b, size_t at, int32_t v) {
    for (int i = 0; i < 4; i++) b[at + i] = uint8_t(uint32_t(v) >> (8 * i));
}

// Directory, then the members in order. Names are cut to 128 bytes.
Bytes make_pak(const std::vector<std::pair<std::string, std::string>>& members) {
    Bytes out(4 + members.size() * 136, 0);
    put32(out, 0, int32_t(members.size()));
    for (size_t i = 0; i < members.size(); i++) {
        const auto& [name, body] = members[i];
        memcpy(&out[4 + i * 136], name.data(), std::min<size_t>(name.size(), 128));
        put32(out, 4 + i * 136 + 128, int32_t(out.size()));
        put32(out, 4 + i * 136 + 132, int32_t(body.size()));
        out.insert(out.end(), body.begin(), body.end());
    }
    return out;
}

TEST(MemFileTest, SeekKeepsOutOfRangePositionsWithoutOverflow) {
    MemFile* f = wrap(Bytes(10, 7));
    EXPECT_EQ(mf_seek(f, 0, 2), 1);
    EXPECT_EQ(f->pos, 10);
    EXPECT_EQ(mf_eof(f), 1);
    EXPECT_EQ(mf_seek(f, 4, 2), 1);
    EXPECT_EQ(f->pos, 6);
    EXPECT_EQ(mf_seek(f, 11, 0), 0);
    EXPECT_EQ(f->pos, 11);
    EXPECT_EQ(mf_seek(f, 0, 3), 0);
    EXPECT_EQ(f->pos, 11);
    EXPECT_EQ(mf_seek(f, -20, 1), 0);
    EXPECT_EQ(f->pos, -9);
    EXPECT_EQ(mf_eof(f), 0);
    EXPECT_EQ(mf_seek(f, INT32_MIN, 2), 0);  // 10 + 2^31 is pinned
    EXPECT_EQ(f->pos, INT32_MAX);
    EXPECT_EQ(mf_seek(nullptr, 0, 0), 0);
    mf_close(f);
}

TEST(MemFileTest, ByteReadsAreZeroOutsideTheDataAndStillAdvance) {
    MemFile* f = wrap({0xC8, 0x80, 0x02, 0xFF, 0xFF});
    EXPECT_EQ(mf_getc(f), 200);
    EXPECT_EQ(mf_getw(f), 640);
    EXPECT_EQ(mf_getw(f), 65535);
    mf_seek(f, -1, 0);
    EXPECT_EQ(mf_getc(f), 0);
    EXPECT_EQ(mf_getc(f), 200);
    mf_seek(f, 4, 0);
    EXPECT_EQ(mf_getw(f), 0xFF);  // high byte past the end
    EXPECT_EQ(f->pos, 6);
    mf_seek(f, INT32_MAX, 0);
    EXPECT_EQ(mf_getw(f), 0);
    EXPECT_EQ(f->pos, INT32_MAX);
    mf_close(f);
}

TEST(MemFileTest, ReadCopiesWhatExistsAndZeroFillsTheRest) {
    MemFile* f = wrap({1, 2, 3, 4, 5, 6});
    Bytes buf(8, 0xAA);
    EXPECT_EQ(mf_read(buf.data(), 3, 2, f), 2);
    EXPECT_EQ(buf, Bytes({1, 2, 3, 4, 5, 6, 0xAA, 0xAA}));
    EXPECT_EQ(mf_seek(f, -2, 0), 0);
    EXPECT_EQ(mf_read(buf.data(), 2, 3, f), 3);  // starts before the data
    EXPECT_EQ(buf, Bytes({0, 0, 1, 2, 3, 4, 0xAA, 0xAA}));
    EXPECT_EQ(mf_read(buf.data(), 3, 2, f), 2);  // runs past the end
    EXPECT_EQ(buf, Bytes({5, 6, 0, 0, 0, 0, 0xAA, 0xAA}));
    EXPECT_EQ(f->pos, 10);
    mf_seek(f, 4, 0);
    EXPECT_EQ(mf_read(buf.data(), -1, 3, f), 3);  // negative: nothing moves
    EXPECT_EQ(mf_read(buf.data(), 2, -1, f), -1);
    EXPECT_EQ(f->pos, 4);
    EXPECT_EQ(buf[0], 5);
    mf_seek(f, INT32_MAX - 1, 0);
    EXPECT_EQ(mf_read(buf.data(), 4, 2, f), 2);
    EXPECT_EQ(buf, Bytes(8, 0));
    EXPECT_EQ(f->pos, INT32_MAX);
    mf_close(f);
}

TEST(MemFileTest, FixPathSlashesRewritesOnlyForwardSlashes) {
    char a[] = "sound/rain.wav", b[] = "textures\\floor.tga";
    fix_path_slashes(a);
    fix_path_slashes(b);
    EXPECT_STREQ(a, "sound\\rain.wav");
    EXPECT_STREQ(b, "textures\\floor.tga");
}

// Each test gets a fresh directory and no archive or search directories.
class ResFilesTest : public ::testing::Test {
protected:
    fs::path dir = fs::temp_directory_path() / ("storm_res_" + std::to_string(std::random_device()()));

    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override {
        pak_close();
        mf_set_search_dirs(nullptr, 0);
        fs::remove_all(dir);
    }
    void write(const std::string& rel, const Bytes& b) {
        fs::create_directories((dir / rel).parent_path());
        std::ofstream(dir / rel, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
    }
    void search(std::vector<std::string> rels) {
        std::vector<const char*> ptrs;
        for (auto& r : rels) ptrs.push_back((r = (dir / r).string()).c_str());
        mf_set_search_dirs(ptrs.data(), int(ptrs.size()));
    }
};

TEST_F(ResFilesTest, PakLookupAndMemberLifetime) {
    write("one.pak", make_pak({{"TEXTURES\\Floor.TGA", "floor"}, {"textures/rain.tga", "rain"},
                               {"dup", "first"}, {"DUP", "second"}, {"empty", ""}}));
    write("two.pak", make_pak({{"dup", "two"}}));
    search({""});
    ASSERT_EQ(pak_open("one.pak"), 1);
    EXPECT_EQ(take(mf_open_pak("textures\\floor.tga")), "floor");
    EXPECT_EQ(take(mf_open_pak("textures\\rain.tga")), "<none>");
    EXPECT_EQ(take(mf_open_pak("textures/rain.tga")), "rain");
    EXPECT_EQ(take(mf_open_pak("textures\\floor.tg")), "<none>");
    MemFile* empty = mf_open_pak("empty");
    ASSERT_NE(empty, nullptr);
    EXPECT_TRUE(empty->data && empty->size == 0 && mf_eof(empty));
    mf_close(empty);

    MemFile* member = mf_open_pak("Dup");
    ASSERT_EQ(pak_open("two.pak"), 1);
    EXPECT_EQ(take(mf_open_pak("dup")), "two");
    EXPECT_EQ(pak_open("missing.pak"), 0);
    EXPECT_EQ(take(mf_open_pak("dup")), "<none>");
    EXPECT_EQ(take(member), "first");
}

TEST_F(ResFilesTest, DamagedDirectoryOrEntriesAreNeverUsed) {
    Bytes good = make_pak({{"a", "ok"}});
    Bytes negative = good, too_many = good, wraps = good;
    put32(negative, 0, -1);
    put32(too_many, 0, 2);
    put32(wraps, 0, 31580642);  // * 136 wraps to 16 in 32 bits
    for (const Bytes& bad : {Bytes{}, Bytes{0, 0, 0}, negative, too_many, wraps}) {
        ASSERT_EQ(pak_open_memory(wrap(good)), 1);
        EXPECT_EQ(pak_open_memory(wrap(bad)), 0);
        EXPECT_TRUE(g_pak_file == nullptr && g_pak_count == 0);
    }

    // Entries reaching outside the archive are skipped; a later good one serves.
    Bytes pak = make_pak({{"a", ""}, {"a", ""}, {"a", ""}, {"a", ""}, {"a", "good"}});
    const int32_t bad_fields[4][2] = {{-1, 0}, {0, -1}, {INT32_MAX, 2}, {int32_t(pak.size()) - 1, 2}};
    for (int i = 0; i < 4; i++) {
        put32(pak, 4 + i * 136 + 128, bad_fields[i][0]);
        put32(pak, 4 + i * 136 + 132, bad_fields[i][1]);
    }
    ASSERT_EQ(pak_open_memory(wrap(pak)), 1);
    EXPECT_EQ(take(mf_open_pak("a")), "good");

    // A name filling all 128 bytes ends there: the offset behind it reads as
    // "x\0\0\0" to a compare that runs on.
    std::string name(128, 'n');
    pak = make_pak({{name, "data"}});
    put32(pak, 4 + 128, 'x');
    ASSERT_EQ(pak_open_memory(wrap(pak)), 1);
    EXPECT_EQ(take(mf_open_pak(name.c_str())), std::string(&pak['x'], &pak['x'] + 4));
    EXPECT_EQ(take(mf_open_pak((name + "x").c_str())), "<none>");
}

TEST_F(ResFilesTest, DiskWinsAndSearchDirectoriesGoInOrder) {
    write("a/textures/floor.tga", {'a'});
    write("b/textures/floor.tga", {'b'});
    write("b/data.pak", make_pak({{"textures\\floor.tga", "pak"}, {"textures\\shade.tga", "pakshade"}}));
    write("empty", {});
    search({"a", "b/"});
    ASSERT_EQ(pak_open("data.pak"), 1);
    EXPECT_EQ(take(mf_open("textures\\floor.tga")), "a");
    EXPECT_EQ(take(mf_open("textures\\shade.tga")), "pakshade");
    EXPECT_EQ(take(mf_open("empty")), "<none>");
    EXPECT_EQ(take(mf_read_disk("textures")), "<none>");  // a directory is no file
    search({"b", "a"});
    EXPECT_EQ(take(mf_read_disk("textures/floor.tga")), "b");
    EXPECT_EQ(take(mf_read_disk((dir / "a/textures/floor.tga").string().c_str())), "a");

    // No directories: relative to the current directory.
    mf_set_search_dirs(nullptr, 0);
    fs::path cwd = fs::current_path();
    fs::current_path(dir);
    EXPECT_EQ(take(mf_read_disk("a\\textures\\floor.tga")), "a");
    MemFile* empty = mf_read_disk("empty");
    fs::current_path(cwd);
    ASSERT_NE(empty, nullptr);
    EXPECT_TRUE(empty->data && empty->size == 0 && mf_eof(empty));
    mf_close(empty);
}

}  // namespace
