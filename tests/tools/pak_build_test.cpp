// Building archives and checking the ones the tools are handed.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "res/files.h"
#include "res/pak_build.h"

namespace
{

using Bytes = std::vector<uint8_t>;

void put32(Bytes& b, size_t at, int32_t v)
{
    for (int i = 0; i < 4; i++)
        b[at + i] = uint8_t(uint32_t(v) >> (8 * i));
}

// One directory entry with the given raw fields, then `tail` bytes of data.
Bytes one_entry(const std::string& name, int32_t offset, int32_t size, size_t tail = 8)
{
    Bytes b(4 + 136 + tail, 0);
    put32(b, 0, 1);
    memcpy(&b[4], name.data(), std::min<size_t>(name.size(), 128));
    put32(b, 4 + 128, offset);
    put32(b, 4 + 132, size);
    return b;
}

TEST(PakBuildTest, LaysOutTheDirectoryThenTheMembersAndTheProgramFindsThem)
{
    const uint8_t floor[] = {1, 2, 3};
    const uint8_t rain[] = {9, 8, 7, 6, 5};
    PakMember members[] = {
        {"textures\\floor.tga", floor, 3}, {"sound\\rain.wav", rain, 5}, {"empty", nullptr, 0}};
    int status = -1;
    MemFile* pak = pak_build(members, 3, &status);
    ASSERT_NE(pak, nullptr);
    EXPECT_EQ(status, PAK_OK);
    ASSERT_EQ(pak->size, 4 + 3 * 136 + 8);

    int32_t count = 0;
    ASSERT_EQ(pak_read_count(pak->data, pak->size, &count), PAK_OK);
    ASSERT_EQ(count, 3);
    int32_t expect_offset = 4 + 3 * 136;
    for (int i = 0; i < 3; i++) {
        PakEntryInfo e;
        ASSERT_EQ(pak_read_entry(pak->data, pak->size, i, &e), PAK_OK);
        EXPECT_STREQ(e.name, members[i].name);
        EXPECT_EQ(e.offset, expect_offset);
        EXPECT_EQ(e.size, members[i].size);
        if (e.size) {
            EXPECT_EQ(memcmp(pak->data + e.offset, members[i].data, size_t(e.size)), 0);
        }
        // Unused name bytes are zero: equal input, equal archive.
        for (size_t k = strlen(members[i].name); k < 128; k++)
            ASSERT_EQ(pak->data[4 + i * 136 + k], 0);
        expect_offset += e.size;
    }

    ASSERT_EQ(pak_open_memory(mf_open_memory(pak->data, pak->size)), 1);
    MemFile* got = mf_open_pak("TEXTURES\\Floor.TGA");
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(got->size, 3);
    EXPECT_EQ(memcmp(got->data, floor, 3), 0);
    mf_close(got);
    EXPECT_EQ(mf_open_pak("textures/floor.tga"), nullptr) << "archive names keep '\\'";
    pak_close();
    mf_close(pak);
}

TEST(PakBuildTest, NamesMustFitAndStayInsideTheFolder)
{
    struct Case {
        std::string name;
        int status;
    };
    const Case cases[] = {
        {"a", PAK_OK},
        {"textures\\common\\notfound.tga", PAK_OK},
        {"a..b", PAK_OK},
        {"..a\\b..", PAK_OK},
        {std::string(127, 'n'), PAK_OK},
        {std::string(128, 'n'), PAK_NAME_TOO_LONG},
        {std::string(300, 'n'), PAK_NAME_TOO_LONG},
        {"", PAK_NAME_EMPTY},
        {"..", PAK_NAME_UNSAFE},
        {"..\\evil.txt", PAK_NAME_UNSAFE},
        {"a\\..\\..\\evil.txt", PAK_NAME_UNSAFE},
        {"a/../evil.txt", PAK_NAME_UNSAFE},
        {"\\etc\\passwd", PAK_NAME_UNSAFE},
        {"/etc/passwd", PAK_NAME_UNSAFE},
        {"C:\\evil.txt", PAK_NAME_UNSAFE},
        {"c:evil.txt", PAK_NAME_UNSAFE},
        {"a\\\\b", PAK_NAME_UNSAFE},
        {"a\\", PAK_NAME_UNSAFE},
        {".\\a", PAK_NAME_UNSAFE},
        {"a\\.", PAK_NAME_UNSAFE},
        {"bell\x07", PAK_NAME_UNSAFE},
        {"esc\x1b[2J", PAK_NAME_UNSAFE},
    };
    for (const Case& c : cases)
        EXPECT_EQ(pak_check_name(c.name.c_str()), c.status) << c.name;

    EXPECT_EQ(pak_check_size(0), PAK_OK);
    EXPECT_EQ(pak_check_size(INT32_MAX), PAK_OK);
    EXPECT_EQ(pak_check_size(int64_t(INT32_MAX) + 1), PAK_MEMBER_TOO_BIG);
    EXPECT_EQ(pak_check_size(int64_t(3) << 30), PAK_MEMBER_TOO_BIG);
    EXPECT_EQ(pak_check_size(-1), PAK_MEMBER_TOO_BIG);
}

TEST(PakBuildTest, RefusesArchivesTheProgramCouldNotReadWhole)
{
    const uint8_t x[] = {1};
    int status = PAK_OK;
    std::string long_name(128, 'n');
    PakMember too_long[] = {{long_name.c_str(), x, 1}};
    EXPECT_EQ(pak_build(too_long, 1, &status), nullptr);
    EXPECT_EQ(status, PAK_NAME_TOO_LONG);

    // The program would only ever see the first of two equal names.
    PakMember twins[] = {{"Sound\\Rain.wav", x, 1}, {"sound\\rain.WAV", x, 1}};
    EXPECT_EQ(pak_build(twins, 2, &status), nullptr);
    EXPECT_EQ(status, PAK_NAME_DUPLICATE);

    PakMember escape[] = {{"..\\x", x, 1}};
    EXPECT_EQ(pak_build(escape, 1, &status), nullptr);
    EXPECT_EQ(status, PAK_NAME_UNSAFE);

    PakMember negative[] = {{"a", x, -1}};
    EXPECT_EQ(pak_build(negative, 1, &status), nullptr);
    EXPECT_EQ(status, PAK_BAD_ARGUMENT);

    MemFile* empty = pak_build(nullptr, 0, &status);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->size, 4);
    mf_close(empty);
}

