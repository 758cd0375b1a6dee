// The scene's textures, drawn from noise and strokes. Each maker knows how the
// scene shows its picture: the ground detail repeats every 2.5 units and is
// multiplied by the lightmap times two; the water is stretched once over a
// 40-unit square; the rain repeats 2 times across and 20 times along a strip
// right in front of the eye, so its streaks are short in the picture and long
// on screen; the bolt is added onto the frame on a 4 x 32 billboard.
//
// Pictures that are blended by their alpha keep a sensible colour where they
// are transparent (the colour of the nearest visible part), so filtering and
// mip levels never bleed dark fringes into them.

#include <algorithm>

#include "art.h"

// Draws a soft line of `width` pixels from (x0, y0) to (x1, y1) into an alpha
// layer, wrapping around the picture's edges; coverage adds like paint.
static void stroke_alpha(std::vector<float>& alpha, int w, int h, float x0, float y0, float x1,
                         float y1, float width, float opacity)
{
    float minx = std::min(x0, x1) - width - 1, maxx = std::max(x0, x1) + width + 1;
    float miny = std::min(y0, y1) - width - 1, maxy = std::max(y0, y1) + width + 1;
    float dx = x1 - x0, dy = y1 - y0;
    float len2 = dx * dx + dy * dy + 1e-6f;
    for (int y = int(std::floor(miny)); y <= int(std::ceil(maxy)); y++) {
        for (int x = int(std::floor(minx)); x <= int(std::ceil(maxx)); x++) {
            float px = x + 0.5f - x0, py = y + 0.5f - y0;
            float t = clamp01((px * dx + py * dy) / len2);
            float ex = px - t * dx, ey = py - t * dy;
            float d = std::sqrt(ex * ex + ey * ey);
            float cover = clamp01(width * 0.5f + 0.5f - d) * opacity;
            if (cover <= 0)
                continue;
            int wx = ((x % w) + w) % w, wy = ((y % h) + h) % h;
            float& a = alpha[size_t(wy) * w + wx];
            a = 1 - (1 - a) * (1 - cover);
        }
    }
}

// ---- ground detail -------------------------------------------------------------

