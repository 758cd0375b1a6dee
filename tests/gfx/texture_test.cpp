// The texture table: find-or-load, allocation order, the log lines, blank
// textures, and image copies bounded by the texture's own size.
#include "gfx_test_util.h"

namespace
{

class TextureTable : public GfxTest
{
  protected:
    void SetUp() override
    {
        GfxTest::SetUp();
        tex_free_all();
    }
    int occupied()
    {
        int n = 0;
        for (const TextureSlot& slot : g_textures)
            n += slot.texture != nullptr;
        return n;
    }
    D3DSURFACE_DESC level0(int slot)
    {
        D3DSURFACE_DESC desc = {};
        EXPECT_EQ(g_textures[slot].texture->GetLevelDesc(0, &desc), D3D_OK);
        return desc;
    }
};

const std::string FAILED = "failed ... ";

TEST_F(TextureTable, GetFindsOrLoadsFromTheTopDownAndCutsLongNames)
{
    write_tga("textures/floor.tga", 4, 4, pattern_texel);
    write_tga("textures/shade.tga", 2, 2, pattern_texel);
    EXPECT_EQ(tex_get("textures/floor"), 2046);
    EXPECT_EQ(tex_get("textures/floor"), 2046);
    EXPECT_EQ(tex_get("TEXTURES/FLOOR"), 2046);
    EXPECT_EQ(tex_find("Textures/Floor"), 2046);
    EXPECT_EQ(tex_get("textures/shade"), 2045);
    EXPECT_EQ(log_lines(),
              (std::vector<std::string>{"loading texture \"textures/floor\" as #2046",
                                        "loading texture \"textures/shade\" as #2045"}));
    const TextureSlot& floor = g_textures[2046];
    EXPECT_STREQ(floor.name, "textures/floor");
    EXPECT_EQ(std::make_pair(floor.width, floor.height), std::make_pair(4, 4));
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(texel_at(floor.texture, 0, i % 4, i / 4), pattern_texel(i % 4, i / 4));
    // Nothing found is answered with 2047; free slots match no name.
    EXPECT_EQ(tex_find("textures/none"), MISSING_TEXTURE_SLOT);
    EXPECT_EQ(tex_find(""), MISSING_TEXTURE_SLOT);

    std::string name = "textures/" + std::string(61, 'n'); // 70 characters
    write_tga(name + ".tga", 1, 1, pattern_texel);
    ASSERT_EQ(tex_get(name.c_str()), 2044);
    EXPECT_EQ(std::string(g_textures[2044].name), name.substr(0, 63));
    EXPECT_EQ(tex_get(name.c_str()), 2043); // the full name no longer matches: another copy
    // Both copies carry the cut name; the scan from slot 1 up meets 2043 first.
    EXPECT_EQ(tex_get(name.substr(0, 63).c_str()), 2043);
}

TEST_F(TextureTable, FailedLoadLogsTwoLinesAndLeavesTheSlotFree)
{
    EXPECT_EQ(tex_get("textures/nothere"), -1);
    EXPECT_EQ(occupied(), 0);
    EXPECT_EQ(log_lines(),
              (std::vector<std::string>{"loading texture \"textures/nothere\" as #2046", FAILED}));
    write_tga("textures/nothere.tga", 1, 1, pattern_texel); // tried again, in the same slot
    EXPECT_EQ(tex_get("textures/nothere"), 2046);

    // Reloading an explicit slot from a missing file empties it entirely.
    write_missing_texture();
    ASSERT_EQ(tex_load("textures/common/notfound", MISSING_TEXTURE_SLOT), MISSING_TEXTURE_SLOT);
    EXPECT_STREQ(g_textures[MISSING_TEXTURE_SLOT].name, "textures/common/notfound");
    std::filesystem::remove("textures/common/notfound.tga");
    EXPECT_EQ(tex_load("textures/common/notfound", MISSING_TEXTURE_SLOT), -1);
    EXPECT_EQ(g_textures[MISSING_TEXTURE_SLOT].texture, nullptr);
    EXPECT_STREQ(g_textures[MISSING_TEXTURE_SLOT].name, "");

    // A file that is not an image, and a name whose path would not fit.
    std::ofstream("textures/garbage.tga") << "not an image";
    EXPECT_EQ(tex_get("textures/garbage"), -1);
    std::string long_name(TEXTURE_PATH_SIZE - 4, 'x'); // + ".tga" leaves no room for the end
    EXPECT_EQ(tex_get(long_name.c_str()), -1);
    std::vector<std::string> lines = log_lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "loading texture \"" + long_name + "\" as #2045");
    EXPECT_EQ(lines.back(), FAILED);
    EXPECT_EQ(occupied(), 1);
}

