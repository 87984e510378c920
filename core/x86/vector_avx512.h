// The AVX-512 (BW and VL) vector layer: thirty-two int16 lanes in one register,
// comparisons in mask registers; the float forms in two registers.
#pragma once

#include "core/simd/vector_pieces.h"
#include "core/x86/transpose_wide_avx.h"
#include "core/x86/vector_x86.h"

namespace velnor {
namespace {

constexpr int kLanes = 32;

typedef int16_t Vec __attribute__((vector_size(2 * kLanes)));
typedef float SixteenFloats __attribute__((vector_size(64)));
typedef int32_t SixteenInts __attribute__((vector_size(64)));
struct Wide {
    SixteenInts h[2];
};
struct Floats {
    SixteenFloats h[2];
};
VELNOR_PIECEWISE(Floats, Floats, h, 2, *)
VELNOR_PIECEWISE(Wide, Floats, h, 2, <)
VELNOR_PIECEWISE(Wide, Floats, h, 2, >)

VELNOR_INLINE __m512i raw(Vec v) { return reinterpret_cast<__m512i>(v); }
VELNOR_INLINE Vec vec(__m512i v) { return reinterpret_cast<Vec>(v); }

VELNOR_INLINE Vec splat(int v) { return Vec{} + static_cast<int16_t>(v); }
VELNOR_INLINE Floats splat_floats(float v) {
    const SixteenFloats half = SixteenFloats{} + v;
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
    return vec(_mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p))));
}
VELNOR_INLINE void store_bytes(uint8_t* p, Vec v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), _mm512_cvtepi16_epi8(raw(v)));
}

// Bit i set where lane i of a comparison result is set, and back.
VELNOR_INLINE uint32_t lane_bits(Vec mask) {
    return static_cast<uint32_t>(_mm512_movepi16_mask(raw(mask)));
}
VELNOR_INLINE Vec lanes_from_bits(uint32_t bits) { return vec(_mm512_movm_epi16(bits)); }
VELNOR_INLINE bool any(Vec mask) { return _mm512_test_epi16_mask(raw(mask), raw(mask)) != 0; }

// Lane i takes lane i - n (n = 1, 2); the lowest lanes are left unspecified.
VELNOR_INLINE Vec lanes_down1(Vec v) {
    return __builtin_shufflevector(v, v, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15,
                                   16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30);
}
VELNOR_INLINE Vec lanes_down2(Vec v) {
    return __builtin_shufflevector(v, v, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15,
                                   16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29);
}

VELNOR_INLINE Vec select(Vec mask, Vec yes, Vec no) { return mask ? yes : no; }
VELNOR_INLINE Floats select(Wide mask, Floats yes, Floats no) {
    return Floats{{mask.h[0] ? yes.h[0] : no.h[0], mask.h[1] ? yes.h[1] : no.h[1]}};
}
VELNOR_INLINE Vec max(Vec a, Vec b) { return a > b ? a : b; }
VELNOR_INLINE Vec min(Vec a, Vec b) { return a < b ? a : b; }
VELNOR_INLINE Vec magnitude(Vec v) { return vec(_mm512_abs_epi16(raw(v))); }
// v limited to 0..255.
VELNOR_INLINE Vec clamp_sample(Vec v) { return max(min(v, splat(255)), splat(0)); }

// The word tables below cover every knee a byte table would (up to 63), so this
// layer has no byte look-up.
constexpr bool kHasByteShuffle = false;
// Entry i mod 2 kLanes of the 2 kLanes entries low, high (the low bits of i select).
constexpr bool kHasWordTable = true;
VELNOR_INLINE Vec look_up_words(Vec i, Vec low, Vec high) {
    return vec(_mm512_permutex2var_epi16(raw(low), raw(i), raw(high)));
}
// g negated where d is negative (for g that is 0 where d is 0, as every shaped
// magnitude is; AVX-512 has no sign operation).
VELNOR_INLINE Vec with_sign_of(Vec g, Vec d) { return d < 0 ? -g : g; }

// Lanes as unsigned 16-bit values (wrapping): low half of the product, high half
// of the product, sum, difference, shifts right and left by a count held in the low
// quadword.
VELNOR_INLINE Vec unsigned_multiply_low(Vec a, Vec b) {
    return vec(_mm512_mullo_epi16(raw(a), raw(b)));
}
VELNOR_INLINE Vec unsigned_multiply_high(Vec a, Vec b) {
    return vec(_mm512_mulhi_epu16(raw(a), raw(b)));
}
VELNOR_INLINE Vec unsigned_add(Vec a, Vec b) { return vec(_mm512_add_epi16(raw(a), raw(b))); }
VELNOR_INLINE Vec unsigned_subtract(Vec a, Vec b) { return vec(_mm512_sub_epi16(raw(a), raw(b))); }
VELNOR_INLINE Vec unsigned_shift_right(Vec a, __m128i count) {
    return vec(_mm512_srl_epi16(raw(a), count));
}
// The same by a count in an integer (compilers keep its move to a register out of
// loops).
VELNOR_INLINE Vec unsigned_shift_right(Vec a, int count) {
    return unsigned_shift_right(a, _mm_cvtsi32_si128(count));
}
VELNOR_INLINE Vec shift_left(Vec a, __m128i count) { return vec(_mm512_sll_epi16(raw(a), count)); }

