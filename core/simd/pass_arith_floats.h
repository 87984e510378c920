// The pass's arithmetic for 32-bit float samples in float lanes (Reals), in the
// reference pass's order of operations: thresholds divided by 255, nothing
// truncated or clamped, and samples that are not finite left where they are as the
// reference pass leaves them. The detectors' tie-break and the directional result are
// pass_arith_vector.h's, which finds these by overloading. Needs a vector layer and
// pass_arith_vector.h.
#pragma once

#include <cstdint>
#include <limits>

#include "core/filter_settings.h"
#include "core/luma_pass.h"
#include "core/simd/pass_arith_vector.h"

namespace velnor {
namespace {

struct FloatConstants {
    Reals threshold1;  // threshold1 / 255
    Reals knee;        // threshold2 / 255
    Reals knee2;       // twice that
    Reals k;           // strength x 0.05
};

VELNOR_INLINE FloatConstants make_float_constants(const FilterSettings& settings) {
    const float knee = static_cast<float>(settings.threshold2) / 255.0f;
    return FloatConstants{broadcast<Reals>(static_cast<float>(settings.threshold1) / 255.0f),
                          broadcast<Reals>(knee), broadcast<Reals>(2.0f * knee),
                          broadcast<Reals>(static_cast<float>(settings.strength) * 0.05f)};
}

// d for |d| below the knee t, 0 from 2t on (and for NaN), else (2t - |d|) x d / t.
template <int kTables>
VELNOR_INLINE Reals shape(Reals d, const FloatConstants& c) {
    static_assert(kTables == 0, "floats have no table form");
    const Reals m = magnitude(d);
    const Reals band = (c.knee2 - m) * d / c.knee;
    return select(m < c.knee, d, select(m < c.knee2, band, broadcast<Reals>(0.0f)));
}
template <class F>
VELNOR_INLINE auto with_knee_tables(const FloatConstants&, F&& f) {
    return f.template operator()<0>();
}

// P - w k, or P where that is not finite (P itself, or an overflowing correction).
VELNOR_INLINE Reals corrected(Reals p, Reals w, const FloatConstants& c) {
    const Reals result = p - w * c.k;
    return select(result - result == broadcast<Reals>(0.0f), result, p);
}
VELNOR_INLINE Reals halve(Reals v) { return v * broadcast<Reals>(0.5f); }
VELNOR_INLINE Reals mean_of_four(Reals sum) { return sum * broadcast<Reals>(0.25f); }

// The confidence threshold is NaN where D is not finite (d - d is NaN there, 0
// elsewhere): no response reaches it, and the box result keeps P.
VELNOR_INLINE ActivityOf<Reals> activity(Reals p, Reals box_sum, const FloatConstants& c) {
    const Reals d = p * broadcast<Reals>(9.0f) - box_sum;
    return ActivityOf<Reals>{magnitude(d), corrected(p, d / broadcast<Reals>(9.0f), c),
                             magnitude(d * broadcast<Reals>(0.4f)) + (d - d)};
}
VELNOR_INLINE Reals activity_size(Reals p, Reals box_sum) {
    return magnitude(p * broadcast<Reals>(9.0f) - box_sum);
}
// Where |D| is not below threshold1 (NaN included, as in the reference pass).
VELNOR_INLINE Ints needs_detectors(Reals size, const FloatConstants& c) {
    return (size < c.threshold1) == broadcast<Ints>(0);
}
// The directional result where the strongest response reaches the confidence
// threshold; the box result where it does not, or either is NaN.
VELNOR_INLINE Reals directional_or_box(Reals best, Reals confidence, Reals directional, Reals box) {
    return select(best >= confidence, directional, box);
}

// The six responses as the reference pass sums them, kernel entry by entry in
// row-major order (the products by 1, 2 and 4 are exact), so that rounding
// decides every comparison alike.
VELNOR_INLINE Responses<Reals> responses(const Neighbourhood<Reals>& n, const FloatConstants&) {
    const Reals al2 = n.al + n.al, am2 = n.am + n.am, ar2 = n.ar + n.ar;
    const Reals l2 = n.l + n.l, r2 = n.r1 + n.r1, p4 = (n.p + n.p) + (n.p + n.p);
    const Reals bl2 = n.bl + n.bl, bm2 = n.bm + n.bm, br2 = n.br + n.br;
    const Reals zero = broadcast<Reals>(0.0f);
    Responses<Reals> g;
    g.g1 = magnitude(n.al - n.ar + l2 - r2 + n.bl - n.br);
    g.g2 = magnitude(n.al + am2 + n.ar - n.bl - bm2 - n.br);
    g.g3 = magnitude(al2 + n.am + n.l - n.r1 - n.bm - br2);
    g.g4 = magnitude(zero - n.am - ar2 + n.l - n.r1 + bl2 + n.bm);
    g.g5 = magnitude(halve(zero - n.al + am2 - n.ar - l2 + p4 - r2 - n.bl + bm2 - n.br));
    g.g6 = magnitude(halve(zero - n.al - am2 - n.ar + l2 + p4 + r2 - n.bl - bm2 - n.br));
    return g;
}

// Lanes for float samples.
struct FloatLanes {
    using V = Reals;
    using MaskLane = int32_t;  // a lane of Mask
    using Mask = Ints;
    using Sample = float;
    using Row = float;
    using Element = float;
    using Constants = FloatConstants;
    // NaN: no response reaches it, so a marked lane always keeps its box result.
    static constexpr Element kNoDetector = std::numeric_limits<float>::quiet_NaN();
    // Lanes whose stored confidence threshold is a number (the mark, or the NaN of an
    // activity that is not finite, settles the lane without them).
    VELNOR_INLINE static Mask wants_detectors(V confidence) { return confidence == confidence; }
    VELNOR_INLINE static Constants constants(const FilterSettings& settings, int) {
        return make_float_constants(settings);
    }
    // The plain pass for these samples, where the vector scratch is refused.
    VELNOR_INLINE static PassStatus reference(const FilterSettings& settings, int, Sample* plane,
                                              std::ptrdiff_t pitch,
                                              const ScratchAllocator& scratch) {
        return filter_floats_reference(settings, plane, pitch, scratch);
    }
    VELNOR_INLINE static V broadcast(float v) { return velnor::broadcast<Reals>(v); }
    VELNOR_INLINE static Mask mask_broadcast(int v) { return velnor::broadcast<Ints>(v); }
    VELNOR_INLINE static V load(const Element* p) { return load_lanes<Reals>(p); }
    VELNOR_INLINE static void store(Element* p, V v) { store_lanes(p, v); }
    VELNOR_INLINE static V load_row(const Row* p) { return load_lanes<Reals>(p); }
    VELNOR_INLINE static void store_row(Row* p, V v) { store_lanes(p, v); }
    VELNOR_INLINE static Mask lanes_from_bits(uint32_t bits) {
        return pieces_from_bits<Ints>(bits);
    }
};

}  // namespace
}  // namespace velnor
