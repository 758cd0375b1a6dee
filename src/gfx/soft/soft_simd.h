// The fast rasterizer's vector type and everything that differs between the
// instruction sets it is built for. The unit that includes the kernel names
// its lane count (SOFT_FAST_LANES) and is compiled with its set's flags; this
// file picks the matching section below, and every other file of the kernel
// is written once on top of the names it defines. A new set is a section
// here and one unit that includes the kernel.
//
// A block is one vector of SOFT_FAST_LANES pixels, 2 x 2 quads side by side:
// 8 x 2 (four quads) in sixteen lanes where the set has 512-bit vectors,
// 4 x 2 in eight lanes with 256-bit ones, one quad in four lanes with 128-bit
// ones; the top row comes first.
//
// Everything has internal linkage: code built for one set must never be
// linked into another's callers.
#pragma once
#include <cstddef>
#include <cstdint>

#if !defined(SOFT_FAST_LANES)
#error "the unit that includes the kernel names its lane count"
#endif

#if SOFT_FAST_LANES == 16 && defined(__AVX512F__) && defined(__AVX512BW__) && defined(__AVX512VL__)
#define SOFT_SIMD_AVX512 1
#elif SOFT_FAST_LANES == 8 && defined(__AVX2__)
#define SOFT_SIMD_AVX2 1
#elif SOFT_FAST_LANES == 4 && defined(__wasm_simd128__)
#define SOFT_SIMD_WASM128 1
#elif SOFT_FAST_LANES == 4 && defined(__SSE2__)
#define SOFT_SIMD_SSE2 1
#endif
#if defined(SOFT_SIMD_AVX512) || defined(SOFT_SIMD_AVX2) || defined(SOFT_SIMD_SSE2)
#include <immintrin.h>
#elif defined(SOFT_SIMD_WASM128)
#include <wasm_simd128.h>
#endif

#define SOFT_INLINE inline __attribute__((always_inline))

