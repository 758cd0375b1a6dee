// The scene's update (flight, fog, lightning and its thunder), the fire simulation, and the
// terrain's behaviour with missing or odd data.
#include "scene/scene_test_util.h"
#include "snd/snd_test_util.h"

namespace
{

TEST_F(SceneTest, SpeedBuildsUpWithTheSecondButtonAndBrakesWithout)
{
    g_last_strike = 1e9f; // keep lightning out of the way
    // The left button does nothing; the right builds up to the top speed of 5.
    const struct {
        int buttons;
        float seconds, speed;
    } steps[] = {
        {1, 1.0f, 0.0f}, {2, 2.0f, 4.0f}, {2, 1.0f, 5.0f}, {0, 0.6f, 2.0f}, {0, 0.6f, 0.0f}};
    for (auto [buttons, seconds, speed] : steps) {
        g_mouse_buttons = buttons;
        g_frame_dt = 0.05f;
        for (float t = 0.0f; t < seconds - 1e-6f; t += g_frame_dt)
            storm_update();
        EXPECT_NEAR(g_cam_speed, speed, 1e-4f) << buttons << " for " << seconds << " s";
    }
}

TEST_F(SceneTest, LookingStraightUpKeepsAWholeCameraBasis)
{
    g_last_strike = 1e9f;
    g_frame_dt = 0.0f;
    r_set_camera(); // a right vector from the ordinary start
    for (float pitch : {90.0f, -90.0f, 270.0f}) {
        g_cam_pitch = 0.0f;
        g_mouse_dy = int(-pitch * 10.0f);
        storm_update();
        g_mouse_dy = 0;
        g_cam_target = g_cam_pos;
        g_cam_target.y += pitch == -90.0f ? -1.0f : 1.0f; // exactly along the up vector
        r_set_camera();
        for (const Vec3* v : {&g_cam_right, &g_cam_up, &g_cam_forward}) {
            ASSERT_TRUE(std::isfinite(v->x) && std::isfinite(v->y) && std::isfinite(v->z));
            EXPECT_NEAR(vec_length(v), 1.0f, 1e-4f);
        }
        EXPECT_NEAR(vec_dot(&g_cam_right, &g_cam_forward), 0.0f, 1e-5f);
        for (float m : g_view.m)
            ASSERT_TRUE(std::isfinite(m));
    }
}

TEST_F(SceneTest, FogStartSwingsWithTimeAndReachesTheDevice)
{
    g_last_strike = 1e9f; // keep lightning out of the way
    for (auto [time, start] : {std::pair{0.0f, 5.0f}, {1.5707964f, 10.0f}, {4.712389f, 0.0f}}) {
        g_time = time;
        rec_->clear();
        storm_update();
        EXPECT_NEAR(g_fog_start, start, 1e-4f) << time;
        ASSERT_FALSE(state_calls().empty());
        EXPECT_EQ(state_calls().back(),
                  (StateCall{-1, D3DRS_FOGSTART, d3d_float_to_dword(g_fog_start)}));
    }
}

TEST_F(SceneTest, LightningStrikesAwayFromTheCameraAndFadesOut)
{
    g_time = 0.5f; // within a second of the start: never a strike
    g_frame_dt = 0.0f;
    for (int i = 0; i < 2000; ++i)
        storm_update();
    EXPECT_EQ(g_flash, 0.0f);

    g_time = 5.0f;
    crt_srand(seed_where(0, 500, 0));
    storm_update();
    ASSERT_GE(g_flash, 10.0f);
    ASSERT_LE(g_flash, 24.0f);
    EXPECT_EQ(g_last_strike, 5.0f);
    Vec3 offset;
    vec_sub(&g_bolt_pos, &g_cam_pos, &offset);
    EXPECT_FLOAT_EQ(offset.y, 10.0f);
    EXPECT_GE(vec_length(&offset), 20.0f);

    float strong = g_flash;
    g_frame_dt = 1.0f;
    g_time = 5.5f; // too soon for the next strike
    storm_update();
    EXPECT_FLOAT_EQ(g_flash, strong / 2.0f);
}

// Where a point shows across the picture, through the camera's view and
// projection as the device maps them: -1 at the left edge, 1 at the right;
// NaN behind the camera.
float screen_x(const Vec3& p)
{
    Matrix clip;
    mat_multiply(&clip, &g_view, &g_proj);
    float x = p.x * clip.m[0] + p.y * clip.m[4] + p.z * clip.m[8] + clip.m[12];
    float w = p.x * clip.m[3] + p.y * clip.m[7] + p.z * clip.m[11] + clip.m[15];
    return w > 0.0f ? x / w : NAN;
}

float rms(const std::vector<float>& stereo, int side)
{
    double sum = 0.0;
    for (size_t i = size_t(side); i < stereo.size(); i += 2)
        sum += double(stereo[i]) * stereo[i];
    return float(std::sqrt(sum / double(stereo.size() / 2)));
}

TEST_F(SceneTest, ThunderIsLouderOnTheSideOfThePictureWhereTheBoltStrikes)
{
    // Nothing but the thunder is heard, and it is a short steady tone.
    snd_free(g_snd_rain);
    snd_free(g_snd_bgthunder);
    for (int slot : g_snd_thunder) {
        ASSERT_GE(slot, 0);
        g_sounds[slot].buffer->Release();
        g_sounds[slot].buffer =
            make_buffer(g_dsound, pcm(1, 48000, 16), pcm16(std::vector<float>(2400, 0.5f)));
    }
    // One strike offset, seen from every heading in turn.
    const uint32_t strike_seed = seed_where(0, 500, 0);
    g_frame_dt = 0.0f;
    int seen[2] = {0, 0}; // strikes on the left, on the right
    for (int yaw = 0; yaw < 360; yaw += 10) {
        g_cam_yaw = float(yaw);
        g_cam_pitch = 0.0f;
        g_last_strike = 1e9f;
        storm_update(); // turns the camera
        r_set_camera(); // the frame in between, which the thunder's pan follows
        g_last_strike = 0.0f;
        g_time = 5.0f;
        crt_srand(strike_seed);
        storm_update();
        ASSERT_EQ(g_last_strike, 5.0f);
        std::vector<float> out = render(2400);
        float x = screen_x(g_bolt_pos);
        if (!(std::fabs(x) > 0.2f && std::fabs(x) < 1.0f))
            continue; // out of the picture, or too near its middle to tell
        ++seen[x > 0.0f];
        float near = rms(out, x < 0.0f ? 0 : 1), far = rms(out, x < 0.0f ? 1 : 0);
        EXPECT_GT(near, 1.2f * far) << "yaw " << yaw << ", bolt at " << x;
    }
    EXPECT_GT(seen[0], 0);
    EXPECT_GT(seen[1], 0);
}

TEST_F(SceneTest, FireStepsOnScheduleInsideItsRegion)
{
    g_time = 1.0f;
    g_cam_pos = {10.0f, 0.0f, 0.0f}; // 10 units away: colours divided by 4
    fire_draw();                     // the first draw steps at once
    EXPECT_FLOAT_EQ(g_fire_next, 1.075f);
    for (int i = 0; i < FIRE_WIDTH * FIRE_HEIGHT; ++i) {
        int x = i / FIRE_HEIGHT, y = i % FIRE_HEIGHT, v = g_fire_heat[i];
        ASSERT_TRUE(v >= 0 && v <= 255) << v;
        ASSERT_TRUE(v == 0 || (x != 63 && y >= 63 && y != 127)) << x << "," << y;
    }
    int hot = 0;
    for (int x = 20; x <= 42; ++x)
        hot += g_fire_heat[x * FIRE_HEIGHT + 63] > 0;
    EXPECT_GT(hot, 15);

    // Between steps the field stands still.
    std::vector<int32_t> before(g_fire_heat, g_fire_heat + FIRE_WIDTH * FIRE_HEIGHT);
    g_time = 1.05f;
    fire_draw();
    EXPECT_TRUE(std::equal(before.begin(), before.end(), g_fire_heat));

    // The texture holds the palette divided by the distance factor.
    IDirect3DTexture8* texture = g_textures[g_tex_fire].texture;
    int x = 30, y = 64;
    int32_t r, g, b;
    fire_palette(g_fire_heat[x * FIRE_HEIGHT + y], &r, &g, &b);
    uint32_t texel = texel_at(texture, 0, x, y);
    EXPECT_EQ(int((texel >> 16) & 0xFF), int(float(r) / 4.0f));
    EXPECT_EQ(int((texel >> 8) & 0xFF), int(float(g) / 4.0f));
    EXPECT_EQ(texel >> 24, 0u); // alpha is never written
    EXPECT_EQ(texel_at(texture, 0, 0, 64), 0u);
    EXPECT_EQ(texel_at(texture, 0, 30, 10), 0u);
}

TEST(FirePalette, RunsFromRedThroughYellowToWhite)
{
    struct Case {
        int heat, r, g, b;
    } cases[] = {{0, 0, 0, 0},         {63, 63, 0, 0},      {64, 64, 0, 0},
                 {127, 127, 126, 0},   {128, 128, 128, 0},  {160, 160, 192, 128},
                 {192, 192, 255, 255}, {255, 255, 255, 255}};
    for (const Case& c : cases) {
        int32_t r, g, b;
        fire_palette(c.heat, &r, &g, &b);
        EXPECT_EQ(r, c.r) << c.heat;
        EXPECT_EQ(g, c.g) << c.heat;
        EXPECT_EQ(b, c.b) << c.heat;
    }
}

TEST_F(SceneTest, TerrainHeightInterpolatesOnTheDrawnTriangles)
{
    auto grid = [](int x, int z) { return g_heights[(x + 128) + (z + 128) * 256]; };
    EXPECT_EQ(terrain_height(0.0f, 0.0f), grid(0, 0));
    EXPECT_EQ(terrain_height(3.0f, -7.0f), grid(3, -7));
    EXPECT_FLOAT_EQ(terrain_height(-0.25f, 0.0f), grid(-1, 0) + 0.75f * (grid(0, 0) - grid(-1, 0)));
    EXPECT_EQ(terrain_height(12.5f, -3.25f), terrain_height(12.5f + 256.0f, -3.25f - 256.0f));
    // On the diagonal both triangles agree.
    float a = terrain_height(2.5f, 4.5f);
    EXPECT_NEAR(a, 0.5f * (grid(2, 4) + grid(3, 5)), 1e-5f);
}

TEST_F(GfxTest, TerrainWithoutItsImagesIsFlatAndStillDraws)
{
    // No data set at all: nothing to load.
    ASSERT_EQ(_r_init(), 1);
    terrain_init();
    EXPECT_EQ(g_tex_hf, -1);
    EXPECT_EQ(terrain_height(-5.0f, 0.0f), 0.0f);
    terrain_draw();
    EXPECT_EQ(rec_->count(REC_DRAW), 1600u);

    // A height image of the wrong size is not read at all.
    write_tga("data/hf.tga", 16, 16, [](int, int) { return 0xFF7F7F7Fu; });
    write_tga("data/hflight.tga", 16, 16, [](int, int) { return 0xFF808080u; });
    terrain_init();
    EXPECT_GE(g_tex_hf, 0);
    EXPECT_EQ(terrain_height(1.0f, 1.0f), 0.0f);
    terrain_draw(); // the light image does not fit the lightmap: no copy
    EXPECT_EQ(texel_at(g_textures[g_tex_lightmap].texture, 0, 0, 0), 0u);
}

} // namespace