TEST(PakBuildTest, ReportsEachKindOfDamage)
{
    int32_t count = 0;
    Bytes b = {1, 0, 0};
    EXPECT_EQ(pak_read_count(b.data(), int64_t(b.size()), &count), PAK_SHORT_FILE);
    b = {0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(pak_read_count(b.data(), int64_t(b.size()), &count), PAK_BAD_COUNT);
    b = one_entry("a", 140, 1);
    put32(b, 0, 31580642); // count * 136 wraps in 32 bits
    EXPECT_EQ(pak_read_count(b.data(), int64_t(b.size()), &count), PAK_DIRECTORY_OUTSIDE);
    b.resize(4 + 135);
    put32(b, 0, 1);
    EXPECT_EQ(pak_read_count(b.data(), int64_t(b.size()), &count), PAK_DIRECTORY_OUTSIDE);

    struct Case {
        Bytes bytes;
        int status;
        const char* what;
    };
    const Case cases[] = {
        {one_entry("a", 140, 8), PAK_OK, "fills the file exactly"},
        {one_entry("a", 140, 0), PAK_OK, "empty member at the end"},
        {one_entry(std::string(128, 'n'), 140, 1), PAK_NAME_UNTERMINATED, "name without NUL"},
        {one_entry("a", 140, 9), PAK_MEMBER_OUTSIDE, "one byte past the end"},
        {one_entry("a", -4, 1), PAK_MEMBER_OUTSIDE, "negative offset"},
        {one_entry("a", 140, -1), PAK_MEMBER_OUTSIDE, "negative size"},
        {one_entry("a", 0x7FFFFFF0, 0x7FFFFFF0), PAK_MEMBER_OUTSIDE,
         "offset + size wraps in 32 bits"},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(pak_read_count(c.bytes.data(), int64_t(c.bytes.size()), &count), PAK_OK)
            << c.what;
        PakEntryInfo e;
        EXPECT_EQ(pak_read_entry(c.bytes.data(), int64_t(c.bytes.size()), 0, &e), c.status)
            << c.what;
        EXPECT_EQ(strlen(e.name) <= 128, true);
    }
    PakEntryInfo e;
    Bytes good = one_entry("a", 140, 8);
    EXPECT_EQ(pak_read_entry(good.data(), int64_t(good.size()), 1, &e), PAK_BAD_ARGUMENT)
        << "an entry past the directory";
}

} // namespace