Picture make_floor()
{
    const int S = 256;
    Picture pic(S, S);
    std::vector<float> grass_mask(size_t(S) * S);
    for (int y = 0; y < S; y++) {
        for (int x = 0; x < S; x++) {
            float u = (x + 0.5f) / S, v = (y + 0.5f) / S;
            float patches = fbm_wrap(u, v, 3, 4, 0.5f, 11);
            float grass = smoothstep(-0.25f, 0.3f, patches);
            grass_mask[size_t(y) * S + x] = grass;

            float tone = 0.5f + 0.5f * fbm_wrap(u, v, 8, 4, 0.55f, 12);
            Color mud = mix({0.26f, 0.21f, 0.15f, 1}, {0.40f, 0.32f, 0.22f, 1}, tone);
            // Wet hollows in the mud read darker and a little cooler.
            float wet = smoothstep(0.2f, 0.6f, fbm_wrap(u, v, 4, 3, 0.5f, 13)) * (1 - grass);
            mud = mix(mud, {0.17f, 0.15f, 0.13f, 1}, 0.6f * wet);

            // Pebbles: round cells with a lit upper-left rim, only in the mud.
            float cell = cells_wrap(u, v, 28, 14);
            uint32_t pick = hash3(int(u * 28), int(v * 28), 15);
            if ((pick & 3) == 0) {
                float stone = smoothstep(0.34f, 0.26f, cell) * (1 - grass) * (1 - wet);
                float lit = 0.5f + 0.5f * fbm_wrap(u, v, 64, 1, 0.5f, 16);
                Color pebble = mix({0.33f, 0.31f, 0.28f, 1}, {0.50f, 0.48f, 0.44f, 1}, lit);
                mud = mix(mud, pebble, stone);
            }

            float fine = fbm_wrap(u, v, 32, 3, 0.6f, 17);
            Color under =
                mix({0.17f, 0.22f, 0.10f, 1}, {0.25f, 0.30f, 0.13f, 1}, 0.5f + 0.5f * fine);
            Color c = mix(mud, under, grass);
            float grain = 1 + 0.08f * fbm_wrap(u, v, 64, 2, 0.5f, 18);
            float lift = 1.4f * grain; // mid-bright: the lightmap (x2) darkens and lights it
            pic.at(x, y) = {c.r * lift, c.g * lift, c.b * lift, 1};
        }
    }

    // Grass blades: short strokes in all directions (the ground is seen from
    // above), denser where the grass patches are, some dry and yellow.
    Rng rng(19);
    std::vector<float> layer(size_t(S) * S);
    static const Color BLADES[] = {{0.24f, 0.34f, 0.12f, 1},
                                   {0.30f, 0.40f, 0.15f, 1},
                                   {0.20f, 0.29f, 0.11f, 1},
                                   {0.36f, 0.42f, 0.18f, 1},
                                   {0.46f, 0.42f, 0.22f, 1}};
    for (int i = 0; i < 14000; i++) {
        float x = float(rng.uniform() * S), y = float(rng.uniform() * S);
        float want = grass_mask[size_t(int(y)) * S + int(x)];
        if (rng.uniform() > want * want)
            continue;
        float angle = float(rng.uniform() * 6.2831853);
        float length = float(rng.range(3, 8));
        Color c = BLADES[rng.below(5)];
        float shade = float(rng.range(0.8, 1.2)) * 1.4f;
        float x1 = x + std::cos(angle) * length, y1 = y + std::sin(angle) * length;
        stroke_alpha(layer, S, S, x, y, x1, y1, 1.0f, 0.85f);
        int bx0 = int(std::min(x, x1)) - 3, bx1 = int(std::max(x, x1)) + 3;
        int by0 = int(std::min(y, y1)) - 3, by1 = int(std::max(y, y1)) + 3;
        for (int py = by0; py <= by1; py++) {
            for (int px = bx0; px <= bx1; px++) {
                int wx = ((px % S) + S) % S, wy = ((py % S) + S) % S;
                float a = layer[size_t(wy) * S + wx];
                layer[size_t(wy) * S + wx] = 0; // clean for the next blade
                if (a <= 0)
                    continue;
                Color& dst = pic.at(wx, wy);
                dst.r = lerp(dst.r, c.r * shade, a);
                dst.g = lerp(dst.g, c.g * shade, a);
                dst.b = lerp(dst.b, c.b * shade, a);
            }
        }
    }
    // Colours fade at night: a third of the saturation goes.
    for (Color& c : pic.pixels) {
        float l = 0.3f * c.r + 0.59f * c.g + 0.11f * c.b;
        c = {lerp(l, c.r, 0.68f), lerp(l, c.g, 0.68f), lerp(l, c.b, 0.68f), 1};
    }
    return pic;
}

// ---- water ----------------------------------------------------------------------

Picture make_water()
{
    const int S = 256;
    // A height field of slow swell and raindrop rings, all wrapping.
    std::vector<float> height(size_t(S) * S);
    for (int y = 0; y < S; y++) {
        for (int x = 0; x < S; x++) {
            float u = (x + 0.5f) / S, v = (y + 0.5f) / S;
            // Wind ripples: fine noise, stretched across the wind.
            height[size_t(y) * S + x] = 0.9f * fbm_wrap(u, v, 8, 4, 0.5f, 21) +
                                        0.6f * fbm_wrap(u, v, 24, 3, 0.6f, 22) +
                                        0.4f * noise_wrap(u * 64, v * 16, 64, 25) *
                                            (0.5f + 0.5f * noise_wrap(u * 6, v * 6, 6, 26));
        }
    }
    Rng rng(23);
    for (int i = 0; i < 40; i++) {
        float cx = float(rng.uniform() * S), cy = float(rng.uniform() * S);
        float radius = float(rng.range(2, 9));
        float strength = float(rng.range(0.3, 1.0)) * (1.2f - radius / 20);
        float wavelength = float(rng.range(2.5, 4.0));
        int reach = int(radius + 8);
        for (int dy = -reach; dy <= reach; dy++) {
            for (int dx = -reach; dx <= reach; dx++) {
                int x = int(cx) + dx, y = int(cy) + dy;
                float ex = wrap_delta(x + 0.5f, cx, S), ey = wrap_delta(y + 0.5f, cy, S);
                float d = std::sqrt(ex * ex + ey * ey);
                float ring = (d - radius) / 3.0f;
                float wave =
                    std::sin((d - radius) * 6.2831853f / wavelength) * std::exp(-ring * ring);
                int wx = ((x % S) + S) % S, wy = ((y % S) + S) % S;
                height[size_t(wy) * S + wx] += 0.3f * strength * wave;
            }
        }
    }

    Picture pic(S, S);
    for (int y = 0; y < S; y++) {
        for (int x = 0; x < S; x++) {
            auto h = [&](int xi, int yi) {
                return height[size_t((yi + S) % S) * S + (xi + S) % S];
            };
            float sx = h(x + 1, y) - h(x - 1, y);
            float sy = h(x, y + 1) - h(x, y - 1);
            // Light from the sky glints off slopes facing up-left; the rest
            // stays the dark of deep water.
            float glint = -0.7f * sx - 0.5f * sy;
            float lit = clamp01(0.4f + 3.0f * glint);
            float specular = std::pow(clamp01(glint * 2.5f - 0.6f), 2.0f);
            float depth = 0.5f + 0.5f * fbm_wrap((x + 0.5f) / S, (y + 0.5f) / S, 3, 3, 0.5f, 24);
            Color deep = mix({0.07f, 0.10f, 0.13f, 1}, {0.11f, 0.15f, 0.19f, 1}, depth);
            Color c = mix(deep, {0.24f, 0.30f, 0.36f, 1}, lit);
            c.r += 0.45f * specular;
            c.g += 0.50f * specular;
            c.b += 0.55f * specular;
            c.a = clamp01(0.58f + 0.10f * (lit - 0.5f) + 0.15f * specular);
            pic.at(x, y) = c;
        }
    }
    return pic;
}