namespace
{

constexpr int LANES = SOFT_FAST_LANES;
constexpr int WIDTH = LANES / 2; // pixels per row of a block
constexpr int QUADS = WIDTH / 2;
constexpr unsigned FULL = (1u << LANES) - 1; // every lane of a block

typedef float F8 __attribute__((vector_size(LANES * 4)));
typedef int32_t I8 __attribute__((vector_size(LANES * 4)));
typedef uint32_t U8 __attribute__((vector_size(LANES * 4)));

// The quad a lane belongs to.
constexpr int quad_of_lane(int lane)
{
    return (lane % WIDTH) / 2;
}

// Lane i of the result is lane index[i] of v. (GCC's builtin takes indices
// that are only known once inlined; clang's needs constants, and folds the
// loop to the same permute.)
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

// The three edge functions at a block, one to a lane; the fourth lane is
// never negative.
typedef int64_t Edges __attribute__((vector_size(32)));

// ---- Portable definitions --------------------------------------------------
// What any vector unit computes with the compiler's vector extensions alone;
// a set replaces those it has instructions for.
namespace portable
{

SOFT_INLINE F8 at_least(F8 v, float low)
{
    return v < splat(low) ? splat(low) : v;
}

SOFT_INLINE F8 at_most(F8 v, float high)
{
    return v > splat(high) ? splat(high) : v;
}

// Beyond 2^23 every float is whole already.
SOFT_INLINE F8 floor8(F8 x)
{
    F8 t = to_float(to_int(x));
    t = t > x ? t - 1.0f : t;
    return ((x < splat(8388608.0f)) & (x > splat(-8388608.0f))) ? t : x;
}

SOFT_INLINE unsigned lane_bits(I8 mask)
{
    unsigned bits = 0;
    for (int i = 0; i < LANES; ++i)
        bits |= unsigned(mask[i] != 0) << i;
    return bits;
}

SOFT_INLINE U8 gather_words(const uint32_t* words, I8 index)
{
    U8 out;
    for (int i = 0; i < LANES; ++i)
        out[i] = words[index[i]];
    return out;
}

template <int Shift> SOFT_INLINE I8 byte_of(U8 t)
{
    return I8((t >> Shift) & 0xFF);
}

SOFT_INLINE U8 gather_texels(const uint32_t* const (&base)[QUADS], bool, I8 index)
{
    U8 out;
    for (int i = 0; i < LANES; ++i)
        out[i] = base[quad_of_lane(i)][index[i]];
    return out;
}

SOFT_INLINE void gather_pairs(const uint32_t* const (&base)[QUADS], bool, I8 index, U8* left,
                              U8* right)
{
    uint32_t at[LANES];
    __builtin_memcpy(at, &index, sizeof at);
    for (int i = 0; i < LANES; ++i) {
        uint32_t two[2];
        __builtin_memcpy(two, base[quad_of_lane(i)] + at[i], sizeof two);
        (*left)[i] = two[0];
        (*right)[i] = two[1];
    }
}

SOFT_INLINE void gather_squares(const uint32_t* const (&stacked)[QUADS], I8 index, U8* t00, U8* t10,
                                U8* t01, U8* t11)
{
    uint32_t at[LANES];
    __builtin_memcpy(at, &index, sizeof at);
    for (int i = 0; i < LANES; ++i) {
        uint32_t four[4];
        __builtin_memcpy(four, stacked[quad_of_lane(i)] + at[i], sizeof four);
        (*t00)[i] = four[0];
        (*t01)[i] = four[1];
        (*t10)[i] = four[2];
        (*t11)[i] = four[3];
    }
}

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

SOFT_INLINE unsigned negative_edges(Edges e)
{
    return unsigned(e[0] < 0) | unsigned(e[1] < 0) << 1 | unsigned(e[2] < 0) << 2;
}

inline void stream_row(uint32_t* to, const uint32_t* from, int count)
{
    for (int i = 0; i < count; ++i)
        to[i] = from[i];
}

inline void stream_fence() {}

} // namespace portable

// Lanes whose bit is set in `mask`.
SOFT_INLINE I8 lane_mask(unsigned mask)
{
    I8 bit;
    for (int i = 0; i < LANES; ++i)
        bit[i] = int32_t(1u << i);
    return (splat_int(int32_t(mask)) & bit) != 0;
}

// ---- The operations every set provides -------------------------------------
//
// at_least(v, low), at_most(v, high): v < low ? low : v, and v > high ? high
//   : v. The processor's max and min, with the bound as their first operand,
//   compute exactly these comparisons (a NaN or a negative zero comes out as
//   the comparisons have it), which the compiler may not assume of the plain
//   expressions and so spells out.
// floor8(x): floor() per lane.
// lane_bits(mask): bit i set where lane i of the mask is.
// gather_words(words, index): words[index[i]] in lane i.
// gather_texels(base, shared, index): base[quad of i][index[i]] in lane i;
//   `shared` when every quad's base is the same.
// byte_of<Shift>(t): byte Shift / 8 of every lane, zero-extended.
// gather_pairs(base, shared, index, left, right): two horizontally
//   neighbouring words per lane (index and index + 1), read as one 64-bit
//   word: half the loads of two gathers. The caller makes sure index + 1 is
//   the next texel of the same row in every lane.
// gather_squares(stacked, index, t00, t10, t01, t11): the four texels of
//   each lane's bilinear footprint from a level's stacked rows, one 16-byte
//   read per lane holding (x, y), (x, y + 1), (x + 1, y), (x + 1, y + 1);
//   `index` is twice the footprint's top-left texel index.
// window_taps(texels, width, total, x, top, t00, t10, t01, t11): where a set
//   reads rows (ROW_WINDOWS), the four bilinear taps of a block from rows of
//   one level, when they lie within sixteen columns and four rows; false
//   (nothing read) otherwise. `x` is the left tap's column, `top` the upper
//   tap's row, `total` the level's texel count.
// load_lanes(row0, row1, mask), store_lanes(row0, row1, mask, values): a
//   block's pixels in a tile's buffers, the covered lanes (`mask`) of two
//   rows of WIDTH. The buffers are the thread's own and hold the whole block
//   (SoftTile), so the other lanes may be read, and written back as they
//   were: a row at a time, not lane by lane behind a branch each.
// negative_edges(e): bit k set where edge k is negative.
// stream_row(to, from, count): copies words to memory nothing reads again
//   soon, bypassing the cache where the set can (the processor need not
//   first fetch the lines it overwrites); stream_fence() makes such stores
//   seen before what follows.

#if defined(SOFT_SIMD_AVX512) || defined(SOFT_SIMD_AVX2) || defined(SOFT_SIMD_SSE2)
// Whole 16-byte pieces, aligned, bypass the cache on every x86 set.
inline void stream_row(uint32_t* to, const uint32_t* from, int count)
{
    int i = 0;
    for (; i < count && (reinterpret_cast<uintptr_t>(to + i) & 15) != 0; ++i)
        to[i] = from[i];
    for (; i + 4 <= count; i += 4)
        _mm_stream_si128(reinterpret_cast<__m128i*>(to + i),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i)));
    for (; i < count; ++i)
        to[i] = from[i];
}

