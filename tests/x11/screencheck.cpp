// storm_screencheck: looks at a screenshot of the whole X screen (an xwd
// dump) the way a person looks at the monitor, and checks that the frame the
// program rendered (a PNG of its back buffer) fills the screen letterboxed:
//   - the bars are pure black and the picture between them is not;
//   - the picture touches two opposite edges of the screen and sits centred
//     between the other two;
//   - the picture has the frame's proportions (nothing squeezed);
//   - sampled at the centre of each frame pixel, the screen shows the frame.
// Usage: storm_screencheck SCREEN.xwd FRAME.png SAVE.png
//        storm_screencheck SHOT.xwd WxH SAVE.png
// SAVE.png receives the screenshot, for a person to look at after a failure.
// A sample is bad when a channel differs by more than 8; exit 0 when at most
// 1% of them are. Given only the frame's size (a run on the clock, with no
// frame to compare with), the shot, of a screen or of one window, must show
// a picture of that shape letterboxed as above, and a picture of the scene:
// mostly lit, in many colours, not a cleared or half-drawn screen.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "res/png_write.h"

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#endif
#include <stb/stb_image.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace
{

struct Screen {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels; // 0x00RRGGBB
};

// An xwd file: a big-endian header of 32-bit fields, the window's name, a
// colour table, then the image. Only 24/32-bit true-colour dumps are read.
bool read_xwd(const char* path, Screen* screen)
{
    std::ifstream file(path, std::ios::binary);
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(file)), {});
    if (data.size() < 100)
        return false;
    auto field = [&](int index) {
        const uint8_t* p = &data[size_t(index) * 4];
        return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
    };
    uint32_t header_size = field(0), format = field(2), width = field(4), height = field(5);
    uint32_t byte_order = field(7), bits_per_pixel = field(11), bytes_per_line = field(12);
    uint32_t red_mask = field(14), green_mask = field(15), blue_mask = field(16);
    uint32_t colours = field(19);
    if (format != 2 || (bits_per_pixel != 32 && bits_per_pixel != 24) || width == 0 ||
        height == 0 || width > 16384 || height > 16384 || !red_mask || !green_mask || !blue_mask)
        return false;
    size_t offset = size_t(header_size) + size_t(colours) * 12;
    if (offset + size_t(bytes_per_line) * height > data.size())
        return false;
    screen->width = int(width);
    screen->height = int(height);
    screen->pixels.assign(size_t(width) * height, 0);
    int bytes = int(bits_per_pixel / 8);
    int rs = std::countr_zero(red_mask), gs = std::countr_zero(green_mask),
        bs = std::countr_zero(blue_mask);
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* row = &data[offset + size_t(y) * bytes_per_line];
        for (uint32_t x = 0; x < width; ++x) {
            const uint8_t* p = row + size_t(x) * bytes;
            uint32_t value = 0;
            for (int i = 0; i < bytes; ++i) {
                int shift = byte_order == 0 ? 8 * i : 8 * (bytes - 1 - i);
                value |= uint32_t(p[i]) << shift;
            }
            uint32_t r = (value & red_mask) >> rs, g = (value & green_mask) >> gs,
                     b = (value & blue_mask) >> bs;
            screen->pixels[size_t(y) * width + x] = r << 16 | g << 8 | b;
        }
    }
    return true;
}

struct Box {
    int x0, y0, x1, y1; // inclusive
};

// The smallest box holding every pixel that is not pure black.
bool picture_box(const Screen& s, Box* box)
{
    *box = Box{s.width, s.height, -1, -1};
    for (int y = 0; y < s.height; ++y) {
        for (int x = 0; x < s.width; ++x) {
            if (s.pixels[size_t(y) * s.width + x] == 0)
                continue;
            box->x0 = std::min(box->x0, x);
            box->y0 = std::min(box->y0, y);
            box->x1 = std::max(box->x1, x);
            box->y1 = std::max(box->y1, y);
        }
    }
    return box->x1 >= 0;
}

int fail(const char* what)
{
    std::printf("storm_screencheck: %s\n", what);
    return 1;
}

