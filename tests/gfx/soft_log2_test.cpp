// The logarithm both software rasterizers pick mip levels with: close to the
// true one, exact where levels change hands (powers of two, 1), and the same
// bits whether computed one float at a time or a vector of them at once.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "gfx/soft/soft_log2.h"

namespace
{

typedef float Lanes __attribute__((vector_size(16)));
constexpr int LANES = 4;

float from_bits(uint32_t bits)
{
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// Every positive finite float's bits, in steps that visit each exponent with
// many mantissas, plus both ends.
std::vector<float> sweep()
{
    std::vector<float> values;
    for (uint32_t bits = 1; bits < 0x7F800000u; bits += 4099)
        values.push_back(from_bits(bits));
    values.push_back(std::numeric_limits<float>::denorm_min());
    values.push_back(std::numeric_limits<float>::max());
    return values;
}

} // namespace

TEST(SoftLog2, IsCloseToTheTrueLogarithmAcrossEveryExponent)
{
    for (float x : sweep()) {
        const double truth = std::log2(double(x));
        const double tolerance = std::max(1.0, std::fabs(truth)) * 3.0e-7;
        ASSERT_NEAR(double(soft_log2(x)), truth, tolerance) << "x = " << x;
    }
}

TEST(SoftLog2, IsExactAtPowersOfTwoAndKeepsTheSignAroundOne)
{
    for (int k = -149; k <= 127; ++k)
        ASSERT_EQ(soft_log2(std::ldexp(1.0f, k)), float(k)) << "2^" << k;
    // Magnification is decided by the sign: just below 1 shrinks nothing.
    EXPECT_LT(soft_log2(std::nextafter(1.0f, 0.0f)), 0.0f);
    EXPECT_GT(soft_log2(std::nextafter(1.0f, 2.0f)), 0.0f);
    const float infinity = std::numeric_limits<float>::infinity();
    EXPECT_EQ(soft_log2(infinity), infinity);
}

TEST(SoftLog2, AVectorOfLanesGetsTheBitsOfEachLaneAlone)
{
    const std::vector<float> values = sweep();
    for (size_t start = 0; start + LANES <= values.size(); start += LANES) {
        Lanes x;
        for (int i = 0; i < LANES; ++i)
            x[i] = values[start + size_t(i)];
        const Lanes got = soft_log2(x);
        for (int i = 0; i < LANES; ++i) {
            // A lane has no address of its own with every compiler: copied out.
            const float lane = got[i], alone = soft_log2(x[i]);
            ASSERT_EQ(std::memcmp(&lane, &alone, sizeof alone), 0) << "x = " << x[i];
        }
    }
}