inline void stream_fence()
{
    _mm_sfence();
}
#else
using portable::stream_fence;
using portable::stream_row;
#endif

#if defined(SOFT_SIMD_AVX512)
// ---- AVX-512 (F, BW, DQ, VL): sixteen lanes, four quads ---------------------

constexpr bool ROW_WINDOWS = true;

SOFT_INLINE F8 at_least(F8 v, float low)
{
    return F8(_mm512_maskz_max_ps(__mmask16(0xFFFF), __m512(splat(low)), __m512(v)));
}

SOFT_INLINE F8 at_most(F8 v, float high)
{
    return F8(_mm512_maskz_min_ps(__mmask16(0xFFFF), __m512(splat(high)), __m512(v)));
}

// (Rounding keeps the sign of a zero where the conversions lose it; no
// caller can tell: a zero's sign never reaches a texel index or a colour.)
SOFT_INLINE F8 floor8(F8 x)
{
    return F8(_mm512_maskz_roundscale_ps(__mmask16(0xFFFF), __m512(x),
                                         _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC));
}

SOFT_INLINE unsigned lane_bits(I8 mask)
{
    return unsigned(_mm512_cmplt_epi32_mask(__m512i(mask), _mm512_setzero_si512()));
}

SOFT_INLINE U8 gather_words(const uint32_t* words, I8 index)
{
    return U8(
        _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), 0xFFFF, __m512i(index), words, 4));
}

SOFT_INLINE U8 gather_texels(const uint32_t* const (&base)[QUADS], bool shared, I8 index)
{
    return shared ? gather_words(base[0], index) : portable::gather_texels(base, shared, index);
}

template <int Shift> SOFT_INLINE I8 byte_of(U8 t)
{
    typedef char Bytes __attribute__((vector_size(64)));
    constexpr char B = Shift / 8, Z = -1;
    constexpr Bytes pick = {B, Z, Z, Z, 4 + B, Z, Z, Z, 8 + B, Z, Z, Z, 12 + B, Z, Z, Z,
                            B, Z, Z, Z, 4 + B, Z, Z, Z, 8 + B, Z, Z, Z, 12 + B, Z, Z, Z,
                            B, Z, Z, Z, 4 + B, Z, Z, Z, 8 + B, Z, Z, Z, 12 + B, Z, Z, Z,
                            B, Z, Z, Z, 4 + B, Z, Z, Z, 8 + B, Z, Z, Z, 12 + B, Z, Z, Z};
    return I8(_mm512_shuffle_epi8(__m512i(t), __m512i(pick)));
}

