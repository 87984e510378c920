// The AVX2 vector layer: sixteen int16 lanes in one register; the float forms in
// two (the compiler would split wider vectors itself, but turn selections into
// element loops).
#pragma once

#include "core/simd/vector_pieces.h"
#include "core/x86/vector_avx2_shared.h"
#include "core/x86/vector_x86.h"

namespace velnor {
namespace {

constexpr int kLanes = 16;

typedef int16_t Vec __attribute__((vector_size(2 * kLanes)));
typedef float EightFloats __attribute__((vector_size(32)));
typedef int32_t EightInts __attribute__((vector_size(32)));
struct Wide {
    EightInts h[2];
};
struct Floats {
    EightFloats h[2];
};
VELNOR_PIECEWISE(Floats, Floats, h, 2, *)
VELNOR_PIECEWISE(Wide, Floats, h, 2, <)
VELNOR_PIECEWISE(Wide, Floats, h, 2, >)

VELNOR_INLINE __m256i raw(Vec v) { return reinterpret_cast<__m256i>(v); }
VELNOR_INLINE Vec vec(__m256i v) { return reinterpret_cast<Vec>(v); }

VELNOR_INLINE Vec splat(int v) { return Vec{} + static_cast<int16_t>(v); }
VELNOR_INLINE Floats splat_floats(float v) {
    const EightFloats half = EightFloats{} + v;
    return Floats{{half, half}};
}

// Truncating division by a constant.
template <int kDivisor>
VELNOR_INLINE Vec divide(Vec a) {
    constexpr int16_t d = kDivisor;
    return a / d;
}

VELNOR_INLINE Vec load(const int16_t* p) {
    Vec v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
VELNOR_INLINE void store(int16_t* p, Vec v) { std::memcpy(p, &v, sizeof v); }

// kLanes bytes widened to the lanes, and back (lanes hold 0..255).
VELNOR_INLINE Vec load_bytes(const uint8_t* p) {
    return vec(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))));
}
VELNOR_INLINE void store_bytes(uint8_t* p, Vec v) {
    _mm_storeu_si128(
        reinterpret_cast<__m128i*>(p),
        _mm_packus_epi16(_mm256_castsi256_si128(raw(v)), _mm256_extracti128_si256(raw(v), 1)));
}

// Bit i set where lane i of a comparison result is set, and back.
VELNOR_INLINE uint32_t lane_bits(Vec mask) {
    return static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(
        _mm256_castsi256_si128(raw(mask)), _mm256_extracti128_si256(raw(mask), 1))));
}
VELNOR_INLINE Vec lanes_from_bits(uint32_t bits) {
    const Vec lane_bit = {1,   2,   4,    8,    16,   32,   64,    128,
                          256, 512, 1024, 2048, 4096, 8192, 16384, -32768};
    return (splat(static_cast<int16_t>(bits)) & lane_bit) != 0;
}
VELNOR_INLINE bool any(Vec mask) { return !_mm256_testz_si256(raw(mask), raw(mask)); }

// Lane i takes lane i - n (n = 1, 2); the lowest lanes are left unspecified (zero).
// Each 128-bit half is joined with the half below it (zeros below the lower one)
// and shifted by n lanes: two operations, where a general shuffle takes four.
template <int kLanesDown>
VELNOR_INLINE Vec lanes_down(Vec v) {
    const __m256i below = _mm256_permute2x128_si256(raw(v), raw(v), 0x08);
    return vec(_mm256_alignr_epi8(raw(v), below, 16 - 2 * kLanesDown));
}
VELNOR_INLINE Vec lanes_down1(Vec v) { return lanes_down<1>(v); }
VELNOR_INLINE Vec lanes_down2(Vec v) { return lanes_down<2>(v); }

VELNOR_INLINE Vec select(Vec mask, Vec yes, Vec no) { return mask ? yes : no; }
VELNOR_INLINE Floats select(Wide mask, Floats yes, Floats no) {
    return Floats{{mask.h[0] ? yes.h[0] : no.h[0], mask.h[1] ? yes.h[1] : no.h[1]}};
}
VELNOR_INLINE Vec max(Vec a, Vec b) { return a > b ? a : b; }
VELNOR_INLINE Vec min(Vec a, Vec b) { return a < b ? a : b; }
VELNOR_INLINE Vec magnitude(Vec v) { return v < 0 ? -v : v; }
// v limited to 0..255.
VELNOR_INLINE Vec clamp_sample(Vec v) { return max(min(v, splat(255)), splat(0)); }

