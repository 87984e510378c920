// Sixteen int16 lanes as two 128-bit halves (the float forms four quarters), each
// handled with SSE2 operations: letting the compiler split wider vectors itself
// turns comparisons and selections into element loops. Shared by the SSE2 and
// SSE4.1 vector layers.
#pragma once

#include "core/simd/vector_pieces.h"
#include "core/x86/vector_x86.h"

namespace velnor {
namespace {
// A half is one SSE register.
constexpr int kHalfLanes = 8;
typedef __m128i HalfRegister;
}  // namespace
}  // namespace velnor

#include "core/simd/transpose_words_8x8.h"
#include "core/simd/vector_two_halves.h"

namespace velnor {
namespace {

// kLanes bytes widened to the lanes, and back (lanes hold 0..255).
VELNOR_INLINE Vec load_bytes(const uint8_t* p) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i zero = _mm_setzero_si128();
    return Vec{{half(_mm_unpacklo_epi8(bytes, zero)), half(_mm_unpackhi_epi8(bytes, zero))}};
}
VELNOR_INLINE void store_bytes(uint8_t* p, Vec v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_packus_epi16(raw(v.h[0]), raw(v.h[1])));
}

// Bit i set where lane i of a comparison result is set.
VELNOR_INLINE uint32_t lane_bits(Vec mask) {
    return static_cast<uint32_t>(
        _mm_movemask_epi8(_mm_packs_epi16(raw(mask.h[0]), raw(mask.h[1]))));
}
VELNOR_INLINE bool any(Vec mask) {
    return _mm_movemask_epi8(_mm_or_si128(raw(mask.h[0]), raw(mask.h[1]))) != 0;
}

// Lane i takes lane i - n (n = 1, 2); the lowest lanes are left unspecified.
template <int kBytes>
VELNOR_INLINE Vec lanes_down(Vec v) {
    const __m128i low = raw(v.h[0]), high = raw(v.h[1]);
    return Vec{
        {half(_mm_slli_si128(low, kBytes)),
         half(_mm_or_si128(_mm_slli_si128(high, kBytes), _mm_srli_si128(low, 16 - kBytes)))}};
}
VELNOR_INLINE Vec lanes_down1(Vec v) { return lanes_down<2>(v); }
VELNOR_INLINE Vec lanes_down2(Vec v) { return lanes_down<4>(v); }

// Bitwise selection: plain ?: on these would be split into single elements.
VELNOR_INLINE Vec select(Vec mask, Vec yes, Vec no) { return (mask & yes) | (~mask & no); }
VELNOR_INLINE Floats select(Wide mask, Floats yes, Floats no) {
    Floats out;
    for (int i = 0; i < 4; ++i) {
        const WideQuarter y = reinterpret_cast<WideQuarter>(yes.q[i]);
        const WideQuarter n = reinterpret_cast<WideQuarter>(no.q[i]);
        out.q[i] = reinterpret_cast<FloatQuarter>((mask.q[i] & y) | (~mask.q[i] & n));
    }
    return out;
}
VELNOR_INLINE Vec max(Vec a, Vec b) {
    return both(a, b, [](__m128i x, __m128i y) { return _mm_max_epi16(x, y); });
}
VELNOR_INLINE Vec min(Vec a, Vec b) {
    return both(a, b, [](__m128i x, __m128i y) { return _mm_min_epi16(x, y); });
}
VELNOR_INLINE Vec magnitude(Vec v) { return max(v, -v); }
// v limited to 0..255 (selections measured faster than min and max here).
VELNOR_INLINE Vec clamp_sample(Vec v) {
    v = select(v < 0, splat(0), v);
    return select(v > 255, splat(255), v);
}