SOFT_INLINE void gather_pairs(const uint32_t* const (&base)[QUADS], bool shared, I8 index, U8* left,
                              U8* right)
{
    const I8 even = {0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30};
    __m512i low, high;
    if (shared) {
        // Two gathers of eight 64-bit words beat sixteen loads and the
        // inserts that gather them into a vector.
        const __m256i first = _mm512_maskz_extracti64x4_epi64(0xF, __m512i(index), 0);
        const __m256i second = _mm512_maskz_extracti64x4_epi64(0xF, __m512i(index), 1);
        low = _mm512_mask_i32gather_epi64(_mm512_setzero_si512(), 0xFF, first, base[0], 4);
        high = _mm512_mask_i32gather_epi64(_mm512_setzero_si512(), 0xFF, second, base[0], 4);
    } else {
        // (Unsigned: an index is never negative, and so needs no sign
        // extension.)
        uint32_t at[LANES];
        __builtin_memcpy(at, &index, sizeof at);
        auto pair = [&](int lane) {
            long long word;
            __builtin_memcpy(&word, base[quad_of_lane(lane)] + at[lane], sizeof word);
            return word;
        };
        // Lanes 0-7 and 8-15, each as left, right, left, right ...
        low = _mm512_set_epi64(pair(7), pair(6), pair(5), pair(4), pair(3), pair(2), pair(1),
                               pair(0));
        high = _mm512_set_epi64(pair(15), pair(14), pair(13), pair(12), pair(11), pair(10), pair(9),
                                pair(8));
    }
    *left = U8(_mm512_permutex2var_epi32(low, __m512i(even), high));
    *right = U8(_mm512_permutex2var_epi32(low, __m512i(even + 1), high));
}

using portable::gather_squares; // never taken: the window read serves every footprint

// The least of the block's four corner lanes, in every lane. Texture
// coordinates run one way across a block, so that is the least lane but for
// rounding; the caller checks every lane against it, and half the steps of a
// search through all sixteen lie on the path to the texels.
SOFT_INLINE I8 corner_min(I8 v)
{
    auto least = [](I8 a, I8 b) { return a < b ? a : b; };
    v = least(v,
              __builtin_shufflevector(v, v, 8, 9, 10, 11, 12, 13, 14, 15, 0, 1, 2, 3, 4, 5, 6, 7));
    return least(__builtin_shufflevector(v, v, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0),
                 __builtin_shufflevector(v, v, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7));
}

// Sixteen texels from `start` on, none past the last of `total`.
SOFT_INLINE __m512i texel_row(const uint32_t* texels, int total, int start)
{
    int left = total - start;
    __mmask16 valid = left >= 16 ? __mmask16(0xFFFF) : __mmask16((1u << left) - 1);
    return _mm512_maskz_loadu_epi32(valid, texels + start);
}

