// The pass's arithmetic for 16-bit words of B = 8..12 bits in int16 lanes (the
// narrow word form), with the byte pass's vectors: half the registers and memory
// of the int32 form. Written with the vector layer's operations only. The
// detectors and the directional result are pass_arith_vector.h's, which finds
// these by overloading. Needs a vector layer and pass_arith_vector.h.
//
// Where each value lives, for samples P and neighbours of 0..M, M = 2^B - 1 <= 4095
// (run_narrow_pass sends bands with a word above M to the int32 form):
// - sums of 3 samples: at most 3 x 4095 = 12285, exact in int16;
// - the 3x3 sum: up to 9 x 4095 = 36855, beyond int16, but only its difference
//   D = 9P - sum is used, which is 8P minus eight neighbours, |D| <= 8 x 4095 =
//   32760: lanes add and subtract modulo 2^16 (NarrowWords), which gives D exactly;
// - the box correction D / 9 and the confidence threshold 2|D| / 5 <= 13104;
// - responses: G1..G4 at most 4 x 4095 = 16380, G5 and G6 at most 8 x 4095 before
//   halving; differences to neighbours |d| <= 4095, shaped |g| <= |d|, four of
//   them <= 16380;
// - the shaping product (2t - m) m <= t^2 < 2^16 unsigned for knees t <= 255 (the
//   only knees the form takes besides those above M, where shaping is identity);
// - corrections |w| <= 4095, their strength product clamped to |q| <= 16383, so
//   P - q stays inside int16 before its clamp to 0..M.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "core/depth_thresholds.h"
#include "core/filter_settings.h"
#include "core/integer_strength.h"
#include "core/luma_pass.h"
#include "core/simd/pass_arith_vector.h"

