// The parameters, which keep their 8-bit meaning, scaled to integer samples of
// B = 8..16 bits: s = 2^(B-8) times threshold1 and threshold2, computed exactly and
// clamped only where the clamp changes no decision.
#pragma once

#include <cstdint>

namespace velnor {

// |D| stays below 8 x 65535 < 2^20 and a difference |d| within 0..65535 for every
// 16-bit word, in range or not, so these bounds decide every case as the exact
// values would.
inline constexpr int64_t kActivityBound = int64_t{1} << 20;
inline constexpr int64_t kKneeBound = 65536;

struct DepthThresholds {
    int32_t activity;    // threshold1 x s, clamped to 0..kActivityBound
    int32_t knee;        // threshold2 x s, clamped to 0..kKneeBound
    int32_t max_sample;  // 2^B - 1
};

// Internal linkage (static): the vector passes' objects, built for other
// instruction sets, use these too and must share no definition with the baseline
// objects (scripts/checks/simd-objects.sh).
static constexpr int32_t clamp_scaled(int64_t value, int64_t bound) {
    return static_cast<int32_t>(value < 0 ? 0 : value > bound ? bound : value);
}

static constexpr DepthThresholds depth_thresholds(int32_t threshold1, int32_t threshold2,
                                                  int bits) {
    const int shift = bits - 8;
    return DepthThresholds{
        clamp_scaled(int64_t{threshold1} * (int64_t{1} << shift), kActivityBound),
        clamp_scaled(int64_t{threshold2} * (int64_t{1} << shift), kKneeBound),
        (int32_t{1} << bits) - 1};
}

}  // namespace velnor