TEST_F(TextureTable, ImagesFillTheTopLeftAndAreCopiedOnlyAsFarAsTheTextureReaches)
{
    write_tga("textures/wide.tga", 200, 100, pattern_texel);
    ASSERT_EQ(tex_get("textures/wide"), 2046);
    IDirect3DTexture8* texture = g_textures[2046].texture;
    EXPECT_EQ(level0(2046).Width, 256u);
    EXPECT_EQ(level0(2046).Height, 128u);
    EXPECT_EQ(texture->GetLevelCount(), 9u);
    EXPECT_EQ(g_textures[2046].width, 200);
    EXPECT_EQ(g_textures[2046].height, 100);
    EXPECT_EQ(texel_at(texture, 0, 0, 0), pattern_texel(0, 0));
    EXPECT_EQ(texel_at(texture, 0, 199, 99), pattern_texel(199, 99));
    EXPECT_EQ(texel_at(texture, 0, 200, 0), 0u); // outside the image: blank
    EXPECT_EQ(texel_at(texture, 0, 0, 100), 0u);
    EXPECT_EQ(texel_at(texture, 1, 120, 60), 0u); // the chain was built from the upload
    EXPECT_NE(texel_at(texture, 1, 10, 10), 0u);

    soft_config().caps.MaxTextureWidth = 64;
    soft_config().caps.MaxTextureHeight = 32;
    write_tga("textures/huge.tga", 100, 80, pattern_texel);
    ASSERT_EQ(tex_get("textures/huge"), 2045);
    EXPECT_EQ(level0(2045).Width, 64u);
    EXPECT_EQ(level0(2045).Height, 32u);
    EXPECT_EQ(texel_at(g_textures[2045].texture, 0, 63, 31), pattern_texel(63, 31));
    EXPECT_EQ(texel_at(g_textures[2045].texture, 0, 0, 31), pattern_texel(0, 31));
    EXPECT_EQ(g_textures[2045].width, 100);
}

TEST_F(TextureTable, AFailedLockFailsTheLoad)
{
    write_tga("textures/locked.tga", 2, 2, pattern_texel);
    // Every allowance of locks short of what the load needs fails it and leaves the slot empty.
    int allowed = 0;
    for (; allowed < 16; ++allowed) {
        rec_->faults->texture_locks_left = allowed;
        if (tex_load("textures/locked", 100) >= 0)
            break;
        EXPECT_EQ(g_textures[100].texture, nullptr) << allowed << " locks";
        EXPECT_STREQ(g_textures[100].name, "") << allowed << " locks";
        EXPECT_EQ(log_lines().back(), FAILED);
    }
    rec_->faults->texture_locks_left = -1;
    ASSERT_LT(allowed, 16);
    EXPECT_GT(allowed, 1); // at least the clearing and the upload lock
    // The load that went through did upload: a silent failed upload would show here.
    EXPECT_EQ(texel_at(g_textures[100].texture, 0, 1, 1), pattern_texel(1, 1));
}

TEST_F(TextureTable, BlankTexturesAreNamedAndTheirChainsFollowLevelZero)
{
    int fire = tex_create_named(64, 128, "*fire");
    ASSERT_EQ(fire, 2046);
    EXPECT_EQ(tex_find("*FIRE"), fire);
    EXPECT_EQ(std::make_pair(g_textures[fire].width, g_textures[fire].height),
              std::make_pair(64, 128));
    IDirect3DTexture8* texture = g_textures[fire].texture;
    ASSERT_EQ(texture->GetLevelCount(), 8u);
    EXPECT_EQ(texel_at(texture, 0, 63, 127), 0u);
    for (int i = 0; i < 64 * 128; ++i)
        write_texel(texture, 0, i % 64, i / 64, 0xFF204060u);
    tex_update_mips(fire);
    EXPECT_EQ(texel_at(texture, 7, 0, 0), 0xFF204060u);
    tex_update_mips(5);    // an empty slot
    tex_update_mips(4096); // outside the table
}

TEST_F(TextureTable, ReplacingReleasesAndFailedCreationsOrAFullTableLeaveSlotsAlone)
{
    ASSERT_EQ(tex_create(4, 4, "*first", 20), 20);
    IDirect3DTexture8* first = g_textures[20].texture;
    first->AddRef();
    ASSERT_EQ(tex_create(4, 4, "*second", 20), 20);
    EXPECT_EQ(first->Release(), 0u); // the table no longer held it
    EXPECT_STREQ(g_textures[20].name, "*second");
    tex_free_all();
    EXPECT_EQ(occupied(), 0);
    EXPECT_EQ(tex_find("*second"), MISSING_TEXTURE_SLOT);

    soft_config().refused_format[D3DFMT_A8R8G8B8] = true;
    EXPECT_EQ(tex_create_named(16, 16, "*lightmap1"), -1);
    for (int slot : {12, -1, TEXTURE_SLOT_COUNT})
        EXPECT_EQ(tex_create(16, 16, "*x", slot), -1) << slot;
    EXPECT_EQ(occupied(), 0);
    EXPECT_EQ(tex_alloc_slot(), 2046);
    EXPECT_TRUE(log_lines().empty()); // creation logs nothing

    soft_config().refused_format[D3DFMT_A8R8G8B8] = false; // a full table refuses quietly
    for (int i = 1; i <= 2046; ++i)
        ASSERT_EQ(tex_create_named(1, 1, "*filler"), 2047 - i);
    EXPECT_EQ(tex_alloc_slot(), -1);
    EXPECT_EQ(tex_create_named(1, 1, "*more"), -1);
    write_tga("textures/late.tga", 1, 1, pattern_texel);
    EXPECT_EQ(tex_get("textures/late"), -1);
    EXPECT_TRUE(log_lines().empty());
    // Slot 0 is never handed out, 2047 only on request.
    EXPECT_EQ(g_textures[0].texture, nullptr);
    EXPECT_EQ(g_textures[MISSING_TEXTURE_SLOT].texture, nullptr);
}

} // namespace
