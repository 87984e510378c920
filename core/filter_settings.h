// What one filter instance knows after construction: the plane size, the three
// parameters and the difference-shaping table derived from threshold2.
#pragma once

#include <cstdint>

namespace velnor {

inline constexpr int kTableOffset = 255;                 // table index of difference 0
inline constexpr int kTableSize = 2 * kTableOffset + 1;  // differences -255..+255
inline constexpr int32_t kDefaultStrength = 20;
inline constexpr int32_t kDefaultThreshold1 = 40;
inline constexpr int32_t kDefaultThreshold2 = 10;

struct FilterSettings {
    int32_t height = 0;
    int32_t width = 0;
    int32_t strength = 0;
    int32_t threshold1 = 0;
    int32_t threshold2 = 0;
    int32_t table[kTableSize] = {};

    FilterSettings() = default;
    // Stores the five values unchanged (no range checks) and builds the table.
    FilterSettings(int32_t width, int32_t height, int32_t strength, int32_t threshold1,
                   int32_t threshold2);

    // Shaped value of a difference d in -255..+255.
    int32_t shape(int d) const { return table[d + kTableOffset]; }
};

// The shaped value of difference d (|d| <= 65535) with knee t: d for |d| < t, 0 for
// |d| >= 2t, else (2t - |d|) x d / t truncated. Defined for every t; the table holds
// it for d in -255..+255 and t = threshold2.
int32_t shaped_difference(int d, int32_t t);

}  // namespace velnor
