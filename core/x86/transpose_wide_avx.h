// The 8 x 8 transpose of 32-bit lanes that the AVX2 and AVX-512 vector layers
// share (both translation units have the AVX2 instructions). Internal linkage, as
// everything in a vector layer.
#pragma once

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

}  // namespace
}  // namespace velnor