// The picture inside the box shows the scene: fog, terrain, rain, fire in
// their many shades; a cleared frame is one colour, a black one none.
int check_scene(const Screen& s, const Box& box)
{
    std::vector<uint32_t> colours;
    long lit = 0, total = 0;
    for (int y = box.y0; y <= box.y1; ++y) {
        for (int x = box.x0; x <= box.x1; ++x) {
            uint32_t p = s.pixels[size_t(y) * s.width + x];
            lit += p != 0;
            ++total;
            colours.push_back(p);
        }
    }
    std::sort(colours.begin(), colours.end());
    long distinct = std::unique(colours.begin(), colours.end()) - colours.begin();
    std::printf("picture: %.1f%% lit, %ld colours\n", 100.0 * double(lit) / double(total),
                distinct);
    if (lit * 10 < total * 9)
        return fail("the picture is mostly black");
    if (distinct < 200)
        return fail("the picture is too plain to be the scene");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: storm_screencheck SCREEN.xwd FRAME.png|WxH SAVE.png\n");
        return 2;
    }
    const int tolerance = 8;
    const double max_bad = 0.01;

    Screen screen;
    if (!read_xwd(argv[1], &screen))
        return fail("cannot read the screenshot");
    std::vector<uint32_t> opaque(screen.pixels);
    for (uint32_t& p : opaque)
        p |= 0xFF000000u;
    png_write(argv[3], opaque.data(), screen.width, screen.height, screen.width * 4, false);
    int fw = 0, fh = 0, channels = 0;
    unsigned char* frame = nullptr;
    char tail = 0;
    bool size_only = std::sscanf(argv[2], "%dx%d%c", &fw, &fh, &tail) == 2 && fw > 0 && fh > 0;
    if (!size_only) {
        frame = stbi_load(argv[2], &fw, &fh, &channels, 3);
        if (!frame)
            return fail("cannot read the frame");
    }

    Box box;
    if (!picture_box(screen, &box))
        return fail("the screen is black");
    int bw = box.x1 - box.x0 + 1, bh = box.y1 - box.y0 + 1;
    std::printf("screen %dx%d, picture %dx%d at (%d, %d), frame %dx%d\n", screen.width,
                screen.height, bw, bh, box.x0, box.y0, fw, fh);

    // Fills the screen one way, centred the other.
    bool fills_width = box.x0 == 0 && box.x1 == screen.width - 1;
    bool fills_height = box.y0 == 0 && box.y1 == screen.height - 1;
    if (!fills_width && !fills_height)
        return fail("the picture touches neither pair of edges: cropped or not full screen");
    int left = box.x0, right = screen.width - 1 - box.x1;
    int top = box.y0, bottom = screen.height - 1 - box.y1;
    if (std::abs(left - right) > 1 || std::abs(top - bottom) > 1)
        return fail("the picture is not centred between its bars");
    // The proportions: the picture's sides in the frame's ratio, to a pixel.
    double expected_w = double(bh) * fw / fh, expected_h = double(bw) * fh / fw;
    if (std::fabs(expected_w - bw) > 1.0 && std::fabs(expected_h - bh) > 1.0)
        return fail("the picture does not have the frame's proportions: it is distorted");
    if (size_only)
        return check_scene(screen, box);

    // Each frame pixel, at its centre on the screen.
    long bad = 0;
    int worst = 0;
    double sx = double(bw) / fw, sy = double(bh) / fh;
    for (int y = 0; y < fh; ++y) {
        for (int x = 0; x < fw; ++x) {
            int px = box.x0 + int((x + 0.5) * sx), py = box.y0 + int((y + 0.5) * sy);
            uint32_t shown = screen.pixels[size_t(py) * screen.width + px];
            const unsigned char* want = &frame[(size_t(y) * fw + x) * 3];
            int got[3] = {int(shown >> 16 & 0xFF), int(shown >> 8 & 0xFF), int(shown & 0xFF)};
            int d = 0;
            for (int c = 0; c < 3; ++c)
                d = std::max(d, std::abs(got[c] - int(want[c])));
            worst = std::max(worst, d);
            bad += d > tolerance;
        }
    }
    stbi_image_free(frame);
    double fraction = double(bad) / (double(fw) * fh);
    std::printf("%ld of %d samples beyond %d (%.3f%%), largest difference %d\n", bad, fw * fh,
                tolerance, fraction * 100.0, worst);
    return fraction <= max_bad ? 0 : 1;
}
