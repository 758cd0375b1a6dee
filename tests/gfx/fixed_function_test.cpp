// The fixed-function description every backend draws from: which stages run
// and sample, how fog, depth and blending resolve, and that keys of draws
// that must look alike compare and hash alike.
#include "gfx/fixed_function.h"

#include <gtest/gtest.h>

#include <functional>

#include "gfx/math3d.h"

namespace
{

struct Inputs {
    FfStates states;
    FfTexture textures[FF_STAGES] = {{true, true}, {true, false}};
    Matrix projection;

    Inputs()
    {
        ff_state_defaults(&states);
        mat_perspective_fov_lh(&projection, 1.5f, 4.0f / 3.0f, 0.1f, 100.0f);
    }
    DWORD& rs(DWORD state) { return states.render[state]; }
    DWORD& ts(int stage, DWORD state) { return states.stage[stage][state]; }
    FfDraw describe() const
    {
        FfDraw draw;
        ff_describe(states, textures, projection, &draw);
        return draw;
    }
};

TEST(FixedFunction, DescribesTheStatesBothBackendsDependOn)
{
    const struct {
        const char* name;
        std::function<void(Inputs&)> set;
        std::function<void(const FfDraw&)> check;
    } cases[] = {
        // The defaults the device tests do not already draw with.
        {"defaults", [](Inputs&) {},
         [](const FfDraw& d) {
             EXPECT_EQ(d.key.stages, 1);
             EXPECT_EQ(d.key.stage[0].colour_op, D3DTOP_MODULATE);
             EXPECT_EQ(d.sampler[0].min_filter, D3DTEXF_POINT);
             EXPECT_EQ(d.sampler[0].mip_filter, D3DTEXF_NONE);
             EXPECT_EQ(d.params.fog_end, 1.0f);
         }},
        {"a stage whose texture is missing does not sample",
         [](Inputs& s) { s.textures[0].present = false; },
         [](const FfDraw& d) {
             EXPECT_EQ(d.key.stages, 1);
             EXPECT_EQ(d.key.stage[0].sampled, 0);
             EXPECT_EQ(d.sampler[0].address_u, 0); // no sampler to tell apart
         }},
        {"a stage that never reads its texture does not sample",
         [](Inputs& s) {
             s.ts(0, D3DTSS_COLORARG1) = D3DTA_DIFFUSE;
             s.ts(0, D3DTSS_ALPHAARG1) = D3DTA_DIFFUSE;
         },
         [](const FfDraw& d) { EXPECT_EQ(d.key.stage[0].sampled, 0); }},
        {"alpha read through ALPHAREPLICATE still samples",
         [](Inputs& s) {
             s.ts(0, D3DTSS_COLORARG1) = D3DTA_DIFFUSE;
             s.ts(0, D3DTSS_ALPHAARG1) = D3DTA_TEXTURE | D3DTA_ALPHAREPLICATE;
         },
         [](const FfDraw& d) { EXPECT_EQ(d.key.stage[0].sampled, 1); }},
        {"alpha op DISABLE passes the alpha on and forgets its arguments",
         [](Inputs& s) { s.ts(0, D3DTSS_ALPHAOP) = D3DTOP_DISABLE; },
         [](const FfDraw& d) {
             EXPECT_EQ(d.key.stage[0].alpha_op, D3DTOP_DISABLE);
             EXPECT_EQ(d.key.stage[0].alpha_arg1, 0);
             EXPECT_EQ(d.key.stage[0].colour_op, D3DTOP_MODULATE);
         }},
        {"the second stage on the second coordinates",
         [](Inputs& s) {
             s.ts(1, D3DTSS_COLOROP) = D3DTOP_MODULATE2X;
             s.ts(1, D3DTSS_TEXCOORDINDEX) = 1;
             s.ts(1, D3DTSS_MIPFILTER) = D3DTEXF_LINEAR;
             s.ts(1, D3DTSS_MAXMIPLEVEL) = 40;
         },
         [](const FfDraw& d) {
             EXPECT_EQ(d.key.stages, 2);
             EXPECT_EQ(d.key.stage[1].coord_set, 1);
             EXPECT_EQ(d.key.stage[1].sampled, 1);
             EXPECT_EQ(d.sampler[1].mip_filter, D3DTEXF_LINEAR);
             EXPECT_EQ(d.sampler[1].max_level, 15);
             EXPECT_EQ(d.sampler[1].has_alpha, 0);
         }},
        {"a disabled first stage ends the cascade",
         [](Inputs& s) {
             s.ts(0, D3DTSS_COLOROP) = D3DTOP_DISABLE;
             s.ts(1, D3DTSS_COLOROP) = D3DTOP_MODULATE;
         },
         [](const FfDraw& d) {
             EXPECT_EQ(d.key.stages, 0);
             EXPECT_EQ(d.key.stage[1].colour_op, 0);
         }},
        {"no fog while FOGENABLE is 0", [](Inputs& s) { s.rs(D3DRS_FOGTABLEMODE) = D3DFOG_LINEAR; },
         [](const FfDraw& d) {
             EXPECT_EQ(d.key.fog_mode, D3DFOG_NONE);
             EXPECT_EQ(d.key.fog_on_eye_depth, 0);
         }},
        {"no fog while both fog modes are NONE", [](Inputs& s) { s.rs(D3DRS_FOGENABLE) = 1; },
         [](const FfDraw& d) { EXPECT_EQ(d.key.fog_mode, D3DFOG_NONE); }},
        {"table fog under a perspective projection is on eye depth",
         [](Inputs& s) {
             s.rs(D3DRS_FOGENABLE) = 1;
             s.rs(D3DRS_FOGTABLEMODE) = D3DFOG_LINEAR;
             s.rs(D3DRS_FOGVERTEXMODE) = D3DFOG_EXP;
             s.rs(D3DRS_FOGCOLOR) = 0x00FF8000;
             s.rs(D3DRS_FOGSTART) = d3d_float_to_dword(10.0f);
             s.rs(D3DRS_FOGEND) = d3d_float_to_dword(30.0f);
         },
         [](const FfDraw& d) {
             EXPECT_EQ(d.key.fog_mode, D3DFOG_LINEAR); // the table mode wins
             EXPECT_EQ(d.key.fog_on_eye_depth, 1);
             EXPECT_EQ(d.params.fog_start, 10.0f);
             EXPECT_EQ(d.params.fog_end, 30.0f);
             EXPECT_EQ(d.params.fog_colour[0], 1.0f);
             EXPECT_NEAR(d.params.fog_colour[1], 128.0f / 255.0f, 1e-6f);
             EXPECT_EQ(d.params.fog_colour[2], 0.0f);
         }},
        {"fog under an affine projection is on device depth",
         [](Inputs& s) {
             s.rs(D3DRS_FOGENABLE) = 1;
             s.rs(D3DRS_FOGVERTEXMODE) = D3DFOG_EXP2;
             mat_ortho_lh(&s.projection, 64.0f, 48.0f, 0.0f, 2.0f);
         },
         [](const FfDraw& d) {
             EXPECT_EQ(d.key.fog_mode, D3DFOG_EXP2); // the vertex mode stands in
             EXPECT_EQ(d.key.fog_on_eye_depth, 0);
         }},
        {"no depth writes without the depth test", [](Inputs& s) { s.rs(D3DRS_ZENABLE) = 0; },
         [](const FfDraw& d) {
             EXPECT_EQ(d.key.depth_test, 0);
             EXPECT_EQ(d.key.depth_write, 0);
             EXPECT_EQ(d.key.depth_func, 0);
         }},
        {"blend factors only with blending on",
         [](Inputs& s) {
             s.rs(D3DRS_ALPHABLENDENABLE) = 1;
             s.rs(D3DRS_SRCBLEND) = D3DBLEND_SRCALPHA;
             s.rs(D3DRS_DESTBLEND) = D3DBLEND_INVSRCALPHA;
             s.rs(D3DRS_CULLMODE) = D3DCULL_NONE;
             s.rs(D3DRS_LIGHTING) = 0;
         },
         [](const FfDraw& d) {
             EXPECT_EQ(d.key.blend, 1);
             EXPECT_EQ(d.key.src_blend, D3DBLEND_SRCALPHA);
             EXPECT_EQ(d.key.dst_blend, D3DBLEND_INVSRCALPHA);
             EXPECT_EQ(d.key.cull, D3DCULL_NONE);
             EXPECT_EQ(d.key.lit, 0);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Inputs setup;
        c.set(setup);
        c.check(setup.describe());
    }
}

TEST(FixedFunction, KeysOfAlikeDrawsCompareAndHashEqual)
{
    const Inputs base;
    const FfKey key = base.describe().key;
    EXPECT_EQ(Inputs().describe().key, key);

    // Raw states that cannot change the picture leave the key alone: each
    // pair of settings must give one key.
    const auto none = [](Inputs&) {};
    const auto no_depth = [](Inputs& s) { s.rs(D3DRS_ZENABLE) = 0; };
    const struct {
        std::function<void(Inputs&)> a, b;
    } alike[] = {
        {none, [](Inputs& s) { s.rs(D3DRS_SRCBLEND) = D3DBLEND_DESTCOLOR; }}, // blending is off
        {no_depth,
         [](Inputs& s) {
             s.rs(D3DRS_ZENABLE) = 0;
             s.rs(D3DRS_ZFUNC) = D3DCMP_ALWAYS;
         }},
        {none, [](Inputs& s) { s.ts(1, D3DTSS_COLORARG1) = D3DTA_DIFFUSE; }}, // stage 1 is off
        {none, [](Inputs& s) { s.rs(D3DRS_FOGTABLEMODE) = D3DFOG_EXP; }},     // fog is off
        {none, [](Inputs& s) { mat_ortho_lh(&s.projection, 64.0f, 48.0f, 0.0f, 2.0f); }},
        {none, [](Inputs& s) { s.rs(D3DRS_FOGCOLOR) = 0x123456; }}, // a parameter, not a path
    };
    for (size_t i = 0; i < std::size(alike); ++i) {
        Inputs a, b;
        alike[i].a(a);
        alike[i].b(b);
        FfKey ka = a.describe().key, kb = b.describe().key;
        EXPECT_EQ(ka, kb) << "case " << i;
        EXPECT_EQ(ff_key_hash(ka), ff_key_hash(kb)) << "case " << i;
    }

    const std::function<void(Inputs&)> different[] = {
        [](Inputs& s) { s.rs(D3DRS_CULLMODE) = D3DCULL_CW; },
        [](Inputs& s) { s.rs(D3DRS_ZWRITEENABLE) = 0; },
        [](Inputs& s) { s.rs(D3DRS_ALPHABLENDENABLE) = 1; },
        [](Inputs& s) { s.textures[0].present = false; },
        [](Inputs& s) { s.ts(0, D3DTSS_ALPHAOP) = D3DTOP_DISABLE; },
        [](Inputs& s) {
            s.rs(D3DRS_FOGENABLE) = 1;
            s.rs(D3DRS_FOGTABLEMODE) = D3DFOG_LINEAR;
        },
    };
    for (size_t i = 0; i < std::size(different); ++i) {
        Inputs s;
        different[i](s);
        EXPECT_NE(s.describe().key, key) << "case " << i;
        EXPECT_NE(ff_key_hash(s.describe().key), ff_key_hash(key)) << "case " << i;
    }
}

} // namespace
