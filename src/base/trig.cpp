// Argument reduction to [-pi/4, pi/4] by multiples of pi/2 (pi/2 in two
// parts, the first with a short mantissa so that n * part is exact), then
// the Taylor series of sin or cos, summed by Horner's rule. Plain IEEE double
// arithmetic, no fused multiply-add: every build rounds alike.
#include "base/trig.h"

#include <cmath>
#include <cstdint>

namespace
{

constexpr double TWO_OVER_PI = 6.36619772367581382433e-01;
constexpr double PIO2_HIGH = 1.57079632673412561417e+00; // 33 bits of pi/2
constexpr double PIO2_LOW = 6.07710050650619224932e-11;  // pi/2 - PIO2_HIGH

// sin(r) for |r| <= pi/4: the series to r^19 leaves under 1e-21.
double sin_near(double r)
{
    const double z = r * r;
    double p = 1.0 / 121645100408832000.0; // 1/19!
    p = p * -z + 1.0 / 355687428096000.0;  // 1/17!
    p = p * -z + 1.0 / 1307674368000.0;    // 1/15!
    p = p * -z + 1.0 / 6227020800.0;       // 1/13!
    p = p * -z + 1.0 / 39916800.0;         // 1/11!
    p = p * -z + 1.0 / 362880.0;           // 1/9!
    p = p * -z + 1.0 / 5040.0;             // 1/7!
    p = p * -z + 1.0 / 120.0;              // 1/5!
    p = p * -z + 1.0 / 6.0;                // 1/3!
    return r - r * z * p;
}

// cos(r) for |r| <= pi/4: the series to r^20.
double cos_near(double r)
{
    const double z = r * r;
    double p = 1.0 / 2432902008176640000.0; // 1/20!
    p = p * -z + 1.0 / 6402373705728000.0;  // 1/18!
    p = p * -z + 1.0 / 20922789888000.0;    // 1/16!
    p = p * -z + 1.0 / 87178291200.0;       // 1/14!
    p = p * -z + 1.0 / 479001600.0;         // 1/12!
    p = p * -z + 1.0 / 3628800.0;           // 1/10!
    p = p * -z + 1.0 / 40320.0;             // 1/8!
    p = p * -z + 1.0 / 720.0;               // 1/6!
    p = p * -z + 1.0 / 24.0;                // 1/4!
    return 1.0 - z * 0.5 + z * z * p;
}

// x = n * pi/2 + r; the quadrant n modulo 4.
int reduce(double x, double* r)
{
    const double n = std::nearbyint(x * TWO_OVER_PI);
    *r = (x - n * PIO2_HIGH) - n * PIO2_LOW;
    return int(int64_t(n) & 3);
}

} // namespace

double trig_sin(double x)
{
    if (!std::isfinite(x))
        return x - x; // NaN, as the C library gives
    if (x == 0.0)
        return x; // keeps the sign of zero
    if (std::fabs(x) <= 0.785398163397448279)
        return sin_near(x);
    double r;
    switch (reduce(x, &r)) {
    case 0:
        return sin_near(r);
    case 1:
        return cos_near(r);
    case 2:
        return -sin_near(r);
    default:
        return -cos_near(r);
    }
}

double trig_cos(double x)
{
    if (!std::isfinite(x))
        return x - x;
    double r;
    switch (reduce(x, &r)) {
    case 0:
        return cos_near(r);
    case 1:
        return -sin_near(r);
    case 2:
        return -cos_near(r);
    default:
        return sin_near(r);
    }
}

float trig_tanh(float x)
{
    // tanh x = 1 - 2 / (e^2x + 1), odd; e^2x overflows to infinity for large
    // x, which leaves exactly 1.
    float a = x < 0.0f ? -x : x;
    float t = 1.0f - 2.0f / (std::exp(2.0f * a) + 1.0f);
    return x < 0.0f ? -t : t;
}
