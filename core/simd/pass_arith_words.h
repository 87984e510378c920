// The pass's arithmetic for integer samples of B = 8..16 bits in 16-bit words, in
// int32 lanes (Ints; 9 x 65535 leaves int16 far behind): constants scaled to the
// depth, the difference-shaping step, the strength product, activity and box
// result. The detectors and the directional result are pass_arith_vector.h's,
// which finds these by overloading. Needs a vector layer and pass_arith_vector.h.
#pragma once

#include <cstdint>

#include "core/depth_thresholds.h"
#include "core/filter_settings.h"
#include "core/luma_pass.h"
#include "core/simd/pass_arith_vector.h"

namespace velnor {
namespace {

// |q| beyond this saturates alike: P - q leaves 0..65535 either way.
constexpr float kWordQuotientLimit = 131072.0f;

struct WordConstants {
    // The knee t clamped to 0..65535: with |d| <= 65535, t = 65535 shapes every
    // difference to itself as every larger knee does. knee2 = 2t.
    Ints knee, knee2;
    // Division of the band's products (below 2^32) by the knee (by 1 for knee 0):
    // q = (h + ((n - h) >> shift1)) >> shift2 with h the high half of n * magic
    // (Granlund and Montgomery's method for a run-time divisor, exact for every
    // 32-bit n).
    Words knee_magic;
    int knee_shift1, knee_shift2;
    // Where a 32-bit magic ceil(2^(32+s) / t) gives floor(n / t) for every n <= t^2
    // (n magic / 2^(32+s) = n / t + n e / (t 2^(32+s)) with e = magic t - 2^(32+s),
    // below the next integer where n e < 2^(32+s)): that magic and q = h >> s.
    bool knee_reciprocal;
    bool unit_strength;
    Reals k;
    Ints threshold1;  // threshold1 x 2^(B-8), clamped as depth_thresholds does
    Ints max_sample;  // 2^B - 1
};

// bits: 8..16 (others are clamped into that range).
VELNOR_INLINE WordConstants make_word_constants(const FilterSettings& settings, int bits) {
    const int depth = bits < 8 ? 8 : bits > 16 ? 16 : bits;
    const DepthThresholds limits =
        depth_thresholds(settings.threshold1, settings.threshold2, depth);
    WordConstants c;
    const int32_t knee = limits.knee > 65535 ? 65535 : limits.knee;
    c.knee = broadcast<Ints>(knee);
    c.knee2 = broadcast<Ints>(2 * knee);
    const uint32_t divisor = knee > 0 ? static_cast<uint32_t>(knee) : 1u;
    int log2_ceiling = 0;
    while ((uint32_t{1} << log2_ceiling) < divisor) ++log2_ceiling;
    const uint64_t magic =
        (uint64_t{1} << 32) * ((uint64_t{1} << log2_ceiling) - divisor) / divisor + 1;
    c.knee_magic = broadcast<Words>(static_cast<uint32_t>(magic));
    c.knee_shift1 = log2_ceiling > 0 ? 1 : 0;
    c.knee_shift2 = log2_ceiling > 0 ? log2_ceiling - 1 : 0;
    c.knee_reciprocal = false;
    for (int shift = 0; shift <= 16 && knee > 1; ++shift) {
        const uint64_t power = uint64_t{1} << (32 + shift);
        const uint64_t reciprocal = (power + divisor - 1) / divisor;
        if (reciprocal >> 32) break;
        const uint64_t square = uint64_t{divisor} * divisor;             // below 2^32
        if (square * (reciprocal * divisor - power) >= power) continue;  // e < t < 2^16
        c.knee_reciprocal = true;
        c.knee_magic = broadcast<Words>(static_cast<uint32_t>(reciprocal));
        c.knee_shift2 = shift;
        break;
    }
    const float k = static_cast<float>(settings.strength) * 0.05f;
    c.unit_strength = k == 1.0f;
    c.k = broadcast<Reals>(k);
    c.threshold1 = broadcast<Ints>(limits.activity);
    c.max_sample = broadcast<Ints>(limits.max_sample);
    return c;
}

// d for |d| < t, 0 for |d| >= 2t, else (2t - |d|) * d / t truncated: the sign of d
// times floor((2t - m) * m / t) with m = |d|. As at 8 bits, that floor is at least m
// below the knee and at most m from it on, so the shaped magnitude is its minimum
// with m once m is capped at 2t; the product is then at most t * t < 2^32.
// kTables: 1 with the knee's reciprocal, else 0.
template <int kTables>
VELNOR_INLINE Ints shape(Ints d, const WordConstants& c) {
    static_assert(kTables == 0 || kTables == 1, "words have no table form");
    const Ints m = magnitude(d);
    const Ints capped = min(m, c.knee2);
    const Words n = bits_as<uint32_t>(c.knee2 - capped) * bits_as<uint32_t>(capped);
    const Words h = multiply_high(n, c.knee_magic);
    const Words q =
        kTables == 1 ? h >> c.knee_shift2 : (h + ((n - h) >> c.knee_shift1)) >> c.knee_shift2;
    const Ints g = min(m, bits_as<int32_t>(q));
    return select(d < broadcast<Ints>(0), -g, g);
}
template <class F>
VELNOR_INLINE auto with_knee_tables(const WordConstants& c, F&& f) {
    if (c.knee_reciprocal) return f.template operator()<1>();
    return f.template operator()<0>();
}

// q = trunc(w * k) in single precision (w is exact in a float: |w| < 2^20), clamped
// to +-kWordQuotientLimit, which changes no stored sample.
VELNOR_INLINE Ints scaled(Ints w, const WordConstants& c) {
    if (c.unit_strength) return w;
    Reals product = convert<float>(w) * c.k;
    product = min(max(product, broadcast<Reals>(-kWordQuotientLimit)),
                  broadcast<Reals>(kWordQuotientLimit));
    return convert<int32_t>(product);
}

// P - q for a correction w, clamped to 0..2^B - 1.
VELNOR_INLINE Ints corrected(Ints p, Ints w, const WordConstants& c) {
    return min(max(p - scaled(w, c), broadcast<Ints>(0)), c.max_sample);
}

VELNOR_INLINE Ints halve(Ints v) { return v >> 1; }
VELNOR_INLINE Ints mean_of_four(Ints sum) { return sum >> 2; }

// |D|, the box result and the confidence threshold |trunc(0.4 D)|, which is
// 2|D| / 5 for every integer D of this size (0.4 in double precision lies just
// above 0.4, by far too little to reach the next integer).
VELNOR_INLINE Ints activity_size(Ints p, Ints box_sum) {
    return magnitude(p * broadcast<Ints>(9) - box_sum);
}
VELNOR_INLINE ActivityOf<Ints> activity(Ints p, Ints box_sum, const WordConstants& c) {
    const Ints d = p * broadcast<Ints>(9) - box_sum;
    const Ints size = magnitude(d);
    return ActivityOf<Ints>{size, corrected(p, divide<9>(d), c), divide<5>(size + size)};
}
VELNOR_INLINE Ints needs_detectors(Ints size, const WordConstants& c) {
    return size >= c.threshold1;
}

// Lanes for 16-bit words: samples widened to int32 in the forms' arrays and rows.
struct WordLanes {
    using V = Ints;
    using MaskLane = int32_t;  // a lane of Mask
    using Mask = Ints;
    using Sample = uint16_t;
    using Row = int32_t;
    using Element = int32_t;
    using Constants = WordConstants;
    static constexpr Element kNoDetector = INT32_MAX;
    // Lanes whose stored confidence threshold is not the mark.
    VELNOR_INLINE static Mask wants_detectors(V confidence) {
        return confidence != velnor::broadcast<Ints>(kNoDetector);
    }
    VELNOR_INLINE static Constants constants(const FilterSettings& settings, int bits) {
        return make_word_constants(settings, bits);
    }
    // The plain pass for these samples, where the vector scratch is refused.
    VELNOR_INLINE static PassStatus reference(const FilterSettings& settings, int bits,
                                              Sample* plane, std::ptrdiff_t pitch,
                                              const ScratchAllocator& scratch) {
        return filter_words_reference(settings, bits, plane, pitch, scratch);
    }
    VELNOR_INLINE static V broadcast(int v) { return velnor::broadcast<Ints>(v); }
    VELNOR_INLINE static Mask mask_broadcast(int v) { return velnor::broadcast<Ints>(v); }
    VELNOR_INLINE static V load(const Element* p) { return load_lanes<Ints>(p); }
    VELNOR_INLINE static void store(Element* p, V v) { store_lanes(p, v); }
    VELNOR_INLINE static V load_row(const Row* p) { return load_lanes<Ints>(p); }
    VELNOR_INLINE static void store_row(Row* p, V v) { store_lanes(p, v); }
    VELNOR_INLINE static Mask lanes_from_bits(uint32_t bits) {
        return pieces_from_bits<Ints>(bits);
    }
};

}  // namespace
}  // namespace velnor
