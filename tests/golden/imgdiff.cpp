// storm_imgdiff: compares a rendered frame with its stored reference.
// Usage: storm_imgdiff EXPECTED.png ACTUAL.png [TOLERANCE] [MAX_BAD_FRACTION]
// A pixel is bad when any channel differs by more than TOLERANCE (default 8);
// the frames match when at most MAX_BAD_FRACTION of the pixels are bad
// (default 0.002). Prints the statistics either way; exit 0 on a match.
#include <cstdio>
#include <cstdlib>

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

int main(int argc, char** argv)
{
    if (argc < 3 || argc > 5) {
        std::fprintf(
            stderr,
            "usage: storm_imgdiff EXPECTED.png ACTUAL.png [TOLERANCE] [MAX_BAD_FRACTION]\n");
        return 2;
    }
    int tolerance = argc > 3 ? std::atoi(argv[3]) : 8;
    double max_bad = argc > 4 ? std::atof(argv[4]) : 0.002;
    int w1, h1, w2, h2, n;
    unsigned char* a = stbi_load(argv[1], &w1, &h1, &n, 3);
    unsigned char* b = stbi_load(argv[2], &w2, &h2, &n, 3);
    if (!a || !b) {
        std::fprintf(stderr, "storm_imgdiff: cannot read %s\n", !a ? argv[1] : argv[2]);
        return 1;
    }
    if (w1 != w2 || h1 != h2) {
        std::fprintf(stderr, "storm_imgdiff: sizes differ: %dx%d and %dx%d\n", w1, h1, w2, h2);
        return 1;
    }
    long bad = 0;
    int worst = 0;
    double total = 0.0;
    for (long i = 0; i < long(w1) * h1; ++i) {
        int pixel_worst = 0;
        for (int c = 0; c < 3; ++c) {
            int d = std::abs(int(a[i * 3 + c]) - int(b[i * 3 + c]));
            pixel_worst = d > pixel_worst ? d : pixel_worst;
            total += d;
        }
        worst = pixel_worst > worst ? pixel_worst : worst;
        bad += pixel_worst > tolerance;
    }
    double fraction = double(bad) / (double(w1) * h1);
    std::printf("%s: %ld of %d pixels beyond %d (%.4f%%), largest difference %d, mean %.3f\n",
                argv[2], bad, w1 * h1, tolerance, fraction * 100.0, worst,
                total / (double(w1) * h1 * 3));
    stbi_image_free(a);
    stbi_image_free(b);
    return fraction <= max_bad ? 0 : 1;
}
