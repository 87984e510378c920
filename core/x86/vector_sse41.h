// The SSE4.1 vector layer: the two-halves layer plus SSSE3's byte shuffle and
// sign operations.
#pragma once

#include "core/x86/vector_halves.h"

namespace velnor {
namespace {

// For each lane with x in 0..255: entry x of a 16-byte table, or 0 for x >= 16;
// for negative x, some entry. Adding 0x70 with unsigned saturation sets bit 7 of
// the shuffle index exactly when the low byte is 16 or more (and always in the
// upper byte), and the shuffle yields 0 for such indices. Another offset (low
// byte 0x70 - 16 n) reads entry x - 16 n instead, and entry x mod 16 for x < 16 n.
constexpr bool kHasByteShuffle = true;
constexpr bool kHasWordTable = false;
VELNOR_INLINE Vec look_up(Vec x, __m128i table, int16_t offsets = -32656) {
    const __m128i offset = raw(splat(offsets).h[0]);
    return Vec{{half(_mm_shuffle_epi8(table, _mm_adds_epu8(raw(x.h[0]), offset))),
                half(_mm_shuffle_epi8(table, _mm_adds_epu8(raw(x.h[1]), offset)))}};
}
VELNOR_INLINE Half look_up(Half x, __m128i table, int16_t offsets = -32656) {
    return half(_mm_shuffle_epi8(table, _mm_adds_epu8(raw(x), raw(Half{} + offsets))));
}
// g negated where d is negative, 0 where d is 0 (callers need only the former:
// their g is 0 where d is 0).
VELNOR_INLINE Vec with_sign_of(Vec g, Vec d) {
    return both(g, d, [](__m128i x, __m128i y) { return _mm_sign_epi16(x, y); });
}
VELNOR_INLINE Half with_sign_of(Half g, Half d) { return half(_mm_sign_epi16(raw(g), raw(d))); }

}  // namespace
}  // namespace velnor
