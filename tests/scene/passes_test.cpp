// The scene's start-up and passes: the states each pass sets, in its own
// order, and what it draws.
#include "scene/scene_test_util.h"

#include "gfx/fixed_function.h"
#include "gfx/soft/soft_fast.h"

namespace
{

TEST_F(SceneTest, StartsAboveTheGroundWithTheRainLooping)
{
    EXPECT_FLOAT_EQ(g_cam_pos.x, -5.0f);
    EXPECT_FLOAT_EQ(g_cam_pos.z, 0.0f);
    EXPECT_FLOAT_EQ(g_cam_pos.y, terrain_height(-5.0f, 0.0f) + 2.0f);
    EXPECT_FLOAT_EQ(g_cam_fov, 45.0f);
    ASSERT_GE(g_snd_rain, 0);
    IDirectSoundBuffer8* rain = g_sounds[g_snd_rain].buffer;
    DWORD status = 0;
    LONG volume = 0, pan = 1;
    rain->GetStatus(&status);
    rain->GetVolume(&volume);
    rain->GetPan(&pan);
    EXPECT_EQ(status & (DSBSTATUS_PLAYING | DSBSTATUS_LOOPING),
              DWORD(DSBSTATUS_PLAYING | DSBSTATUS_LOOPING));
    EXPECT_EQ(volume, -500);
    EXPECT_EQ(pan, 0);
}

// How many draws and binds each pass makes on a calm first frame. (The
// states each pass sets are held by the kernel test below and the golden
// frames.)
TEST_F(SceneTest, EachPassDrawsAndBindsItsShare)
{
    const struct {
        const char* name;
        void (*draw)();
        size_t draws, binds;
    } passes[] = {{"terrain", terrain_draw, 1600, 2},
                  {"water", water_draw, 1, 1},
                  {"leaves", leaves_draw, LEAF_DRAW_COUNT, 1}, // one bind for all the leaves
                  {"fire", fire_draw, 1, 1},
                  {"bolt", bolt_draw, 0, 0}, // no flash, no bolt
                  {"rain", rain_draw, 4, 1},
                  // a glyph and a bind for each of "-5.000000 y.yyyyyy 0.000000"
                  {"overlay", hud_draw, 27, 27}};
    for (const auto& pass : passes) {
        rec_->clear();
        pass.draw();
        EXPECT_EQ(draws().size(), pass.draws) << pass.name;
        EXPECT_EQ(rec_->count(REC_SET_TEXTURE), pass.binds) << pass.name;
    }
}

TEST_F(SceneTest, BoltShowsWhileTheFlashIsStrongAndFlickersAsItFades)
{
    struct Case {
        float flash;
        int bit;
        bool drawn;
    } cases[] = {{0.0f, 0, false}, {0.0f, 1, false}, {2.0f, 0, false}, {2.0f, 1, true},
                 {3.9f, 0, false}, {3.9f, 1, true},  {4.0f, 0, true},  {4.0f, 1, true}};
    for (const Case& c : cases) {
        g_flash = c.flash;
        crt_srand(seed_where(1, 2, c.bit)); // the bolt's bit is its second draw
        rec_->clear();
        bolt_draw();
        EXPECT_EQ(draws().size(), c.drawn ? 1u : 0u) << "flash " << c.flash << " bit " << c.bit;
    }
}

TEST_F(SceneTest, WaterBobsUnderTheCamera)
{
    EXPECT_FLOAT_EQ(water_height(0.0f), -2.0f);
    EXPECT_NEAR(water_height(4.5f * 3.14159265f), -1.8f, 1e-5f);
    EXPECT_NEAR(water_height(13.5f * 3.14159265f), -2.2f, 1e-5f);
    g_cam_pos = {10.0f, 0.0f, -4.0f};
    water_draw();
    const auto& v = draws()[0]->vertices;
    ASSERT_EQ(v.size(), 4u);
    EXPECT_EQ(
        (std::vector<float>{v[0].pos.x, v[0].pos.z, v[0].u0, v[2].pos.x, v[2].pos.z, v[2].u0}),
        (std::vector<float>{-10, -24, 0, 30, 16, 1})); // the texture travels along
}

TEST_F(SceneTest, LeavesCircleOnTheirOrbitFromTimeZero)
{
    g_time = 0.0f;
    g_frame_dt = 0.0f;
    std::vector<float> phase(g_leaf_phase, g_leaf_phase + LEAF_COUNT);
    leaves_draw();
    for (int i : {0, 7, 199}) {
        float phi = phase[size_t(i)]; // dt 0: the phase did not move
        const Vec3& base = g_leaf_base[i];
        EXPECT_NEAR(g_leaf_objects[i].pos.x, 40.0f * std::cos(phi) + base.x, 1e-3f);
        EXPECT_NEAR(g_leaf_objects[i].pos.y,
                    4.0f + std::sin(2.0f * phi + g_leaf_speed[i] / 9.0f) + base.y, 1e-3f);
        EXPECT_NEAR(g_leaf_objects[i].pos.z, 40.0f * std::sin(phi) + base.z, 1e-3f);
    }
    // Leaves past the drawn 200 never move.
    EXPECT_EQ(g_leaf_objects[200].pos.x, 0.0f);
    EXPECT_EQ(g_leaf_objects[999].pos.z, 0.0f);
}

// Replays a device's recorded calls into the states it keeps and tells, for
// each draw, which fixed kernel of the tiled software renderer it takes
// (SoftFastShape; -1 for its variant's general one).
struct KernelChoice {
    FfStates states;
    IDirect3DTexture8* bound[FF_STAGES] = {};
    Matrix projection = {}; // the camera sets it before any draw

