// The body of the fast rasterizer, compiled once per instruction set: the
// file that includes it names the table it fills (SOFT_FAST_TABLE) and is
// built with that set's flags. Everything here has internal linkage and calls
// only compiler builtins, so no code built for one set can be linked into the
// other's callers.
//
// A block is one vector of SOFT_FAST_LANES pixels, 2 x 2 quads side by side:
// 8 x 2 (four quads) in sixteen lanes where the set has 512-bit vectors,
// 4 x 2 in eight lanes with 256-bit ones, one quad in four lanes with 128-bit
// ones; the top row comes first. Every value is
// computed with the float operations of soft_raster.cpp and soft_shade.cpp in
// their order, per lane, so each pixel comes out as the straightforward path
// has it; the build keeps the compiler from fusing multiplies and adds.
#include <cstdint>
#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "gfx/soft/soft_fast.h"
#include "gfx/soft/soft_log2.h"

namespace
{

constexpr int LANES = SOFT_FAST_LANES;
constexpr int WIDTH = LANES / 2; // pixels per row of a block
constexpr int QUADS = WIDTH / 2;
constexpr unsigned FULL = (1u << LANES) - 1; // every lane of a block

typedef float F8 __attribute__((vector_size(LANES * 4)));
typedef int32_t I8 __attribute__((vector_size(LANES * 4)));
typedef uint32_t U8 __attribute__((vector_size(LANES * 4)));

#define SOFT_INLINE inline __attribute__((always_inline))

// The quad a lane belongs to, and the lanes of a quad's corners.
constexpr int quad_of_lane(int lane)
{
    return (lane % WIDTH) / 2;
}
constexpr float BYTE_TO_FLOAT = 1.0f / 255.0f;
constexpr float POINT_NUDGE = 1.0f / 512.0f;

struct C8 {
    F8 r, g, b, a;
};

// Lane i of the result is lane index[i] of v.
SOFT_INLINE F8 shuffle(F8 v, I8 index)
{
#if defined(__clang__)
    F8 out;
    for (int i = 0; i < LANES; ++i)
        out[i] = v[index[i]];
    return out;
#else
    return __builtin_shuffle(v, index);
#endif
}

// A broadcast. (Adding the value to a zero vector would not do: 0 + -0 is +0,
// so the compiler has to keep the addition.)
SOFT_INLINE F8 splat(float v)
{
    F8 first = {v};
    return shuffle(first, I8{});
}

SOFT_INLINE I8 splat_int(int v)
{
    return I8{} + v;
}

// A value per quad, spread over the lanes of that quad.
SOFT_INLINE F8 per_quad(const float (&value)[QUADS])
{
    F8 out;
    for (int i = 0; i < LANES; ++i)
        out[i] = value[quad_of_lane(i)];
    return out;
}

SOFT_INLINE I8 per_quad_int(const int (&value)[QUADS])
{
    I8 out;
    for (int i = 0; i < LANES; ++i)
        out[i] = value[quad_of_lane(i)];
    return out;
}

SOFT_INLINE F8 to_float(I8 v)
{
    return __builtin_convertvector(v, F8);
}

// Truncates toward zero; out-of-range lanes read INT_MIN, as a scalar
// conversion does on this hardware.
SOFT_INLINE I8 to_int(F8 v)
{
    return __builtin_convertvector(v, I8);
}

SOFT_INLINE F8 select(I8 mask, F8 yes, F8 no)
{
    return mask ? yes : no;
}

// v < low ? low : v, and v > high ? high : v. The processor's max and min,
// with the bound as their first operand, compute exactly these comparisons
// (a NaN or a negative zero comes out as the comparisons have it), which the
// compiler may not assume of the plain expressions and so spells out.
SOFT_INLINE F8 at_least(F8 v, float low)
{
#if defined(__AVX512F__) && SOFT_FAST_LANES == 16
    return F8(_mm512_maskz_max_ps(__mmask16(0xFFFF), __m512(splat(low)), __m512(v)));
#elif defined(__AVX__) && SOFT_FAST_LANES == 8
    return F8(_mm256_max_ps(__m256(splat(low)), __m256(v)));
#elif defined(__SSE2__) && SOFT_FAST_LANES == 4
    return F8(_mm_max_ps(__m128(splat(low)), __m128(v)));
#else
    return v < splat(low) ? splat(low) : v;
#endif
}

SOFT_INLINE F8 at_most(F8 v, float high)
{
#if defined(__AVX512F__) && SOFT_FAST_LANES == 16
    return F8(_mm512_maskz_min_ps(__mmask16(0xFFFF), __m512(splat(high)), __m512(v)));
#elif defined(__AVX__) && SOFT_FAST_LANES == 8
    return F8(_mm256_min_ps(__m256(splat(high)), __m256(v)));
#elif defined(__SSE2__) && SOFT_FAST_LANES == 4
    return F8(_mm_min_ps(__m128(splat(high)), __m128(v)));
#else
    return v > splat(high) ? splat(high) : v;
#endif
}

// v < 0 ? 0 : (v > 1 ? 1 : v)
SOFT_INLINE F8 saturate(F8 v)
{
    return at_least(at_most(v, 1.0f), 0.0f);
}

// floor() per lane. Beyond 2^23 every float is whole already.
SOFT_INLINE F8 floor8(F8 x)
{
#if defined(__AVX512F__) && SOFT_FAST_LANES == 16
    // (Rounding keeps the sign of a zero where the conversions lose it; no
    // caller can tell: a zero's sign never reaches a texel index or a colour.)
    return F8(_mm512_maskz_roundscale_ps(__mmask16(0xFFFF), __m512(x),
                                         _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC));
#elif defined(__AVX__) && SOFT_FAST_LANES == 8
    return F8(_mm256_round_ps(__m256(x), _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC));
#else
    F8 t = to_float(to_int(x));
    t = t > x ? t - 1.0f : t;
    return ((x < splat(8388608.0f)) & (x > splat(-8388608.0f))) ? t : x;
#endif
}

SOFT_INLINE unsigned lane_bits(I8 mask)
{
#if defined(__AVX512F__) && SOFT_FAST_LANES == 16
    return unsigned(_mm512_cmplt_epi32_mask(__m512i(mask), _mm512_setzero_si512()));
#elif defined(__AVX2__) && SOFT_FAST_LANES == 8
    return unsigned(_mm256_movemask_ps(_mm256_castsi256_ps(__m256i(mask))));
#elif defined(__SSE2__) && SOFT_FAST_LANES == 4
    return unsigned(_mm_movemask_ps(_mm_castsi128_ps(__m128i(mask))));
#else
    unsigned bits = 0;
    for (int i = 0; i < LANES; ++i)
        bits |= unsigned(mask[i] != 0) << i;
    return bits;
#endif
}

// ---- Sampling --------------------------------------------------------------

// A state the kernel's shape fixes (a constant once inlined), else the draw's.
SOFT_INLINE int fixed_or(int fixed, int value)
{
    return fixed == SOFT_ANY ? value : fixed;
}

// What decides a stage's path through sampling, as SoftFastStage has it, with
// whatever the shape fixes folded in.
struct SampleFlags {
    int address_u, address_v;
    bool mag_linear, min_linear;
    int mip;
    bool has_alpha;
    bool unbiased; // the level-of-detail bias is 0
};

SOFT_INLINE SampleFlags sample_flags(const SoftStageShape& shape, const SoftFastStage& s)
{
    return {fixed_or(shape.address_u, s.address_u),
            fixed_or(shape.address_v, s.address_v),
            fixed_or(shape.mag_linear, s.mag_linear) != 0,
            fixed_or(shape.min_linear, s.min_linear) != 0,
            fixed_or(shape.mip, s.mip),
            fixed_or(shape.has_alpha, s.has_alpha) != 0,
            fixed_or(shape.unbiased, s.lod_bias == 0.0f) != 0};
}

// One level per quad: where its texels are and its size.
struct Levels {
    const uint32_t* texels[QUADS];
    const uint32_t* stacked[QUADS];
    bool shared;     // every quad reads the same level
    bool has_stacks; // every quad's level has stacked rows
    I8 width, height;
    F8 fwidth, fheight;
};

SOFT_INLINE bool level_shared(const int (&level)[QUADS])
{
    for (int q = 1; q < QUADS; ++q)
        if (level[q] != level[0])
            return false;
    return true;
}

SOFT_INLINE Levels levels_of(const SoftFastStage& s, const int (&level)[QUADS])
{
    Levels l;
    if (level_shared(level)) {
        const SoftLevelView& chosen = s.levels[level[0]];
        for (int q = 0; q < QUADS; ++q) {
            l.texels[q] = chosen.texels;
            l.stacked[q] = chosen.stacked;
        }
        l.shared = true;
        l.has_stacks = chosen.stacked != nullptr;
        l.width = splat_int(chosen.width);
        l.height = splat_int(chosen.height);
        l.fwidth = to_float(l.width);
        l.fheight = to_float(l.height);
        return l;
    }
    int width[QUADS], height[QUADS];
    l.shared = true;
    l.has_stacks = true;
    for (int q = 0; q < QUADS; ++q) {
        const SoftLevelView& chosen = s.levels[level[q]];
        l.texels[q] = chosen.texels;
        l.stacked[q] = chosen.stacked;
        l.has_stacks = l.has_stacks && chosen.stacked != nullptr;
        l.shared = l.shared && level[q] == level[0];
        width[q] = chosen.width;
        height[q] = chosen.height;
    }
    l.width = per_quad_int(width);
    l.height = per_quad_int(height);
    l.fwidth = to_float(l.width);
    l.fheight = to_float(l.height);
    return l;
}

// The texel index for one coordinate under a Direct3D addressing mode; -1
// for the border colour.
inline int address_mode(int i, int size, uint32_t mode)
{
    switch (mode) {
    case D3DTADDRESS_CLAMP:
        return i < 0 ? 0 : (i >= size ? size - 1 : i);
    case D3DTADDRESS_MIRROR: {
        int period = 2 * size;
        int m = ((i % period) + period) % period;
        return m < size ? m : period - 1 - m;
    }
    case D3DTADDRESS_BORDER:
        return i < 0 || i >= size ? -1 : i;
    default: // WRAP
        return ((i % size) + size) % size;
    }
}

// Coordinates into a level; lanes that read the border get index 0 and are
// marked in `border`.
SOFT_INLINE I8 address(I8 i, I8 size, int kind, uint32_t mode, I8* border)
{
    if (kind == 0)
        return i & (size - 1);
    if (kind == 1)
        return i < 0 ? I8{} : (i >= size ? size - 1 : i);
    I8 out;
    for (int lane = 0; lane < LANES; ++lane) {
        int a = address_mode(i[lane], size[lane], mode);
        (*border)[lane] |= a < 0 ? -1 : 0;
        out[lane] = a < 0 ? 0 : a;
    }
    return out;
}

SOFT_INLINE U8 gather(const Levels& l, I8 index)
{
#if defined(__AVX512F__) && SOFT_FAST_LANES == 16
    if (l.shared)
        return U8(_mm512_mask_i32gather_epi32(_mm512_setzero_si512(), 0xFFFF, __m512i(index),
                                              l.texels[0], 4));
#elif defined(__AVX2__) && SOFT_FAST_LANES == 8
    if (l.shared)
        return U8(
            _mm256_i32gather_epi32(reinterpret_cast<const int*>(l.texels[0]), __m256i(index), 4));
#endif
    U8 out;
    for (int i = 0; i < LANES; ++i)
        out[i] = l.texels[quad_of_lane(i)][index[i]];
    return out;
}

// One byte of every lane, zero-extended.
template <int Shift> SOFT_INLINE I8 byte_of(U8 t)
{
#if defined(__AVX512BW__) && SOFT_FAST_LANES == 16
    typedef char Bytes __attribute__((vector_size(64)));
    constexpr char B = Shift / 8, Z = -1;
    constexpr Bytes pick = {B, Z, Z, Z, 4 + B, Z, Z, Z, 8 + B, Z, Z, Z, 12 + B, Z, Z, Z,
                            B, Z, Z, Z, 4 + B, Z, Z, Z, 8 + B, Z, Z, Z, 12 + B, Z, Z, Z,
                            B, Z, Z, Z, 4 + B, Z, Z, Z, 8 + B, Z, Z, Z, 12 + B, Z, Z, Z,
                            B, Z, Z, Z, 4 + B, Z, Z, Z, 8 + B, Z, Z, Z, 12 + B, Z, Z, Z};
    return I8(_mm512_shuffle_epi8(__m512i(t), __m512i(pick)));
#elif defined(__AVX2__) && SOFT_FAST_LANES == 8
    // One shuffle instead of a shift and a mask: byte Shift / 8 of each lane
    // to its bottom, zeros above.
    constexpr int B = Shift / 8;
    const __m256i pick =
        _mm256_setr_epi8(B, -1, -1, -1, 4 + B, -1, -1, -1, 8 + B, -1, -1, -1, 12 + B, -1, -1, -1, B,
                         -1, -1, -1, 4 + B, -1, -1, -1, 8 + B, -1, -1, -1, 12 + B, -1, -1, -1);
    return I8(_mm256_shuffle_epi8(__m256i(t), pick));
#else
    return I8((t >> Shift) & 0xFF);
#endif
}

SOFT_INLINE C8 unpack(U8 t, bool alpha)
{
    C8 c;
    c.r = to_float(byte_of<16>(t)) * BYTE_TO_FLOAT;
    c.g = to_float(byte_of<8>(t)) * BYTE_TO_FLOAT;
    c.b = to_float(byte_of<0>(t)) * BYTE_TO_FLOAT;
    c.a = alpha ? to_float(I8(t >> 24)) * BYTE_TO_FLOAT : splat(1.0f);
    return c;
}

// Texels in the colour they filter as, with the border colour where the
// address said so.
SOFT_INLINE C8 texels(const SoftFastStage& s, const SampleFlags& f, U8 t, I8 border, bool alpha)
{
    C8 c = unpack(t, alpha && f.has_alpha);
    if (f.address_u == 2 || f.address_v == 2) {
        c.r = select(border, splat(s.border[0]), c.r);
        c.g = select(border, splat(s.border[1]), c.g);
        c.b = select(border, splat(s.border[2]), c.b);
        c.a = select(border, splat(s.border[3]), c.a);
    }
    return c;
}

SOFT_INLINE C8 fetch(const SoftFastStage& s, const SampleFlags& f, const Levels& l, I8 x, I8 y_row,
                     I8 border, bool alpha)
{
    return texels(s, f, gather(l, y_row + x), border, alpha);
}

// Two horizontally neighbouring texels per lane, read as one 64-bit word:
// half the loads of two gathers. The caller makes sure `index + 1` is the
// next texel of the same row in every lane.
SOFT_INLINE void gather_pairs(const Levels& l, I8 index, U8* left, U8* right)
{
#if defined(__AVX512F__) && SOFT_FAST_LANES == 16
    // Where every quad reads one level, two gathers of eight 64-bit words
    // beat sixteen loads and the inserts that gather them into a vector.
    if (l.shared) {
        const I8 even = {0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30};
        const __m256i first = _mm512_maskz_extracti64x4_epi64(0xF, __m512i(index), 0);
        const __m256i second = _mm512_maskz_extracti64x4_epi64(0xF, __m512i(index), 1);
        __m512i low =
            _mm512_mask_i32gather_epi64(_mm512_setzero_si512(), 0xFF, first, l.texels[0], 4);
        __m512i high =
            _mm512_mask_i32gather_epi64(_mm512_setzero_si512(), 0xFF, second, l.texels[0], 4);
        *left = U8(_mm512_permutex2var_epi32(low, __m512i(even), high));
        *right = U8(_mm512_permutex2var_epi32(low, __m512i(even + 1), high));
        return;
    }
#endif
    // (Unsigned: an index is never negative, and so needs no sign extension.)
    uint32_t at[LANES];
    __builtin_memcpy(at, &index, sizeof at);
#if defined(__AVX512F__) && SOFT_FAST_LANES == 16
    auto pair = [&](int lane) {
        long long word;
        __builtin_memcpy(&word, l.texels[quad_of_lane(lane)] + at[lane], sizeof word);
        return word;
    };
    // Lanes 0-7 and 8-15, each as left, right, left, right ...
    __m512i low =
        _mm512_set_epi64(pair(7), pair(6), pair(5), pair(4), pair(3), pair(2), pair(1), pair(0));
    __m512i high = _mm512_set_epi64(pair(15), pair(14), pair(13), pair(12), pair(11), pair(10),
                                    pair(9), pair(8));
    const I8 even = {0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30};
    *left = U8(_mm512_permutex2var_epi32(low, __m512i(even), high));
    *right = U8(_mm512_permutex2var_epi32(low, __m512i(even + 1), high));
#elif defined(__AVX2__) && SOFT_FAST_LANES == 8
    auto pair = [&](int lane) {
        long long word;
        __builtin_memcpy(&word, l.texels[quad_of_lane(lane)] + at[lane], sizeof word);
        return word;
    };
    // Lanes 0-3 and 4-7, each as left, right, left, right ...
    __m256i low = _mm256_set_epi64x(pair(3), pair(2), pair(1), pair(0));
    __m256i high = _mm256_set_epi64x(pair(7), pair(6), pair(5), pair(4));
    __m256 even = _mm256_shuffle_ps(_mm256_castsi256_ps(low), _mm256_castsi256_ps(high),
                                    _MM_SHUFFLE(2, 0, 2, 0));
    __m256 odd = _mm256_shuffle_ps(_mm256_castsi256_ps(low), _mm256_castsi256_ps(high),
                                   _MM_SHUFFLE(3, 1, 3, 1));
    // The shuffles interleave the two halves; put lanes back in order.
    *left = U8(_mm256_permute4x64_epi64(_mm256_castps_si256(even), _MM_SHUFFLE(3, 1, 2, 0)));
    *right = U8(_mm256_permute4x64_epi64(_mm256_castps_si256(odd), _MM_SHUFFLE(3, 1, 2, 0)));
#else
    for (int i = 0; i < LANES; ++i) {
        uint32_t two[2];
        __builtin_memcpy(two, l.texels[quad_of_lane(i)] + at[i], sizeof two);
        (*left)[i] = two[0];
        (*right)[i] = two[1];
    }
#endif
}

#if !defined(__AVX512F__) || SOFT_FAST_LANES != 16
// The four texels of each lane's bilinear footprint from the level's stacked
// rows: one 16-byte read per lane holds (x, y), (x, y + 1), (x + 1, y) and
// (x + 1, y + 1), in place of two reads of a pair each. `index` is twice the
// footprint's top-left texel index; the caller makes sure the footprint lies
// within the level.
SOFT_INLINE void gather_squares(const Levels& l, I8 index, U8* t00, U8* t10, U8* t01, U8* t11)
{
    uint32_t at[LANES];
    __builtin_memcpy(at, &index, sizeof at);
#if defined(__SSE2__)
    auto square = [&](int lane) {
        return _mm_loadu_si128(
            reinterpret_cast<const __m128i*>(l.stacked[quad_of_lane(lane)] + at[lane]));
    };
#endif
#if defined(__AVX2__) && SOFT_FAST_LANES == 8
    // Lanes i and i + 4 in the halves of one register, then each half's four
    // squares transposed into four taps.
    auto both = [&](int lane) {
        return _mm256_inserti128_si256(_mm256_castsi128_si256(square(lane)), square(lane + 4), 1);
    };
    const __m256i a = both(0), b = both(1), c = both(2), d = both(3);
    const __m256i ab_low = _mm256_unpacklo_epi32(a, b), ab_high = _mm256_unpackhi_epi32(a, b);
    const __m256i cd_low = _mm256_unpacklo_epi32(c, d), cd_high = _mm256_unpackhi_epi32(c, d);
    *t00 = U8(_mm256_unpacklo_epi64(ab_low, cd_low));
    *t01 = U8(_mm256_unpackhi_epi64(ab_low, cd_low));
    *t10 = U8(_mm256_unpacklo_epi64(ab_high, cd_high));
    *t11 = U8(_mm256_unpackhi_epi64(ab_high, cd_high));
#elif defined(__SSE2__) && SOFT_FAST_LANES == 4
    const __m128i a = square(0), b = square(1), c = square(2), d = square(3);
    const __m128i ab_low = _mm_unpacklo_epi32(a, b), ab_high = _mm_unpackhi_epi32(a, b);
    const __m128i cd_low = _mm_unpacklo_epi32(c, d), cd_high = _mm_unpackhi_epi32(c, d);
    *t00 = U8(_mm_unpacklo_epi64(ab_low, cd_low));
    *t01 = U8(_mm_unpackhi_epi64(ab_low, cd_low));
    *t10 = U8(_mm_unpacklo_epi64(ab_high, cd_high));
    *t11 = U8(_mm_unpackhi_epi64(ab_high, cd_high));
#else
    for (int i = 0; i < LANES; ++i) {
        uint32_t four[4];
        __builtin_memcpy(four, l.stacked[quad_of_lane(i)] + at[i], sizeof four);
        (*t00)[i] = four[0];
        (*t01)[i] = four[1];
        (*t10)[i] = four[2];
        (*t11)[i] = four[3];
    }
#endif
}
#endif

#if defined(__AVX512F__) && SOFT_FAST_LANES == 16
// The least of the block's four corner lanes, in every lane. Texture
// coordinates run one way across a block, so that is the least lane but for
// rounding; the caller checks every lane against it, and half the steps of a
// search through all sixteen lie on the path to the texels.
SOFT_INLINE I8 corner_min(I8 v)
{
    auto least = [](I8 a, I8 b) { return a < b ? a : b; };
    v = least(v, __builtin_shuffle(v, I8{8, 9, 10, 11, 12, 13, 14, 15, 0, 1, 2, 3, 4, 5, 6, 7}));
    return least(__builtin_shuffle(v, I8{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
                 __builtin_shuffle(v, I8{7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7}));
}

// Sixteen texels of a level from `start` on, none past its last.
SOFT_INLINE __m512i texel_row(const Levels& l, int total, int start)
{
    int left = total - start;
    __mmask16 valid = left >= 16 ? __mmask16(0xFFFF) : __mmask16((1u << left) - 1);
    return _mm512_maskz_loadu_epi32(valid, l.texels[0] + start);
}

// The four taps of a bilinear footprint from rows of the level, where the
// block's taps lie within sixteen columns and four rows of one level (a
// magnified or barely shrunk texture): a row load for each row they reach
// and permutes in place of the gathers. `x` is the left tap's column (the
// right one is the next), `top` the upper tap's row (the lower one is the
// next).
SOFT_INLINE bool window_fetch(const Levels& l, I8 x, I8 top, U8* t00, U8* t10, U8* t01, U8* t11)
{
    const I8 x_min = corner_min(x), row_min = corner_min(top);
    const I8 dx = x - x_min, dr = top - row_min;
    // Unsigned, so a lane left of or above the corners fails too.
    if (lane_bits(I8((U8(dx) > 14u) | (U8(dr) > 2u))) != 0)
        return false;
    const int width = l.width[0], total = width * l.height[0];
    const int start = row_min[0] * width + x_min[0];
    const __m512i row0 = texel_row(l, total, start), row1 = texel_row(l, total, start + width);
    // Rows past the second are read only where some lane's taps reach them.
    const unsigned lower = lane_bits(dr != 0);
    const __m512i row2 = lower ? texel_row(l, total, start + 2 * width) : row1;
    const I8 up = dx + (dr << 4);
    if (lane_bits(dr > splat_int(1)) == 0) {
        // Upper taps in rows 0 and 1, lower ones in rows 1 and 2.
        *t00 = U8(_mm512_permutex2var_epi32(row0, __m512i(up), row1));
        *t10 = U8(_mm512_permutex2var_epi32(row0, __m512i(up + 1), row1));
        *t01 = U8(_mm512_permutex2var_epi32(row1, __m512i(up), row2));
        *t11 = U8(_mm512_permutex2var_epi32(row1, __m512i(up + 1), row2));
        return true;
    }
    // A tap in row k is entry dx + 16 k of the rows paired as (0, 1) and
    // (2, 3): a permute reads only an entry's low five bits, and the pair is
    // chosen by k >= 2 after both are read.
    const __m512i row3 = texel_row(l, total, start + 3 * width);
    const __mmask16 up_far = __mmask16(lane_bits(dr > splat_int(1)));
    const __mmask16 down_far = __mmask16(lower);
    const I8 down = up + 16;
    auto taps = [&](I8 index, __mmask16 far) {
        __m512i near = _mm512_permutex2var_epi32(row0, __m512i(index), row1);
        __m512i beyond = _mm512_permutex2var_epi32(row2, __m512i(index), row3);
        return U8(_mm512_mask_mov_epi32(near, far, beyond));
    };
    *t00 = taps(up, up_far);
    *t10 = taps(up + 1, up_far);
    *t01 = taps(down, down_far);
    *t11 = taps(down + 1, down_far);
    return true;
}
#endif

SOFT_INLINE F8 mix(F8 a, F8 b, F8 c, F8 d, F8 au, F8 av)
{
    F8 top = a + (b - a) * au, bottom = c + (d - c) * au;
    return top + (bottom - top) * av;
}

// One level per quad, filtered point or linear per quad (`linear` lanes).
// A point sample is the bilinear mix with both weights 0, which returns its
// first texel exactly, so a block whose quads differ is mixed as one.
//
// With `clear` given, a block whose every tap is wholly transparent (alpha
// byte 0) is only reported there, and nothing is filtered: its texel is
// exactly transparent black wherever the block lands.
SOFT_INLINE C8 sample_level(const SoftFastStage& s, const SampleFlags& f, const Levels& l,
                            I8 linear, bool all_linear, bool any_linear, F8 u, F8 v, bool alpha,
                            bool* clear, bool magnified = false)
{
    const F8 tu = u * l.fwidth, tv = v * l.fheight;
    I8 border_x{}, border_y{};
    if (!any_linear) {
        I8 x = to_int(floor8(tu + POINT_NUDGE)), y = to_int(floor8(tv + POINT_NUDGE));
        x = address(x, l.width, f.address_u, s.mode_u, &border_x);
        y = address(y, l.height, f.address_v, s.mode_v, &border_y);
        U8 t = gather(l, y * l.width + x);
        if (clear && lane_bits(I8(t >> 24) != 0) == 0) {
            *clear = true;
            return {F8{}, F8{}, F8{}, F8{}};
        }
        return texels(s, f, t, border_x | border_y, alpha);
    }
    const F8 lu = tu - 0.5f, lv = tv - 0.5f;
    F8 fu = floor8(lu), fv = floor8(lv);
    I8 x0 = to_int(fu), y0 = to_int(fv);
    F8 au = lu - fu, av = lv - fv;
    if (!all_linear) {
        I8 px = to_int(floor8(tu + POINT_NUDGE)), py = to_int(floor8(tv + POINT_NUDGE));
        x0 = linear ? x0 : px;
        y0 = linear ? y0 : py;
        au = select(linear, au, splat(0.0f));
        av = select(linear, av, splat(0.0f));
    }
    I8 bx0{}, bx1{}, by0{}, by1{};
    I8 xa = address(x0, l.width, f.address_u, s.mode_u, &bx0);
    I8 xb = address(x0 + 1, l.width, f.address_u, s.mode_u, &bx1);
    I8 top = address(y0, l.height, f.address_v, s.mode_v, &by0);
    I8 bottom = address(y0 + 1, l.height, f.address_v, s.mode_v, &by1);
    I8 ya = top * l.width, yb = bottom * l.width;
    C8 c00, c10, c01, c11;
    if (lane_bits(xb == xa + 1) == FULL) {
        U8 t00, t10, t01, t11;
#if defined(__AVX512F__) && SOFT_FAST_LANES == 16
        const bool window = l.shared && lane_bits(bottom != top + 1) == 0 &&
                            window_fetch(l, xa, top, &t00, &t10, &t01, &t11);
        const bool squares = false;
        (void)magnified; // the window read serves a shared footprint as well
#else
        const bool window = false;
        const bool squares = l.has_stacks && lane_bits(bottom == top + 1) == FULL;
        if (squares && magnified &&
            lane_bits((xa == splat_int(xa[0])) & (top == splat_int(top[0]))) == FULL) {
            // A magnified texel often spans the block: every lane has the same
            // footprint, read once for all.
            const uint32_t* square = l.stacked[0] + 2 * size_t(ya[0] + xa[0]);
            t00 = U8{} + square[0];
            t01 = U8{} + square[1];
            t10 = U8{} + square[2];
            t11 = U8{} + square[3];
        } else if (squares) {
            gather_squares(l, (ya + xa) << 1, &t00, &t10, &t01, &t11);
        }
#endif
        if (!window && !squares) {
            gather_pairs(l, ya + xa, &t00, &t10);
            gather_pairs(l, yb + xa, &t01, &t11);
        }
        if (clear && lane_bits(I8((t00 | t10 | t01 | t11) >> 24) != 0) == 0) {
            *clear = true;
            return {F8{}, F8{}, F8{}, F8{}};
        }
        c00 = texels(s, f, t00, bx0 | by0, alpha);
        c10 = texels(s, f, t10, bx1 | by0, alpha);
        c01 = texels(s, f, t01, bx0 | by1, alpha);
        c11 = texels(s, f, t11, bx1 | by1, alpha);
    } else {
        c00 = fetch(s, f, l, xa, ya, bx0 | by0, alpha);
        c10 = fetch(s, f, l, xb, ya, bx1 | by0, alpha);
        c01 = fetch(s, f, l, xa, yb, bx0 | by1, alpha);
        c11 = fetch(s, f, l, xb, yb, bx1 | by1, alpha);
    }
    C8 c;
    c.r = mix(c00.r, c10.r, c01.r, c11.r, au, av);
    c.g = mix(c00.g, c10.g, c01.g, c11.g, au, av);
    c.b = mix(c00.b, c10.b, c01.b, c11.b, au, av);
    c.a = alpha ? mix(c00.a, c10.a, c01.a, c11.a, au, av) : splat(1.0f);
    return c;
}

// The levels one quad reads and how.
struct QuadLevels {
    int first, second; // equal when one level is read
    float fraction;    // weight of the second level
    bool linear;
};

// Mip selection from a quad's level of detail.
SOFT_INLINE QuadLevels choose_levels(const SoftFastStage& s, const SampleFlags& f, float lambda)
{
    if (!f.unbiased)
        lambda += s.lod_bias;
    if (!(lambda > 0.0f)) // magnification (and NaN)
        return {s.base, s.base, 0.0f, f.mag_linear};
    bool linear = f.min_linear;
    if (f.mip == 0 || s.base == s.last)
        return {s.base, s.base, 0.0f, linear};
    if (f.mip == 1) {
        // The level of detail of a finite quad is below 64; the bound keeps an
        // infinite one from reaching the integer conversion.
        float nearest = __builtin_floorf((lambda < 64.0f ? lambda : 64.0f) + 0.5f);
        int level = s.base + int(nearest);
        level = level < s.last ? level : s.last;
        return {level, level, 0.0f, linear};
    }
    float whole = __builtin_floorf(lambda);
    int level = s.base + int(whole > 30.0f ? 30.0f : whole);
    if (level >= s.last)
        return {s.last, s.last, 0.0f, linear};
    return {level, level + 1, lambda - whole, linear};
}

// Lane i's quad corner: top-left, top-right or bottom-left.
SOFT_INLINE I8 corner_lanes(int dx, int dy)
{
    I8 out;
    for (int i = 0; i < LANES; ++i)
        out[i] = 2 * quad_of_lane(i) + dx + dy * WIDTH;
    return out;
}

// Per quad, in each of its lanes: the square of the texels one pixel step
// covers, from the quad's differences, computed for all quads at once.
SOFT_INLINE F8 texel_step(const SoftFastStage& s, F8 u, F8 v)
{
    const I8 left = corner_lanes(0, 0), right = corner_lanes(1, 0), below = corner_lanes(0, 1);
    const F8 width = splat(s.top_width), height = splat(s.top_height);
    F8 u0 = shuffle(u, left), v0 = shuffle(v, left);
    F8 dudx = (shuffle(u, right) - u0) * width;
    F8 dvdx = (shuffle(v, right) - v0) * height;
    F8 dudy = (shuffle(u, below) - u0) * width;
    F8 dvdy = (shuffle(v, below) - v0) * height;
    F8 across = dudx * dudx + dvdx * dvdx, down = dudy * dudy + dvdy * dvdy;
    return across < down ? down : across;
}

// Per quad: log2 of the texels one pixel step covers, the quads at once in
// a short vector (a full block's worth would only repeat them).
SOFT_INLINE void levels_of_detail(F8 rho, float (&lambda)[QUADS])
{
    typedef float F4 __attribute__((vector_size(16)));
    F4 r = {1.0f, 1.0f, 1.0f, 1.0f};
    for (int q = 0; q < QUADS; ++q)
        r[q] = rho[2 * q];
    const F4 half_log = 0.5f * soft_log2(r);
    for (int q = 0; q < QUADS; ++q)
        lambda[q] = r[q] > 0.0f ? half_log[q] : -100.0f;
}

// NaN or runaway coordinates sample somewhere defined.
SOFT_INLINE void keep_sane(F8* u, F8* v)
{
    I8 sane =
        (*u > splat(-1e30f)) & (*u < splat(1e30f)) & (*v > splat(-1e30f)) & (*v < splat(1e30f));
    *u = select(sane, *u, splat(0.0f));
    *v = select(sane, *v, splat(0.0f));
}

// `clear` as for sample_level, where the stage reads a single level.
// `proven`: every quad is known to be magnified, with coordinates far below
// where keep_sane steps in (magnified_throughout).
SOFT_INLINE C8 sample_stage(const SoftFastStage& s, const SampleFlags& f, F8 u, F8 v, bool alpha,
                            bool* clear, bool proven = false)
{
    const bool known = f.unbiased && proven;
    F8 rho = known ? F8{} : texel_step(s, u, v);
    if (f.unbiased && (known || lane_bits(rho > splat(1.0f)) == 0)) {
        // Every quad magnified (the level of detail is at most 0): the top
        // level through the magnification filter, as choose_levels has it.
        if (!known)
            keep_sane(&u, &v);
        int base[QUADS];
        for (int q = 0; q < QUADS; ++q)
            base[q] = s.base;
        bool linear = f.mag_linear;
        return sample_level(s, f, levels_of(s, base), splat_int(linear ? -1 : 0), linear, linear, u,
                            v, alpha, clear, true);
    }
    int first[QUADS], second[QUADS], linear_lanes[QUADS];
    float fraction[QUADS];
    bool all_linear = true, any_linear = false, one_level = true;
    float lambda[QUADS];
    levels_of_detail(rho, lambda);
    for (int q = 0; q < QUADS; ++q) {
        QuadLevels chosen = choose_levels(s, f, lambda[q]);
        first[q] = chosen.first;
        second[q] = chosen.second;
        fraction[q] = chosen.fraction;
        linear_lanes[q] = chosen.linear ? -1 : 0;
        all_linear = all_linear && chosen.linear;
        any_linear = any_linear || chosen.linear;
        one_level = one_level && chosen.first == chosen.second;
    }
    keep_sane(&u, &v);

    I8 linear = per_quad_int(linear_lanes);
    C8 c = sample_level(s, f, levels_of(s, first), linear, all_linear, any_linear, u, v, alpha,
                        one_level ? clear : nullptr);
    if (one_level)
        return c;
    // A quad that reads one level reads it twice and mixes by 0: exactly it.
    C8 d = sample_level(s, f, levels_of(s, second), linear, all_linear, any_linear, u, v, alpha,
                        nullptr);
    F8 t = per_quad(fraction);
    c.r = c.r + (d.r - c.r) * t;
    c.g = c.g + (d.g - c.g) * t;
    c.b = c.b + (d.b - c.b) * t;
    c.a = c.a + (d.a - c.a) * t;
    return c;
}

// A word of `words` per lane.
SOFT_INLINE U8 gather_words(const uint32_t* words, I8 index)
{
#if defined(__AVX512F__) && SOFT_FAST_LANES == 16
    return U8(
        _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), 0xFFFF, __m512i(index), words, 4));
#elif defined(__AVX2__) && SOFT_FAST_LANES == 8
    return U8(_mm256_i32gather_epi32(reinterpret_cast<const int*>(words), __m256i(index), 4));
#else
    U8 out;
    for (int i = 0; i < LANES; ++i)
        out[i] = words[index[i]];
    return out;
#endif
}

// A texture's clear cells (SoftTexture::clear_cells) spread over the lanes,
// once for all of a triangle's blocks.
struct CellGrid {
    const uint32_t* words;
    F8 columns, rows;
    I8 last_column, last_row;
    int shift; // log2 of the columns
};

SOFT_INLINE CellGrid cell_grid(const SoftFastStage& s)
{
    const int columns = 1 << s.cells_shift;
    return {s.clear_cells,          splat(float(columns)),       splat(float(s.cells_rows)),
            splat_int(columns - 1), splat_int(s.cells_rows - 1), s.cells_shift};
}

// Whether every lane's sample reads only transparent texels, by the
// texture's clear cells, where the block is magnified and so reads level 0
// (the cells' level). The lane's cell is floor(u * 2 * width), and u * width
// is what sampling scales, exactly, as the sides are powers of two. Lanes past
// 2^21 texels, where subtracting the half texel of the bilinear footprint
// might round, and NaN ones are left to sampling. `proven`: both are known
// of every lane already (magnified_throughout).
SOFT_INLINE bool cells_clear(const SoftFastStage& s, const SampleFlags& f, const CellGrid& g, F8 u,
                             F8 v, bool proven)
{
    if (!f.unbiased)
        return false;
    if (!proven && lane_bits(texel_step(s, u, v) > splat(1.0f)) != 0)
        return false;
    const F8 cu = u * g.columns, cv = v * g.rows;
    if (!proven) {
        const F8 limit = splat(4194304.0f);
        const I8 magnitude = splat_int(0x7FFFFFFF);
        I8 sane = (F8(I8(cu) & magnitude) < limit) & (F8(I8(cv) & magnitude) < limit);
        if (lane_bits(sane) != FULL)
            return false;
    }
    I8 x = to_int(floor8(cu)) & g.last_column, y = to_int(floor8(cv)) & g.last_row;
    U8 cell = U8((y << g.shift) | x);
    U8 words = gather_words(g.words, I8(cell >> 5));
    return lane_bits(I8((words >> (cell & 31)) & 1) != 0) == FULL;
}

// ---- Stages, fog and blending -----------------------------------------------

SOFT_INLINE C8 splat_colour(float r, float g, float b, float a)
{
    return {splat(r), splat(g), splat(b), splat(a)};
}

SOFT_INLINE C8 argument(unsigned arg, const C8& diffuse, const C8& current, const C8& texel)
{
    C8 c;
    switch (arg & D3DTA_SELECTMASK) {
    case D3DTA_DIFFUSE:
        c = diffuse;
        break;
    case D3DTA_CURRENT:
        c = current;
        break;
    case D3DTA_TEXTURE:
        c = texel;
        break;
    case D3DTA_TFACTOR:
        c = splat_colour(1.0f, 1.0f, 1.0f, 1.0f);
        break;
    default:
        c = splat_colour(0.0f, 0.0f, 0.0f, 0.0f);
        break;
    }
    if (arg & D3DTA_COMPLEMENT)
        c = {1.0f - c.r, 1.0f - c.g, 1.0f - c.b, 1.0f - c.a};
    if (arg & D3DTA_ALPHAREPLICATE)
        c.r = c.g = c.b = c.a;
    return c;
}

SOFT_INLINE F8 operate(unsigned op, F8 a1, F8 a2)
{
    switch (op) {
    case D3DTOP_SELECTARG1:
        return a1;
    case D3DTOP_SELECTARG2:
        return a2;
    case D3DTOP_MODULATE2X:
        return saturate(2.0f * a1 * a2);
    case D3DTOP_MODULATE4X:
        return saturate(4.0f * a1 * a2);
    case D3DTOP_ADD:
        return saturate(a1 + a2);
    case D3DTOP_ADDSIGNED:
        return saturate(a1 + a2 - 0.5f);
    default: // MODULATE
        return a1 * a2;
    }
}

// Every stage result is saturated; the operations that saturate on their own
// need no second pass.
SOFT_INLINE F8 saturate_result(unsigned op, F8 v)
{
    switch (op) {
    case D3DTOP_MODULATE2X:
    case D3DTOP_MODULATE4X:
    case D3DTOP_ADD:
    case D3DTOP_ADDSIGNED:
        return v;
    default:
        return saturate(v);
    }
}

SOFT_INLINE C8 blend_factor(unsigned factor, const C8& src, const C8& dst)
{
    switch (factor) {
    case D3DBLEND_ZERO:
        return splat_colour(0.0f, 0.0f, 0.0f, 0.0f);
    case D3DBLEND_SRCCOLOR:
        return src;
    case D3DBLEND_INVSRCCOLOR:
        return {1.0f - src.r, 1.0f - src.g, 1.0f - src.b, 1.0f - src.a};
    case D3DBLEND_SRCALPHA:
        return {src.a, src.a, src.a, src.a};
    case D3DBLEND_INVSRCALPHA: {
        F8 f = 1.0f - src.a;
        return {f, f, f, f};
    }
    case D3DBLEND_DESTALPHA:
        return {dst.a, dst.a, dst.a, dst.a};
    case D3DBLEND_INVDESTALPHA: {
        F8 f = 1.0f - dst.a;
        return {f, f, f, f};
    }
    case D3DBLEND_DESTCOLOR:
        return dst;
    case D3DBLEND_INVDESTCOLOR:
        return {1.0f - dst.r, 1.0f - dst.g, 1.0f - dst.b, 1.0f - dst.a};
    default: // ONE
        return splat_colour(1.0f, 1.0f, 1.0f, 1.0f);
    }
}

SOFT_INLINE F8 fog_factor(const SoftFastDraw& draw, int mode, F8 depth)
{
    const FfParams& p = draw.context.draw.params;
    switch (mode) {
    case D3DFOG_EXP:
    case D3DFOG_EXP2: {
        bool squared = mode == D3DFOG_EXP2;
        F8 f;
        for (int i = 0; i < LANES; ++i) {
            float d = depth[i] * p.fog_density;
            f[i] = squared ? __builtin_expf(-d * d) : __builtin_expf(-depth[i] * p.fog_density);
        }
        return saturate(f);
    }
    default:
        if (!(draw.fog_range > 0.0f))
            return select(depth < splat(p.fog_end), splat(1.0f), splat(0.0f));
        return saturate((p.fog_end - depth) / draw.fog_range);
    }
}

SOFT_INLINE I8 depth_value(F8 z)
{
    z = saturate(z);
    return to_int(z * 65535.0f + 0.5f) & 0xFFFF;
}

SOFT_INLINE I8 depth_passes(unsigned func, I8 incoming, I8 stored)
{
    switch (func) {
    case D3DCMP_NEVER:
        return I8{};
    case D3DCMP_LESS:
        return incoming < stored;
    case D3DCMP_EQUAL:
        return incoming == stored;
    case D3DCMP_LESSEQUAL:
        return incoming <= stored;
    case D3DCMP_GREATER:
        return incoming > stored;
    case D3DCMP_NOTEQUAL:
        return incoming != stored;
    case D3DCMP_GREATEREQUAL:
        return incoming >= stored;
    default:
        return splat_int(-1);
    }
}

SOFT_INLINE I8 to_byte(F8 v)
{
    v = saturate(v);
    return to_int(v * 255.0f + 0.5f) & 0xFF;
}

// ---- The block ---------------------------------------------------------------

SOFT_INLINE F8 lane_x()
{
    F8 out;
    for (int i = 0; i < LANES; ++i)
        out[i] = float(i % WIDTH);
    return out;
}

SOFT_INLINE F8 lane_y()
{
    F8 out;
    for (int i = 0; i < LANES; ++i)
        out[i] = float(i / WIDTH);
    return out;
}

// A triangle's planes, spread over the lanes once for all its blocks.
struct PlaneLanes {
    F8 c, dx, dy;
};

struct TrianglePlanes {
    PlaneLanes z, inv_w, attr_w[SOFT_ATTRS];
    bool keeps_clear; // see keeps_where_clear
    // Per stage, see magnified_throughout: over the tile's part.
    bool magnified[FF_STAGES];
};

SOFT_INLINE PlaneLanes plane_lanes(const SoftPlane& p)
{
    return {splat(p.c), splat(p.dx), splat(p.dy)};
}

SOFT_INLINE F8 plane_at(const PlaneLanes& p, F8 x, F8 y)
{
    return p.c + p.dx * x + p.dy * y;
}

// Loads and stores of a block's pixels in the tile's buffers.
#if defined(__AVX512BW__) && defined(__AVX512VL__) && SOFT_FAST_LANES == 16
// With AVX-512 a block is two masked loads or stores of the whole vector: the
// second row's lanes are addressed from WIDTH elements before that row, so
// each lands in its own half. Lanes outside the mask are neither read nor
// written, so they cannot fault; and nothing passes through memory on the
// way, which would stall on a store that cannot be forwarded to the load.
template <class T> SOFT_INLINE const void* second_row_base(const T* row1)
{
    return reinterpret_cast<const void*>(uintptr_t(row1) - WIDTH * sizeof(T));
}

template <class T> SOFT_INLINE void* second_row_base(T* row1)
{
    return reinterpret_cast<void*>(uintptr_t(row1) - WIDTH * sizeof(T));
}

constexpr unsigned TOP_ROW = (1u << WIDTH) - 1;

SOFT_INLINE I8 load_block(const uint16_t* row0, const uint16_t* row1, unsigned mask)
{
    __m256i both = _mm256_maskz_loadu_epi16(__mmask16(mask & TOP_ROW), row0);
    both = _mm256_mask_loadu_epi16(both, __mmask16(mask & ~TOP_ROW), second_row_base(row1));
    return I8(_mm512_maskz_cvtepu16_epi32(__mmask16(0xFFFF), both));
}

SOFT_INLINE I8 load_block(const uint32_t* row0, const uint32_t* row1, unsigned mask)
{
    __m512i both = _mm512_maskz_loadu_epi32(__mmask16(mask & TOP_ROW), row0);
    return I8(_mm512_mask_loadu_epi32(both, __mmask16(mask & ~TOP_ROW), second_row_base(row1)));
}

SOFT_INLINE void store_block(uint16_t* row0, uint16_t* row1, unsigned mask, I8 values)
{
    __m256i both = _mm512_maskz_cvtepi32_epi16(__mmask16(0xFFFF), __m512i(values));
    _mm256_mask_storeu_epi16(row0, __mmask16(mask & TOP_ROW), both);
    _mm256_mask_storeu_epi16(second_row_base(row1), __mmask16(mask & ~TOP_ROW), both);
}

SOFT_INLINE void store_block(uint32_t* row0, uint32_t* row1, unsigned mask, I8 values)
{
    _mm512_mask_storeu_epi32(row0, __mmask16(mask & TOP_ROW), __m512i(values));
    _mm512_mask_storeu_epi32(second_row_base(row1), __mmask16(mask & ~TOP_ROW), __m512i(values));
}
#else
#if defined(__AVX2__) && SOFT_FAST_LANES == 8
// A whole 4 x 2 block with AVX2: a load or store per row, the rows joined in
// registers. (Element by element the compiler joins them through the stack,
// and the wide load that reads them back waits for the narrow stores.)
SOFT_INLINE I8 load_rows(const uint32_t* row0, const uint32_t* row1)
{
    const __m128i top = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row0));
    const __m128i bottom = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row1));
    return I8(_mm256_inserti128_si256(_mm256_castsi128_si256(top), bottom, 1));
}

