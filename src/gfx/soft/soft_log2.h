// The base-2 logarithm the software rasterizers choose mip levels with. It is
// ours rather than the C library's so that the straightforward path and the
// fast one, which computes sixteen lanes at a time, get the same bits from
// the one definition, and so that frames do not depend on which library (or
// which of its builds, with fused multiply-adds or without) happens to run.
//
// One template serves a float and a vector of floats alike (with the
// compiler's vector extensions): only operators, comparisons and selects, in
// a fixed order, which the build keeps from being fused. It has internal
// linkage, as every unit that includes it may be built for another
// instruction set.
#pragma once
#include <cstdint>

namespace
{

template <class F> struct SoftLog2Lanes {
    typedef int32_t Int;
};
template <class F>
requires(sizeof(F) > sizeof(float)) struct SoftLog2Lanes<F> {
    typedef int32_t Int __attribute__((vector_size(sizeof(F))));
};

// log2(x) for x > 0, within about two units in the last place; +infinity
// for +infinity. Zero, negatives and NaN give a value nobody should use (the
// vector caller computes it for such lanes and then discards it).
template <class F> inline F soft_log2(F x)
{
    typedef typename SoftLog2Lanes<F>::Int I;
    constexpr int32_t SMALLEST_NORMAL = 0x00800000, INFINITE = 0x7F800000;
    constexpr int32_t MANTISSA = 0x007FFFFF, ONE = 0x3F800000;
    // Subnormals are scaled by 2^23 into the normal range first (exactly).
    const I sub = __builtin_bit_cast(I, x) < SMALLEST_NORMAL;
    const F y = sub ? x * 8388608.0f : x;
    const I bits = __builtin_bit_cast(I, y);
    I e = (bits >> 23) - 127;
    e = sub ? e - 23 : e;
    // y = m * 2^e with m in [sqrt(1/2), sqrt(2)), where the series is short.
    F m = __builtin_bit_cast(F, (bits & MANTISSA) | ONE);
    const I high = m > 1.41421356f;
    m = high ? m * 0.5f : m;
    e = high ? e + 1 : e;
    // log2(m) = 2 / ln 2 * atanh(t), t = (m - 1) / (m + 1), |t| < 0.172.
    const F t = (m - 1.0f) / (m + 1.0f);
    const F t2 = t * t;
    const F series =
        t * (2.88539008f +
             t2 * (0.961796694f + t2 * (0.577078016f + t2 * (0.412198583f + t2 * 0.320598898f))));
    F whole;
    if constexpr (sizeof(F) == sizeof(float))
        whole = float(e);
    else
        whole = __builtin_convertvector(e, F);
    const F result = whole + series;
    return __builtin_bit_cast(I, x) >= INFINITE ? x : result;
}

} // namespace
