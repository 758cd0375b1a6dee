// Text drawing: which font cell each byte takes and where its quad lands.
#include <cstring>

#include "gfx/text.h"
#include "gfx_test_util.h"

namespace
{

constexpr int FONT = 42;
constexpr float C = 1.0f / 16; // one font cell

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
};

TEST_F(Text, EachByteTakesItsCellInAQuadOneSizeFurtherOn)
{
    // Lower-left corner and its texture coordinates, then the upper-right ones.
    struct Glyph {
        const char* text;
        float x, y, size;
        size_t index;
        float want[8];
    };
    const Glyph cases[] = {
        {"A", 0, 0, 16, 0, {0, 0, 1 * C, 5 * C, 16, 16, 2 * C, 4 * C}}, // column 1, row 4, upright
        {"10", 0, 8, 16, 0, {0, 8, 1 * C, 4 * C, 16, 24, 2 * C, 3 * C}},
        {"10", 0, 8, 16, 1, {16, 8, 0, 4 * C, 32, 24, 1 * C, 3 * C}},
        {" \x01", 100, 0, 8, 1, {108, 0, 1 * C, 1 * C, 116, 8, 2 * C, 0}}, // control bytes draw too
        // Bytes from 0x80 are negative codes: cells outside the font.
        {"\xC1", 0, 0, 16, 0, {0, 0, -15 * C, -2 * C, 16, 16, -14 * C, -3 * C}},
        {"\x80", 0, 0, 16, 0, {0, 0, 0, -7 * C, 16, 16, 1 * C, -8 * C}},
    };
    for (const Glyph& g : cases) {
        SCOPED_TRACE(testing::Message() << "byte " << int(uint8_t(g.text[g.index])));
        rec_->clear();
        r_draw_text(g.x, g.y, g.size, g.text, FONT);
        std::vector<const RecordedCall*> draws = rec_->of(REC_DRAW);
        std::vector<const RecordedCall*> binds = rec_->of(REC_SET_TEXTURE);
        ASSERT_EQ(draws.size(), std::strlen(g.text));
        ASSERT_EQ(binds.size(), draws.size()); // one bind per glyph
        EXPECT_EQ(binds[g.index]->object, g_textures[FONT].texture);
        const std::vector<Vertex>& q = draws[g.index]->vertices;
        ASSERT_EQ(q.size(), 4u);
        const float got[8] = {q[0].pos.x, q[0].pos.y, q[0].u0, q[0].v0,
                              q[2].pos.x, q[2].pos.y, q[2].u0, q[2].v0};
        for (int i = 0; i < 8; ++i)
            EXPECT_FLOAT_EQ(got[i], g.want[i]) << "value " << i;
    }
    rec_->clear();
    r_draw_text(0, 0, 16, "", FONT);
    r_draw_text(0, 0, 16, nullptr, FONT);
    EXPECT_TRUE(rec_->calls.empty());
}

} // namespace