SOFT_INLINE I8 load_rows(const uint16_t* row0, const uint16_t* row1)
{
    const __m128i top = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row0));
    const __m128i bottom = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row1));
    return I8(_mm256_cvtepu16_epi32(_mm_unpacklo_epi64(top, bottom)));
}

SOFT_INLINE void store_rows(uint32_t* row0, uint32_t* row1, I8 values)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(row0), _mm256_castsi256_si128(__m256i(values)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(row1),
                     _mm256_extracti128_si256(__m256i(values), 1));
}

SOFT_INLINE void store_rows(uint16_t* row0, uint16_t* row1, I8 values)
{
    // The low half of every lane, each row's four in the low eight bytes.
    const __m256i low_halves =
        _mm256_setr_epi8(0, 1, 4, 5, 8, 9, 12, 13, -1, -1, -1, -1, -1, -1, -1, -1, 0, 1, 4, 5, 8, 9,
                         12, 13, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m256i packed = _mm256_shuffle_epi8(__m256i(values), low_halves);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(row0), _mm256_castsi256_si128(packed));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(row1), _mm256_extracti128_si256(packed, 1));
}
#else
template <class T> SOFT_INLINE I8 load_rows(const T* row0, const T* row1)
{
    I8 out;
    for (int i = 0; i < WIDTH; ++i) {
        out[i] = int32_t(row0[i]);
        out[i + WIDTH] = int32_t(row1[i]);
    }
    return out;
}

