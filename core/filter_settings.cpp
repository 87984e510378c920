#include "core/filter_settings.h"

namespace velnor {

int32_t shaped_difference(int d, int32_t t) {
    const int m = d < 0 ? -d : d;
    if (m < t) return d;  // small differences pass unchanged
    // 2t is compared in 64 bits so that every t <= 0 lands here.
    if (static_cast<int64_t>(m) >= 2 * static_cast<int64_t>(t)) return 0;
    // Reached only for 0 < t <= m < 2t: no zero divisor. The product reaches 2^32
    // for 16-bit differences, so it is formed in 64 bits.
    return static_cast<int32_t>((2 * static_cast<int64_t>(t) - m) * d / t);
}

FilterSettings::FilterSettings(int32_t width_, int32_t height_, int32_t strength_,
                               int32_t threshold1_, int32_t threshold2_)
    : height(height_),
      width(width_),
      strength(strength_),
      threshold1(threshold1_),
      threshold2(threshold2_) {
    for (int d = -kTableOffset; d <= kTableOffset; ++d)
        table[d + kTableOffset] = shaped_difference(d, threshold2);
}

}  // namespace velnor
