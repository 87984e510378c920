// The wavefront's transposes of 32-bit lanes and 16-bit words that the AVX2 and
// AVX-512 vector layers share (both translation units have the AVX2 instructions).
// Internal linkage, as everything in a vector layer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/x86/vector_x86.h"

namespace velnor {
namespace {

// 8 x 8 lanes of 32 bits: out[j][i] = in[i][j], each row eight consecutive
// elements. The wavefront's transposes of 32-bit lanes.
constexpr int kWideTranspose = 8;
VELNOR_INLINE void transpose_wide(const void* const in[8], void* const out[8]) {
    __m256 r[8], t[8], s[8];
    for (int i = 0; i < 8; ++i) r[i] = _mm256_loadu_ps(static_cast<const float*>(in[i]));
    for (int i = 0; i < 8; i += 2) {
        t[i] = _mm256_unpacklo_ps(r[i], r[i + 1]);
        t[i + 1] = _mm256_unpackhi_ps(r[i], r[i + 1]);
    }
    for (int i = 0; i < 8; i += 4) {
        s[i] = _mm256_shuffle_ps(t[i], t[i + 2], 0x44);
        s[i + 1] = _mm256_shuffle_ps(t[i], t[i + 2], 0xEE);
        s[i + 2] = _mm256_shuffle_ps(t[i + 1], t[i + 3], 0x44);
        s[i + 3] = _mm256_shuffle_ps(t[i + 1], t[i + 3], 0xEE);
    }
    for (int j = 0; j < 4; ++j) {
        _mm256_storeu_ps(static_cast<float*>(out[j]), _mm256_permute2f128_ps(s[j], s[j + 4], 0x20));
        _mm256_storeu_ps(static_cast<float*>(out[j + 4]),
                         _mm256_permute2f128_ps(s[j], s[j + 4], 0x31));
    }
}

// The wavefront's transposes of 16-bit words: 8 rows (row_step words apart) of 16
// words to 16 steps of 8 lanes (kLaneCount words apart: the layer's kLanes), and
// back, as two 8 x 8 transposes side by side in the halves of each register.
constexpr int kWordTransposeSteps = 16;
VELNOR_INLINE void transpose_words_in_halves(__m256i r[8]) {
    __m256i a[8], b[8];
    for (int i = 0; i < 8; i += 2) {  // row pairs, column pairs interleaved
        a[i] = _mm256_unpacklo_epi16(r[i], r[i + 1]);
        a[i + 1] = _mm256_unpackhi_epi16(r[i], r[i + 1]);
    }
    for (int i = 0; i < 8; i += 4) {  // row quads: columns 0-1, 2-3, 4-5, 6-7
        b[i] = _mm256_unpacklo_epi32(a[i], a[i + 2]);
        b[i + 1] = _mm256_unpackhi_epi32(a[i], a[i + 2]);
        b[i + 2] = _mm256_unpacklo_epi32(a[i + 1], a[i + 3]);
        b[i + 3] = _mm256_unpackhi_epi32(a[i + 1], a[i + 3]);
    }
    for (int j = 0; j < 4; ++j) {
        r[2 * j] = _mm256_unpacklo_epi64(b[j], b[j + 4]);
        r[2 * j + 1] = _mm256_unpackhi_epi64(b[j], b[j + 4]);
    }
}
template <int kLaneCount>
VELNOR_INLINE void transpose_words_to_steps(const uint16_t* rows, std::ptrdiff_t row_step,
                                            int16_t* steps) {
    __m256i r[8];
    for (int i = 0; i < 8; ++i)
        r[i] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows + i * row_step));
    transpose_words_in_halves(r);
    for (int j = 0; j < 8; ++j) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(steps + j * kLaneCount),
                         _mm256_castsi256_si128(r[j]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(steps + (j + 8) * kLaneCount),
                         _mm256_extracti128_si256(r[j], 1));
    }
}
template <int kLaneCount>
VELNOR_INLINE void transpose_words_to_rows(const int16_t* steps, uint16_t* rows,
                                           std::ptrdiff_t row_step) {
    __m256i r[8];
    for (int i = 0; i < 8; ++i)
        r[i] = _mm256_inserti128_si256(
            _mm256_castsi128_si256(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(steps + i * kLaneCount))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(steps + (i + 8) * kLaneCount)), 1);
    transpose_words_in_halves(r);
    for (int i = 0; i < 8; ++i)
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(rows + i * row_step), r[i]);
}

}  // namespace
}  // namespace velnor