template <class T> SOFT_INLINE void store_rows(T* row0, T* row1, I8 values)
{
    for (int i = 0; i < WIDTH; ++i) {
        row0[i] = T(values[i]);
        row1[i] = T(values[i + WIDTH]);
    }
}
#endif

#endif

// Loads and stores of a block's covered lanes (`mask`). The tile's buffers
// are the thread's own and hold the whole block (SoftTile), so the other
// lanes may be read, and written back as they were: a row at a time, not
// lane by lane behind a branch each. (AVX-512 masks its loads and stores.)
SOFT_INLINE I8 lane_mask(unsigned mask)
{
    I8 bit;
    for (int i = 0; i < LANES; ++i)
        bit[i] = int32_t(1u << i);
    return (splat_int(int32_t(mask)) & bit) != 0;
}

template <class T> SOFT_INLINE I8 load_lanes(const T* row0, const T* row1, unsigned mask)
{
#if defined(__AVX512BW__) && defined(__AVX512VL__) && SOFT_FAST_LANES == 16
    return load_block(row0, row1, mask);
#else
    (void)mask;
    return load_rows(row0, row1);
#endif
}

template <class T> SOFT_INLINE void store_lanes(T* row0, T* row1, unsigned mask, I8 values)
{
#if defined(__AVX512BW__) && defined(__AVX512VL__) && SOFT_FAST_LANES == 16
    store_block(row0, row1, mask, values);
#else
    if (mask != FULL)
        values = lane_mask(mask) ? values : load_rows(row0, row1);
    store_rows(row0, row1, values);
#endif
}