// Byte blocks for the wavefront's transposes: kByteBlocks blocks of 16 bytes side
// by side in a register, unpacked block by block.
typedef __m512i Bytes;
constexpr int kByteBlocks = 4;
VELNOR_INLINE Bytes load_block_bytes(const uint8_t* p) {
    return _mm512_loadu_si512(reinterpret_cast<const void*>(p));
}
VELNOR_INLINE void store_block_bytes(uint8_t* p, Bytes v) {
    _mm512_storeu_si512(reinterpret_cast<void*>(p), v);
}
template <int kBits>
VELNOR_INLINE Bytes unpack_low(Bytes a, Bytes b) {
    if constexpr (kBits == 8) return _mm512_unpacklo_epi8(a, b);
    if constexpr (kBits == 16) return _mm512_unpacklo_epi16(a, b);
    if constexpr (kBits == 32) return _mm512_unpacklo_epi32(a, b);
    if constexpr (kBits == 64) return _mm512_unpacklo_epi64(a, b);
}
template <int kBits>
VELNOR_INLINE Bytes unpack_high(Bytes a, Bytes b) {
    if constexpr (kBits == 8) return _mm512_unpackhi_epi8(a, b);
    if constexpr (kBits == 16) return _mm512_unpackhi_epi16(a, b);
    if constexpr (kBits == 32) return _mm512_unpackhi_epi32(a, b);
    if constexpr (kBits == 64) return _mm512_unpackhi_epi64(a, b);
}
// Block k of v widened to sixteen int16 at to[k], and back (values 0..255).
VELNOR_INLINE void widen_blocks(Bytes v, int16_t* const to[kByteBlocks]) {
    const __m512i low = _mm512_cvtepu8_epi16(_mm512_castsi512_si256(v));
    const __m512i high = _mm512_cvtepu8_epi16(_mm512_extracti64x4_epi64(v, 1));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to[0]), _mm512_castsi512_si256(low));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to[1]), _mm512_extracti64x4_epi64(low, 1));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to[2]), _mm512_castsi512_si256(high));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to[3]), _mm512_extracti64x4_epi64(high, 1));
}
VELNOR_INLINE Bytes narrow_blocks(const int16_t* const from[kByteBlocks]) {
    auto narrow = [](const int16_t* a, const int16_t* b) {
        const __m512i both = _mm512_inserti64x4(
            _mm512_castsi256_si512(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a))),
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b)), 1);
        return _mm512_cvtepi16_epi8(both);
    };
    return _mm512_inserti64x4(_mm512_castsi256_si512(narrow(from[0], from[1])),
                              narrow(from[2], from[3]), 1);
}

VELNOR_INLINE Floats to_floats(Vec v) {
    return Floats{{reinterpret_cast<SixteenFloats>(
                       _mm512_cvtepi32_ps(_mm512_cvtepi16_epi32(_mm512_castsi512_si256(raw(v))))),
                   reinterpret_cast<SixteenFloats>(_mm512_cvtepi32_ps(
                       _mm512_cvtepi16_epi32(_mm512_extracti64x4_epi64(raw(v), 1))))}};
}
// Truncation toward zero, saturated to int16; callers keep the values inside the
// int16 range where the result matters.
VELNOR_INLINE Vec to_vec(Floats f) {
    const __m256i low =
        _mm512_cvtsepi32_epi16(_mm512_cvttps_epi32(reinterpret_cast<__m512>(f.h[0])));
    const __m256i high =
        _mm512_cvtsepi32_epi16(_mm512_cvttps_epi32(reinterpret_cast<__m512>(f.h[1])));
    return vec(_mm512_inserti64x4(_mm512_castsi256_si512(low), high, 1));
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

// kLanes 32-bit lanes as two registers, for 16-bit and float samples.
using Ints = Pieces<int32_t, 64, kLanes / 16>;
using Words = Pieces<uint32_t, 64, kLanes / 16>;
using Reals = Pieces<float, 64, kLanes / 16>;
VELNOR_INLINE bool any(Ints mask) {
    __m512i all = reinterpret_cast<__m512i>(mask.part[0]);
    for (int i = 1; i < kLanes / 16; ++i)
        all = _mm512_or_si512(all, reinterpret_cast<__m512i>(mask.part[i]));
    return _mm512_test_epi32_mask(all, all) != 0;
}
// Bit i set where lane i of a comparison result is set.
VELNOR_INLINE uint32_t lane_bits(Ints mask) {
    uint32_t bits = 0;
    for (int i = 0; i < kLanes / 16; ++i) {
        const __m512i m = reinterpret_cast<__m512i>(mask.part[i]);
        bits |= static_cast<uint32_t>(_mm512_test_epi32_mask(m, m)) << (16 * i);
    }
    return bits;
}

// The high 32 bits of each lane's 64-bit product. The zero-masked forms of the
// intrinsics: GCC's plain ones start from undefined registers, which its own
// warnings then report. Shifts of 64-bit lanes through the vector extensions.
VELNOR_INLINE Words multiply_high(Words a, Words b) {
    typedef uint64_t Quads __attribute__((vector_size(64)));
    Words r;
    const Quads high = Quads{} + 0xFFFFFFFF00000000ull;
    for (int i = 0; i < kLanes / 16; ++i) {
        const Quads x = reinterpret_cast<Quads>(a.part[i]);
        const Quads y = reinterpret_cast<Quads>(b.part[i]);
        const Quads even = reinterpret_cast<Quads>(_mm512_maskz_mul_epu32(
            0xFF, reinterpret_cast<__m512i>(x), reinterpret_cast<__m512i>(y)));
        const Quads odd = reinterpret_cast<Quads>(_mm512_maskz_mul_epu32(
            0xFF, reinterpret_cast<__m512i>(x >> 32), reinterpret_cast<__m512i>(y >> 32)));
        r.part[i] = reinterpret_cast<Words::Part>((even >> 32) | (odd & high));
    }
    return r;
}

}  // namespace
}  // namespace velnor