// Lanes as unsigned 16-bit values (wrapping): low half of the product, high half
// of the product, sum, difference, shifts right and left by a count held in the low
// quadword.
VELNOR_INLINE Vec unsigned_multiply_low(Vec a, Vec b) {
    return both(a, b, [](__m128i x, __m128i y) { return _mm_mullo_epi16(x, y); });
}
VELNOR_INLINE Vec unsigned_multiply_high(Vec a, Vec b) {
    return both(a, b, [](__m128i x, __m128i y) { return _mm_mulhi_epu16(x, y); });
}
VELNOR_INLINE Vec unsigned_add(Vec a, Vec b) {
    return both(a, b, [](__m128i x, __m128i y) { return _mm_add_epi16(x, y); });
}
VELNOR_INLINE Vec unsigned_subtract(Vec a, Vec b) {
    return both(a, b, [](__m128i x, __m128i y) { return _mm_sub_epi16(x, y); });
}
// a - b for unsigned 16-bit lanes, 0 where b is larger.
VELNOR_INLINE Vec saturating_subtract(Vec a, Vec b) {
    return both(a, b, [](__m128i x, __m128i y) { return _mm_subs_epu16(x, y); });
}
VELNOR_INLINE Vec unsigned_shift_right(Vec a, __m128i count) {
    return Vec{{half(_mm_srl_epi16(raw(a.h[0]), count)), half(_mm_srl_epi16(raw(a.h[1]), count))}};
}
// The same by a count in an integer (compilers keep its move to a register out of
// loops).
VELNOR_INLINE Vec unsigned_shift_right(Vec a, int count) {
    return unsigned_shift_right(a, _mm_cvtsi32_si128(count));
}
VELNOR_INLINE Vec shift_left(Vec a, __m128i count) {
    return Vec{{half(_mm_sll_epi16(raw(a.h[0]), count)), half(_mm_sll_epi16(raw(a.h[1]), count))}};
}

// One half alone, eight lanes in one register: the operations the detectors need
// (pass_arith_vector.h's detectors_by_halves), so that the wavefront's sweep runs
// them half after half and spills less of the neighbourhood (17 vectors of two
// registers against 16 registers). Arguments of type Vec are the constants, the
// same in both halves: their low half serves. The levels add look_up and
// with_sign_of.
#define VELNOR_DETECTORS_BY_HALVES 1
VELNOR_INLINE Half select(Half mask, Half yes, Half no) { return (mask & yes) | (~mask & no); }
VELNOR_INLINE bool any(Half mask) { return _mm_movemask_epi8(raw(mask)) != 0; }
VELNOR_INLINE Half max(Half a, Half b) { return half(_mm_max_epi16(raw(a), raw(b))); }
VELNOR_INLINE Half min(Half a, Half b) { return half(_mm_min_epi16(raw(a), raw(b))); }
VELNOR_INLINE Half min(Half a, Vec b) { return min(a, b.h[0]); }
VELNOR_INLINE Half magnitude(Half v) { return max(v, -v); }
VELNOR_INLINE Half clamp_sample(Half v) {
    v = select(v < 0, Half{}, v);
    return select(v > 255, Half{} + static_cast<int16_t>(255), v);
}
VELNOR_INLINE Half unsigned_multiply_low(Half a, Half b) {
    return half(_mm_mullo_epi16(raw(a), raw(b)));
}
VELNOR_INLINE Half unsigned_multiply_high(Half a, Half b) {
    return half(_mm_mulhi_epu16(raw(a), raw(b)));
}
VELNOR_INLINE Half unsigned_multiply_high(Half a, Vec b) {
    return unsigned_multiply_high(a, b.h[0]);
}
VELNOR_INLINE Half unsigned_add(Half a, Half b) { return half(_mm_add_epi16(raw(a), raw(b))); }
VELNOR_INLINE Half unsigned_subtract(Half a, Half b) { return half(_mm_sub_epi16(raw(a), raw(b))); }
VELNOR_INLINE Half saturating_subtract(Half a, Vec b) {
    return half(_mm_subs_epu16(raw(a), raw(b.h[0])));
}
VELNOR_INLINE Half unsigned_shift_right(Half a, __m128i count) {
    return half(_mm_srl_epi16(raw(a), count));
}
VELNOR_INLINE Half unsigned_shift_right(Half a, int count) {
    return unsigned_shift_right(a, _mm_cvtsi32_si128(count));
}
VELNOR_INLINE Half shift_left(Half a, __m128i count) { return half(_mm_sll_epi16(raw(a), count)); }
// For the row-wise form's groups of a half's columns: eight bytes widened to a
// half and back (values 0..255), bit i set where lane i is, lane i taking lane
// i - n.
VELNOR_INLINE Half load_half_bytes(const uint8_t* p) {
    return half(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)),
                                  _mm_setzero_si128()));
}
VELNOR_INLINE void store_half_bytes(uint8_t* p, Half v) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_packus_epi16(raw(v), raw(v)));
}
VELNOR_INLINE uint32_t lane_bits(Half mask) {
    return static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(raw(mask), raw(mask)))) & 0xFF;
}
template <int kBytes>
VELNOR_INLINE Half lanes_down(Half v) {
    return half(_mm_slli_si128(raw(v), kBytes));
}
VELNOR_INLINE Half lanes_down1(Half v) { return lanes_down<2>(v); }
VELNOR_INLINE Half lanes_down2(Half v) { return lanes_down<4>(v); }

