// The AVX2 vector layer of the 8-bit pass in 64-bit builds: thirty-two int16
// lanes as a pair of 256-bit registers (bands of 32 rows, 28 of them filtered, as
// at AVX-512), the float and 32-bit forms as four registers. Built on
// vector_two_halves.h as the SSE layers are, with 256-bit halves; AVX2's shuffles,
// packs and alignr work within 128-bit lanes, which the byte conversions, lane_bits
// and lanes_down below put back in order.
#pragma once

#include "core/simd/vector_pieces.h"
#include "core/x86/vector_avx2_shared.h"
#include "core/x86/vector_x86.h"

namespace velnor {
namespace {
// A half is one AVX2 register.
constexpr int kHalfLanes = 16;
typedef __m256i HalfRegister;
}  // namespace
}  // namespace velnor

#include "core/simd/vector_two_halves.h"

namespace velnor {
namespace {

// kLanes bytes widened to the lanes, and back (lanes hold 0..255).
VELNOR_INLINE Vec load_bytes(const uint8_t* p) {
    return Vec{
        {half(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)))),
         half(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16))))}};
}
// The pack interleaves the halves' 128-bit lanes: 0-7, 16-23, 8-15, 24-31.
VELNOR_INLINE void store_bytes(uint8_t* p, Vec v) {
    _mm256_storeu_si256(
        reinterpret_cast<__m256i*>(p),
        _mm256_permute4x64_epi64(_mm256_packus_epi16(raw(v.h[0]), raw(v.h[1])), 0xD8));
}

// Bit i set where lane i of a comparison result is set.
VELNOR_INLINE uint32_t lane_bits(Vec mask) {
    return static_cast<uint32_t>(_mm256_movemask_epi8(
        _mm256_permute4x64_epi64(_mm256_packs_epi16(raw(mask.h[0]), raw(mask.h[1])), 0xD8)));
}
VELNOR_INLINE bool any(Vec mask) {
    const __m256i all = _mm256_or_si256(raw(mask.h[0]), raw(mask.h[1]));
    return !_mm256_testz_si256(all, all);
}

// Lane i takes lane i - n (n = 1, 2); the lowest lanes are left unspecified (zero).
// Each 128-bit lane is joined with the 128 bits below it (zeros below the lowest)
// and shifted by n lanes.
template <int kLanesDown>
VELNOR_INLINE Vec lanes_down(Vec v) {
    const __m256i low = raw(v.h[0]), high = raw(v.h[1]);
    const __m256i below_low = _mm256_permute2x128_si256(low, low, 0x08);
    const __m256i below_high = _mm256_permute2x128_si256(high, low, 0x03);
    return Vec{{half(_mm256_alignr_epi8(low, below_low, 16 - 2 * kLanesDown)),
                half(_mm256_alignr_epi8(high, below_high, 16 - 2 * kLanesDown))}};
}
VELNOR_INLINE Vec lanes_down1(Vec v) { return lanes_down<1>(v); }
VELNOR_INLINE Vec lanes_down2(Vec v) { return lanes_down<2>(v); }

VELNOR_INLINE Vec select(Vec mask, Vec yes, Vec no) {
    return Vec{{mask.h[0] ? yes.h[0] : no.h[0], mask.h[1] ? yes.h[1] : no.h[1]}};
}
VELNOR_INLINE Floats select(Wide mask, Floats yes, Floats no) {
    Floats out;
    for (int i = 0; i < 4; ++i) out.q[i] = mask.q[i] ? yes.q[i] : no.q[i];
    return out;
}
VELNOR_INLINE Vec max(Vec a, Vec b) {
    return both(a, b, [](__m256i x, __m256i y) { return _mm256_max_epi16(x, y); });
}
VELNOR_INLINE Vec min(Vec a, Vec b) {
    return both(a, b, [](__m256i x, __m256i y) { return _mm256_min_epi16(x, y); });
}
VELNOR_INLINE Vec magnitude(Vec v) {
    return Vec{{half(_mm256_abs_epi16(raw(v.h[0]))), half(_mm256_abs_epi16(raw(v.h[1])))}};
}
// v limited to 0..255.
VELNOR_INLINE Vec clamp_sample(Vec v) { return max(min(v, splat(255)), splat(0)); }

