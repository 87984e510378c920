// The strength product q = trunc(w * k) (k = strength * 0.05 and the product in
// single precision, as scaled_correction computes it) in integer arithmetic, for
// the vector passes: |q| = (min(|w|, cap) * multiplier) >> shift, with the sign of
// w, reversed for a negative strength.
#pragma once

#include <cstdint>

namespace velnor {

// Plain data without initialisers, so that no inline constructor is compiled into
// (and perhaps picked by the linker from) the vector passes' objects.
struct IntegerStrength {
    bool exact;          // whether the form holds; else use the float product
    bool negative;       // strength below zero
    int64_t multiplier;  // below 2^multiplier_bits
    int32_t shift;       // 8 .. multiplier_bits + 15
    int32_t cap;         // |w| at which |q| first reaches `saturated`, else max_w
};

// The form with the finest shift whose multiplier fits multiplier_bits (16 for
// 16-bit lanes; up to 32, with |w| below 2^16 and 64-bit products), checked for
// every |w| up to max_w: |q| exact where |trunc(w k)| < saturated, and at least
// saturated elsewhere (P - q clamped to 0..saturated is then the same for every
// sample P). Not exact when no such multiplier gives every |w| its product.
IntegerStrength integer_strength(int32_t strength, int32_t max_w, int32_t saturated,
                                 int multiplier_bits);

}  // namespace velnor
