// Stands in for the compiler's <immintrin.h> when the AVX-512 pass is built for a
// test on a CPU without AVX-512: SIMDe's portable implementations under the
// intrinsics' own names, and plain lane loops for the few SIMDe 0.7.4 lacks.
// Placed first on the include path of that test build only.
#pragma once

#define SIMDE_ENABLE_NATIVE_ALIASES
#include <simde/x86/avx512.h>

#include <cstdint>
#include <cstring>
#include <limits>

// Each loop copies the register's bytes into an array of lanes and the result back.

static inline __m512i _mm512_cvtepi16_epi32(__m256i a) {
    int16_t in[16];
    int32_t out[16];
    std::memcpy(in, &a, sizeof in);
    for (int i = 0; i < 16; ++i) out[i] = in[i];
    __m512i r;
    std::memcpy(&r, out, sizeof r);
    return r;
}

static inline __m512i _mm512_cvtepu8_epi16(__m256i a) {
    uint8_t in[32];
    int16_t out[32];
    std::memcpy(in, &a, sizeof in);
    for (int i = 0; i < 32; ++i) out[i] = in[i];
    __m512i r;
    std::memcpy(&r, out, sizeof r);
    return r;
}

static inline __m512 _mm512_cvtepi32_ps(__m512i a) {
    int32_t in[16];
    float out[16];
    std::memcpy(in, &a, sizeof in);
    for (int i = 0; i < 16; ++i) out[i] = static_cast<float>(in[i]);
    __m512 r;
    std::memcpy(&r, out, sizeof r);
    return r;
}

// A float outside the int32 range, or NaN, gives the smallest int32, as the
// instruction does.
static inline __m512i _mm512_cvttps_epi32(__m512 a) {
    constexpr float kLimit = 2147483648.0f;  // 2^31
    float in[16];
    int32_t out[16];
    std::memcpy(in, &a, sizeof in);
    for (int i = 0; i < 16; ++i)
        out[i] = in[i] >= -kLimit && in[i] < kLimit ? static_cast<int32_t>(in[i])
                                                    : std::numeric_limits<int32_t>::min();
    __m512i r;
    std::memcpy(&r, out, sizeof r);
    return r;
}

static inline __m512i _mm512_mulhi_epu16(__m512i a, __m512i b) {
    uint16_t x[32], y[32], out[32];
    std::memcpy(x, &a, sizeof x);
    std::memcpy(y, &b, sizeof y);
    for (int i = 0; i < 32; ++i)
        out[i] = static_cast<uint16_t>((static_cast<uint32_t>(x[i]) * y[i]) >> 16);
    __m512i r;
    std::memcpy(&r, out, sizeof r);
    return r;
}