// Byte blocks for the wavefront's transposes: kByteBlocks blocks of 16 bytes side
// by side in a register, unpacked block by block.
typedef __m128i Bytes;
constexpr int kByteBlocks = 1;
VELNOR_INLINE Bytes load_block_bytes(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
VELNOR_INLINE void store_block_bytes(uint8_t* p, Bytes v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}
template <int kBits>
VELNOR_INLINE Bytes unpack_low(Bytes a, Bytes b) {
    if constexpr (kBits == 8) return _mm_unpacklo_epi8(a, b);
    if constexpr (kBits == 16) return _mm_unpacklo_epi16(a, b);
    if constexpr (kBits == 32) return _mm_unpacklo_epi32(a, b);
    if constexpr (kBits == 64) return _mm_unpacklo_epi64(a, b);
}
template <int kBits>
VELNOR_INLINE Bytes unpack_high(Bytes a, Bytes b) {
    if constexpr (kBits == 8) return _mm_unpackhi_epi8(a, b);
    if constexpr (kBits == 16) return _mm_unpackhi_epi16(a, b);
    if constexpr (kBits == 32) return _mm_unpackhi_epi32(a, b);
    if constexpr (kBits == 64) return _mm_unpackhi_epi64(a, b);
}
// Block k of v widened to sixteen int16 at to[k], and back (values 0..255).
VELNOR_INLINE void widen_blocks(Bytes v, int16_t* const to[kByteBlocks]) {
    const __m128i zero = _mm_setzero_si128();
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to[0]), _mm_unpacklo_epi8(v, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to[0] + 8), _mm_unpackhi_epi8(v, zero));
}
VELNOR_INLINE Bytes narrow_blocks(const int16_t* const from[kByteBlocks]) {
    return _mm_packus_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(from[0])),
                            _mm_loadu_si128(reinterpret_cast<const __m128i*>(from[0] + 8)));
}

VELNOR_INLINE Floats to_floats(Vec v) {
    Floats f;
    for (int i = 0; i < 2; ++i) {
        const __m128i h = raw(v.h[i]);
        // Sign-extend each quarter to 32 bits.
        f.q[2 * i] = reinterpret_cast<FloatQuarter>(
            _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpacklo_epi16(h, h), 16)));
        f.q[2 * i + 1] = reinterpret_cast<FloatQuarter>(
            _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpackhi_epi16(h, h), 16)));
    }
    return f;
}
// Truncation toward zero, saturated to int16; callers keep the values inside the
// int16 range where the result matters.
VELNOR_INLINE Vec to_vec(Floats f) {
    Vec v;
    for (int i = 0; i < 2; ++i)
        v.h[i] = half(_mm_packs_epi32(_mm_cvttps_epi32(reinterpret_cast<__m128>(f.q[2 * i])),
                                      _mm_cvttps_epi32(reinterpret_cast<__m128>(f.q[2 * i + 1]))));
    return v;
}