// A destination byte read back as a colour and written again as one is the
// same byte, so a pixel blended with nothing comes out as it was.
constexpr bool bytes_survive_blending()
{
    for (int b = 0; b < 256; ++b) {
        float v = float(b) * BYTE_TO_FLOAT;
        if (int(v * 255.0f + 0.5f) != b)
            return false;
    }
    return true;
}
static_assert(bytes_survive_blending());

SOFT_INLINE bool finite_value(float v)
{
    return v > -3.4e38f && v < 3.4e38f;
}

// The depth and w of every lane are ordinary numbers, so the fogged colour of
// a transparent pixel is too (anything times 0 is then 0, never NaN).
SOFT_INLINE bool finite_lanes(F8 z, F8 w)
{
    const F8 big = splat(3.4e38f);
    I8 bad = ~((z > -big) & (z < big) & (w > -big) & (w < big));
    return lane_bits(bad) == 0;
}

SOFT_INLINE double larger(double a, double b)
{
    return a > b ? a : b;
}

// Whether every lane in [x0, x1] x [y0, y1] (pixel coordinates, as the planes
// take them) is sure to sample stage `s` magnified, with w positive and
// finite, depth finite and the stage's coordinates within 2^20 texels (half
// what cells_clear allows): true lets a draw skip those tests block by
// block. A bound, not a measure, with room for the rounding of the lanes'
// float arithmetic; false where unsure.
//
// The planes give u = a / q (a the coordinate's plane over w, q that of 1 /
// w). With q > 0 over the rectangle, du/dx = ((a.dx q.dy - q.dx a.dy) y +
// a.dx q.c - q.dx a.c) / q^2 is largest at a corner, as is |a|, and q is
// least at one; so is dv/dx, and d/dy likewise in x. A quad's step between
// neighbouring lanes is within those, give or take the lanes' rounding.
SOFT_INLINE bool magnified_throughout(const TriangleSetup& t, const SoftFastStage& s, int x0,
                                      int y0, int x1, int y1)
{
    const double xs[2] = {double(x0), double(x1)}, ys[2] = {double(y0), double(y1)};
    const double reach_x = larger(__builtin_fabs(xs[0]), __builtin_fabs(xs[1]));
    const double reach_y = larger(__builtin_fabs(ys[0]), __builtin_fabs(ys[1]));
    // A plane's float value is within ROUNDING times its terms' magnitude.
    constexpr double ROUNDING = 1.0 / (1 << 20);
    auto magnitude = [&](const SoftPlane& p) {
        return __builtin_fabs(p.c) + __builtin_fabs(p.dx) * reach_x +
               __builtin_fabs(p.dy) * reach_y;
    };
    auto at = [](const SoftPlane& p, double x, double y) { return p.c + p.dx * x + p.dy * y; };
    const SoftPlane& q = t.inv_w;
    if (!(magnitude(t.z) < 1e37))
        return false;
    double q_least = at(q, xs[0], ys[0]);
    for (double y : ys)
        for (double x : xs)
            q_least = at(q, x, y) < q_least ? at(q, x, y) : q_least;
    const double q_error = ROUNDING * magnitude(q);
    const double q_low = q_least - q_error; // the least a lane's float 1 / w can be
    if (!(q_low > 1e-30))
        return false;
    const float size[2] = {s.top_width, s.top_height};
    double step_x[2], step_y[2]; // the most texels a pixel step covers, per axis
    for (int k = 0; k < 2; ++k) {
        const SoftPlane& a = t.attr_w[s.coord + k];
        double a_most = 0.0;
        for (double y : ys)
            for (double x : xs)
                a_most = larger(a_most, __builtin_fabs(at(a, x, y)));
        const double a_error = ROUNDING * magnitude(a);
        const double most = (a_most + a_error) / q_low;
        // How far a lane's coordinate can be from the exact quotient.
        const double error = (a_error + a_most * q_error / q_least) / q_low + most * ROUNDING;
        if (!(most * 2.0 * double(size[k]) < 2097152.0))
            return false;
        const double along_x = double(a.dx) * q.dy - double(q.dx) * a.dy;
        const double at_x = double(a.dx) * q.c - double(q.dx) * a.c;
        const double along_y = double(a.dy) * q.dx - double(q.dy) * a.dx;
        const double at_y = double(a.dy) * q.c - double(q.dy) * a.c;
        const double dx_most =
            larger(__builtin_fabs(along_x * ys[0] + at_x), __builtin_fabs(along_x * ys[1] + at_x));
        const double dy_most =
            larger(__builtin_fabs(along_y * xs[0] + at_y), __builtin_fabs(along_y * xs[1] + at_y));
        step_x[k] = (dx_most / (q_least * q_least) + 2.0 * error) * size[k];
        step_y[k] = (dy_most / (q_least * q_least) + 2.0 * error) * size[k];
    }
    const double across = step_x[0] * step_x[0] + step_x[1] * step_x[1];
    const double down = step_y[0] * step_y[0] + step_y[1] * step_y[1];
    // Well short of 1, where a quad turns minified: the float squares and
    // sums round up by far less.
    return larger(across, down) < 0.99;
}