namespace velnor {
namespace {

constexpr int kNarrowMaxBits = 12;
constexpr int kNarrowKneeLimit = 255;        // largest knee whose product t^2 fits 16 bits
constexpr int kNarrowQuotientLimit = 8192;   // |q| beyond this saturates alike (P <= 4095)
constexpr int kNarrowStrengthLimit = 16383;  // largest |q| of the integer strength form

// Whether the narrow form can filter samples of `bits` bits with these settings:
// every knee up to kNarrowKneeLimit, or one above every difference (identity).
VELNOR_INLINE bool narrow_words_suit(const FilterSettings& settings, int bits) {
    if (bits < 8 || bits > kNarrowMaxBits) return false;
    const DepthThresholds limits = depth_thresholds(settings.threshold1, settings.threshold2, bits);
    return limits.knee <= kNarrowKneeLimit || limits.knee > limits.max_sample;
}

// Sixteen-bit lanes whose sums and differences wrap modulo 2^16: the 3x3 sum may
// leave int16, the differences taken from it do not (see above). Comparisons,
// shifts and magnitudes are signed, used only on values inside int16. R is the
// layer's Vec, or one Half of it where the detectors run half after half.
template <class R>
struct NarrowOf {
    R v;
};
using NarrowWords = NarrowOf<Vec>;
template <class R>
VELNOR_INLINE NarrowOf<R> operator+(NarrowOf<R> a, NarrowOf<R> b) {
    return {unsigned_add(a.v, b.v)};
}
template <class R>
VELNOR_INLINE NarrowOf<R> operator-(NarrowOf<R> a, NarrowOf<R> b) {
    return {unsigned_subtract(a.v, b.v)};
}
template <class R>
VELNOR_INLINE R operator<(NarrowOf<R> a, NarrowOf<R> b) {
    return a.v < b.v;
}
template <class R>
VELNOR_INLINE R operator>(NarrowOf<R> a, NarrowOf<R> b) {
    return a.v > b.v;
}
template <class R>
VELNOR_INLINE R operator!=(NarrowOf<R> a, NarrowOf<R> b) {
    return a.v != b.v;
}
template <class R>
VELNOR_INLINE NarrowOf<R> select(R mask, NarrowOf<R> yes, NarrowOf<R> no) {
    return {select(mask, yes.v, no.v)};
}
template <class R>
VELNOR_INLINE NarrowOf<R> max(NarrowOf<R> a, NarrowOf<R> b) {
    return {max(a.v, b.v)};
}
template <class R>
VELNOR_INLINE NarrowOf<R> magnitude(NarrowOf<R> a) {
    return {magnitude(a.v)};
}
template <class R>
VELNOR_INLINE NarrowOf<R> lanes_down1(NarrowOf<R> a) {
    return {lanes_down1(a.v)};
}
template <class R>
VELNOR_INLINE NarrowOf<R> lanes_down2(NarrowOf<R> a) {
    return {lanes_down2(a.v)};
}
template <class R>
VELNOR_INLINE NarrowOf<R> halve(NarrowOf<R> a) {
    return {a.v >> 1};
}
template <class R>
VELNOR_INLINE NarrowOf<R> mean_of_four(NarrowOf<R> sum) {
    return {sum.v >> 2};
}

struct NarrowConstants {
    // The knee t (0..255) and division of the band's products n <= t^2 < 2^16 by t
    // (by 1 for t = 0), as knee_tables says: 1, q = h >> shift2 with h the high
    // half of n * magic, for the knees where a 16-bit magic does it; 0, q = (h + ((n
    // - h) >> shift1)) >> shift2 (Granlund and Montgomery's method, exact for every
    // 16-bit n); -1 where the knee lies above every difference (shaping keeps d).
    Vec knee, knee2, knee_magic;
    int knee_shift1, knee_shift2;
    int knee_tables;
    bool unit_strength;
    // The strength product in integers where integer_strength finds its form for
    // every |w| <= M (|q| >= M saturates alike) with (cap << lift) < 2^16 and the
    // product at the cap <= kNarrowStrengthLimit: |q| = high half of (min(|w|, cap)
    // << lift) * multiplier. Else in floats, clamped to +-kNarrowQuotientLimit.
    bool integer_strength, negative_strength;
    Vec strength_cap, strength_multiplier;
    int strength_lift;
    Floats k;
    Vec threshold1;  // threshold1 x 2^(B-8), clamped to 0..32767 (|D| <= 32760)
    Vec max_sample;  // M
};

// The knee's part of the constants for the scaled knee t: 0..kNarrowKneeLimit, or
// above M, where shaping keeps every difference.
VELNOR_INLINE void set_narrow_knee(NarrowConstants* c, int32_t scaled_knee, int32_t max_sample) {
    const int knee = scaled_knee > kNarrowKneeLimit ? kNarrowKneeLimit : scaled_knee;
    c->knee = splat(knee);
    c->knee2 = splat(2 * knee);
    // The smallest shift s whose magic ceil(2^(16+s) / t) fits 16 bits and gives
    // floor(n / t) for every n <= t^2: with e = magic t - 2^(16+s), n magic / 2^(16+s)
    // = n / t + n e / (t 2^(16+s)), below the next integer where n e < 2^(16+s).
    c->knee_magic = splat(0);
    c->knee_shift1 = c->knee_shift2 = 0;
    c->knee_tables = scaled_knee > max_sample ? -1 : 0;
    for (int shift = 0; shift < 16 && c->knee_tables == 0 && knee != 1; ++shift) {
        const int64_t power = int64_t{1} << (16 + shift);
        const int64_t magic = knee > 0 ? (power + knee - 1) / knee : 0;
        if (magic >= 65536) break;
        if (int64_t{knee} * knee * (magic * knee - power) >= power) continue;
        c->knee_tables = 1;
        c->knee_magic = splat(static_cast<int>(magic));
        c->knee_shift2 = shift;
    }
    if (c->knee_tables == 0) {
        int log2_ceiling = 0;
        while ((1 << log2_ceiling) < knee) ++log2_ceiling;
        c->knee_magic = splat(65536 * ((1 << log2_ceiling) - knee) / knee + 1);
        c->knee_shift1 = log2_ceiling > 0 ? 1 : 0;
        c->knee_shift2 = log2_ceiling > 0 ? log2_ceiling - 1 : 0;
    }
}

VELNOR_INLINE NarrowConstants make_narrow_constants(const FilterSettings& settings, int bits) {
    const DepthThresholds limits = depth_thresholds(settings.threshold1, settings.threshold2, bits);
    NarrowConstants c;
    set_narrow_knee(&c, limits.knee, limits.max_sample);
    // strength_factor, which is not called here: an inline function of a shared
    // header compiled for this instruction set could serve the baseline objects.
    const float k = static_cast<float>(settings.strength) * 0.05f;
    c.unit_strength = k == 1.0f;
    // (Its search runs to M: skipped where the strength product is w itself.)
    const IntegerStrength form =
        c.unit_strength
            ? IntegerStrength{false, false, 0, 0, 0}
            : integer_strength(settings.strength, limits.max_sample, limits.max_sample, 16);
    const int lift = 16 - form.shift;
    const int64_t top = int64_t{form.cap} << lift;
    c.integer_strength =
        form.exact && top < 65536 && ((top * form.multiplier) >> 16) <= kNarrowStrengthLimit;
    c.negative_strength = form.negative;
    c.strength_cap = splat(form.cap);
    c.strength_multiplier = splat(static_cast<int>(form.multiplier));
    c.strength_lift = lift;
    c.k = splat_floats(k);
    c.threshold1 = splat(limits.activity > 32767 ? 32767 : limits.activity);
    c.max_sample = splat(limits.max_sample);
    return c;
}

// d for |d| < t, 0 for |d| >= 2t, else (2t - |d|) * d / t truncated; kTables as
// c.knee_tables. As for bytes, floor((2t - m) m / t) is at least m below the knee
// and at most m from it on, so the shaped magnitude is its minimum with m once m is
// capped at 2t.
template <int kTables, class R>
VELNOR_INLINE NarrowOf<R> shape(NarrowOf<R> d, const NarrowConstants& c) {
    static_assert(kTables >= -1 && kTables <= 1, "narrow words have no table form");
    if constexpr (kTables == -1) {
        return d;
    } else {
        const R m = magnitude(d.v);
        const R capped = min(m, c.knee2);
        const R n = unsigned_multiply_low(c.knee2 - capped, capped);
        const R h = unsigned_multiply_high(n, c.knee_magic);
        R g;
        if constexpr (kTables == 1)
            g = unsigned_shift_right(h, c.knee_shift2);
        else
            g = unsigned_shift_right(
                unsigned_add(h, unsigned_shift_right(unsigned_subtract(n, h), c.knee_shift1)),
                c.knee_shift2);
        return {with_sign_of(min(m, g), d.v)};
    }
}
template <class F>
VELNOR_INLINE auto with_knee_tables(const NarrowConstants& c, F&& f) {
    if (c.knee_tables == -1) return f.template operator()<-1>();
    if (c.knee_tables == 1) return f.template operator()<1>();
    return f.template operator()<0>();
}

// q = trunc(w * k) in single precision, clamped to +-kNarrowQuotientLimit, or its
// integer form (see NarrowConstants). A half takes the floats of a whole vector.
template <class R>
VELNOR_INLINE R scaled(R w, const NarrowConstants& c) {
    if (c.unit_strength) return w;
    if (c.integer_strength) {
        const R m = min(magnitude(w), c.strength_cap);
        const R q =
            with_sign_of(unsigned_multiply_high(m << c.strength_lift, c.strength_multiplier), w);
        return c.negative_strength ? -q : q;
    }
#if defined(VELNOR_DETECTORS_BY_HALVES)
    if constexpr (!std::is_same_v<R, Vec>)
        return half_of<0>(scaled(joined(w, w), c));
    else
#endif
    {
        Floats product = to_floats(w) * c.k;
        const Floats high = splat_floats(static_cast<float>(kNarrowQuotientLimit));
        const Floats low = splat_floats(-static_cast<float>(kNarrowQuotientLimit));
        product = select(product > high, high, product);
        product = select(product < low, low, product);
        return to_vec(product);
    }
}

// P - q for a correction w, clamped to 0..M.
template <class R>
VELNOR_INLINE NarrowOf<R> corrected(NarrowOf<R> p, NarrowOf<R> w, const NarrowConstants& c) {
    return {max(min(p.v - scaled(w.v, c), c.max_sample), R{})};
}

// |D| (D = 9P - the 3x3 sum, modulo 2^16), the box result and the confidence
// threshold |trunc(0.4 D)| = 2|D| / 5: the high half of |D| x 52429 (= 2^18 / 5
// rounded up) halved, exact for |D| < 2^17.
VELNOR_INLINE Vec activity_difference(NarrowWords p, NarrowWords box_sum) {
    return unsigned_subtract(unsigned_multiply_low(p.v, splat(9)), box_sum.v);
}
VELNOR_INLINE NarrowWords activity_size(NarrowWords p, NarrowWords box_sum) {
    return {magnitude(activity_difference(p, box_sum))};
}
VELNOR_INLINE ActivityOf<NarrowWords> activity(NarrowWords p, NarrowWords box_sum,
                                               const NarrowConstants& c) {
    const Vec d = activity_difference(p, box_sum);
    const Vec size = magnitude(d);
    return ActivityOf<NarrowWords>{
        {size}, corrected(p, {divide<9>(d)}, c), {unsigned_multiply_high(size, splat(52429)) >> 1}};
}
VELNOR_INLINE Vec needs_detectors(NarrowWords size, const NarrowConstants& c) {
    return size.v >= c.threshold1;
}

// Lanes for words of up to kNarrowMaxBits bits: rows and arrays of int16.
struct NarrowWordLanes {
    using V = NarrowWords;
    using MaskLane = int16_t;  // a lane of Mask
    using Mask = Vec;
    using Sample = uint16_t;
    using Row = uint16_t;
    using Element = int16_t;
    using Constants = NarrowConstants;
    static constexpr Element kNoDetector = 32767;  // above every confidence threshold
    VELNOR_INLINE static Mask wants_detectors(V confidence) {
        return confidence != broadcast(kNoDetector);
    }
    VELNOR_INLINE static Constants constants(const FilterSettings& settings, int bits) {
        return make_narrow_constants(settings, bits);
    }
    VELNOR_INLINE static PassStatus reference(const FilterSettings& settings, int bits,
                                              Sample* plane, std::ptrdiff_t pitch,
                                              const ScratchAllocator& scratch) {
        return filter_words_reference(settings, bits, plane, pitch, scratch);
    }
    VELNOR_INLINE static V broadcast(int v) { return {splat(v)}; }
    VELNOR_INLINE static Mask mask_broadcast(int v) { return splat(v); }
    VELNOR_INLINE static V load(const Element* p) { return {velnor::load(p)}; }
    VELNOR_INLINE static void store(Element* p, V v) { velnor::store(p, v.v); }
    // Words of a band inside 0..M are int16 lanes as they stand.
    VELNOR_INLINE static V load_row(const Row* p) {
        Vec v;
        std::memcpy(&v, p, sizeof v);
        return {v};
    }
    VELNOR_INLINE static void store_row(Row* p, V v) { std::memcpy(p, &v.v, sizeof v.v); }
    VELNOR_INLINE static Mask lanes_from_bits(uint32_t bits) {
        return velnor::lanes_from_bits(bits);
    }
};

#if defined(VELNOR_DETECTORS_BY_HALVES)
// One half of the narrow words, for the detectors half after half (see
// detectors_by_halves).
struct NarrowHalfLanes {
    using Mask = Half;
    using Constants = NarrowConstants;
    VELNOR_INLINE static Mask mask_broadcast(int v) { return Half{} + static_cast<int16_t>(v); }
    VELNOR_INLINE static NarrowOf<Half> wrap(Half h) { return {h}; }
};
template <int i>
VELNOR_INLINE NarrowOf<Half> half_of(NarrowWords v) {
    return {v.v.h[i]};
}
VELNOR_INLINE NarrowWords joined(NarrowOf<Half> low, NarrowOf<Half> high) {
    return {Vec{{low.v, high.v}}};
}
// The row-wise form's groups of columns, one half wide.
struct NarrowHalfColumns : NarrowHalfLanes {
    using V = NarrowOf<Half>;
    using MaskLane = int16_t;
    static constexpr int kColumns = kLanes / 2;
    VELNOR_INLINE static V broadcast(int v) { return {mask_broadcast(v)}; }
    VELNOR_INLINE static V load(const int16_t* p) {
        V v;
        std::memcpy(&v.v, p, sizeof v.v);
        return v;
    }
    VELNOR_INLINE static V load_row(const uint16_t* p) {
        V v;
        std::memcpy(&v.v, p, sizeof v.v);
        return v;
    }
    VELNOR_INLINE static void store_row(uint16_t* p, V v) { std::memcpy(p, &v.v, sizeof v.v); }
    VELNOR_INLINE static Mask lanes_from_bits(uint32_t bits) { return half_lanes_from_bits(bits); }
};
template <>
struct HalfLanesOf<NarrowWordLanes> {
    using type = NarrowHalfLanes;
    using columns = NarrowHalfColumns;
};
#endif

}  // namespace
}  // namespace velnor
