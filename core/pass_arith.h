// Scalar arithmetic shared by every pass: strength scaling and the final store.
#pragma once

#include <cstdint>

namespace velnor {

// Samples nearer than this to an edge of the plane are never written.
inline constexpr int kBorder = 2;

// k = strength * 0.05, both in single precision, rounded to nearest.
inline float strength_factor(int32_t strength) { return static_cast<float>(strength) * 0.05f; }

// trunc(w * k) in single precision. Products beyond the 32-bit range saturate
// instead of hitting the undefined float-to-int conversion.
inline int32_t scaled_correction(int32_t w, float k) {
    const float product = static_cast<float>(w) * k;
    if (product >= 2147483648.0f) return INT32_MAX;
    if (product < -2147483648.0f) return INT32_MIN;
    return static_cast<int32_t>(product);
}

// P - q saturated to a sample: an overshoot stays at the nearest extreme rather
// than wrapping to the opposite one.
inline uint8_t corrected_sample(int32_t p, int32_t q) {
    const int64_t value = static_cast<int64_t>(p) - q;
    return static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
}

// |trunc(0.4 * D)| with 0.4 in double precision.
inline int32_t confidence_threshold(int32_t d) {
    const int32_t t = static_cast<int32_t>(0.4 * d);
    return t < 0 ? -t : t;
}

}  // namespace velnor