// Whether a one-stage draw leaves the target as it is wherever its texture is
// wholly transparent: blended by the source alpha, with the stage's alpha 0
// exactly when the texel's is, and every colour it could mix in finite. The
// kernel then skips filtering, fog and blending for such blocks.
SOFT_INLINE bool keeps_where_clear(const SoftFastDraw& draw)
{
    const FfKey& key = draw.context.draw.key;
    const FfStage& st = key.stage[0];
    const SoftFastStage& s = draw.stage[0];
    if (key.src_blend != D3DBLEND_SRCALPHA || key.dst_blend != D3DBLEND_INVSRCALPHA ||
        !draw.need_alpha || !st.sampled || !s.has_alpha || s.address_u == 2 || s.address_v == 2 ||
        !finite_value(draw.diffuse))
        return false;
    const FfParams& p = draw.context.draw.params;
    for (float c : p.fog_colour)
        if (!finite_value(c))
            return false;
    const C8 diffuse = splat_colour(draw.diffuse, draw.diffuse, draw.diffuse, draw.diffuse);
    const C8 clear = splat_colour(0.0f, 0.0f, 0.0f, 0.0f);
    F8 a = diffuse.a;
    if (st.alpha_op != D3DTOP_DISABLE) {
        C8 a1 = argument(st.alpha_arg1, diffuse, diffuse, clear);
        C8 a2 = argument(st.alpha_arg2, diffuse, diffuse, clear);
        a = saturate_result(st.alpha_op, operate(st.alpha_op, a1.a, a2.a));
    }
    return a[0] == 0.0f;
}

