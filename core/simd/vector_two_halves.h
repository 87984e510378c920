// Sixteen int16 lanes as two 128-bit halves, the float forms as four quarters: the
// types and the element-wise operations that need no instruction set's intrinsics,
// shared by the vector layers built this way (SSE2, SSE4.1, NEON). Each layer adds
// what needs its intrinsics.
#pragma once

#include <cstddef>

#include "core/simd/vector_common.h"

namespace velnor {
namespace {

constexpr int kLanes = 16;

typedef int16_t Half __attribute__((vector_size(16)));
typedef int32_t WideQuarter __attribute__((vector_size(16)));
typedef float FloatQuarter __attribute__((vector_size(16)));
struct Vec {
    Half h[2];
};
struct Wide {
    WideQuarter q[4];
};
struct Floats {
    FloatQuarter q[4];
};

VELNOR_PIECEWISE(Vec, Vec, h, 2, +)
VELNOR_PIECEWISE(Vec, Vec, h, 2, -)
VELNOR_PIECEWISE(Vec, Vec, h, 2, *)
VELNOR_PIECEWISE(Vec, Vec, h, 2, &)
VELNOR_PIECEWISE(Vec, Vec, h, 2, |)
VELNOR_PIECEWISE(Vec, Vec, h, 2, <)
VELNOR_PIECEWISE(Vec, Vec, h, 2, >)
VELNOR_PIECEWISE(Vec, Vec, h, 2, <=)
VELNOR_PIECEWISE(Vec, Vec, h, 2, >=)
VELNOR_PIECEWISE(Vec, Vec, h, 2, !=)
VELNOR_PIECEWISE(Vec, Vec, h, 2, ==)
VELNOR_PIECEWISE(Floats, Floats, q, 4, *)
VELNOR_PIECEWISE(Wide, Floats, q, 4, <)
VELNOR_PIECEWISE(Wide, Floats, q, 4, >)

VELNOR_INLINE Vec splat(int v) {
    const Half h = Half{} + static_cast<int16_t>(v);
    return Vec{{h, h}};
}
VELNOR_INLINE Floats splat_floats(float v) {
    const FloatQuarter quarter = FloatQuarter{} + v;
    return Floats{{quarter, quarter, quarter, quarter}};
}
VELNOR_INLINE Vec operator-(Vec a) { return Vec{{-a.h[0], -a.h[1]}}; }
VELNOR_INLINE Vec operator~(Vec a) { return Vec{{~a.h[0], ~a.h[1]}}; }
VELNOR_INLINE Vec operator>>(Vec a, int n) { return Vec{{a.h[0] >> n, a.h[1] >> n}}; }
VELNOR_INLINE Vec operator<<(Vec a, int n) { return Vec{{a.h[0] << n, a.h[1] << n}}; }
VELNOR_INLINE Vec operator<(Vec a, int b) { return a < splat(b); }
VELNOR_INLINE Vec operator>(Vec a, int b) { return a > splat(b); }
VELNOR_INLINE Vec operator!=(Vec a, int b) { return a != splat(b); }
VELNOR_INLINE Vec operator==(Vec a, int b) { return a == splat(b); }

// Truncating division by a constant.
template <int kDivisor>
VELNOR_INLINE Vec divide(Vec a) {
    constexpr int16_t d = kDivisor;
    return Vec{{a.h[0] / d, a.h[1] / d}};
}

VELNOR_INLINE Vec load(const int16_t* p) {
    Vec v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
VELNOR_INLINE void store(int16_t* p, Vec v) { std::memcpy(p, &v, sizeof v); }

// The mask of the lanes whose bit is set in bits.
VELNOR_INLINE Vec lanes_from_bits(uint32_t bits) {
    const Vec lane_bit{
        {Half{1, 2, 4, 8, 16, 32, 64, 128}, Half{256, 512, 1024, 2048, 4096, 8192, 16384, -32768}}};
    return (splat(static_cast<int16_t>(bits)) & lane_bit) != 0;
}

// 8 x 8 lanes of 16 bits, out[j][i] = in[i][j] with each row eight consecutive
// elements: each layer defines it with its own intrinsics.
VELNOR_INLINE void transpose8_words(const void* const in[8], void* const out[8]);

// The wavefront's transposes of 16-bit words: 8 rows (row_step words apart) of 8
// words to 8 steps of 8 lanes (kLanes words apart), and back.
constexpr int kWordTransposeSteps = 8;
VELNOR_INLINE void transpose_words_to_steps(const uint16_t* rows, std::ptrdiff_t row_step,
                                            int16_t* steps) {
    const void* in[8];
    void* out[8];
    for (int i = 0; i < 8; ++i) in[i] = rows + i * row_step, out[i] = steps + i * kLanes;
    transpose8_words(in, out);
}
VELNOR_INLINE void transpose_words_to_rows(const int16_t* steps, uint16_t* rows,
                                           std::ptrdiff_t row_step) {
    const void* in[8];
    void* out[8];
    for (int i = 0; i < 8; ++i) in[i] = steps + i * kLanes, out[i] = rows + i * row_step;
    transpose8_words(in, out);
}

}  // namespace
}  // namespace velnor