// For each lane with x in 0..255: entry x of a 16-byte table, or 0 for x >= 16;
// for negative x, some entry (see vector_sse41.h). The table is repeated in both
// 128-bit lanes, as the shuffle reads each lane's own.
constexpr bool kHasByteShuffle = true;
constexpr bool kHasWordTable = false;
VELNOR_INLINE Vec look_up(Vec x, __m128i table, int16_t offsets = -32656) {
    const __m256i wide = _mm256_broadcastsi128_si256(table);
    const __m256i offset = raw(splat(offsets).h[0]);
    return Vec{{half(_mm256_shuffle_epi8(wide, _mm256_adds_epu8(raw(x.h[0]), offset))),
                half(_mm256_shuffle_epi8(wide, _mm256_adds_epu8(raw(x.h[1]), offset)))}};
}
// g negated where d is negative, 0 where d is 0.
VELNOR_INLINE Vec with_sign_of(Vec g, Vec d) {
    return both(g, d, [](__m256i x, __m256i y) { return _mm256_sign_epi16(x, y); });
}

// Lanes as unsigned 16-bit values (wrapping): low half of the product, high half
// of the product, sum, difference, shifts right and left by a count held in the low
// quadword.
VELNOR_INLINE Vec unsigned_multiply_low(Vec a, Vec b) {
    return both(a, b, [](__m256i x, __m256i y) { return _mm256_mullo_epi16(x, y); });
}
VELNOR_INLINE Vec unsigned_multiply_high(Vec a, Vec b) {
    return both(a, b, [](__m256i x, __m256i y) { return _mm256_mulhi_epu16(x, y); });
}
VELNOR_INLINE Vec unsigned_add(Vec a, Vec b) {
    return both(a, b, [](__m256i x, __m256i y) { return _mm256_add_epi16(x, y); });
}
VELNOR_INLINE Vec unsigned_subtract(Vec a, Vec b) {
    return both(a, b, [](__m256i x, __m256i y) { return _mm256_sub_epi16(x, y); });
}
// a - b for unsigned 16-bit lanes, 0 where b is larger.
VELNOR_INLINE Vec saturating_subtract(Vec a, Vec b) {
    return both(a, b, [](__m256i x, __m256i y) { return _mm256_subs_epu16(x, y); });
}
VELNOR_INLINE Vec unsigned_shift_right(Vec a, __m128i count) {
    return Vec{
        {half(_mm256_srl_epi16(raw(a.h[0]), count)), half(_mm256_srl_epi16(raw(a.h[1]), count))}};
}
// The same by a count in an integer (compilers keep its move to a register out of
// loops).
VELNOR_INLINE Vec unsigned_shift_right(Vec a, int count) {
    return unsigned_shift_right(a, _mm_cvtsi32_si128(count));
}
VELNOR_INLINE Vec shift_left(Vec a, __m128i count) {
    return Vec{
        {half(_mm256_sll_epi16(raw(a.h[0]), count)), half(_mm256_sll_epi16(raw(a.h[1]), count))}};
}

VELNOR_INLINE Floats to_floats(Vec v) {
    Floats f;
    for (int i = 0; i < 2; ++i) {
        const __m256i h = raw(v.h[i]);
        f.q[2 * i] = reinterpret_cast<FloatQuarter>(
            _mm256_cvtepi32_ps(_mm256_cvtepi16_epi32(_mm256_castsi256_si128(h))));
        f.q[2 * i + 1] = reinterpret_cast<FloatQuarter>(
            _mm256_cvtepi32_ps(_mm256_cvtepi16_epi32(_mm256_extracti128_si256(h, 1))));
    }
    return f;
}
// Truncation toward zero, saturated to int16; callers keep the values inside the
// int16 range where the result matters.
VELNOR_INLINE Vec to_vec(Floats f) {
    Vec v;
    for (int i = 0; i < 2; ++i) {
        const __m256i low = _mm256_cvttps_epi32(reinterpret_cast<__m256>(f.q[2 * i]));
        const __m256i high = _mm256_cvttps_epi32(reinterpret_cast<__m256>(f.q[2 * i + 1]));
        v.h[i] = half(_mm256_permute4x64_epi64(_mm256_packs_epi32(low, high), 0xD8));
    }
    return v;
}

