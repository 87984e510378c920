#include "core/integer_strength.h"

#include "core/pass_arith.h"

namespace velnor {

IntegerStrength integer_strength(int32_t strength, int32_t max_w, int32_t saturated,
                                 int multiplier_bits) {
    IntegerStrength form{false, false, 0, 0, 0};
    const float k = strength_factor(strength);
    form.negative = k < 0.0f;
    // |q| for |w| = m, limited to saturated (64 bits: the product may saturate at INT32_MIN).
    auto target = [&](int64_t m) {
        const int64_t q = scaled_correction(static_cast<int32_t>(m), k);
        const int64_t magnitude = q < 0 ? -q : q;
        return magnitude < saturated ? magnitude : static_cast<int64_t>(saturated);
    };
    // The largest ratio |q| / m, as a fraction, up to the first m that saturates: the
    // multiplier must reach it at every m.
    int64_t numerator = 0, denominator = 1;
    form.cap = max_w;
    for (int64_t m = 1; m <= max_w; ++m) {
        const int64_t q = target(m);
        if (q * denominator > numerator * m) numerator = q, denominator = m;
        if (q >= saturated) {
            form.cap = static_cast<int32_t>(m);
            break;
        }
    }
    // numerator <= saturated < 2^16 and shift < 48: no overflow here or below.
    for (int shift = multiplier_bits + 15; shift >= 8; --shift) {
        const int64_t multiplier = ((numerator << shift) + denominator - 1) / denominator;
        if (multiplier >> multiplier_bits) continue;
        form.multiplier = multiplier;
        form.shift = shift;
        form.exact = true;
        for (int64_t m = 0; m <= form.cap && form.exact; ++m) {
            const int64_t q = (m * multiplier) >> shift;
            form.exact = target(m) < saturated ? q == target(m) : q >= saturated;
        }
        break;
    }
    return form;
}

}  // namespace velnor