    KernelChoice(const std::vector<SceneTest::StateCall>& init)
    {
        ff_state_defaults(&states);
        for (const SceneTest::StateCall& c : init)
            set(c.stage, c.type, c.value);
    }

    void set(int stage, DWORD type, DWORD value)
    {
        if (stage < 0 && type < D3D_RENDER_STATE_COUNT)
            states.render[type] = value;
        else if (stage >= 0 && stage < int(D3D_MAX_TEXTURE_STAGES) && type < D3D_STAGE_STATE_COUNT)
            states.stage[stage][type] = value;
    }

    std::vector<int> replay(const std::vector<RecordedCall>& calls)
    {
        std::vector<int> shapes;
        for (const RecordedCall& c : calls) {
            if (c.kind == REC_SET_RENDER_STATE)
                set(-1, c.type, c.value);
            else if (c.kind == REC_SET_STAGE_STATE)
                set(int(c.stage), c.type, c.value);
            else if (c.kind == REC_SET_TEXTURE && c.stage < FF_STAGES)
                bound[c.stage] = static_cast<IDirect3DTexture8*>(const_cast<void*>(c.object));
            else if (c.kind == REC_SET_TRANSFORM && c.type == D3DTS_PROJECTION)
                projection = c.matrix;
            else if (c.kind == REC_DRAW)
                shapes.push_back(shape_of_draw());
        }
        return shapes;
    }

    int shape_of_draw() const
    {
        FfTexture textures[FF_STAGES] = {};
        SoftLevelChain chains[FF_STAGES] = {};
        const SoftLevelChain* chain_of[FF_STAGES] = {};
        for (int s = 0; s < FF_STAGES; ++s) {
            if (!bound[s])
                continue;
            D3DSURFACE_DESC desc = {};
            chains[s].count = int(bound[s]->GetLevelCount());
            for (int i = 0; i < chains[s].count; ++i) {
                bound[s]->GetLevelDesc(UINT(i), &desc);
                chains[s].level[i] = {nullptr, int(desc.Width), int(desc.Height), nullptr};
            }
            textures[s] = {chains[s].count > 0, desc.Format == D3DFMT_A8R8G8B8};
            chain_of[s] = &chains[s];
        }
        SoftDrawContext context = {};
        ff_describe(states, textures, projection, &context.draw);
        SoftFastDraw draw;
        soft_fast_prepare(context, chain_of, &draw);
        return draw.shape;
    }
};

// The tiled renderer's fixed kernels are chosen by state alone: should a
// pass's states drift from them, its draws fall back to the general kernels
// and the picture stays right but slow. So every draw of the heavy passes,
// over a flight with a strike, must take its pass's fixed kernel.
TEST_F(SceneTest, TheHeavyPassesDrawWithTheFixedKernelsOfTheirStates)
{
    const struct {
        const char* name;
        void (*draw)();
        int shape;
    } passes[] = {{"terrain", terrain_draw, SOFT_FAST_LIGHT_MAPPED},
                  {"water", water_draw, SOFT_FAST_ALPHA_BLENDED_DEPTH},
                  {"leaves", leaves_draw, SOFT_FAST_ALPHA_BLENDED_DEPTH},
                  {"fire", fire_draw, SOFT_FAST_ADDITIVE},
                  {"bolt", bolt_draw, SOFT_FAST_ADDITIVE},
                  {"rain", rain_draw, SOFT_FAST_ALPHA_BLENDED}};
    KernelChoice choice(init_states_);
    size_t draws_seen[std::size(passes)] = {};
    g_frame_dt = 1.0f / 30.0f;
    for (int frame = 0; frame < 120; ++frame) {
        // Fly forwards while turning, with a strike halfway.
        g_mouse_dx = 3;
        g_mouse_dy = frame < 60 ? 1 : -1;
        g_mouse_buttons = 2;
        g_time += g_frame_dt;
        storm_update();
        storm_update();
        if (frame == 60)
            g_flash = 4.0f;
        if (frame % 20 != 0 && frame != 60)
            continue;
        rec_->clear();
        r_set_camera();
        choice.replay(rec_->calls);
        for (size_t p = 0; p < std::size(passes); ++p) {
            rec_->clear();
            passes[p].draw();
            std::vector<int> shapes = choice.replay(rec_->calls);
            draws_seen[p] += shapes.size();
            for (size_t d = 0; d < shapes.size(); ++d)
                ASSERT_EQ(shapes[d], passes[p].shape)
                    << passes[p].name << " draw " << d << " of frame " << frame;
        }
    }
    for (size_t p = 0; p < std::size(passes); ++p)
        EXPECT_GT(draws_seen[p], 0u) << passes[p].name;
}

} // namespace