// ---- rain -----------------------------------------------------------------------

Picture make_rain()
{
    const int S = 256;
    std::vector<float> alpha(size_t(S) * S, 0.0f);
    Rng rng(31);
    // On screen a texel row is some twenty pixels tall and a column two
    // pixels wide: streaks of a few rows and one column become long thin
    // lines. Brightest at the head (the lower end), which leads the fall.
    for (int i = 0; i < 760; i++) {
        float x = float(rng.uniform() * S), y = float(rng.uniform() * S);
        float length = float(2.0 + 7.0 * rng.uniform() * rng.uniform());
        float peak = float(rng.range(0.25, 0.75));
        int x0 = int(std::floor(x - 0.5f));
        float fx = x - 0.5f - x0;
        for (int row = int(std::floor(y)); row <= int(std::ceil(y + length)); row++) {
            float f = (row + 0.5f - y) / length;
            if (f < 0 || f > 1)
                continue;
            float along = std::pow(f, 0.7f) * smoothstep(1.0f, 0.8f, f) * peak;
            for (int k = 0; k < 2; k++) {
                float cover = along * (k == 0 ? 1 - fx : fx);
                int wx = (((x0 + k) % S) + S) % S, wy = ((row % S) + S) % S;
                float& a = alpha[size_t(wy) * S + wx];
                a = 1 - (1 - a) * (1 - cover);
            }
        }
    }
    Picture pic(S, S);
    for (size_t i = 0; i < pic.pixels.size(); i++)
        pic.pixels[i] = {0.80f, 0.85f, 0.92f, alpha[i]};
    return pic;
}

// ---- leaf -----------------------------------------------------------------------

// A maple-like outline in polar form around the leaf's centre: five pointed
// lobes (the lower two smaller) and a notch where the stem joins. theta 0
// points to the tip; the result is a radius in units of the leaf's size.
static float leaf_radius(float theta)
{
    static const float LOBE_ANGLE[] = {0.0f, 0.95f, -0.95f, 1.9f, -1.9f};
    static const float LOBE_LENGTH[] = {1.0f, 0.88f, 0.88f, 0.62f, 0.62f};
    static const float LOBE_WIDTH[] = {0.55f, 0.5f, 0.5f, 0.45f, 0.45f};
    float r = 0.36f * (1 - 0.55f * smoothstep(2.2f, 3.14159f, std::fabs(theta)));
    for (int i = 0; i < 5; i++) {
        float t = std::fabs(theta - LOBE_ANGLE[i]) / LOBE_WIDTH[i];
        if (t < 1)
            r = std::max(r, LOBE_LENGTH[i] * std::pow(1 - t, 0.85f) * 0.95f + 0.05f * (1 - t));
    }
    // Small teeth along the edge.
    return r * (1 - 0.045f * std::fabs(std::sin(theta * 13.0f)));
}