// One half alone, sixteen lanes in one register: the operations the detectors
// need (pass_arith_vector.h's detectors_by_halves), so that the wavefront's sweep
// runs them half after half and keeps one half's neighbourhood in the registers.
// Arguments of type Vec are the constants, the same in both halves: their low
// half serves.
#define VELNOR_DETECTORS_BY_HALVES 1
VELNOR_INLINE Half select(Half mask, Half yes, Half no) { return mask ? yes : no; }
VELNOR_INLINE bool any(Half mask) { return !_mm256_testz_si256(raw(mask), raw(mask)); }
VELNOR_INLINE Half max(Half a, Half b) { return half(_mm256_max_epi16(raw(a), raw(b))); }
VELNOR_INLINE Half min(Half a, Half b) { return half(_mm256_min_epi16(raw(a), raw(b))); }
VELNOR_INLINE Half min(Half a, Vec b) { return min(a, b.h[0]); }
VELNOR_INLINE Half magnitude(Half v) { return half(_mm256_abs_epi16(raw(v))); }
VELNOR_INLINE Half clamp_sample(Half v) {
    return max(min(v, Half{} + static_cast<int16_t>(255)), Half{});
}
VELNOR_INLINE Half look_up(Half x, __m128i table, int16_t offsets = -32656) {
    const __m256i index = _mm256_adds_epu8(raw(x), raw(Half{} + offsets));
    return half(_mm256_shuffle_epi8(_mm256_broadcastsi128_si256(table), index));
}
VELNOR_INLINE Half with_sign_of(Half g, Half d) { return half(_mm256_sign_epi16(raw(g), raw(d))); }
VELNOR_INLINE Half unsigned_multiply_low(Half a, Half b) {
    return half(_mm256_mullo_epi16(raw(a), raw(b)));
}
VELNOR_INLINE Half unsigned_multiply_high(Half a, Half b) {
    return half(_mm256_mulhi_epu16(raw(a), raw(b)));
}
VELNOR_INLINE Half unsigned_multiply_high(Half a, Vec b) {
    return unsigned_multiply_high(a, b.h[0]);
}
VELNOR_INLINE Half unsigned_add(Half a, Half b) { return half(_mm256_add_epi16(raw(a), raw(b))); }
VELNOR_INLINE Half unsigned_subtract(Half a, Half b) {
    return half(_mm256_sub_epi16(raw(a), raw(b)));
}
VELNOR_INLINE Half saturating_subtract(Half a, Vec b) {
    return half(_mm256_subs_epu16(raw(a), raw(b.h[0])));
}
VELNOR_INLINE Half unsigned_shift_right(Half a, __m128i count) {
    return half(_mm256_srl_epi16(raw(a), count));
}
// For the row-wise form's groups of a half's columns: sixteen bytes widened to a
// half and back (values 0..255), bit i set where lane i is and back, lane i taking
// lane i - n.
VELNOR_INLINE Half load_half_bytes(const uint8_t* p) {
    return half(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))));
}
VELNOR_INLINE void store_half_bytes(uint8_t* p, Half v) {
    _mm_storeu_si128(
        reinterpret_cast<__m128i*>(p),
        _mm_packus_epi16(_mm256_castsi256_si128(raw(v)), _mm256_extracti128_si256(raw(v), 1)));
}
VELNOR_INLINE uint32_t lane_bits(Half mask) {
    return static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(
        _mm256_castsi256_si128(raw(mask)), _mm256_extracti128_si256(raw(mask), 1))));
}
template <int kLanesDown>
VELNOR_INLINE Half lanes_down(Half v) {
    const __m256i below = _mm256_permute2x128_si256(raw(v), raw(v), 0x08);
    return half(_mm256_alignr_epi8(raw(v), below, 16 - 2 * kLanesDown));
}
VELNOR_INLINE Half lanes_down1(Half v) { return lanes_down<1>(v); }
VELNOR_INLINE Half lanes_down2(Half v) { return lanes_down<2>(v); }
VELNOR_INLINE Half shift_left(Half a, __m128i count) {
    return half(_mm256_sll_epi16(raw(a), count));
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

// kLanes 32-bit lanes as four registers, for 16-bit and float samples (their
// operations in vector_avx2_shared.h).
using Ints = Pieces<int32_t, 32, kLanes / 8>;
using Words = Pieces<uint32_t, 32, kLanes / 8>;
using Reals = Pieces<float, 32, kLanes / 8>;

}  // namespace
}  // namespace velnor