// Whether the clear cells of a draw without depth show that the block at
// (bx, by) keeps the target (see shade_block); if so it is kept.
template <SoftDrawShape Shape>
SOFT_INLINE bool kept_clear(const SoftFastDraw& draw, const SoftTile& tile, const TrianglePlanes& t,
                            const CellGrid& grid, int bx, int by, unsigned mask)
{
    const FfKey& key = draw.context.draw.key;
    const size_t row0 = size_t(by - tile.y0) * size_t(tile.pitch) + size_t(bx - tile.x0);
    const size_t row1 = row0 + size_t(tile.pitch);
    const F8 fx = splat(float(bx)) + lane_x(), fy = splat(float(by)) + lane_y();
    F8 z{};
    if (Shape.fog && !fixed_or(Shape.fog_on_eye_depth, key.fog_on_eye_depth))
        z = plane_at(t.z, fx, fy);
    F8 inv_w = plane_at(t.inv_w, fx, fy);
    F8 w = select(inv_w != splat(0.0f), 1.0f / inv_w, splat(0.0f));
    const SoftFastStage& sampler = draw.stage[0];
    F8 u = plane_at(t.attr_w[sampler.coord], fx, fy) * w;
    F8 v = plane_at(t.attr_w[sampler.coord + 1], fx, fy) * w;
    if (!cells_clear(sampler, sample_flags(Shape.stage[0], sampler), grid, u, v, t.magnified[0]) ||
        !(t.magnified[0] || finite_lanes(z, w)))
        return false;
    uint32_t* colour0 = tile.colour + row0;
    uint32_t* colour1 = tile.colour + row1;
    store_lanes(colour0, colour1, mask,
                load_lanes(colour0, colour1, mask) | splat_int(int32_t(0xFF000000u)));
    return true;
}