// A row load for each row the taps reach and permutes in place of gathers.
SOFT_INLINE bool window_taps(const uint32_t* texels, int width, int total, I8 x, I8 top, U8* t00,
                             U8* t10, U8* t01, U8* t11)
{
    const I8 x_min = corner_min(x), row_min = corner_min(top);
    const I8 dx = x - x_min, dr = top - row_min;
    // Unsigned, so a lane left of or above the corners fails too.
    if (lane_bits(I8((U8(dx) > 14u) | (U8(dr) > 2u))) != 0)
        return false;
    const int start = row_min[0] * width + x_min[0];
    const __m512i row0 = texel_row(texels, total, start),
                  row1 = texel_row(texels, total, start + width);
    // Rows past the second are read only where some lane's taps reach them.
    const unsigned lower = lane_bits(dr != 0);
    const __m512i row2 = lower ? texel_row(texels, total, start + 2 * width) : row1;
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
    const __m512i row3 = texel_row(texels, total, start + 3 * width);
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

// A block is two masked loads or stores of the whole vector: the second
// row's lanes are addressed from WIDTH elements before that row, so each
// lands in its own half. Lanes outside the mask are neither read nor
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

SOFT_INLINE I8 load_lanes(const uint16_t* row0, const uint16_t* row1, unsigned mask)
{
    __m256i both = _mm256_maskz_loadu_epi16(__mmask16(mask & TOP_ROW), row0);
    both = _mm256_mask_loadu_epi16(both, __mmask16(mask & ~TOP_ROW), second_row_base(row1));
    return I8(_mm512_maskz_cvtepu16_epi32(__mmask16(0xFFFF), both));
}

SOFT_INLINE I8 load_lanes(const uint32_t* row0, const uint32_t* row1, unsigned mask)
{
    __m512i both = _mm512_maskz_loadu_epi32(__mmask16(mask & TOP_ROW), row0);
    return I8(_mm512_mask_loadu_epi32(both, __mmask16(mask & ~TOP_ROW), second_row_base(row1)));
}

SOFT_INLINE void store_lanes(uint16_t* row0, uint16_t* row1, unsigned mask, I8 values)
{
    __m256i both = _mm512_maskz_cvtepi32_epi16(__mmask16(0xFFFF), __m512i(values));
    _mm256_mask_storeu_epi16(row0, __mmask16(mask & TOP_ROW), both);
    _mm256_mask_storeu_epi16(second_row_base(row1), __mmask16(mask & ~TOP_ROW), both);
}

SOFT_INLINE void store_lanes(uint32_t* row0, uint32_t* row1, unsigned mask, I8 values)
{
    _mm512_mask_storeu_epi32(row0, __mmask16(mask & TOP_ROW), __m512i(values));
    _mm512_mask_storeu_epi32(second_row_base(row1), __mmask16(mask & ~TOP_ROW), __m512i(values));
}

SOFT_INLINE unsigned negative_edges(Edges e)
{
    return unsigned(_mm256_movemask_pd(_mm256_castsi256_pd(__m256i(e))));
}

#else
// ---- Sets that read bilinear footprints from stacked rows -------------------

constexpr bool ROW_WINDOWS = false;

// Never taken: these sets read footprints from stacked rows instead.
SOFT_INLINE bool window_taps(const uint32_t*, int, int, I8, I8, U8*, U8*, U8*, U8*)
{
    return false;
}

#if defined(SOFT_SIMD_AVX2)
// ---- AVX2: eight lanes, two quads -------------------------------------------

SOFT_INLINE F8 at_least(F8 v, float low)
{
    return F8(_mm256_max_ps(__m256(splat(low)), __m256(v)));
}

SOFT_INLINE F8 at_most(F8 v, float high)
{
    return F8(_mm256_min_ps(__m256(splat(high)), __m256(v)));
}

SOFT_INLINE F8 floor8(F8 x)
{
    return F8(_mm256_round_ps(__m256(x), _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC));
}

SOFT_INLINE unsigned lane_bits(I8 mask)
{
    return unsigned(_mm256_movemask_ps(_mm256_castsi256_ps(__m256i(mask))));
}

SOFT_INLINE U8 gather_words(const uint32_t* words, I8 index)
{
    return U8(_mm256_i32gather_epi32(reinterpret_cast<const int*>(words), __m256i(index), 4));
}

SOFT_INLINE U8 gather_texels(const uint32_t* const (&base)[QUADS], bool shared, I8 index)
{
    return shared ? gather_words(base[0], index) : portable::gather_texels(base, shared, index);
}

// One shuffle instead of a shift and a mask: byte Shift / 8 of each lane to
// its bottom, zeros above.
template <int Shift> SOFT_INLINE I8 byte_of(U8 t)
{
    constexpr int B = Shift / 8;
    const __m256i pick =
        _mm256_setr_epi8(B, -1, -1, -1, 4 + B, -1, -1, -1, 8 + B, -1, -1, -1, 12 + B, -1, -1, -1, B,
                         -1, -1, -1, 4 + B, -1, -1, -1, 8 + B, -1, -1, -1, 12 + B, -1, -1, -1);
    return I8(_mm256_shuffle_epi8(__m256i(t), pick));
}

SOFT_INLINE void gather_pairs(const uint32_t* const (&base)[QUADS], bool, I8 index, U8* left,
                              U8* right)
{
    uint32_t at[LANES];
    __builtin_memcpy(at, &index, sizeof at);
    auto pair = [&](int lane) {
        long long word;
        __builtin_memcpy(&word, base[quad_of_lane(lane)] + at[lane], sizeof word);
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
}

// Lanes i and i + 4 in the halves of one register, then each half's four
// squares transposed into four taps.
SOFT_INLINE void gather_squares(const uint32_t* const (&stacked)[QUADS], I8 index, U8* t00, U8* t10,
                                U8* t01, U8* t11)
{
    uint32_t at[LANES];
    __builtin_memcpy(at, &index, sizeof at);
    auto square = [&](int lane) {
        return _mm_loadu_si128(
            reinterpret_cast<const __m128i*>(stacked[quad_of_lane(lane)] + at[lane]));
    };
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
}

// A whole 4 x 2 block: a load or store per row, the rows joined in
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

SOFT_INLINE unsigned negative_edges(Edges e)
{
    return unsigned(_mm256_movemask_pd(_mm256_castsi256_pd(__m256i(e))));
}

#elif defined(SOFT_SIMD_SSE2)
// ---- SSE2: four lanes, one quad ---------------------------------------------

SOFT_INLINE F8 at_least(F8 v, float low)
{
    return F8(_mm_max_ps(__m128(splat(low)), __m128(v)));
}

SOFT_INLINE F8 at_most(F8 v, float high)
{
    return F8(_mm_min_ps(__m128(splat(high)), __m128(v)));
}

using portable::floor8; // SSE2 has no rounding instruction

SOFT_INLINE unsigned lane_bits(I8 mask)
{
    return unsigned(_mm_movemask_ps(_mm_castsi128_ps(__m128i(mask))));
}

using portable::byte_of;
using portable::gather_pairs;
using portable::gather_texels;
using portable::gather_words;

SOFT_INLINE void gather_squares(const uint32_t* const (&stacked)[QUADS], I8 index, U8* t00, U8* t10,
                                U8* t01, U8* t11)
{
    uint32_t at[LANES];
    __builtin_memcpy(at, &index, sizeof at);
    auto square = [&](int lane) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(stacked[0] + at[lane]));
    };
    const __m128i a = square(0), b = square(1), c = square(2), d = square(3);
    const __m128i ab_low = _mm_unpacklo_epi32(a, b), ab_high = _mm_unpackhi_epi32(a, b);
    const __m128i cd_low = _mm_unpacklo_epi32(c, d), cd_high = _mm_unpackhi_epi32(c, d);
    *t00 = U8(_mm_unpacklo_epi64(ab_low, cd_low));
    *t01 = U8(_mm_unpackhi_epi64(ab_low, cd_low));
    *t10 = U8(_mm_unpacklo_epi64(ab_high, cd_high));
    *t11 = U8(_mm_unpackhi_epi64(ab_high, cd_high));
}

