// The wavefront form of the vector pass, for bands where many samples reach the
// detectors, for every lane type's policy L. Needs a vector layer, band_layout.h
// and the pass arithmetic first.
//
// A sample's result depends on its filtered left and upper neighbours, so a row
// cannot be vectorised along x. Instead one vector holds kLanes consecutive rows,
// one per lane, each lane kSkew columns behind the lane above it: lane i at step t
// holds column t - kSkew*i. Then at step t every lane's upper neighbours (up to one
// column to the right) and left neighbours were produced by earlier steps, and its
// right and lower neighbours are still unfiltered, exactly as in a raster pass.
// Lanes 0 and 1 carry the two (final) rows above the band, the last two lanes the
// two (unfiltered) rows below it. Each step computes both paths for all lanes
// without branches and keeps what the raster pass would have chosen.
//
// In the skewed layout the neighbour (dx, dy) of lane i at step t sits at step
// t + dx + kSkew*dy, lane i + dy, so a whole neighbourhood is a handful of vector
// loads and lane shifts.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

namespace velnor {
namespace {

template <class Element>
VELNOR_INLINE Element* at_step(Element* array, int t) {
    return array + (t + kMargin) * kLanes;
}

// 16 x 16 bytes in each block: block k of out[j], byte i = block k of in[i], byte j.
VELNOR_INLINE void transpose(const Bytes in[16], Bytes out[16]) {
    Bytes a[16], b[16], c[16];
    for (int g = 0; g < 8; ++g) {  // row pairs, column halves
        a[2 * g] = unpack_low<8>(in[2 * g], in[2 * g + 1]);
        a[2 * g + 1] = unpack_high<8>(in[2 * g], in[2 * g + 1]);
    }
    for (int g = 0; g < 4; ++g)  // row quads, column quarters
        for (int h = 0; h < 2; ++h) {
            b[4 * g + 2 * h] = unpack_low<16>(a[4 * g + h], a[4 * g + 2 + h]);
            b[4 * g + 2 * h + 1] = unpack_high<16>(a[4 * g + h], a[4 * g + 2 + h]);
        }
    for (int g = 0; g < 2; ++g)  // row octets, column pairs
        for (int q = 0; q < 4; ++q) {
            c[8 * g + 2 * q] = unpack_low<32>(b[8 * g + q], b[8 * g + 4 + q]);
            c[8 * g + 2 * q + 1] = unpack_high<32>(b[8 * g + q], b[8 * g + 4 + q]);
        }
    for (int e = 0; e < 8; ++e) {
        out[2 * e] = unpack_low<64>(c[e], c[8 + e]);
        out[2 * e + 1] = unpack_high<64>(c[e], c[8 + e]);
    }
}

// Steps are transposed kSteps at a time: 16 per block.
constexpr int kSteps = 16 * kByteBlocks;

// Fills current with the padded rows (copy_band_rows) in the skewed layout: for
// bytes 16 lanes and kSteps steps at a time, for words 8 lanes and
// kWordTransposeSteps steps, for 32-bit lanes kWideTranspose and kWideTranspose.
template <class L>
VELNOR_INLINE void load_band(const Scratch<L>& s) {
    if constexpr (sizeof(typename L::Row) == 2) {
        // Lane i at step t holds column t - kSkew * i: row g + i from column t0 -
        // kSkew * (g + i), kSkew before the row above's.
        for (int t0 = -kMargin; t0 < s.steps_end; t0 += kWordTransposeSteps)
            for (int g = 0; g < kLanes; g += 8)
                transpose_words_to_steps(padded_row(s, g) + t0 - kSkew * g, s.row_stride - kSkew,
                                         at_step(s.current, t0) + g);
    } else if constexpr (sizeof(typename L::Row) == 4) {
        constexpr int n = kWideTranspose;
        for (int t0 = -kMargin; t0 < s.steps_end; t0 += n)
            for (int g = 0; g < kLanes; g += n) {
                // Lane i at step t holds column t - kSkew * i.
                const void* in[n];
                void* out[n];
                for (int i = 0; i < n; ++i) {
                    in[i] = padded_row(s, g + i) + t0 - kSkew * (g + i);
                    out[i] = at_step(s.current, t0 + i) + g;
                }
                transpose_wide(in, out);
            }
    } else {
        for (int t0 = -kMargin; t0 < s.steps_end; t0 += kSteps)
            for (int g = 0; g < kLanes; g += 16) {
                Bytes in[16], out[16];
                // Lane i at step t holds column t - kSkew * i.
                for (int i = 0; i < 16; ++i)
                    in[i] = load_block_bytes(padded_row(s, g + i) + t0 - kSkew * (g + i));
                transpose(in, out);
                for (int j = 0; j < 16; ++j) {
                    int16_t* steps[kByteBlocks];
                    for (int k = 0; k < kByteBlocks; ++k)
                        steps[k] = at_step(s.current, t0 + 16 * k + j) + g;
                    widen_blocks(out[j], steps);
                }
            }
    }
}

// Stores the filtered lanes back into the plane.
template <class L>
VELNOR_INLINE void store_band(const Band<L>& b, const Scratch<L>& s) {
    if constexpr (sizeof(typename L::Row) == 2) {
        // Every lane: the rows the band does not filter get back the words they hold.
        for (int t0 = -kMargin; t0 < s.steps_end; t0 += kWordTransposeSteps)
            for (int g = 0; g < kLanes; g += 8)
                transpose_words_to_rows(at_step(s.current, t0) + g,
                                        padded_row(s, g) + t0 - kSkew * g, s.row_stride - kSkew);
    } else if constexpr (sizeof(typename L::Row) == 4) {
        constexpr int n = kWideTranspose;
        typename L::Row unused[n];
        for (int t0 = -kMargin; t0 < s.steps_end; t0 += n)
            for (int g = kFirstOut / n * n; g < kFirstOut + kBandRows; g += n) {
                const void* in[n];
                void* out[n];
                for (int i = 0; i < n; ++i) {
                    const int lane = g + i;
                    in[i] = at_step(s.current, t0 + i) + g;
                    const bool filtered = lane >= kFirstOut && lane < kFirstOut + kBandRows;
                    out[i] = filtered ? static_cast<void*>(padded_row(s, lane) + t0 - kSkew * lane)
                                      : static_cast<void*>(unused);
                }
                transpose_wide(in, out);
            }
    } else {
        for (int t0 = -kMargin; t0 < s.steps_end; t0 += kSteps)
            for (int g = 0; g < kLanes; g += 16) {
                Bytes in[16], out[16];
                for (int j = 0; j < 16; ++j) {
                    const int16_t* steps[kByteBlocks];
                    for (int k = 0; k < kByteBlocks; ++k)
                        steps[k] = at_step(s.current, t0 + 16 * k + j) + g;
                    in[j] = narrow_blocks(steps);
                }
                transpose(in, out);
                for (int i = 0; i < 16; ++i) {
                    const int lane = g + i;
                    if (lane < kFirstOut || lane >= kFirstOut + kBandRows) continue;
                    store_block_bytes(padded_row(s, lane) + t0 - kSkew * lane, out[i]);
                }
            }
    }
    for (int r = 0; r < b.filtered_rows(); ++r)
        write_row(b, kFirstOut + r, padded_row(s, kFirstOut + r));
}

// Which lanes the pass writes at a step: rows of the band inside the processed
// region, at columns inside it. Lane i at step t holds column t - kSkew*i, which is
// inside when t - last_column <= kSkew*i <= t - first_column: the lanes compare their
// skews against those two bounds, computed in scalars and limited to -1 .. kSpan + 1
// (the skews lie in 0 .. kSpan), so that no lane ever holds a column or a step.
template <class L>
struct WrittenLanes {
    using Mask = typename L::Mask;
    Mask skew, used;
    int first_column, last_column;

