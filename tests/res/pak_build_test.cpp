// Building archives and checking the ones the tools are handed.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "res/files.h"
#include "res/pak_build.h"
#include "res/res_test_util.h"

namespace
{

TEST(PakBuildTest, LaysOutTheDirectoryThenTheMembersAndTheProgramFindsThem)
{
    const uint8_t floor[] = {1, 2, 3}, rain[] = {9, 8, 7, 6, 5};
    PakMember members[] = {
        {"textures\\floor.tga", floor, 3}, {"sound\\rain.wav", rain, 5}, {"empty", nullptr, 0}};
    int status = -1;
    MemFile* pak = pak_build(members, 3, &status);
    ASSERT_NE(pak, nullptr);
    EXPECT_EQ(status, PAK_OK);
    // In the given order, unused name bytes zero: equal input, equal archive.
    EXPECT_EQ(Bytes(pak->data, pak->data + pak->size), raw_pak({{"textures\\floor.tga", "\1\2\3"},
                                                                {"sound\\rain.wav", "\11\10\7\6\5"},
                                                                {"empty", ""}}));

    ASSERT_EQ(pak_open_memory(mf_open_memory(pak->data, pak->size)), 1);
    MemFile* got = mf_open_pak("TEXTURES\\Floor.TGA");
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(Bytes(got->data, got->data + got->size), Bytes(floor, floor + 3));
    mf_close(got);
    pak_close();
    mf_close(pak);
}

TEST(PakBuildTest, NamesAndSizesMustFitAndStayInsideTheFolder)
{
    for (std::string name : {"a", "textures\\common\\notfound.tga", "a..b", "..a\\b.."})
        EXPECT_EQ(pak_check_name(name.c_str()), PAK_OK) << name;
    EXPECT_EQ(pak_check_name(std::string(127, 'n').c_str()), PAK_OK);
    EXPECT_EQ(pak_check_name(std::string(128, 'n').c_str()), PAK_NAME_TOO_LONG);
    EXPECT_EQ(pak_check_name(""), PAK_NAME_EMPTY);
    for (const char* name : {"..", "..\\evil.txt", "a\\..\\..\\evil.txt", "a/../evil.txt",
                             "\\etc\\passwd", "/etc/passwd", "C:\\evil.txt", "c:evil.txt", "a\\\\b",
                             "a\\", ".\\a", "a\\.", "bell\x07", "esc\x1b[2J"})
        EXPECT_EQ(pak_check_name(name), PAK_NAME_UNSAFE) << name;

    EXPECT_EQ(pak_check_size(INT32_MAX), PAK_OK);
    EXPECT_EQ(pak_check_size(int64_t(INT32_MAX) + 1), PAK_MEMBER_TOO_BIG);
    EXPECT_EQ(pak_check_size(-1), PAK_MEMBER_TOO_BIG);
}

TEST(PakBuildTest, RefusesArchivesTheProgramCouldNotReadWhole)
{
    const uint8_t x[] = {1};
    std::string long_name(128, 'n');
    struct Case {
        std::vector<PakMember> members;
        int status;
    } cases[] = {
        {{{long_name.c_str(), x, 1}}, PAK_NAME_TOO_LONG},
        // The program would only ever see the first of two equal names.
        {{{"Sound\\Rain.wav", x, 1}, {"sound\\rain.WAV", x, 1}}, PAK_NAME_DUPLICATE},
        {{{"..\\x", x, 1}}, PAK_NAME_UNSAFE},
        {{{"a", x, -1}}, PAK_BAD_ARGUMENT},
    };
    for (const Case& c : cases) {
        int status = PAK_OK;
        EXPECT_EQ(pak_build(c.members.data(), int32_t(c.members.size()), &status), nullptr);
        EXPECT_EQ(status, c.status);
    }
}

TEST(PakBuildTest, ReportsEachKindOfDamage)
{
    int32_t count = 0;
    Bytes wraps = raw_pak({{"a", "x"}}), short_directory = raw_pak({{"a", ""}});
    put32(wraps, 0, 31580642); // count * 136 wraps in 32 bits
    short_directory.pop_back();
    for (auto [bytes, status] : {std::pair{Bytes{1, 0, 0}, PAK_SHORT_FILE},
                                 {Bytes{0xFF, 0xFF, 0xFF, 0xFF}, PAK_BAD_COUNT},
                                 {wraps, PAK_DIRECTORY_OUTSIDE},
                                 {short_directory, PAK_DIRECTORY_OUTSIDE}})
        EXPECT_EQ(pak_read_count(bytes.data(), int64_t(bytes.size()), &count), status);

    // One entry with the given name, offset and size, then 8 bytes of data.
    auto entry = [](const std::string& name, int32_t offset, int32_t size) {
        Bytes b = raw_pak({{name, std::string(8, 'd')}});
        put32(b, 4 + 128, offset);
        put32(b, 4 + 132, size);
        return b;
    };
    struct Case {
        Bytes bytes;
        int status;
        const char* what;
    } cases[] = {
        {entry("a", 140, 8), PAK_OK, "fills the file exactly"},
        {entry("a", 148, 0), PAK_OK, "empty member at the end"},
        {entry(std::string(128, 'n'), 140, 1), PAK_NAME_UNTERMINATED, "name without NUL"},
        {entry("a", 140, 9), PAK_MEMBER_OUTSIDE, "one byte past the end"},
        {entry("a", -4, 1), PAK_MEMBER_OUTSIDE, "negative offset"},
        {entry("a", 140, -1), PAK_MEMBER_OUTSIDE, "negative size"},
        {entry("a", 0x7FFFFFF0, 0x7FFFFFF0), PAK_MEMBER_OUTSIDE, "offset + size wraps"},
    };
    for (const Case& c : cases) {
        PakEntryInfo e;
        ASSERT_EQ(pak_read_count(c.bytes.data(), int64_t(c.bytes.size()), &count), PAK_OK);
        EXPECT_EQ(pak_read_entry(c.bytes.data(), int64_t(c.bytes.size()), 0, &e), c.status)
            << c.what;
        EXPECT_LE(strlen(e.name), 128u) << c.what;
    }
    PakEntryInfo e;
    EXPECT_EQ(pak_read_entry(cases[0].bytes.data(), 148, 1, &e), PAK_BAD_ARGUMENT)
        << "an entry past the directory";
}

} // namespace
