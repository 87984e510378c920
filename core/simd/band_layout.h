// How the vector pass walks a plane: bands of kLanes rows, the scratch memory each
// band uses, and the copies between the plane and that memory, for a lane type's
// policy L (ByteLanes and the like). Needs a vector layer (vector_<isa>.h) and the
// pass arithmetic included first.
//
// A band covers plane rows top .. top + kLanes - 1: rows top and top + 1 are final
// (filtered by the band before, or the plane's border), rows top + 2 .. top + kLanes
// - 3 are the ones the band filters, and the last two are read only. Bands overlap
// by four rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "core/luma_pass.h"

namespace velnor {
namespace {

constexpr int kEdge = 2;               // border width that is never written
constexpr int kFirstOut = 2;           // first filtered row (lane) of a band
constexpr int kBandRows = kLanes - 4;  // filtered rows per band
constexpr int kSkew = 2;               // wavefront: columns each lane trails the one above
constexpr int kMargin = 8;             // wavefront: steps kept before the first and after the last
constexpr int kSpan = kSkew * (kLanes - 1);  // wavefront: extra steps the skew adds to a row
constexpr int kPad = 192;                    // zeros around each row copy

// A pass leaves the plane as it is: no sample lies inside the border, or the
// settings correct nothing (strength 0).
VELNOR_INLINE bool plane_stays(const FilterSettings& settings) {
    return settings.width <= 2 * kEdge || settings.height <= 2 * kEdge || settings.strength == 0;
}
static_assert(kLanes % 16 == 0, "the byte transposes work on groups of 16 lanes");
static_assert(kPad >= kMargin + kSpan + 16 * kByteBlocks,
              "wavefront copies stay inside the padding");

// Per-band arrays. The wavefront form's arrays hold one vector of kLanes lanes per
// step, index t + kMargin; the row-wise form's hold one entry per column.
template <class L>
struct Scratch {
    using Element = typename L::Element;
    using Sample = typename L::Sample;
    using Row = typename L::Row;
    Element* current;     // wavefront: samples as the pass has left them
    Element* sums;        // wavefront: horizontal 3-sums of the samples before the pass
    Element* box;         // wavefront: box-mean result (unless the sweep computes it)
    Element* confidence;  // wavefront: T, or L::kNoDetector where |D| < threshold1 (likewise)
    Sample* saved;        // unfiltered copy of the row above the band
    Sample* saving;       // unfiltered copy of the band's last filtered row
    // The band's rows (as L::Row), each padded by kPad zeros on both sides; then the
    // unfiltered row above the band; then the row-wise form's results of the
    // filtered rows.
    Row* rows;
    Element* row_confidence;    // row-wise: confidence thresholds, kBandRows rows
    uint32_t* row_marks;        // row-wise: detector marks, kLanes columns a word
    std::ptrdiff_t row_stride;  // bytes or entries from one row to the next
    int mark_words;             // words of marks per row
    int steps_end;  // steps -kMargin .. steps_end-1 exist, a multiple of 16 kByteBlocks apart
    void* block;
};

VELNOR_INLINE std::size_t round_up(std::size_t bytes) { return (bytes + 63) / 64 * 64; }

// The parts of a band's scratch memory, in bytes.
struct ScratchSizes {
    std::size_t array, row, rows, confidence_rows, marks;
    std::size_t total() const { return 4 * array + 2 * row + rows + confidence_rows + marks; }
};

// The sizes for planes `width` columns wide, which also sets the layout's counts in
// s; false where the width is beyond what the pass accepts.
template <class L>
VELNOR_INLINE bool scratch_sizes(Scratch<L>* s, int width, ScratchSizes* sizes) {
    using Element = typename L::Element;
    using Sample = typename L::Sample;
    using Row = typename L::Row;
    // On 32-bit targets a very wide plane would overflow the byte count.
    if (width > INT32_MAX / 64 || static_cast<std::size_t>(width) > SIZE_MAX / 4096) return false;
    // Steps -kMargin .. width + kSpan + kMargin - 1, in whole transposes.
    constexpr int kTransposed = 16 * kByteBlocks;
    const int steps = (width + kSpan + 2 * kMargin + kTransposed - 1) / kTransposed * kTransposed;
    s->steps_end = steps - kMargin;
    s->row_stride =
        static_cast<std::ptrdiff_t>(round_up(static_cast<std::size_t>(width) + 2 * kPad));
    s->mark_words = (width + kLanes - 1) / kLanes;
    sizes->array = round_up(static_cast<std::size_t>(steps) * kLanes * sizeof(Element));
    sizes->row = round_up(static_cast<std::size_t>(width) * sizeof(Sample));
    sizes->rows = (kLanes + 1 + kBandRows) * static_cast<std::size_t>(s->row_stride) * sizeof(Row);
    sizes->confidence_rows = kBandRows * static_cast<std::size_t>(s->row_stride) * sizeof(Element);
    sizes->marks = round_up(kBandRows * static_cast<std::size_t>(s->mark_words) * sizeof(uint32_t));
    return true;
}

// Lays the scratch out from the first 64-byte boundary in `block` (which holds
// sizes.total() bytes from there) and clears the rows.
template <class L>
VELNOR_INLINE void lay_out_scratch(Scratch<L>* s, void* block, const ScratchSizes& sizes) {
    using Element = typename L::Element;
    using Sample = typename L::Sample;
    using Row = typename L::Row;
    uintptr_t at = (reinterpret_cast<uintptr_t>(block) + 63) & ~static_cast<uintptr_t>(63);
    auto take = [&at](std::size_t bytes) {
        void* p = reinterpret_cast<void*>(at);
        at += bytes;
        return p;
    };
    s->block = block;
    s->current = static_cast<Element*>(take(sizes.array));
    s->sums = static_cast<Element*>(take(sizes.array));
    s->box = static_cast<Element*>(take(sizes.array));
    s->confidence = static_cast<Element*>(take(sizes.array));
    s->saved = static_cast<Sample*>(take(sizes.row));
    s->saving = static_cast<Sample*>(take(sizes.row));
    s->rows = static_cast<Row*>(take(sizes.rows));
    s->row_confidence = static_cast<Element*>(take(sizes.confidence_rows));
    s->row_marks = static_cast<uint32_t*>(take(sizes.marks));
    std::memset(s->rows, 0, sizes.rows);
}

template <class L>
VELNOR_INLINE bool acquire(Scratch<L>* s, int width, const ScratchAllocator& allocator) {
    ScratchSizes sizes;
    if (!scratch_sizes(s, width, &sizes)) return false;
    void* block = allocator.allocate(sizes.total() + 64);
    if (!block) return false;
    lay_out_scratch(s, block, sizes);
    return true;
}

template <class L>
struct Band {
    typename L::Sample* plane;
    std::ptrdiff_t pitch;  // in samples
    int width, height;
    int top;    // plane row of the band's first row (lane 0)
    int steps;  // wavefront: width + kSpan