Picture make_leaf()
{
    const int S = 128;
    const float CX = 64, CY = 66, SIZE = 58;
    const float TILT = -0.5f; // the tip leans right, the stem down-left
    Picture pic(S, S);
    const float LOBE_ANGLE[] = {0.0f, 0.95f, -0.95f, 1.9f, -1.9f};
    for (int y = 0; y < S; y++) {
        for (int x = 0; x < S; x++) {
            // Coverage from 4 x 4 samples for a smooth outline.
            int inside = 0;
            for (int sy = 0; sy < 4; sy++) {
                for (int sx = 0; sx < 4; sx++) {
                    float px = x + (sx + 0.5f) / 4 - CX, py = y + (sy + 0.5f) / 4 - CY;
                    float theta = std::atan2(px, -py) - TILT;
                    theta = std::remainder(theta, 6.2831853f);
                    if (std::sqrt(px * px + py * py) < SIZE * leaf_radius(theta))
                        inside++;
                }
            }
            float px = x + 0.5f - CX, py = y + 0.5f - CY;
            float theta = std::remainder(std::atan2(px, -py) - TILT, 6.2831853f);
            float d = std::sqrt(px * px + py * py);
            float edge = clamp01(d / (SIZE * leaf_radius(theta)));
            float u = float(x) / S, v = float(y) / S;

            Color c = mix({0.92f, 0.60f, 0.12f, 1}, {0.74f, 0.20f, 0.06f, 1},
                          smoothstep(0.1f, 0.95f, edge));
            float blotch = smoothstep(0.25f, 0.6f, fbm_wrap(u, v, 4, 4, 0.55f, 41));
            c = mix(c, {0.42f, 0.20f, 0.07f, 1}, 0.75f * blotch);
            float mottle = 1 + 0.10f * fbm_wrap(u, v, 16, 3, 0.5f, 42);
            c.r *= mottle;
            c.g *= mottle;
            c.b *= mottle;

            // Veins from the centre to each lobe tip, fading towards the tip.
            float vein = 0;
            for (float a : LOBE_ANGLE) {
                float dirx = std::sin(a + TILT), diry = -std::cos(a + TILT);
                float t = px * dirx + py * diry;
                if (t < 0)
                    continue;
                float off = std::fabs(px * diry - py * dirx);
                float along = t / (SIZE * leaf_radius(a));
                if (along > 1)
                    continue;
                float width = 1.3f * (1 - 0.7f * along);
                vein = std::max(vein, smoothstep(width, width * 0.3f, off) * (1 - along * 0.6f));
            }
            c = mix(c, {0.98f, 0.80f, 0.36f, 1}, 0.55f * vein);

            // The stem, from the centre out through the notch.
            float sdx = std::sin(3.14159f + TILT), sdy = -std::cos(3.14159f + TILT);
            float st = px * sdx + py * sdy;
            float soff = std::fabs(px * sdy - py * sdx);
            float stem = (st > 0 && st < SIZE * 0.62f) ? smoothstep(1.6f, 0.6f, soff) : 0;
            c = mix(c, {0.40f, 0.22f, 0.08f, 1}, stem);

            c.a = std::max(inside / 16.0f, stem);
            pic.at(x, y) = c;
        }
    }
    return pic;
}

// ---- lightning ---------------------------------------------------------------------

struct Stroke {
    std::vector<float> xs, ys;
    float intensity;
    float width;
};

// A jagged path from (x0, y0) to (x1, y1) by midpoint displacement.
static Stroke jagged(Rng& rng, float x0, float y0, float x1, float y1, int depth, float rough,
                     float xmin, float xmax)
{
    std::vector<float> xs{x0, x1}, ys{y0, y1};
    for (int level = 0; level < depth; level++) {
        std::vector<float> nx, ny;
        for (size_t i = 0; i + 1 < xs.size(); i++) {
            float len = std::hypot(xs[i + 1] - xs[i], ys[i + 1] - ys[i]);
            float mx = (xs[i] + xs[i + 1]) / 2 + float(rng.gauss()) * rough * len;
            float my = (ys[i] + ys[i + 1]) / 2 + float(rng.gauss()) * rough * 0.3f * len;
            nx.push_back(xs[i]);
            ny.push_back(ys[i]);
            nx.push_back(std::clamp(mx, xmin, xmax));
            ny.push_back(my);
        }
        nx.push_back(xs.back());
        ny.push_back(ys.back());
        xs.swap(nx);
        ys.swap(ny);
    }
    return {xs, ys, 1, 1};
}