// For each lane with x in 0..255: entry x of a 16-byte table, or 0 for x >= 16;
// for negative x, some entry (see vector_sse41.h).
constexpr bool kHasByteShuffle = true;
constexpr bool kHasWordTable = false;
VELNOR_INLINE Vec look_up(Vec x, __m128i table, int16_t offsets = -32656) {
    const __m256i index = _mm256_adds_epu8(raw(x), raw(splat(offsets)));
    return vec(_mm256_shuffle_epi8(_mm256_broadcastsi128_si256(table), index));
}
// g negated where d is negative, 0 where d is 0.
VELNOR_INLINE Vec with_sign_of(Vec g, Vec d) { return vec(_mm256_sign_epi16(raw(g), raw(d))); }

// Lanes as unsigned 16-bit values (wrapping): low half of the product, high half
// of the product, sum, difference, shifts right and left by a count held in the low
// quadword.
VELNOR_INLINE Vec unsigned_multiply_low(Vec a, Vec b) {
    return vec(_mm256_mullo_epi16(raw(a), raw(b)));
}
VELNOR_INLINE Vec unsigned_multiply_high(Vec a, Vec b) {
    return vec(_mm256_mulhi_epu16(raw(a), raw(b)));
}
VELNOR_INLINE Vec unsigned_add(Vec a, Vec b) { return vec(_mm256_add_epi16(raw(a), raw(b))); }
VELNOR_INLINE Vec unsigned_subtract(Vec a, Vec b) { return vec(_mm256_sub_epi16(raw(a), raw(b))); }
// a - b for unsigned 16-bit lanes, 0 where b is larger.
VELNOR_INLINE Vec saturating_subtract(Vec a, Vec b) {
    return vec(_mm256_subs_epu16(raw(a), raw(b)));
}
VELNOR_INLINE Vec unsigned_shift_right(Vec a, __m128i count) {
    return vec(_mm256_srl_epi16(raw(a), count));
}
// The same by a count in an integer (compilers keep its move to a register out of
// loops).
VELNOR_INLINE Vec unsigned_shift_right(Vec a, int count) {
    return unsigned_shift_right(a, _mm_cvtsi32_si128(count));
}
VELNOR_INLINE Vec shift_left(Vec a, __m128i count) { return vec(_mm256_sll_epi16(raw(a), count)); }

VELNOR_INLINE Floats to_floats(Vec v) {
    return Floats{{reinterpret_cast<EightFloats>(
                       _mm256_cvtepi32_ps(_mm256_cvtepi16_epi32(_mm256_castsi256_si128(raw(v))))),
                   reinterpret_cast<EightFloats>(_mm256_cvtepi32_ps(
                       _mm256_cvtepi16_epi32(_mm256_extracti128_si256(raw(v), 1))))}};
}
// Truncation toward zero, saturated to int16; callers keep the values inside the
// int16 range where the result matters.
VELNOR_INLINE Vec to_vec(Floats f) {
    const __m256i low = _mm256_cvttps_epi32(reinterpret_cast<__m256>(f.h[0]));
    const __m256i high = _mm256_cvttps_epi32(reinterpret_cast<__m256>(f.h[1]));
    return vec(_mm256_permute4x64_epi64(_mm256_packs_epi32(low, high), 0xD8));
}

// The wavefront's transposes of 16-bit words (transpose_wide_avx.h) for kLanes.
VELNOR_INLINE void transpose_words_to_steps(const uint16_t* rows, std::ptrdiff_t row_step,
                                            int16_t* steps) {
    transpose_words_to_steps<kLanes>(rows, row_step, steps);
}
VELNOR_INLINE void transpose_words_to_rows(const int16_t* steps, uint16_t* rows,
                                           std::ptrdiff_t row_step) {
    transpose_words_to_rows<kLanes>(steps, rows, row_step);
}

// kLanes 32-bit lanes as two registers, for 16-bit and float samples (their
// operations in vector_avx2_shared.h).
using Ints = Pieces<int32_t, 32, kLanes / 8>;
using Words = Pieces<uint32_t, 32, kLanes / 8>;
using Reals = Pieces<float, 32, kLanes / 8>;

}  // namespace
}  // namespace velnor