    // Filtered rows of the band inside the plane's written region.
    int filtered_rows() const {
        const int rows = height - kEdge - (top + kFirstOut);
        return rows < kBandRows ? rows : kBandRows;
    }
};

// Row i of the band, padded with zeros on both sides: sample x at [kPad + x].
template <class L>
VELNOR_INLINE typename L::Row* padded_row(const Scratch<L>& s, int i) {
    return s.rows + i * s.row_stride + kPad;
}
// The unfiltered row above the band's first filtered row.
template <class L>
VELNOR_INLINE typename L::Row* raw_row_above(const Scratch<L>& s) {
    return padded_row(s, kLanes);
}
// Row-wise form: the results of filtered row i (kFirstOut <= i < kFirstOut + kBandRows).
template <class L>
VELNOR_INLINE typename L::Row* result_row(const Scratch<L>& s, int i) {
    return padded_row(s, kLanes + 1 + i - kFirstOut);
}

// count samples converted from one sample type to another (restrict and a local
// count let the compiler vectorise the loop).
template <class To, class From>
VELNOR_INLINE void convert_samples(To* __restrict to, const From* __restrict from, int count) {
    if constexpr (std::is_same_v<To, From>) {
        std::memcpy(to, from, static_cast<std::size_t>(count) * sizeof(To));
    } else {
        for (int x = 0; x < count; ++x) to[x] = static_cast<To>(from[x]);
    }
}

// Copies the band's rows into their padded rows (converted to L::Row), zeros
// outside the plane.
template <class L>
VELNOR_INLINE void copy_band_rows(const Band<L>& b, const Scratch<L>& s) {
    using Row = typename L::Row;
    for (int i = 0; i < kLanes; ++i) {
        const int y = b.top + i;
        Row* row = padded_row(s, i);
        if (y < b.height)
            convert_samples(row, b.plane + y * b.pitch, b.width);
        else
            std::memset(row, 0, static_cast<std::size_t>(b.width) * sizeof(Row));
    }
}

// Writes filtered row i of the band (columns kEdge .. width - kEdge - 1) to the
// plane; the row holds samples in range.
template <class L>
VELNOR_INLINE void write_row(const Band<L>& b, int i, const typename L::Row* row) {
    convert_samples(b.plane + (b.top + i) * b.pitch + kEdge, row + kEdge, b.width - 2 * kEdge);
}

}  // namespace
}  // namespace velnor
