// Text drawing: which font cell each byte takes and where its quad lands.
#include "gfx/text.h"
#include "gfx_test_util.h"

namespace
{

constexpr int FONT = 42;

class Text : public GfxTest
{
  protected:
    void SetUp() override
    {
        GfxTest::SetUp();
        _r_init();
        ASSERT_EQ(tex_create(128, 128, "*font", FONT), FONT);
        r_set_ortho(640, 480);
        rec_->clear();
    }

    // Lower-left screen corner and its texture coordinates, then the
    // upper-right ones, of glyph i.
    struct Cell {
        float x0, y0, s0, t0, x1, y1, s1, t1;
    };
    Cell glyph(size_t i)
    {
        std::vector<const RecordedCall*> draws = rec_->of(REC_DRAW);
        EXPECT_LT(i, draws.size());
        if (i >= draws.size())
            return {};
        const std::vector<Vertex>& q = draws[i]->vertices;
        EXPECT_EQ(q.size(), 4u);
        if (q.size() != 4)
            return {};
        return {q[0].pos.x, q[0].pos.y, q[0].u0, q[0].v0, q[2].pos.x, q[2].pos.y, q[2].u0, q[2].v0};
    }
};

TEST_F(Text, ALetterTakesItsCellUpright)
{
    r_draw_char(0, 0, 16, 'A', FONT);
    ASSERT_EQ(rec_->count(REC_DRAW), 1u);
    Cell a = glyph(0);
    EXPECT_FLOAT_EQ(a.x0, 0);
    EXPECT_FLOAT_EQ(a.y0, 0);
    EXPECT_FLOAT_EQ(a.x1, 16);
    EXPECT_FLOAT_EQ(a.y1, 16);
    // Column 1, row 4: its lower edge at the bottom of the quad.
    EXPECT_FLOAT_EQ(a.s0, 1.0f / 16);
    EXPECT_FLOAT_EQ(a.t0, 5.0f / 16);
    EXPECT_FLOAT_EQ(a.s1, 2.0f / 16);
    EXPECT_FLOAT_EQ(a.t1, 4.0f / 16);
    std::vector<const RecordedCall*> binds = rec_->of(REC_SET_TEXTURE);
    ASSERT_EQ(binds.size(), 1u);
    EXPECT_EQ(binds[0]->object, g_textures[FONT].texture);
}

TEST_F(Text, StringsAdvanceOneGlyphSizeAByte)
{
    r_draw_text(0, 8, 16, "10", FONT);
    ASSERT_EQ(rec_->count(REC_DRAW), 2u);
    Cell one = glyph(0), zero = glyph(1);
    EXPECT_FLOAT_EQ(one.x0, 0);
    EXPECT_FLOAT_EQ(one.x1, 16);
    EXPECT_FLOAT_EQ(one.s0, 1.0f / 16); // '1' = 49: column 1, row 3
    EXPECT_FLOAT_EQ(one.t0, 4.0f / 16);
    EXPECT_FLOAT_EQ(zero.x0, 16);
    EXPECT_FLOAT_EQ(zero.x1, 32);
    EXPECT_FLOAT_EQ(zero.y0, 8);
    EXPECT_FLOAT_EQ(zero.y1, 24);
    EXPECT_FLOAT_EQ(zero.s0, 0.0f); // '0' = 48: column 0, row 3
    EXPECT_FLOAT_EQ(zero.t1, 3.0f / 16);
    EXPECT_EQ(rec_->count(REC_SET_TEXTURE), 2u); // one bind per glyph

    // Spaces and control bytes draw their cells too; nothing draws nothing.
    rec_->clear();
    r_draw_text(100, 0, 8, " \x01", FONT);
    EXPECT_EQ(rec_->count(REC_DRAW), 2u);
    EXPECT_FLOAT_EQ(glyph(1).x0, 108);
    EXPECT_FLOAT_EQ(glyph(1).s0, 1.0f / 16);
    EXPECT_FLOAT_EQ(glyph(1).t1, 0.0f);
    rec_->clear();
    r_draw_text(0, 0, 16, "", FONT);
    r_draw_text(0, 0, 16, nullptr, FONT);
    EXPECT_TRUE(rec_->calls.empty());
}

TEST_F(Text, HighBytesAreNegativeCodesOutsideTheFont)
{
    r_draw_char(0, 0, 16, char(0xC1), FONT); // n = -63: row -3, column -15
    Cell c = glyph(0);
    EXPECT_FLOAT_EQ(c.s0, -15.0f / 16);
    EXPECT_FLOAT_EQ(c.t0, -2.0f / 16);
    EXPECT_FLOAT_EQ(c.s1, -14.0f / 16);
    EXPECT_FLOAT_EQ(c.t1, -3.0f / 16);

    rec_->clear();
    r_draw_char(0, 0, 16, char(0x80), FONT); // n = -128: row -8, column 0
    c = glyph(0);
    EXPECT_FLOAT_EQ(c.s0, 0.0f);
    EXPECT_FLOAT_EQ(c.t0, -7.0f / 16);
    EXPECT_FLOAT_EQ(c.s1, 1.0f / 16);
    EXPECT_FLOAT_EQ(c.t1, -8.0f / 16);
}

} // namespace