template <SoftDrawShape Shape>
void shade_block(const SoftFastDraw& draw, const SoftTile& tile, const TrianglePlanes& t, int bx,
                 int by, unsigned mask)
{
    constexpr int Stages = Shape.stages;
    constexpr bool Fog = Shape.fog, Blend = Shape.blend, DepthTest = Shape.depth_test;
    const FfKey& key = draw.context.draw.key;
    const bool depth_write = fixed_or(Shape.depth_write, key.depth_write) != 0;
    const bool fog_on_eye_depth = fixed_or(Shape.fog_on_eye_depth, key.fog_on_eye_depth) != 0;
    const size_t row0 = size_t(by - tile.y0) * size_t(tile.pitch) + size_t(bx - tile.x0);
    const size_t row1 = row0 + size_t(tile.pitch);
    const F8 fx = splat(float(bx)) + lane_x(), fy = splat(float(by)) + lane_y();

    // Depth first: a block wholly behind what is drawn costs nothing more.
    const bool depth_used = DepthTest || depth_write;
    const bool z_used = depth_used || (Fog && !fog_on_eye_depth);
    F8 z{};
    I8 depth{};
    if (z_used)
        z = plane_at(t.z, fx, fy);
    if (depth_used)
        depth = depth_value(z);
    if (DepthTest) {
        I8 stored = load_lanes(tile.depth + row0, tile.depth + row1, mask);
        mask &= lane_bits(depth_passes(fixed_or(Shape.depth_func, key.depth_func), depth, stored));
        if (!mask)
            return;
    }

    F8 inv_w = plane_at(t.inv_w, fx, fy);
    F8 w = select(inv_w != splat(0.0f), 1.0f / inv_w, splat(0.0f));

    const bool alpha = fixed_or(Shape.need_alpha, draw.need_alpha) != 0;
    const float diffuse_value = Shape.lit == SOFT_ANY ? draw.diffuse : (Shape.lit ? 0.0f : 1.0f);
    const C8 diffuse = splat_colour(diffuse_value, diffuse_value, diffuse_value, diffuse_value);
    C8 current = diffuse;
    uint32_t* colour0 = tile.colour + row0;
    uint32_t* colour1 = tile.colour + row1;
    // (Unrolled, so that each stage's fixed states are constants.)
#pragma GCC unroll 2
    for (int s = 0; s < Stages; ++s) {
        const FfStage& st = key.stage[s];
        const SoftStageShape& fixed = Shape.stage[s];
        C8 texel = splat_colour(0.0f, 0.0f, 0.0f, 1.0f);
        if (fixed_or(fixed.sampled, st.sampled)) {
            const SoftFastStage& sampler = draw.stage[s];
            const SampleFlags flags = sample_flags(fixed, sampler);
            F8 u = plane_at(t.attr_w[sampler.coord], fx, fy) * w;
            F8 v = plane_at(t.attr_w[sampler.coord + 1], fx, fy) * w;
            bool clear = false;
            const bool may_keep = Stages == 1 && Blend && t.keeps_clear;
            const bool proven = t.magnified[s];
            texel = sample_stage(sampler, flags, u, v, alpha, may_keep ? &clear : nullptr, proven);
            if (clear && !proven && !finite_lanes(z, w)) {
                // Fog could make something of the transparent texel there:
                // the block is shaded in full after all. (Checked only here,
                // as it hardly ever fails.)
                clear = false;
                texel = sample_stage(sampler, flags, u, v, alpha, nullptr);
            }
            if (clear) {
                // Every pixel keeps what is under it, rewritten as the blend
                // would write it back (keeps_where_clear).
                I8 kept = load_lanes(colour0, colour1, mask) | splat_int(int32_t(0xFF000000u));
                store_lanes(colour0, colour1, mask, kept);
                if (depth_write)
                    store_lanes(tile.depth + row0, tile.depth + row1, mask, depth);
                return;
            }
        }
        const unsigned colour_op = unsigned(fixed_or(fixed.colour_op, st.colour_op));
        C8 c1 = argument(unsigned(fixed_or(fixed.colour_arg1, st.colour_arg1)), diffuse, current,
                         texel);
        C8 c2 = argument(unsigned(fixed_or(fixed.colour_arg2, st.colour_arg2)), diffuse, current,
                         texel);
        C8 next;
        next.r = saturate_result(colour_op, operate(colour_op, c1.r, c2.r));
        next.g = saturate_result(colour_op, operate(colour_op, c1.g, c2.g));
        next.b = saturate_result(colour_op, operate(colour_op, c1.b, c2.b));
        next.a = current.a;
        const unsigned alpha_op = unsigned(fixed_or(fixed.alpha_op, st.alpha_op));
        if (alpha && alpha_op != D3DTOP_DISABLE) {
            C8 a1 = argument(unsigned(fixed_or(fixed.alpha_arg1, st.alpha_arg1)), diffuse, current,
                             texel);
            C8 a2 = argument(unsigned(fixed_or(fixed.alpha_arg2, st.alpha_arg2)), diffuse, current,
                             texel);
            next.a = saturate_result(alpha_op, operate(alpha_op, a1.a, a2.a));
        }
        current = next;
    }

    if (Fog) {
        const FfParams& p = draw.context.draw.params;
        F8 f = fog_factor(draw, fixed_or(Shape.fog_mode, key.fog_mode), fog_on_eye_depth ? w : z);
        F8 keep = 1.0f - f;
        current.r = current.r * f + p.fog_colour[0] * keep;
        current.g = current.g * f + p.fog_colour[1] * keep;
        current.b = current.b * f + p.fog_colour[2] * keep;
    }

    if (Blend) {
        C8 dst = unpack(U8(load_lanes(colour0, colour1, mask)), false);
        C8 sf = blend_factor(unsigned(fixed_or(Shape.src_blend, key.src_blend)), current, dst);
        C8 df = blend_factor(unsigned(fixed_or(Shape.dst_blend, key.dst_blend)), current, dst);
        current.r = current.r * sf.r + dst.r * df.r;
        current.g = current.g * sf.g + dst.g * df.g;
        current.b = current.b * sf.b + dst.b * df.b;
    }
    I8 out = splat_int(int32_t(0xFF000000u)) | to_byte(current.r) << 16 | to_byte(current.g) << 8 |
             to_byte(current.b);
    store_lanes(colour0, colour1, mask, out);
    if (depth_write)
        store_lanes(tile.depth + row0, tile.depth + row1, mask, depth);
}