using portable::load_rows;
using portable::negative_edges;
using portable::store_rows;

#elif defined(SOFT_SIMD_WASM128)
// ---- WebAssembly SIMD128: four lanes, one quad ------------------------------

// The pseudo-minimum and -maximum keep the vector's own lane where the
// comparison fails (a NaN), as SSE2's do.
SOFT_INLINE F8 at_least(F8 v, float low)
{
    return F8(wasm_f32x4_pmax(v128_t(v), v128_t(splat(low))));
}

SOFT_INLINE F8 at_most(F8 v, float high)
{
    return F8(wasm_f32x4_pmin(v128_t(v), v128_t(splat(high))));
}

SOFT_INLINE F8 floor8(F8 v)
{
    return F8(wasm_f32x4_floor(v128_t(v)));
}

SOFT_INLINE unsigned lane_bits(I8 mask)
{
    return unsigned(wasm_i32x4_bitmask(v128_t(mask)));
}

using portable::byte_of;
using portable::gather_pairs;
using portable::gather_texels;
using portable::gather_words;

SOFT_INLINE void gather_squares(const uint32_t* const (&stacked)[QUADS], I8 index, U8* t00, U8* t10,
                                U8* t01, U8* t11)
{
    uint32_t at[LANES];
    __builtin_memcpy(at, &index, sizeof at);
    auto square = [&](int lane) { return wasm_v128_load(stacked[0] + at[lane]); };
    const v128_t a = square(0), b = square(1), c = square(2), d = square(3);
    const v128_t ab_low = wasm_i32x4_shuffle(a, b, 0, 4, 1, 5);
    const v128_t ab_high = wasm_i32x4_shuffle(a, b, 2, 6, 3, 7);
    const v128_t cd_low = wasm_i32x4_shuffle(c, d, 0, 4, 1, 5);
    const v128_t cd_high = wasm_i32x4_shuffle(c, d, 2, 6, 3, 7);
    *t00 = U8(wasm_i64x2_shuffle(ab_low, cd_low, 0, 2));
    *t01 = U8(wasm_i64x2_shuffle(ab_low, cd_low, 1, 3));
    *t10 = U8(wasm_i64x2_shuffle(ab_high, cd_high, 0, 2));
    *t11 = U8(wasm_i64x2_shuffle(ab_high, cd_high, 1, 3));
}