    explicit WrittenLanes(const Band<L>& b) {
        using Lane = typename L::MaskLane;
        Lane skews[kLanes], rows[kLanes];
        for (int i = 0; i < kLanes; ++i) {
            skews[i] = static_cast<Lane>(kSkew * i);
            const bool filtered = i >= kFirstOut && i < kFirstOut + b.filtered_rows();
            rows[i] = filtered ? -1 : 0;
        }
        std::memcpy(&skew, skews, sizeof skew);
        std::memcpy(&used, rows, sizeof used);
        first_column = kEdge;
        last_column = b.width - 1 - kEdge;
    }
    VELNOR_INLINE static int skew_bound(int v) {
        return v < -1 ? -1 : v > kSpan + 1 ? kSpan + 1 : v;
    }
    VELNOR_INLINE Mask at(int t) const {
        return used & (skew >= L::mask_broadcast(skew_bound(t - last_column))) &
               (skew <= L::mask_broadcast(skew_bound(t - first_column)));
    }
};

// Row above: step t - kSkew, lane i - 1; row below: step t + kSkew, lane i + 1.
template <class L>
VELNOR_INLINE auto step_activity(const Scratch<L>& s, int t, typename L::V p,
                                 const typename L::Constants& c) {
    const typename L::V box_sum = L::load(at_step(s.sums, t - kSkew) - 1) +
                                  L::load(at_step(s.sums, t)) +
                                  L::load(at_step(s.sums, t + kSkew) + 1);
    return activity(p, box_sum, c);
}

// What depends on unfiltered samples only. Always the horizontal 3-sums of every
// lane at every step; only lane 1 (the row above the band) is already filtered, its
// sums come from the saved unfiltered row. Unless kActivityInSweep, also the box
// result and confidence threshold of every lane at every step, with unwritten lanes
// settled (their own sample as box result, never the detectors).
// kActivityInSweep: whether the sweep computes these itself as it reaches each step
// (saving two arrays' stores and loads) rather than reading them from here.
template <class L, bool kActivityInSweep>
VELNOR_INLINE void prepare_band(const Band<L>& b, const Scratch<L>& s,
                                const typename L::Constants& c, const typename L::Sample* saved) {
    using V = typename L::V;
    using Element = typename L::Element;
    for (int t = -kMargin + 1; t < b.steps + kMargin - 1; ++t) {
        const Element* o = at_step(s.current, t);
        L::store(at_step(s.sums, t), L::load(o - kLanes) + L::load(o) + L::load(o + kLanes));
    }
    if (saved) {
        Element* lane = at_step(s.sums, kSkew) + 1;
        for (int x = 1; x < b.width - 1; ++x)
            lane[x * kLanes] = static_cast<Element>(Element(saved[x - 1]) + Element(saved[x]) +
                                                    Element(saved[x + 1]));
    }
    if constexpr (!kActivityInSweep) {
        const WrittenLanes<L> written(b);
        for (int t = 0; t < b.steps; ++t) {
            const V p = L::load(at_step(s.current, t));
            const auto a = step_activity(s, t, p, c);
            const typename L::Mask active = written.at(t);
            L::store(at_step(s.box, t), select(active, a.box, p));
            L::store(at_step(s.confidence, t), select(active & needs_detectors(a.size, c),
                                                      a.threshold, L::broadcast(L::kNoDetector)));
        }
    }
}

// The in-order sweep over the band's steps.
template <class L, int kTables, bool kActivityInSweep>
VELNOR_INLINE void sweep_band(const Band<L>& b, const Scratch<L>& s,
                              const typename L::Constants& c) {
    using V = typename L::V;
    using Mask = typename L::Mask;
    using Element = typename L::Element;
    const auto load = [](const Element* p) { return L::load(p); };
    const V no_detector = L::broadcast(L::kNoDetector);
    const WrittenLanes<L> written(b);
    const int first = kEdge + kSkew * kFirstOut;
    const int last = b.width - 1 - kEdge + kSkew * (kFirstOut + kBandRows - 1);
    // pj: the lanes of step t - j as they now stand.
    V p1 = load(at_step(s.current, first - 1)), p2 = load(at_step(s.current, first - 2));
    // One step; active: the lanes it writes (all with the box results prepared).
    const auto step = [&](int t, Mask active) __attribute__((always_inline)) {
        Element* here = at_step(s.current, t);
        const V p = load(here);
        const ActivityOf<V> a = kActivityInSweep ? step_activity(s, t, p, c) : ActivityOf<V>{};
        const V confidence = kActivityInSweep
                                 ? select(needs_detectors(a.size, c), a.threshold, no_detector)
                                 : load(at_step(s.confidence, t));
        const V box = kActivityInSweep ? a.box : load(at_step(s.box, t));
        V out;
        const Mask wanted = active & L::wants_detectors(confidence);
        if (!any(wanted)) {
            // Box means only: nothing here depends on earlier steps.
            out = kActivityInSweep ? select(active, box, p) : box;
        } else {
            // The neighbourhood from the arrays (load) and the registers (part):
            // whole vectors, or one part of each for layers that run the detectors
            // part by part.
            const auto gather = [&](auto load, auto part) __attribute__((always_inline)) {
                Neighbourhood<decltype(part(p))> n;
                n.p = part(p);
                n.l2 = part(p2), n.l = part(p1);
                n.r1 = load(here + kLanes), n.r2 = load(here + 2 * kLanes);
                // The row above: lane i - 1 of earlier steps. Steps stored two or
                // more steps ago are read back shifted by a lane (cheaper than
                // shifting the registers); the latest is shifted in a register,
                // since reading it back so soon would stall on the store. It is
                // shifted here among the loads: shifted before them, it stays live
                // across them, and four-register floats spill more.
                n.al = load(at_step(s.current, t - 3) - 1),
                n.am = load(at_step(s.current, t - 2) - 1);
                n.ar = part(lanes_down1(p1));
                n.bl = load(here + kLanes + 1), n.bm = load(here + 2 * kLanes + 1),
                n.br = load(here + 3 * kLanes + 1);
                n.a2l = load(at_step(s.current, t - 6) - 2),
                n.a2m = load(at_step(s.current, t - 4) - 2);
                n.a2r = load(at_step(s.current, t - 2) - 2);
                n.b2l = load(here + 2 * kLanes + 2), n.b2m = load(here + 4 * kLanes + 2),
                n.b2r = load(here + 6 * kLanes + 2);
                return n;
            };
            const V result =
                step_detector_result<L, kTables>(gather, load, wanted, confidence, box, c);
            out = kActivityInSweep ? select(active, result, p) : result;
        }
        L::store(here, out);
        p2 = p1, p1 = out;
    };
    if constexpr (!kActivityInSweep) {
        for (int t = first; t <= last; ++t) step(t, L::mask_broadcast(-1));
    } else {
        // From step first_column + kSpan to last_column every lane holds a column
        // inside the written ones, so the written lanes are the band's rows alone:
        // most steps skip WrittenLanes::at.
        const int inner_first = written.first_column + kSpan;
        const int inner_last = written.last_column < last ? written.last_column : last;
        int t = first;
        for (; t <= last && t < inner_first; ++t) step(t, written.at(t));
        for (; t <= inner_last; ++t) step(t, written.used);
        for (; t <= last; ++t) step(t, written.at(t));
    }
}

// Filters the band's rows (copied by copy_band_rows) into the plane.
template <class L, bool kActivityInSweep>
__attribute__((noinline)) void filter_band_wavefront(const Band<L>& b, const Scratch<L>& s,
                                                     const typename L::Constants& c,
                                                     const typename L::Sample* saved) {
    load_band(s);
    prepare_band<L, kActivityInSweep>(b, s, c, saved);
    with_knee_tables(c, [&]<int kTables>() { sweep_band<L, kTables, kActivityInSweep>(b, s, c); });
    store_band(b, s);
}

}  // namespace
}  // namespace velnor
