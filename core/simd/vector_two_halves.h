// kLanes int16 lanes as two halves of kHalfLanes lanes each, the float forms as four
// quarters: the types and the element-wise operations that need no instruction
// set's intrinsics, shared by the vector layers built this way (SSE2 and SSE4.1 on
// 128-bit halves, NEON, AVX2 on pairs of 256-bit registers). The including layer
// defines kHalfLanes (8 or 16) and HalfRegister (its intrinsics' type for a half)
// first, and adds what needs its intrinsics.
#pragma once

#include <cstddef>
#include <utility>

#include "core/simd/vector_common.h"

namespace velnor {
namespace {

static_assert(kHalfLanes == 8 || kHalfLanes == 16, "halves of one or two 16-bit words of bits");
constexpr int kLanes = 2 * kHalfLanes;

typedef int16_t Half __attribute__((vector_size(2 * kHalfLanes)));
typedef int32_t WideQuarter __attribute__((vector_size(2 * kHalfLanes)));
typedef float FloatQuarter __attribute__((vector_size(2 * kHalfLanes)));
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

VELNOR_INLINE HalfRegister raw(Half h) { return reinterpret_cast<HalfRegister>(h); }
VELNOR_INLINE Half half(HalfRegister v) { return reinterpret_cast<Half>(v); }
// Applies a two-operand operation on the layer's registers to both halves.
template <class Op>
VELNOR_INLINE Vec both(Vec a, Vec b, Op op) {
    return Vec{{half(op(raw(a.h[0]), raw(b.h[0]))), half(op(raw(a.h[1]), raw(b.h[1])))}};
}

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

// Whole for 16-byte halves; half by half for 32-byte ones (a 64-byte copy at once
// compiles to extra moves through the stack).
VELNOR_INLINE Vec load(const int16_t* p) {
    Vec v;
    if constexpr (kHalfLanes == 8) {
        std::memcpy(&v, p, sizeof v);
    } else {
        std::memcpy(&v.h[0], p, sizeof v.h[0]);
        std::memcpy(&v.h[1], p + kHalfLanes, sizeof v.h[1]);
    }
    return v;
}
VELNOR_INLINE void store(int16_t* p, Vec v) {
    if constexpr (kHalfLanes == 8) {
        std::memcpy(p, &v, sizeof v);
    } else {
        std::memcpy(p, &v.h[0], sizeof v.h[0]);
        std::memcpy(p + kHalfLanes, &v.h[1], sizeof v.h[1]);
    }
}

// Lane k: bit (kFirst + k) mod 16 alone, lane kFirst + k's bit in its 16-bit word
// of a lane mask.
template <int kFirst, std::size_t... K>
constexpr Half lane_bit_pattern(std::index_sequence<K...>) {
    return Half{static_cast<int16_t>(1u << ((kFirst + static_cast<int>(K)) % 16))...};
}
template <int kFirst>
constexpr Half kLaneBits = lane_bit_pattern<kFirst>(std::make_index_sequence<kHalfLanes>());
// The mask of the lanes whose bit is set in bits: the halves of eight lanes both
// test the low 16-bit word, those of sixteen each their own.
VELNOR_INLINE Vec lanes_from_bits(uint32_t bits) {
    const Vec lane_bit{{kLaneBits<0>, kLaneBits<kHalfLanes>}};
    const Half low = Half{} + static_cast<int16_t>(bits);
    const Half high = kHalfLanes == 8 ? low : Half{} + static_cast<int16_t>(bits >> 16);
    return (Vec{{low, high}} & lane_bit) != 0;
}

// For layers that run the detectors half after half (VELNOR_DETECTORS_BY_HALVES):
// the operations on one half that need no intrinsics. Arguments of type Vec are
// the constants, the same in both halves: their low half serves.
VELNOR_INLINE Half halve(Half v) { return v >> 1; }
VELNOR_INLINE Half mean_of_four(Half sum) { return sum >> 2; }
VELNOR_INLINE Half operator-(Vec a, Half b) { return a.h[0] - b; }
// The mask of the half's lanes whose bit is set in bits.
VELNOR_INLINE Half half_lanes_from_bits(uint32_t bits) {
    return ((Half{} + static_cast<int16_t>(bits & 0xFFFF)) & kLaneBits<0>) != 0;
}

}  // namespace
}  // namespace velnor