Picture make_bolt()
{
    const int W = 64, H = 512;
    Rng rng(51);
    std::vector<Stroke> strokes;
    Stroke main = jagged(rng, 32, -2, 30, H + 2, 8, 0.22f, 14, 50);
    main.intensity = 1.0f;
    main.width = 1.6f;
    strokes.push_back(main);
    // Branches fork off the upper two thirds of the channel and die out.
    for (int b = 0; b < 7; b++) {
        size_t at = size_t(rng.range(0.08, 0.7) * main.xs.size());
        float x0 = main.xs[at], y0 = main.ys[at];
        float side = (rng.uniform() < 0.5) ? -1.0f : 1.0f;
        float x1 = std::clamp(x0 + side * float(rng.range(10, 24)), 5.0f, 59.0f);
        float y1 = y0 + float(rng.range(40, 150));
        Stroke branch = jagged(rng, x0, y0, x1, y1, 6, 0.25f, 4, 60);
        branch.intensity = float(rng.range(0.35, 0.65));
        branch.width = 1.0f;
        strokes.push_back(branch);
        if (rng.uniform() < 0.5) {
            size_t at2 = branch.xs.size() / 2;
            float x2 = std::clamp(branch.xs[at2] + side * float(rng.range(5, 12)), 4.0f, 60.0f);
            Stroke twig = jagged(rng, branch.xs[at2], branch.ys[at2], x2,
                                 branch.ys[at2] + float(rng.range(25, 60)), 5, 0.25f, 4, 60);
            twig.intensity = branch.intensity * 0.6f;
            twig.width = 0.8f;
            strokes.push_back(twig);
        }
    }

    Picture pic(W, H, {0, 0, 0, 1});
    for (int y = 0; y < H; y++) {
        for (int x = 0; x < W; x++) {
            float px = x + 0.5f, py = y + 0.5f;
            float core = 0, glow = 0, haze = 0;
            for (const Stroke& s : strokes) {
                float best = 1e9f;
                for (size_t i = 0; i + 1 < s.xs.size(); i++) {
                    float ax = s.xs[i], ay = s.ys[i], bx = s.xs[i + 1], by = s.ys[i + 1];
                    if (py < std::min(ay, by) - 40 || py > std::max(ay, by) + 40)
                        continue;
                    float dx = bx - ax, dy = by - ay;
                    float t =
                        clamp01(((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy + 1e-6f));
                    float ex = px - ax - t * dx, ey = py - ay - t * dy;
                    best = std::min(best, ex * ex + ey * ey);
                }
                float w = s.width;
                core += s.intensity * std::exp(-best / (w * w));
                glow += s.intensity * std::exp(-best / 30.0f);
                haze += s.intensity * std::exp(-best / 220.0f);
            }
            // The glow fades out before the billboard's sides, so its
            // rectangle never shows; the top is softened where the bolt
            // leaves the cloud.
            float sides = smoothstep(0, 12, px) * smoothstep(0, 12, W - px);
            float top = 0.55f + 0.45f * smoothstep(0, 40, py);
            glow *= sides * top;
            haze *= sides * top;
            core *= top;
            Color c{core + 0.40f * glow + 0.10f * haze, core + 0.55f * glow + 0.14f * haze,
                    core + 0.95f * glow + 0.32f * haze, 1};
            pic.at(x, y) = {clamp01(c.r), clamp01(c.g), clamp01(c.b), 1};
        }
    }
    return pic;
}

// ---- the plain ones ------------------------------------------------------------------

Picture make_notfound()
{
    // Magenta and black squares: nothing in a night scene looks like it.
    const int S = 64;
    Picture pic(S, S);
    for (int y = 0; y < S; y++)
        for (int x = 0; x < S; x++)
            pic.at(x, y) = ((x / 8 + y / 8) & 1) ? Color{0, 0, 0, 1} : Color{1, 0, 1, 1};
    return pic;
}

Picture make_shade()
{
    // Bright in the middle, falling smoothly to nothing at the rim, in the
    // colour and in the alpha alike, so it serves additive and alpha blending.
    const int S = 128;
    Picture pic(S, S);
    for (int y = 0; y < S; y++) {
        for (int x = 0; x < S; x++) {
            float dx = (x + 0.5f - S / 2.0f) / (S / 2.0f), dy = (y + 0.5f - S / 2.0f) / (S / 2.0f);
            float r = std::sqrt(dx * dx + dy * dy);
            float f = std::exp(-3.0f * r * r) * smoothstep(1.0f, 0.8f, r);
            pic.at(x, y) = {f, f, f, f};
        }
    }
    return pic;
}
