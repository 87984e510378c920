// The SSE2 vector layer: two 128-bit halves, no byte shuffle (the shaping step
// divides by the knee instead of looking it up).
#pragma once

#include "core/x86/vector_halves.h"

namespace velnor {
namespace {
constexpr bool kHasByteShuffle = false;
constexpr bool kHasWordTable = false;

// g negated where d is negative (for g that is 0 where d is 0).
VELNOR_INLINE Vec with_sign_of(Vec g, Vec d) {
    const Vec negative = d >> 15;
    return Vec{
        {(g.h[0] ^ negative.h[0]) - negative.h[0], (g.h[1] ^ negative.h[1]) - negative.h[1]}};
}
VELNOR_INLINE Half with_sign_of(Half g, Half d) {
    const Half negative = d >> 15;
    return (g ^ negative) - negative;
}
}  // namespace
}  // namespace velnor
