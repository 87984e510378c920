// How the vector pass walks a plane: bands of kLanes rows, the scratch memory each
// band uses, and the copies between the plane and that memory. Needs a vector
// layer (vector_<isa>.h) included first.
//
// A band covers plane rows top .. top + kLanes - 1: rows top and top + 1 are final
// (filtered by the band before, or the plane's border), rows top + 2 .. top + kLanes
// - 3 are the ones the band filters, and the last two are read only. Bands overlap
// by four rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

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
constexpr int16_t kNoDetector = 32767;       // confidence threshold nothing reaches
static_assert(kLanes % 16 == 0, "the byte transposes work on groups of 16 lanes");
static_assert(kPad >= kMargin + kSpan + 16 * kByteBlocks,
              "wavefront copies stay inside the padding");

// Per-band arrays. The wavefront form's arrays hold one vector of kLanes lanes per
// step, index t + kMargin; the row-wise form's hold one entry per column.
struct Scratch {
    int16_t* current;     // wavefront: samples as the pass has left them
    int16_t* sums;        // wavefront: horizontal 3-sums of the samples before the pass
    int16_t* box;         // wavefront: box-mean result (unless the sweep computes it)
    int16_t* confidence;  // wavefront: T, or kNoDetector where |D| < threshold1 (likewise)
    uint8_t* saved;       // unfiltered copy of the row above the band
    uint8_t* saving;      // unfiltered copy of the band's last filtered row
    // The band's rows, each padded by kPad zeros on both sides; then the unfiltered
    // row above the band; then the row-wise form's results of the filtered rows.
    uint8_t* rows;
    int16_t* row_confidence;    // row-wise: confidence thresholds, kBandRows rows
    uint32_t* row_marks;        // row-wise: detector marks, kLanes columns a word
    std::ptrdiff_t row_stride;  // bytes or entries from one row to the next
    int mark_words;             // words of marks per row
    int steps_end;  // steps -kMargin .. steps_end-1 exist, a multiple of 16 kByteBlocks apart
    void* block;
};

VELNOR_INLINE std::size_t round_up(std::size_t bytes) { return (bytes + 63) / 64 * 64; }

VELNOR_INLINE bool acquire(Scratch* s, int width, const ScratchAllocator& allocator) {
    // On 32-bit targets a very wide plane would overflow the byte count.
    if (width > INT32_MAX / 64 || static_cast<std::size_t>(width) > SIZE_MAX / 4096) return false;
    // Steps -kMargin .. width + kSpan + kMargin - 1, in whole transposes.
    constexpr int kTransposed = 16 * kByteBlocks;
    const int steps = (width + kSpan + 2 * kMargin + kTransposed - 1) / kTransposed * kTransposed;
    s->steps_end = steps - kMargin;
    const std::size_t array = round_up(static_cast<std::size_t>(steps) * kLanes * sizeof(int16_t));
    const std::size_t row = round_up(static_cast<std::size_t>(width));
    s->row_stride =
        static_cast<std::ptrdiff_t>(round_up(static_cast<std::size_t>(width) + 2 * kPad));
    const std::size_t rows = (kLanes + 1 + kBandRows) * static_cast<std::size_t>(s->row_stride);
    const std::size_t confidence_rows =
        kBandRows * static_cast<std::size_t>(s->row_stride) * sizeof(int16_t);
    s->mark_words = (width + kLanes - 1) / kLanes;
    const std::size_t marks =
        round_up(kBandRows * static_cast<std::size_t>(s->mark_words) * sizeof(uint32_t));
    s->block = allocator.allocate(4 * array + 2 * row + rows + confidence_rows + marks + 64);
    if (!s->block) return false;
    uintptr_t at = (reinterpret_cast<uintptr_t>(s->block) + 63) & ~static_cast<uintptr_t>(63);
    auto take = [&at](std::size_t bytes) {
        void* p = reinterpret_cast<void*>(at);
        at += bytes;
        return p;
    };
    s->current = static_cast<int16_t*>(take(array));
    s->sums = static_cast<int16_t*>(take(array));
    s->box = static_cast<int16_t*>(take(array));
    s->confidence = static_cast<int16_t*>(take(array));
    s->saved = static_cast<uint8_t*>(take(row));
    s->saving = static_cast<uint8_t*>(take(row));
    s->rows = static_cast<uint8_t*>(take(rows));
    s->row_confidence = static_cast<int16_t*>(take(confidence_rows));
    s->row_marks = static_cast<uint32_t*>(take(marks));
    std::memset(s->rows, 0, rows);
    return true;
}

struct Band {
    uint8_t* plane;
    std::ptrdiff_t pitch;
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
VELNOR_INLINE uint8_t* padded_row(const Scratch& s, int i) {
    return s.rows + i * s.row_stride + kPad;
}
// The unfiltered row above the band's first filtered row.
VELNOR_INLINE uint8_t* raw_row_above(const Scratch& s) { return padded_row(s, kLanes); }
// Row-wise form: the results of filtered row i (kFirstOut <= i < kFirstOut + kBandRows).
VELNOR_INLINE uint8_t* result_row(const Scratch& s, int i) {
    return padded_row(s, kLanes + 1 + i - kFirstOut);
}

// Copies the band's rows into their padded rows, zeros outside the plane.
VELNOR_INLINE void copy_band_rows(const Band& b, const Scratch& s) {
    for (int i = 0; i < kLanes; ++i) {
        const int y = b.top + i;
        uint8_t* row = padded_row(s, i);
        if (y < b.height)
            std::memcpy(row, b.plane + y * b.pitch, static_cast<std::size_t>(b.width));
        else
            std::memset(row, 0, static_cast<std::size_t>(b.width));
    }
}

// Writes filtered row i of the band (columns kEdge .. width - kEdge - 1) to the plane.
VELNOR_INLINE void write_row(const Band& b, int i, const uint8_t* row) {
    std::memcpy(b.plane + (b.top + i) * b.pitch + kEdge, row + kEdge,
                static_cast<std::size_t>(b.width - 2 * kEdge));
}

}  // namespace
}  // namespace velnor
