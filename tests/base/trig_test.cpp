#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "base/trig.h"

namespace
{

// How many representable doubles lie between a and b.
int64_t ulps_apart(double a, double b)
{
    int64_t ia, ib;
    std::memcpy(&ia, &a, sizeof a);
    std::memcpy(&ib, &b, sizeof b);
    if ((ia < 0) != (ib < 0))
        return a == b ? 0 : INT64_MAX;
    return ia > ib ? ia - ib : ib - ia;
}

// The scene's arguments: times and angles up to hours of flight, the fire's
// phases, both signs, every quadrant's edges. Where the value is not close
// to zero the error counts in units in the last place; near a zero of the
// function only the absolute error means anything.
TEST(Trig, AgreesWithTheCLibraryToAboutTheLastBitOverTheScenesRange)
{
    int64_t worst = 0;
    double worst_absolute = 0.0;
    for (int i = -200000; i <= 200000; ++i) {
        const double x = i * 0.0137 + (i % 7) * 1e-9;
        for (auto [ours, theirs] :
             {std::pair{trig_sin(x), std::sin(x)}, std::pair{trig_cos(x), std::cos(x)}}) {
            if (std::fabs(theirs) > 1e-3)
                worst = std::max(worst, ulps_apart(ours, theirs));
            else
                worst_absolute = std::max(worst_absolute, std::fabs(ours - theirs));
        }
    }
    EXPECT_LE(worst, 4);
    EXPECT_LE(worst_absolute, 1e-15);
    EXPECT_EQ(trig_sin(1e5 * M_PI), trig_sin(1e5 * M_PI)); // no hidden state
}

TEST(Trig, KeepsSignedZeroAndPassesNotANumberOn)
{
    EXPECT_TRUE(std::signbit(trig_sin(-0.0)));
    EXPECT_EQ(trig_cos(0.0), 1.0);
    EXPECT_EQ(trig_sin(M_PI / 2), 1.0);
    EXPECT_TRUE(std::isnan(trig_sin(NAN)));
    EXPECT_TRUE(std::isnan(trig_cos(INFINITY)));
}

} // namespace

TEST(Trig, TanhIsTheCLibrarysToAGainsPrecisionAndSaturates)
{
    float worst = 0.0f;
    for (float x = -12.0f; x <= 12.0f; x += 0.001f) {
        worst = std::fmax(worst, std::fabs(trig_tanh(x) - std::tanh(x)));
        EXPECT_EQ(trig_tanh(-x), -trig_tanh(x));
    }
    EXPECT_LE(worst, 2e-7f);
    EXPECT_EQ(trig_tanh(100.0f), 1.0f); // e^200 overflows: exactly 1, no NaN
    EXPECT_EQ(trig_tanh(0.0f), 0.0f);
}