using portable::load_rows;
using portable::negative_edges;
using portable::store_rows;

#else
// ---- Any other vector unit: the compiler's vector extensions alone ----------

using portable::at_least;
using portable::at_most;
using portable::byte_of;
using portable::floor8;
using portable::gather_pairs;
using portable::gather_squares;
using portable::gather_texels;
using portable::gather_words;
using portable::lane_bits;
using portable::load_rows;
using portable::negative_edges;
using portable::store_rows;

#endif

// Where a set has no masked loads and stores, the uncovered lanes are
// written back as they were.
template <class T> SOFT_INLINE I8 load_lanes(const T* row0, const T* row1, unsigned)
{
    return load_rows(row0, row1);
}

template <class T> SOFT_INLINE void store_lanes(T* row0, T* row1, unsigned mask, I8 values)
{
    if (mask != FULL)
        values = lane_mask(mask) ? values : load_rows(row0, row1);
    store_rows(row0, row1, values);
}

#endif

// ---- Colours and quads, on top of the operations above ----------------------

constexpr float BYTE_TO_FLOAT = 1.0f / 255.0f;

struct C8 {
    F8 r, g, b, a;
};

SOFT_INLINE C8 splat_colour(float r, float g, float b, float a)
{
    return {splat(r), splat(g), splat(b), splat(a)};
}

// v < 0 ? 0 : (v > 1 ? 1 : v)
SOFT_INLINE F8 saturate(F8 v)
{
    return at_least(at_most(v, 1.0f), 0.0f);
}

// A8R8G8B8 words as colours; alpha 1 where it is not wanted.
SOFT_INLINE C8 unpack(U8 t, bool alpha)
{
    C8 c;
    c.r = to_float(byte_of<16>(t)) * BYTE_TO_FLOAT;
    c.g = to_float(byte_of<8>(t)) * BYTE_TO_FLOAT;
    c.b = to_float(byte_of<0>(t)) * BYTE_TO_FLOAT;
    c.a = alpha ? to_float(I8(t >> 24)) * BYTE_TO_FLOAT : splat(1.0f);
    return c;
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

} // namespace
