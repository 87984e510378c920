// The pass's arithmetic in vector lanes, written once for both forms: for 8-bit
// samples in int16 lanes the difference-shaping step, the strength product,
// activity and box result; for every sample type the six detectors with their
// tie-break and the directional result (detector_result, over a lane type's
// policy, see ByteLanes). Needs a vector layer (vector_<isa>.h) included first; the
// plain passes in reference_pass.cpp are the independent transcriptions every
// result is tested against.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "core/filter_settings.h"
#include "core/integer_strength.h"
#include "core/luma_pass.h"

namespace velnor {
namespace {

constexpr float kQuotientLimit = 512.0f;  // |q| beyond this saturates alike

struct ByteConstants {
    Vec knee;   // threshold2 clamped to 0..255 (255 and above: identity on -255..255)
    Vec knee2;  // twice that
    // Division of unsigned 16-bit lanes by the knee (by 1 for knee 0): q = (h + ((n -
    // h) >> shift1)) >> shift2 with h the high half of n * magic (Granlund and
    // Montgomery's method for a divisor known at run time; exact for every n).
    Vec knee_magic;
    ShiftCount knee_shift1, knee_shift2;
    // 3 with a word table for 2 knee < kLanes, 4 with one by magnitude for 2 knee <
    // 2 kLanes, 5 with one of the band for knee < 2 kLanes; else with byte shuffles 1
    // for knee <= 16, 2 for knee <= 32; else 0.
    int knee_tables;
    ByteTable knee_table[2];  // entry j of table i: the band value for |d| = knee + 16 i + j
    // Entry e of the two: the shaped value of d = e mod 2 kLanes (3), of |d| = e (4),
    // of |d| = knee + e (5).
    Vec word_table[2];
    bool unit_strength;
    // The strength product in integers where integer_strength finds its form for
    // every |w| <= 255 (|q| >= 255 saturates alike): |q| = high half of (min(|w|,
    // cap) << strength_lift) * multiplier.
    bool integer_strength, negative_strength;
    Vec strength_cap, strength_multiplier;
    // 16 - shift, 0..8 (|w| << 8 still fits 16 unsigned bits), as a shift count.
    ShiftCount strength_lift;
    Floats k;
    Vec threshold1;  // clamped to 0..2041, which decides every |D| <= 2040 alike
};

VELNOR_INLINE ByteConstants make_constants(const FilterSettings& settings) {
    ByteConstants c;
    const int32_t t2 = settings.threshold2;
    const int knee = t2 < 0 ? 0 : t2 > 255 ? 255 : t2;
    c.knee = splat(knee);
    c.knee2 = splat(2 * knee);
    const int divisor = knee > 0 ? knee : 1;
    int log2_ceiling = 0;
    while ((1 << log2_ceiling) < divisor) ++log2_ceiling;
    c.knee_magic = splat(65536 * ((1 << log2_ceiling) - divisor) / divisor + 1);
    c.knee_shift1 = shift_count(log2_ceiling > 0 ? 1 : 0);
    c.knee_shift2 = shift_count(log2_ceiling > 0 ? log2_ceiling - 1 : 0);
    c.knee_tables = kHasWordTable && 2 * knee <= kLanes - 1       ? 3
                    : kHasWordTable && 2 * knee <= 2 * kLanes - 1 ? 4
                    : kHasWordTable && knee <= 2 * kLanes - 1     ? 5
                    : !kHasByteShuffle                            ? 0
                    : knee <= 16                                  ? 1
                    : knee <= 32                                  ? 2
                                                                  : 0;
    int16_t words[2 * kLanes];
    for (int e = 0; e < 2 * kLanes; ++e) {
        const int d = c.knee_tables == 5                 ? knee + e
                      : c.knee_tables == 4 || e < kLanes ? e
                                                         : e - 2 * kLanes;
        words[e] = static_cast<int16_t>(settings.table[kTableOffset + d]);
    }
    c.word_table[0] = load(words);
    c.word_table[1] = load(words + kLanes);
    uint8_t band[32] = {};
    for (int j = 0; j < knee && knee <= 32; ++j)
        band[j] = static_cast<uint8_t>((knee - j) * (knee + j) / knee);
    c.knee_table[0] = load_byte_table(band);
    c.knee_table[1] = load_byte_table(band + 16);
    const float k = static_cast<float>(settings.strength) * 0.05f;
    c.unit_strength = k == 1.0f;
    const IntegerStrength form = integer_strength(settings.strength, 255, 255, 16);
    c.integer_strength = form.exact;
    c.negative_strength = form.negative;
    c.strength_cap = splat(form.cap);
    c.strength_multiplier = splat(static_cast<int>(form.multiplier));
    c.strength_lift = shift_count(16 - form.shift);
    c.k = splat_floats(k);
    const int32_t t1 = settings.threshold1;
    c.threshold1 = splat(t1 < 0 ? 0 : t1 > 2041 ? 2041 : t1);
    return c;
}

// The difference-shaping table evaluated in the lanes: d for |d| < t, 0 for
// |d| >= 2t, else (2t - |d|) * d / t truncated, that is the sign of d times
// floor((2t - m) * m / t) with m = |d|.
// kTables: the knee tables to use (c.knee_tables), 0 for the division form. V is
// always Vec; as a template parameter it keeps the table form out of layers
// without a byte shuffle.
template <int kTables, class V>
VELNOR_INLINE V shape(V d, const ByteConstants& c) {
    if constexpr (kTables == 3) {
        // The table for d in -kLanes .. kLanes - 1, indexed by d's low bits; beyond
        // that range (and at its ends) every entry is 0.
        const V index = min(max(d, splat(-kLanes)), splat(kLanes - 1));
        return look_up_words(index, c.word_table[0], c.word_table[1]);
    } else if constexpr (kTables == 4) {
        // The table by magnitude, 0 from 2 kLanes - 1 on, given the sign of d.
        const V index = min(magnitude(d), splat(2 * kLanes - 1));
        return with_sign_of(look_up_words(index, c.word_table[0], c.word_table[1]), d);
    } else if constexpr (kTables == 5) {
        // d below the knee; from it on the band by |d| - knee, 0 from 2 kLanes - 1 on.
        const V m = magnitude(d);
        const V index = min(m - c.knee, splat(2 * kLanes - 1));
        const V g = look_up_words(index, c.word_table[0], c.word_table[1]);
        return select(m < c.knee, d, with_sign_of(g, d));
    } else if constexpr (kTables > 0) {
        // The band's value at |d| = knee + x, x = 0 where |d| is below the knee: entry
        // 0 is the knee itself, above every such |d|, so the minimum with |d| keeps
        // |d| there; from the band on the value is at most |d|. Entries at and beyond
        // knee are 0, which covers |d| >= 2 knee.
        const V m = magnitude(d);
        const V x = saturating_subtract(m, c.knee);
        V g = look_up(x, c.knee_table[0]);
        // The band falls with |d|, so entry j of the second table is at most entry j
        // of the first: for x below 16 the maximum keeps the first table's entry, and
        // the second table is read at x - 16 (x + 0x60 in the look-up's low byte sets
        // bit 7 from x = 32 on, and never below 0x60).
        if constexpr (kTables > 1) g = max(g, look_up(x, c.knee_table[1], -32672));
        return with_sign_of(min(m, g), d);
    } else {
        // floor((2t - m) * m / t) is at least m below the knee and at most m from it
        // on, so the shaped magnitude is its minimum with m, once m is capped at 2t
        // (where the band ends, and the product is 0). The product then lies in
        // 0..t*t, below 2^16.
        const V m = magnitude(d);
        const V capped = min(m, c.knee2);
        const V n = unsigned_multiply_low(c.knee2 - capped, capped);
        const V h = unsigned_multiply_high(n, c.knee_magic);
        const V g = unsigned_shift_right(
            unsigned_add(h, unsigned_shift_right(unsigned_subtract(n, h), c.knee_shift1)),
            c.knee_shift2);
        return with_sign_of(min(m, g), d);
    }
}

// q = trunc(w * k) in single precision, clamped to +-kQuotientLimit; the clamp
// changes no stored sample because P - q saturates to 0..255 either way. Where the
// constants have its integer form, that, whose |q| >= 255 likewise stores the
// saturated sample.
// integer_scaled: that integer form, for a vector or, where a layer runs the
// detectors by halves, for one half of one.
template <class V>
VELNOR_INLINE V integer_scaled(V w, const ByteConstants& c) {
    const V m = min(magnitude(w), c.strength_cap);
    const V q = with_sign_of(
        unsigned_multiply_high(shift_left(m, c.strength_lift), c.strength_multiplier), w);
    return c.negative_strength ? -q : q;
}
VELNOR_INLINE Vec scaled(Vec w, const ByteConstants& c) {
    if (c.unit_strength) return w;
    if (c.integer_strength) return integer_scaled(w, c);
    Floats product = to_floats(w) * c.k;
    const Floats high = splat_floats(kQuotientLimit);
    const Floats low = splat_floats(-kQuotientLimit);
    product = select(product > high, high, product);
    product = select(product < low, low, product);
    return to_vec(product);
}

#if defined(VELNOR_DETECTORS_BY_HALVES)
// The same for one half of a layer's vectors (see detectors_by_halves).
VELNOR_INLINE Half scaled(Half w, const ByteConstants& c) {
    if (c.unit_strength) return w;
    if (c.integer_strength) return integer_scaled(w, c);
    return scaled(Vec{{w, w}}, c).h[0];
}
#endif

// P - q for a correction w, saturated to a sample (V: Vec, or Half as above).
template <class V>
VELNOR_INLINE V corrected(V p, V w, const ByteConstants& c) {
    return clamp_sample(p - scaled(w, c));
}

// What a sample's 3x3 neighbourhood of unfiltered samples decides: |D| (D = 9P
// minus the 3x3 sum), the box-mean result, and the confidence threshold the
// strongest detector must reach.
template <class V>
struct ActivityOf {
    V size, box, threshold;
};
using Activity = ActivityOf<Vec>;
VELNOR_INLINE Vec activity_size(Vec p, Vec box_sum) { return magnitude(p * splat(9) - box_sum); }
VELNOR_INLINE Activity activity(Vec p, Vec box_sum, const ByteConstants& c) {
    const Vec d = p * splat(9) - box_sum;
    const Vec size = magnitude(d);
    // |trunc(0.4 D)| is 2|D| / 5 over the activities that occur.
    return Activity{size, corrected(p, divide<9>(d), c), divide<5>(size + size)};
}
// Lanes whose activity sends them to the detectors.
VELNOR_INLINE Vec needs_detectors(Vec size, const ByteConstants& c) { return size >= c.threshold1; }

// The samples the detectors and the directional smoothing read around P: rows y-2
// .. y+2, as the raster pass sees them (filtered to the left and above).
template <class V>
struct Neighbourhood {
    V a2l, a2m, a2r;     // row y-2, columns x-2, x, x+2
    V al, am, ar;        // row y-1, columns x-1, x, x+1
    V l2, l, p, r1, r2;  // row y, columns x-2 .. x+2
    V bl, bm, br;        // row y+1, columns x-1, x, x+1
    V b2l, b2m, b2r;     // row y+2, columns x-2, x, x+2
};

// The lane type of 8-bit samples: int16 lanes (what a lane policy gives the forms:
// the vector and mask types, the plane's sample type, the element type of the
// forms' per-step arrays and row copies, the constants, broadcast, load, store).
// The arithmetic itself is found by overloading on the vector and constants types.
struct ByteLanes {
    using V = Vec;
    using MaskLane = int16_t;  // a lane of Mask
    using Mask = Vec;
    using Sample = uint8_t;
    using Row = uint8_t;
    using Element = int16_t;
    using Constants = ByteConstants;
    static constexpr Element kNoDetector = 32767;  // confidence threshold nothing reaches
    // Lanes whose stored confidence threshold is not the mark.
    VELNOR_INLINE static Mask wants_detectors(V confidence) { return confidence != kNoDetector; }
    VELNOR_INLINE static Constants constants(const FilterSettings& settings, int) {
        return make_constants(settings);
    }
    // The plain pass for these samples, where the vector scratch is refused.
    VELNOR_INLINE static PassStatus reference(const FilterSettings& settings, int, Sample* plane,
                                              std::ptrdiff_t pitch,
                                              const ScratchAllocator& scratch) {
        return filter_luma_reference(settings, plane, pitch, scratch);
    }
    VELNOR_INLINE static V broadcast(int v) { return splat(v); }
    VELNOR_INLINE static Mask mask_broadcast(int v) { return splat(v); }
    VELNOR_INLINE static V load(const Element* p) { return velnor::load(p); }
    VELNOR_INLINE static void store(Element* p, V v) { velnor::store(p, v); }
    // kLanes samples of a row copy, and back (results in range).
    VELNOR_INLINE static V load_row(const Row* p) { return load_bytes(p); }
    VELNOR_INLINE static void store_row(Row* p, V v) { store_bytes(p, v); }
    // Lane i set where bit i is.
    VELNOR_INLINE static Mask lanes_from_bits(uint32_t bits) {
        return velnor::lanes_from_bits(bits);
    }
};
VELNOR_INLINE Vec halve(Vec v) { return v >> 1; }
VELNOR_INLINE Vec mean_of_four(Vec sum) { return sum >> 2; }

// The six detector responses as magnitudes, G5 and G6 halved first.
template <class V>
struct Responses {
    V g1, g2, g3, g4, g5, g6;
};
// For integer lanes, from shared differences and sums (exact in any order):
// G1 = (al - ar) + (bl - br) + 2 (l - r)      G2 = (al + ar) - (bl + br) + 2 (am - bm)
// G3 = 2 (al - br) + (am - bm) + (l - r)      G4 = 2 (bl - ar) - (am - bm) + (l - r)
// G5, G6 = (4p - corners) +- 2 (am + bm - l - r), halved.
template <class V, class C>
VELNOR_INLINE Responses<V> responses(const Neighbourhood<V>& n, const C&) {
    const V across = n.l - n.r1, down = n.am - n.bm;
    const V top = n.al + n.ar, bottom = n.bl + n.br;
    const V rising = n.al - n.br, falling = n.bl - n.ar;
    const V centre = n.p + n.p;
    const V surround = centre + centre - (top + bottom);
    const V middle = n.am + n.bm - (n.l + n.r1);
    return Responses<V>{magnitude((n.al - n.ar) + (n.bl - n.br) + (across + across)),
                        magnitude(top - bottom + (down + down)),
                        magnitude(rising + rising + down + across),
                        magnitude(falling + falling - down + across),
                        magnitude(halve(surround + (middle + middle))),
                        magnitude(halve(surround - (middle + middle)))};
}

// The directional result where the strongest response reaches the confidence
// threshold, else the box result (integer lanes; floats have their own).
template <class V>
VELNOR_INLINE V directional_or_box(V best, V confidence, V directional, V box) {
    return select(best < confidence, box, directional);
}

// The result of a sample that reached the detectors: `box` where the strongest
// response stays below `confidence`, else P corrected by the shaped differences to
// its four neighbours along the strongest kernel's orientation.
template <class L, int kTables, class V>
VELNOR_INLINE V detector_result(const Neighbourhood<V>& n, V confidence, V box,
                                const typename L::Constants& c) {
    using Mask = typename L::Mask;
    const Responses<V> g = responses(n, c);

    // Strongest kernel, the earlier one among equals, as the orientation of its
    // neighbours in two masks: diagonal (rising or falling) and odd (horizontal or
    // falling); neither is vertical. A stronger kernel sets or clears each with one
    // operation, where orientation codes would take a selection per kernel and a
    // comparison per code.
    V best = g.g1;
    auto stronger = [&](V response) {
        const Mask s = response > best;
        // response where greater, else best: a float NaN never takes the lead.
        best = max(response, best);
        return s;
    };
    const Mask none = L::mask_broadcast(0);
    Mask odd = stronger(g.g2);  // horizontal
    Mask s = stronger(g.g3);    // rising
    Mask diagonal = s;
    odd = select(s, none, odd);
    s = stronger(g.g4);  // falling
    diagonal = diagonal | s;
    odd = odd | s;
    s = stronger(g.g5);  // vertical
    diagonal = select(s, none, diagonal);
    odd = select(s, none, odd);
    s = stronger(g.g6);  // horizontal
    diagonal = select(s, none, diagonal);
    odd = odd | s;
    auto pick = [&](V v, V h, V r, V f) {
        return select(diagonal, select(odd, f, r), select(odd, h, v));
    };
    const V n0 = pick(n.a2m, n.l2, n.a2r, n.a2l), n1 = pick(n.am, n.l, n.ar, n.al),
            n2 = pick(n.bm, n.r1, n.bl, n.br), n3 = pick(n.b2m, n.r2, n.b2l, n.b2r);

    const V sum = shape<kTables>(n.p - n0, c) + shape<kTables>(n.p - n1, c) +
                  shape<kTables>(n.p - n2, c) + shape<kTables>(n.p - n3, c);
    return directional_or_box(best, confidence, corrected(n.p, mean_of_four(sum), c), box);
}

#if defined(VELNOR_DETECTORS_BY_HALVES)
// detector_result for a layer whose vectors are two halves of one register each,
// half after half: the neighbourhood of one half fits the registers where that of
// both would be spilled.
struct HalfLanes {
    using Mask = Half;
    using Constants = ByteConstants;
    VELNOR_INLINE static Mask mask_broadcast(int v) { return Half{} + static_cast<int16_t>(v); }
    VELNOR_INLINE static Half wrap(Half h) { return h; }
};
// The row-wise form's groups of columns, one half wide.
struct HalfColumns : HalfLanes {
    using V = Half;
    using MaskLane = int16_t;
    static constexpr int kColumns = kLanes / 2;
    VELNOR_INLINE static V broadcast(int v) { return mask_broadcast(v); }
    VELNOR_INLINE static V load(const int16_t* p) {
        V v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    VELNOR_INLINE static V load_row(const uint8_t* p) { return load_half_bytes(p); }
    VELNOR_INLINE static void store_row(uint8_t* p, V v) { store_half_bytes(p, v); }
    VELNOR_INLINE static Mask lanes_from_bits(uint32_t bits) { return half_lanes_from_bits(bits); }
};
template <int i>
VELNOR_INLINE Half half_of(Vec v) {
    return v.h[i];
}
VELNOR_INLINE Vec joined(Half low, Half high) { return Vec{{low, high}}; }

// gather(load, part): the neighbourhood with `load` reading the arrays and `part`
// taking the part of a register; each half's loads come right before its
// detectors, so that they are not made early and spilled.
// A half without lanes wanting the detectors (wanted) takes its box results, as
// their result would be. HalfL: the lanes of a half (HalfLanes, or another lane
// type's, with half_of and joined for its vectors).
template <class HalfL, int kTables, class V, class Gather>
VELNOR_INLINE V detectors_by_halves(const Gather& gather, Vec wanted, V confidence, V box,
                                    const typename HalfL::Constants& c) {
    const auto half_result = [&](auto index) __attribute__((always_inline)) {
        constexpr int i = decltype(index)::value;
        if (!any(wanted.h[i])) return half_of<i>(box);
        const auto load = [](const int16_t* p) {
            Half h;
            std::memcpy(&h, p + kLanes / 2 * i, sizeof h);
            return HalfL::wrap(h);
        };
        const auto part = [](V v) { return half_of<i>(v); };
        return detector_result<HalfL, kTables>(gather(load, part), half_of<i>(confidence),
                                               half_of<i>(box), c);
    };
    return joined(half_result(std::integral_constant<int, 0>()),
                  half_result(std::integral_constant<int, 1>()));
}
#endif
// The lanes of one half for lane type L (type) and the row-wise form's groups one
// half wide (columns), where the layer runs L's detectors by halves; void where
// they run on whole vectors.
template <class L>
struct HalfLanesOf {
    using type = void;
    using columns = void;
};
#if defined(VELNOR_DETECTORS_BY_HALVES)
template <>
struct HalfLanesOf<ByteLanes> {
    using type = HalfLanes;
    using columns = HalfColumns;
};
#endif

// The detectors' result for a step of the wavefront, from gather as above: by
// halves where the layer asks for it.
template <class L, int kTables, class V, class Gather, class Load>
VELNOR_INLINE V step_detector_result(const Gather& gather, const Load& load,
                                     [[maybe_unused]] typename L::Mask wanted, V confidence, V box,
                                     const typename L::Constants& c) {
#if defined(VELNOR_DETECTORS_BY_HALVES)
    using HalfL = typename HalfLanesOf<L>::type;
    if constexpr (!std::is_void_v<HalfL>)
        return detectors_by_halves<HalfL, kTables>(gather, wanted, confidence, box, c);
    else
#endif
        return detector_result<L, kTables>(gather(load, [](V v) { return v; }), confidence, box, c);
}

// Calls f.template operator()<kTables>() with the knee tables the constants chose,
// so that every form runs with the shaping step compiled for them.
template <class F>
VELNOR_INLINE auto with_knee_tables(const ByteConstants& c, F&& f) {
    if constexpr (kHasWordTable) {
        if (c.knee_tables == 3) return f.template operator()<3>();
        if (c.knee_tables == 4) return f.template operator()<4>();
        if (c.knee_tables == 5) return f.template operator()<5>();
    }
    if constexpr (kHasByteShuffle) {
        if (c.knee_tables == 1) return f.template operator()<1>();
        if (c.knee_tables == 2) return f.template operator()<2>();
    }
    return f.template operator()<0>();
}

}  // namespace
}  // namespace velnor
