// What the two AVX2 vector layers (one register, vector_avx2.h; register pairs,
// vector_avx2_pairs.h) share: the byte blocks of the wavefront's transposes, the
// 256/512-bit transposes, and the operations on 32-bit lanes in 256-bit registers.
#pragma once

#include "core/simd/vector_pieces.h"
#include "core/x86/transpose_wide_avx.h"
#include "core/x86/vector_x86.h"

namespace velnor {
namespace {

// Byte blocks for the wavefront's transposes: kByteBlocks blocks of 16 bytes side
// by side in a register, unpacked block by block.
typedef __m256i Bytes;
constexpr int kByteBlocks = 2;
VELNOR_INLINE Bytes load_block_bytes(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
VELNOR_INLINE void store_block_bytes(uint8_t* p, Bytes v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}
template <int kBits>
VELNOR_INLINE Bytes unpack_low(Bytes a, Bytes b) {
    if constexpr (kBits == 8) return _mm256_unpacklo_epi8(a, b);
    if constexpr (kBits == 16) return _mm256_unpacklo_epi16(a, b);
    if constexpr (kBits == 32) return _mm256_unpacklo_epi32(a, b);
    if constexpr (kBits == 64) return _mm256_unpacklo_epi64(a, b);
}
template <int kBits>
VELNOR_INLINE Bytes unpack_high(Bytes a, Bytes b) {
    if constexpr (kBits == 8) return _mm256_unpackhi_epi8(a, b);
    if constexpr (kBits == 16) return _mm256_unpackhi_epi16(a, b);
    if constexpr (kBits == 32) return _mm256_unpackhi_epi32(a, b);
    if constexpr (kBits == 64) return _mm256_unpackhi_epi64(a, b);
}
// Block k of v widened to sixteen int16 at to[k], and back (values 0..255).
VELNOR_INLINE void widen_blocks(Bytes v, int16_t* const to[kByteBlocks]) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to[0]),
                        _mm256_cvtepu8_epi16(_mm256_castsi256_si128(v)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to[1]),
                        _mm256_cvtepu8_epi16(_mm256_extracti128_si256(v, 1)));
}
VELNOR_INLINE Bytes narrow_blocks(const int16_t* const from[kByteBlocks]) {
    auto narrow = [](const int16_t* p) {
        return _mm_packus_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
                                _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8)));
    };
    return _mm256_inserti128_si256(_mm256_castsi128_si256(narrow(from[0])), narrow(from[1]), 1);
}

// 32-bit lanes as N 256-bit registers (a layer's Ints, Words and Reals, for 16-bit
// and float samples): whether any lane of a comparison result is set, bit i set
// where lane i is, the high 32 bits of each lane's 64-bit product.
template <int N>
VELNOR_INLINE bool any(Pieces<int32_t, 32, N> mask) {
    __m256i all = reinterpret_cast<__m256i>(mask.part[0]);
    for (int i = 1; i < N; ++i) all = _mm256_or_si256(all, reinterpret_cast<__m256i>(mask.part[i]));
    return !_mm256_testz_si256(all, all);
}
template <int N>
VELNOR_INLINE uint32_t lane_bits(Pieces<int32_t, 32, N> mask) {
    uint32_t bits = 0;
    for (int i = 0; i < N; ++i)
        bits |= static_cast<uint32_t>(_mm256_movemask_ps(reinterpret_cast<__m256>(mask.part[i])))
                << (8 * i);
    return bits;
}
template <int N>
VELNOR_INLINE Pieces<uint32_t, 32, N> multiply_high(Pieces<uint32_t, 32, N> a,
                                                    Pieces<uint32_t, 32, N> b) {
    using Lanes = Pieces<uint32_t, 32, N>;
    Lanes r;
    const __m256i high = _mm256_set1_epi64x(static_cast<long long>(0xFFFFFFFF00000000ull));
    for (int i = 0; i < N; ++i) {
        const __m256i x = reinterpret_cast<__m256i>(a.part[i]);
        const __m256i y = reinterpret_cast<__m256i>(b.part[i]);
        const __m256i even = _mm256_mul_epu32(x, y);
        const __m256i odd = _mm256_mul_epu32(_mm256_srli_epi64(x, 32), _mm256_srli_epi64(y, 32));
        r.part[i] = reinterpret_cast<typename Lanes::Part>(
            _mm256_or_si256(_mm256_srli_epi64(even, 32), _mm256_and_si256(odd, high)));
    }
    return r;
}

}  // namespace
}  // namespace velnor
