// The row-wise form of the vector pass, for bands where few samples reach the
// detectors, for every lane type's policy L. Needs a vector layer, band_layout.h
// and the pass arithmetic first.
//
// A sample whose activity stays below threshold1 takes the box mean, which depends
// only on unfiltered samples; so do its activity and confidence threshold.
// classify_band computes all of these for the band's rows with vectors along x,
// kLanes columns at a time, and marks the samples that need the detectors. Then
// filter_band_rows visits the rows in order. A marked sample depends on results of
// its own row only through its two left neighbours (the rows above are final, the
// samples to the right and below unfiltered), so each group of kLanes columns runs
// the detectors in vector lanes, first with the box results standing in for the
// marked left neighbours. A lane's result is final once its left neighbours are
// and the values it read were theirs; often they are (a marked sample whose
// detectors find no clear edge keeps its box result), so most groups need one
// round. The others repeat with the latest results until every lane is final, at
// most one round per link in the longest chain of marked samples at most two apart.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

namespace velnor {
namespace {

// Lane i holds i.
template <class L>
VELNOR_INLINE typename L::Mask lane_index() {
    constexpr int kCount = sizeof(typename L::Mask) / sizeof(typename L::MaskLane);
    typename L::MaskLane lanes[kCount];
    for (int i = 0; i < kCount; ++i) lanes[i] = static_cast<typename L::MaskLane>(i);
    typename L::Mask v;
    std::memcpy(&v, lanes, sizeof v);
    return v;
}

// The group of kLanes columns from x: lane i (column x + i) is inside the written
// columns when i is at most this. Computed in a scalar and capped at kLanes, so that
// no lane ever holds a column.
template <class L>
VELNOR_INLINE typename L::Mask lanes_inside(const Band<L>& b, int x) {
    const int last = b.width - 1 - kEdge - x;
    return L::mask_broadcast(last < kLanes ? last : kLanes);
}

// Confidence thresholds and detector marks of filtered row i of the band.
template <class L>
struct RowResults {
    typename L::Element* confidence;  // confidence threshold T of each sample, by column
    uint32_t* marks;  // per kLanes columns from column kEdge: bit set where detectors are needed
};
template <class L>
VELNOR_INLINE RowResults<L> row_results(const Scratch<L>& s, int i) {
    const int r = i - kFirstOut;
    return RowResults<L>{s.row_confidence + r * s.row_stride, s.row_marks + r * s.mark_words};
}

// Writes the box result of every sample of the band's filtered rows into their
// result rows (columns outside kEdge .. width - kEdge - 1 keep their samples), and
// records the confidence thresholds and the samples that need the detectors.
// Reads unfiltered samples only: the padded rows and the saved copy of the row
// above the band (null for the first band, whose row above is never filtered).
template <class L>
VELNOR_INLINE void classify_band(const Band<L>& b, const Scratch<L>& s,
                                 const typename L::Constants& c, const typename L::Sample* saved) {
    using V = typename L::V;
    using Mask = typename L::Mask;
    using Row = typename L::Row;
    Row* raw_above = raw_row_above(s);
    if (saved)
        convert_samples(raw_above, saved, b.width);
    else
        convert_samples(raw_above, padded_row(s, kFirstOut - 1), b.width);
    const Mask columns = lane_index<L>();
    const auto load_bytes = [](const Row* p) { return L::load_row(p); };
    for (int i = kFirstOut; i < kFirstOut + b.filtered_rows(); ++i) {
        const auto out = row_results(s, i);
        const Row* above = i == kFirstOut ? raw_above : padded_row(s, i - 1);
        const Row* here = padded_row(s, i);
        const Row* below = padded_row(s, i + 1);
        Row* result = result_row(s, i);
        std::memcpy(result, here, static_cast<std::size_t>(b.width) * sizeof(Row));
        for (int x = kEdge, word = 0; x < b.width - kEdge; x += kLanes, ++word) {
            const V p = load_bytes(here + x);
            // Row by row, (left + centre) + right, as the plain pass sums them.
            const V box_sum =
                load_bytes(above + x - 1) + load_bytes(above + x) + load_bytes(above + x + 1) +
                (load_bytes(here + x - 1) + p + load_bytes(here + x + 1)) +
                (load_bytes(below + x - 1) + load_bytes(below + x) + load_bytes(below + x + 1));
            const auto a = activity(p, box_sum, c);
            const Mask inside = columns <= lanes_inside(b, x);
            L::store_row(result + x, select(inside, a.box, p));
            L::store(out.confidence + x, a.threshold);
            out.marks[word] = lane_bits(needs_detectors(a.size, c) & inside);
        }
    }
}

// One group of C::kColumns columns from x of a filtered row (row: its results,
// box results where unmarked; the other pointers as in filter_band_rows), pending:
// bit i set where column x + i needs the detectors. C: the columns' lane policy,
// L's own or, for layers that run groups by halves, HalfLanesOf<L>::columns.
template <class C, int kTables, class Row, class Element, class Constants>
VELNOR_INLINE void filter_row_group(const Row* up2, const Row* up, Row* row, const Row* raw,
                                    const Row* down, const Row* down2, const Element* confidences,
                                    int x, uint32_t pending, const Constants& c) {
    using V = typename C::V;
    using Mask = typename C::Mask;
    const auto load_bytes = [](const Row* p) { return C::load_row(p); };
    const Mask first_lane = lane_index<C>() == C::mask_broadcast(0),
               second_lane = lane_index<C>() == C::mask_broadcast(1);
    Neighbourhood<V> n;
    n.a2l = load_bytes(up2 + x - 2), n.a2m = load_bytes(up2 + x), n.a2r = load_bytes(up2 + x + 2);
    n.al = load_bytes(up + x - 1), n.am = load_bytes(up + x), n.ar = load_bytes(up + x + 1);
    n.p = load_bytes(raw + x), n.r1 = load_bytes(raw + x + 1), n.r2 = load_bytes(raw + x + 2);
    n.bl = load_bytes(down + x - 1), n.bm = load_bytes(down + x), n.br = load_bytes(down + x + 1);
    n.b2l = load_bytes(down2 + x - 2), n.b2m = load_bytes(down2 + x),
    n.b2r = load_bytes(down2 + x + 2);
    const V confidence = C::load(confidences + x);
    const V box = load_bytes(row + x);
    // The row's settled samples just left of the group, as every lane's first and
    // second left neighbours see them.
    const V before1 = C::broadcast(row[x - 1]), before2 = C::broadcast(row[x - 2]);
    // The group's columns as they now stand: final, or for pending lanes the latest
    // guess (first the box result, then the last round's result).
    V settled = box;
    do {
        n.l = select(first_lane, before1, lanes_down1(settled));
        n.l2 = select(first_lane, before2, select(second_lane, before1, lanes_down2(settled)));
        const V result = detector_result<C, kTables>(n, confidence, box, c);
        // A pending lane is final when each of its two left neighbours is final and
        // had, as this round read it, its final value: unmarked, settled before, or
        // itself final now with a result equal to its guess.
        const uint32_t changed = pending & lane_bits(result != settled);
        uint32_t unsure = 0, bad = changed;
        for (;;) {
            const uint32_t next = pending & ((bad << 1) | (bad << 2));
            if (next == unsure) break;
            unsure = next;
            bad = changed | unsure;
        }
        settled = select(C::lanes_from_bits(pending), result, settled);
        pending = unsure;
    } while (pending != 0);
    C::store_row(row + x, settled);
}

// Runs the detectors for the marked samples of the band's rows in order, then
// writes the rows to the plane.
template <class L, int kTables>
VELNOR_INLINE void filter_band_rows(const Band<L>& b, const Scratch<L>& s,
                                    const typename L::Constants& c) {
    using Row = typename L::Row;
    for (int i = kFirstOut; i < kFirstOut + b.filtered_rows(); ++i) {
        const auto results = row_results(s, i);
        // Rows above are final: the band's two first rows, then results of this form.
        const Row* up2 = i - 2 < kFirstOut ? padded_row(s, i - 2) : result_row(s, i - 2);
        const Row* up = i - 1 < kFirstOut ? padded_row(s, i - 1) : result_row(s, i - 1);
        Row* row = result_row(s, i);
        const Row* raw = padded_row(s, i);
        const Row* down = padded_row(s, i + 1);
        const Row* down2 = padded_row(s, i + 2);
        for (int x = kEdge, word = 0; x < b.width - kEdge; x += kLanes, ++word) {
            const uint32_t pending = results.marks[word];
            if (pending == 0) continue;
#if defined(VELNOR_DETECTORS_BY_HALVES)
            using Halves = typename HalfLanesOf<L>::columns;
            if constexpr (!std::is_void_v<Halves>) {
                // Half after half: the half on the left is final before the other
                // reads its last two columns.
                constexpr int kHalf = kLanes / 2;
                for (int h = 0; h < 2; ++h) {
                    const uint32_t bits = (pending >> (kHalf * h)) & ((1u << kHalf) - 1);
                    if (bits != 0)
                        filter_row_group<Halves, kTables>(up2, up, row, raw, down, down2,
                                                          results.confidence, x + kHalf * h, bits,
                                                          c);
                }
                continue;
            }
#endif
            filter_row_group<L, kTables>(up2, up, row, raw, down, down2, results.confidence, x,
                                         pending, c);
        }
        write_row(b, i, row);
    }
}

// The whole row-wise form for one band (rows copied by copy_band_rows).
template <class L>
__attribute__((noinline)) void filter_band_row_wise(const Band<L>& b, const Scratch<L>& s,
                                                    const typename L::Constants& c,
                                                    const typename L::Sample* saved) {
    classify_band(b, s, c, saved);
    with_knee_tables(c, [&]<int kTables>() { filter_band_rows<L, kTables>(b, s, c); });
}

// The bits set in v. x86 levels below SSE4.2 may not assume the popcnt instruction,
// and the library call that replaces it costs more than these few steps.
VELNOR_INLINE int count_bits(uint32_t v) {
#if (defined(__x86_64__) || defined(__i386__)) && !defined(__POPCNT__)
    v = v - ((v >> 1) & 0x55555555u);
    v = (v & 0x33333333u) + ((v >> 2) & 0x33333333u);
    return static_cast<int>((((v + (v >> 4)) & 0x0F0F0F0Fu) * 0x01010101u) >> 24);
#else
    return __builtin_popcount(v);
#endif
}

// Whether the row-wise form suits the band: the samples that need the detectors,
// counted in every fourth filtered row of the padded copies, stay within
// kPercent of the sampled samples. Only an estimate: the band's first row is
// sampled only when it is the only one, and then with the filtered row above it.
// Stops as soon as the answer is no.
template <class L, int kPercent>
VELNOR_INLINE bool row_wise_suits(const Band<L>& b, const Scratch<L>& s,
                                  const typename L::Constants& c) {
    using V = typename L::V;
    using Mask = typename L::Mask;
    using Row = typename L::Row;
    const auto load_bytes = [](const Row* p) { return L::load_row(p); };
    const int rows = b.filtered_rows();
    const int first = rows > 1 ? 1 : 0;
    const int sampled = (rows - first + 3) / 4;
    const long long budget =
        static_cast<long long>(kPercent) * sampled * (b.width - 2 * kEdge) / 100;
    const Mask columns = lane_index<L>();
    long long marked = 0;
    for (int r = first; r < rows; r += 4) {
        const Row* above = padded_row(s, kFirstOut + r - 1);
        const Row* here = padded_row(s, kFirstOut + r);
        const Row* below = padded_row(s, kFirstOut + r + 1);
        for (int x = kEdge; x < b.width - kEdge; x += kLanes) {
            const V box_sum =
                load_bytes(above + x - 1) + load_bytes(above + x) + load_bytes(above + x + 1) +
                load_bytes(here + x - 1) + load_bytes(here + x) + load_bytes(here + x + 1) +
                load_bytes(below + x - 1) + load_bytes(below + x) + load_bytes(below + x + 1);
            const Mask inside = columns <= lanes_inside(b, x);
            marked += count_bits(lane_bits(
                needs_detectors(activity_size(load_bytes(here + x), box_sum), c) & inside));
            if (marked > budget) return false;
        }
    }
    return true;
}

}  // namespace
}  // namespace velnor