// Which pixel centres of the block at (bx, by) are inside the triangle and
// the bounds; `edge` holds the edge functions at the block's top-left pixel.
SOFT_INLINE unsigned block_coverage(const TriangleSetup& t, const int64_t edge[3], int bx, int by,
                                    int min_x, int min_y, int max_x, int max_y)
{
    unsigned mask = 0;
    for (int i = 0; i < LANES; ++i) {
        int ox = i % WIDTH, oy = i / WIDTH;
        int px = bx + ox, py = by + oy;
        if (px < min_x || px > max_x || py < min_y || py > max_y)
            continue;
        bool inside = true;
        for (int e = 0; e < 3; ++e)
            inside = inside && edge[e] + t.edge_dx[e] * ox + t.edge_dy[e] * oy >= 0;
        mask |= unsigned(inside) << i;
    }
    return mask;
}

// The edge functions' offsets from a block's top-left pixel to each lane, in
// 32 bits. They fit for all but enormous triangles; near an edge, where the
// test matters, the edge values fit too.
struct EdgeLanes {
    I8 offset[3];
};

SOFT_INLINE bool edge_lanes(const TriangleSetup& t, const int64_t low[3], const int64_t high[3],
                            EdgeLanes* lanes)
{
    constexpr int64_t LIMIT = int64_t(1) << 29;
    for (int e = 0; e < 3; ++e) {
        if (low[e] < -LIMIT || high[e] > LIMIT)
            return false;
        for (int i = 0; i < LANES; ++i)
            lanes->offset[e][i] = int32_t(t.edge_dx[e] * (i % WIDTH) + t.edge_dy[e] * (i / WIDTH));
    }
    return true;
}

SOFT_INLINE I8 lane_x_int()
{
    I8 out;
    for (int i = 0; i < LANES; ++i)
        out[i] = i % WIDTH;
    return out;
}

SOFT_INLINE I8 lane_y_int()
{
    I8 out;
    for (int i = 0; i < LANES; ++i)
        out[i] = i / WIDTH;
    return out;
}

// block_coverage with the edge tests in vector lanes, for triangles whose
// offsets fit (edge_lanes). An edge value beyond 32 bits at the corner is far
// from that edge: all the block's lanes lie on its side.
SOFT_INLINE unsigned block_coverage_lanes(const EdgeLanes& lanes, const int64_t edge[3], int bx,
                                          int by, int min_x, int min_y, int max_x, int max_y)
{
    constexpr int64_t LIMIT = int64_t(1) << 30;
    I8 x = splat_int(bx) + lane_x_int(), y = splat_int(by) + lane_y_int();
    I8 inside = (x >= splat_int(min_x)) & (x <= splat_int(max_x)) & (y >= splat_int(min_y)) &
                (y <= splat_int(max_y));
    for (int e = 0; e < 3; ++e) {
        if (edge[e] >= LIMIT)
            continue;
        if (edge[e] <= -LIMIT)
            return 0;
        inside &= (splat_int(int32_t(edge[e])) + lanes.offset[e]) >= splat_int(0);
    }
    return lane_bits(inside);
}

// The three edge functions at a block, one to a lane; the fourth lane is
// never negative.
typedef int64_t Edges __attribute__((vector_size(32)));

// Bit e set where edge e is negative.
SOFT_INLINE unsigned negative_edges(Edges e)
{
#if defined(__AVX2__)
    return unsigned(_mm256_movemask_pd(_mm256_castsi256_pd(__m256i(e))));
#else
    return unsigned(e[0] < 0) | unsigned(e[1] < 0) << 1 | unsigned(e[2] < 0) << 2;
#endif
}

template <SoftDrawShape Shape>
void raster(const SoftFastDraw& draw, const SoftTile& tile, const TriangleSetup& t)
{
    const int x0 = tile.x0, y0 = tile.y0, x1 = tile.x1, y1 = tile.y1;
    int min_x = t.min_x > x0 ? t.min_x : x0, max_x = t.max_x < x1 - 1 ? t.max_x : x1 - 1;
    int min_y = t.min_y > y0 ? t.min_y : y0, max_y = t.max_y < y1 - 1 ? t.max_y : y1 - 1;
    if (min_x > max_x || min_y > max_y)
        return;
    // Quads start on even pixels, as in the straightforward path, so every
    // quad's differences (and so its mip level) are the same there.
    int start_x = min_x & ~1, start_y = min_y & ~1;

    // Per edge: the step to the next block and row, and how far the edge can
    // fall and rise within a block (its least and greatest offset over the
    // block's centres).
    int64_t low[3], high[3];
    Edges step_x{}, step_y{}, low_lanes{}, high_lanes{}, row_edge{};
    for (int e = 0; e < 3; ++e) {
        int64_t dx = t.edge_dx[e], dy = t.edge_dy[e];
        step_x[e] = WIDTH * dx;
        step_y[e] = 2 * dy;
        low[e] = low_lanes[e] = (dx < 0 ? (WIDTH - 1) * dx : 0) + (dy < 0 ? dy : 0);
        high[e] = high_lanes[e] = (dx > 0 ? (WIDTH - 1) * dx : 0) + (dy > 0 ? dy : 0);
        row_edge[e] = t.edge_c[e] + dx * start_x + dy * start_y;
    }
    EdgeLanes lanes;
    const bool narrow = edge_lanes(t, low, high, &lanes);

    TrianglePlanes planes;
    planes.z = plane_lanes(t.z);
    planes.inv_w = plane_lanes(t.inv_w);
    for (int k = 0; k < SOFT_ATTRS; ++k)
        planes.attr_w[k] = plane_lanes(t.attr_w[k]);
    planes.keeps_clear = Shape.stages == 1 && Shape.blend && keeps_where_clear(draw);
    // Stages proven magnified over the lanes of the walk below, which reach
    // WIDTH - 1 pixels right of the last block's start and a row below the
    // last row's: stage 0 of a draw that keeps where clear (the rain), and
    // the terrain's lightmap, magnified everywhere.
    for (int k = 0; k < FF_STAGES; ++k) {
        const bool wanted =
            k == 0 ? planes.keeps_clear : Shape.stages == 2 && Shape.stage[1].sampled == 1;
        planes.magnified[k] = wanted && magnified_throughout(t, draw.stage[k], start_x, start_y,
                                                             max_x + WIDTH - 1, max_y + 1);
    }
    // Most blocks of the rain are wholly transparent: those its texture's
    // clear cells show are kept here, without the call to shade them.
    const bool keep_clear_blocks = Shape.stages == 1 && Shape.blend && !Shape.depth_test &&
                                   planes.keeps_clear && draw.stage[0].clear_cells &&
                                   !fixed_or(Shape.depth_write, draw.context.draw.key.depth_write);
    CellGrid grid{};
    if (keep_clear_blocks)
        grid = cell_grid(draw.stage[0]);

    for (int by = start_y; by <= max_y; by += 2, row_edge += step_y) {
        Edges edges = row_edge;
        bool rows_inside = by >= min_y && by + 1 <= max_y;
        bool entered = false;
        for (int bx = start_x; bx <= max_x; bx += WIDTH, edges += step_x) {
            if (negative_edges(edges + high_lanes)) {
                // Outside an edge. The blocks of a row that are not lie side
                // by side, as the triangle is convex: past them, none is.
                if (entered)
                    break;
                continue;
            }
            entered = true;
            unsigned mask = FULL;
            if (!(rows_inside && bx >= min_x && bx + WIDTH - 1 <= max_x &&
                  negative_edges(edges + low_lanes) == 0)) {
                const int64_t edge[3] = {edges[0], edges[1], edges[2]};
                mask = narrow
                           ? block_coverage_lanes(lanes, edge, bx, by, min_x, min_y, max_x, max_y)
                           : block_coverage(t, edge, bx, by, min_x, min_y, max_x, max_y);
            }
            if (mask &&
                !(keep_clear_blocks && kept_clear<Shape>(draw, tile, planes, grid, bx, by, mask)))
                shade_block<Shape>(draw, tile, planes, bx, by, mask);
        }
    }
}

template <int Variant> constexpr SoftFastRaster variant()
{
    return raster<SoftDrawShape{.stages = Variant / 8,
                                .fog = (Variant & 4) != 0,
                                .blend = (Variant & 2) != 0,
                                .depth_test = (Variant & 1) != 0}>;
}

template <int Index> constexpr SoftFastRaster shaped()
{
    return raster<SOFT_FAST_SHAPES[Index]>;
}

static_assert(SOFT_FAST_SHAPE_COUNT == 4, "one kernel per shape below");

} // namespace

// Indexed as soft_fast_variant numbers them: stages * 8 + fog * 4 + blend * 2
// + depth test; then the shapes.
extern const SoftFastRaster SOFT_FAST_TABLE[SOFT_FAST_KERNELS] = {
    variant<0>(),  variant<1>(),  variant<2>(),  variant<3>(),  variant<4>(),  variant<5>(),
    variant<6>(),  variant<7>(),  variant<8>(),  variant<9>(),  variant<10>(), variant<11>(),
    variant<12>(), variant<13>(), variant<14>(), variant<15>(), variant<16>(), variant<17>(),
    variant<18>(), variant<19>(), variant<20>(), variant<21>(), variant<22>(), variant<23>(),
    shaped<0>(),   shaped<1>(),   shaped<2>(),   shaped<3>(),
};
