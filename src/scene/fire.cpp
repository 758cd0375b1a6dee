// Procedural fire. Owns the heat field (64 x 128 integer cells, column-major
// as the texture's columns), the work grid of a step and the fire texture.
// A step runs every FIRE_STEP_INTERVAL seconds of scene time: flickering
// seeds along row 63, a random upward drift, a blur that also cools (the sum
// of 30 weights divided by 31), then the palette into the texture, dimmed by
// the camera's distance. The texture is drawn additively on a billboard at
// the origin every frame; rows below 63, column 63 and the alpha bytes are
// never written and read black, as the texture was created cleared.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/clock.h"
#include "base/crt_rand.h"
#include "base/trig.h"
#include "gfx/device.h"
#include "gfx/renderer.h"
#include "gfx/texture.h"
#include "scene/storm.h"

int g_tex_fire = -1;
int32_t g_fire_heat[FIRE_WIDTH * FIRE_HEIGHT];
static int32_t s_fire_work[FIRE_WIDTH * FIRE_HEIGHT];
float g_fire_next = 0.0f;

static constexpr int SEED_ROW = 63;
static constexpr int SEED_FIRST = 20, SEED_LAST = 42;
static constexpr int ROW_FIRST = 63, ROW_LAST = 126;

static int32_t& heat(int x, int y)
{
    return g_fire_heat[x * FIRE_HEIGHT + y];
}

static int32_t& work(int x, int y)
{
    return s_fire_work[x * FIRE_HEIGHT + y];
}

void fire_init()
{
    g_tex_fire = tex_create_named(FIRE_WIDTH, FIRE_HEIGHT, "*fire");
    std::memset(g_fire_heat, 0, sizeof g_fire_heat);
    std::memset(s_fire_work, 0, sizeof s_fire_work);
    g_fire_next = 0.0f;
}

void fire_palette(int32_t v, int32_t* red, int32_t* green, int32_t* blue)
{
    *blue = std::clamp(4 * v - 512, 0, 255);
    *green = std::clamp(2 * v - 128, 0, 255);
    *red = v;
}

static void seed(float t)
{
    for (int x = SEED_FIRST; x <= SEED_LAST; ++x) {
        int first = crt_rand();
        int m1 = static_cast<int>(trig_sin(double(t) * 5.0 + double(x / 8)) * 31.0 + 32.0);
        int second = crt_rand();
        int m2 = static_cast<int>(trig_cos(-double(t) * 7.0 + double(x / 3)) * 31.0 + 32.0);
        // m1 and m2 stay within 1..63; guard the division all the same.
        m1 = std::max(m1, 1);
        m2 = std::max(m2, 1);
        heat(x, SEED_ROW) = 255 - first % m1 - second % m2;
    }
}

static void advect()
{
    for (int x = 1; x <= 62; ++x) {
        for (int y = ROW_FIRST; y <= ROW_LAST; ++y) {
            int a = crt_rand() % 2, b = crt_rand() % 2, c = crt_rand() % 2;
            int d = crt_rand() % 2, e = crt_rand() % 2;
            work(x, y) = heat(x, y - a);
            work(x, y) += heat(x - b, y - c);
            work(x, y) += heat(x + d, y - e);
        }
    }
}

static void blur_and_cool()
{
    for (int x = 0; x <= 62; ++x) {
        for (int y = ROW_FIRST; y <= ROW_LAST; ++y) {
            int32_t sum = work(x, y);
            for (int dy = -1; dy <= 1; ++dy) {
                sum += heat(x, y + dy);
                sum += x > 0 ? heat(x - 1, y + dy) : 0;
                sum += heat(x + 1, y + dy);
            }
            work(x, y) = std::clamp(sum / 31, 0, 255);
        }
    }
}

static void colour(IDirect3DTexture8* texture)
{
    D3DSURFACE_DESC desc;
    if (FAILED(texture->GetLevelDesc(0, &desc)) || desc.Width < FIRE_WIDTH ||
        desc.Height < FIRE_HEIGHT)
        return; // a texture too small for the field is left alone
    D3DLOCKED_RECT lock;
    if (FAILED(texture->LockRect(0, &lock, nullptr, 0)))
        return;
    float k = vec_length(&g_cam_pos) / 5.0f;
    k *= k;
    if (k < 1.0f)
        k = 1.0f;
    uint8_t* bits = static_cast<uint8_t*>(lock.pBits);
    for (int x = 1; x <= 62; ++x) {
        for (int y = ROW_FIRST; y <= ROW_LAST; ++y) {
            int32_t red, green, blue;
            fire_palette(heat(x, y), &red, &green, &blue);
            uint8_t* texel = bits + y * lock.Pitch + x * 4;
            texel[0] = static_cast<uint8_t>(float(blue) / k);
            texel[1] = static_cast<uint8_t>(float(green) / k);
            texel[2] = static_cast<uint8_t>(float(red) / k);
        }
    }
    texture->UnlockRect(0);
}

static void fire_step()
{
    float t = g_time;
    g_fire_next = t + FIRE_STEP_INTERVAL;
    seed(t);
    advect();
    std::memcpy(g_fire_heat, s_fire_work, sizeof g_fire_heat);
    blur_and_cool();
    std::memcpy(g_fire_heat, s_fire_work, sizeof g_fire_heat);
    if (g_tex_fire >= 0 && g_textures[g_tex_fire].texture)
        colour(g_textures[g_tex_fire].texture);
}

void fire_draw()
{
    g_device->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
    g_device->SetRenderState(D3DRS_FOGENABLE, 0);
    g_device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    g_device->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
    g_device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    g_device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    g_device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    g_device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    g_device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    g_device->SetRenderState(D3DRS_ZWRITEENABLE, 0);

    if (g_time >= g_fire_next)
        fire_step();

    // A negative height puts texel row 0 at the bottom, so the heat that
    // drifts to higher rows rises on screen.
    Vec3 centre = {0.0f, -0.25f, 0.0f};
    const float size[2] = {2.0f, -8.0f};
    r_draw_billboard(&centre, size, g_tex_fire);
}