// kLanes 32-bit lanes as four 128-bit registers, for 16-bit and float samples.
using Ints = Pieces<int32_t, 16, kLanes / 4>;
using Words = Pieces<uint32_t, 16, kLanes / 4>;
using Reals = Pieces<float, 16, kLanes / 4>;
VELNOR_INLINE bool any(Ints mask) {
    __m128i all = reinterpret_cast<__m128i>(mask.part[0]);
    for (int i = 1; i < kLanes / 4; ++i)
        all = _mm_or_si128(all, reinterpret_cast<__m128i>(mask.part[i]));
    return _mm_movemask_epi8(all) != 0;
}
// Bit i set where lane i of a comparison result is set.
VELNOR_INLINE uint32_t lane_bits(Ints mask) {
    uint32_t bits = 0;
    for (int i = 0; i < kLanes / 4; ++i)
        bits |= static_cast<uint32_t>(_mm_movemask_ps(reinterpret_cast<__m128>(mask.part[i])))
                << (4 * i);
    return bits;
}
// 4 x 4 lanes of 32 bits: out[j][i] = in[i][j], each row four consecutive
// elements. Used by the wavefront's transposes of 32-bit lanes.
VELNOR_INLINE void transpose4(const void* const in[4], void* const out[4]) {
    const __m128 r0 = _mm_loadu_ps(static_cast<const float*>(in[0]));
    const __m128 r1 = _mm_loadu_ps(static_cast<const float*>(in[1]));
    const __m128 r2 = _mm_loadu_ps(static_cast<const float*>(in[2]));
    const __m128 r3 = _mm_loadu_ps(static_cast<const float*>(in[3]));
    const __m128 t0 = _mm_unpacklo_ps(r0, r1), t1 = _mm_unpacklo_ps(r2, r3);
    const __m128 t2 = _mm_unpackhi_ps(r0, r1), t3 = _mm_unpackhi_ps(r2, r3);
    _mm_storeu_ps(static_cast<float*>(out[0]), _mm_movelh_ps(t0, t1));
    _mm_storeu_ps(static_cast<float*>(out[1]), _mm_movehl_ps(t1, t0));
    _mm_storeu_ps(static_cast<float*>(out[2]), _mm_movelh_ps(t2, t3));
    _mm_storeu_ps(static_cast<float*>(out[3]), _mm_movehl_ps(t3, t2));
}
// 8 x 8 lanes of 16 bits: out[j][i] = in[i][j], each row eight consecutive
// elements. Used by the wavefront's transposes of 16-bit words.
VELNOR_INLINE void transpose8_words(const void* const in[8], void* const out[8]) {
    __m128i r[8], a[8], b[8];
    for (int i = 0; i < 8; ++i) r[i] = _mm_loadu_si128(static_cast<const __m128i*>(in[i]));
    for (int i = 0; i < 8; i += 2) {  // row pairs, column pairs interleaved
        a[i] = _mm_unpacklo_epi16(r[i], r[i + 1]);
        a[i + 1] = _mm_unpackhi_epi16(r[i], r[i + 1]);
    }
    for (int i = 0; i < 8; i += 4) {  // row quads: columns 0-1, 2-3, 4-5, 6-7
        b[i] = _mm_unpacklo_epi32(a[i], a[i + 2]);
        b[i + 1] = _mm_unpackhi_epi32(a[i], a[i + 2]);
        b[i + 2] = _mm_unpacklo_epi32(a[i + 1], a[i + 3]);
        b[i + 3] = _mm_unpackhi_epi32(a[i + 1], a[i + 3]);
    }
    for (int j = 0; j < 4; ++j) {
        _mm_storeu_si128(static_cast<__m128i*>(out[2 * j]), _mm_unpacklo_epi64(b[j], b[j + 4]));
        _mm_storeu_si128(static_cast<__m128i*>(out[2 * j + 1]), _mm_unpackhi_epi64(b[j], b[j + 4]));
    }
}

// The wavefront's transposes of 32-bit lanes: 4 x 4.
constexpr int kWideTranspose = 4;
VELNOR_INLINE void transpose_wide(const void* const in[4], void* const out[4]) {
    transpose4(in, out);
}

// The high 32 bits of each lane's 64-bit product.
VELNOR_INLINE Words multiply_high(Words a, Words b) {
    Words r;
    const __m128i high = _mm_set1_epi64x(static_cast<long long>(0xFFFFFFFF00000000ull));
    for (int i = 0; i < kLanes / 4; ++i) {
        const __m128i x = reinterpret_cast<__m128i>(a.part[i]);
        const __m128i y = reinterpret_cast<__m128i>(b.part[i]);
        const __m128i even = _mm_mul_epu32(x, y);
        const __m128i odd = _mm_mul_epu32(_mm_srli_epi64(x, 32), _mm_srli_epi64(y, 32));
        r.part[i] = reinterpret_cast<Words::Part>(
            _mm_or_si128(_mm_srli_epi64(even, 32), _mm_and_si128(odd, high)));
    }
    return r;
}

}  // namespace
}  // namespace velnor
