// The fast pass, compiled once per instruction set: each including translation unit
// defines VELNOR_PASS_FUNCTION (the entry point's name) and is built with its own
// target flags, so the loops below are vectorised for that instruction set.
//
// Everything here has internal linkage and uses no inline function or template from
// a shared header: a copy compiled for AVX2 must never be picked by the linker for
// code that runs on a lesser CPU.
//
// Per row y the work splits into two phases.
//  1. Ahead, vectorised, from values that are final before the row starts: rows y-2
//     and y-1 (already filtered), rows y, y+1, y+2 (unfiltered) and the window sums.
//     It gives each sample its box-mean result, whether it needs the detectors, and
//     every part of the detector responses that does not involve the filtered left
//     neighbour L = p(x-1, y).
//  2. In order, for detector samples only: add L's share to five responses (G2 has
//     no weight on L), choose the winner, and for horizontal smoothing look up the
//     two filtered samples to the left. Results go to a row buffer, so that samples
//     to the right still read unfiltered values; the buffer is stored at row end.
#ifndef VELNOR_PASS_FUNCTION
#error "define VELNOR_PASS_FUNCTION before including this file"
#endif

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/filter_settings.h"
#include "core/luma_pass.h"

namespace velnor {

namespace {

constexpr int kEdge = 2;              // border width that is never written
constexpr int16_t kNoDetector = 32767;  // confidence threshold no response reaches
constexpr int kQuotientLimit = 512;   // |q| beyond this saturates every sample alike

// The per-pass scratch: row arrays carved out of one allocation.
struct Scratch {
    int16_t* sums[3];     // horizontal 3-sums of unfiltered rows y-1, y, y+1
    uint8_t* box;         // box-mean result of each sample
    int16_t* confidence;  // T, or kNoDetector when |D| < threshold1
    int16_t* c1;          // responses without L's share; c2 already a magnitude,
    int16_t* c2;          // c5 and c6 already halved
    int16_t* c3;
    int16_t* c4;
    int16_t* c5;
    int16_t* c6;
    int32_t* detectors;   // columns that take the detector path, in order
    uint8_t* out;         // the row being filtered; [0] and [1] hold the border
    int16_t* quotient;    // q for w = -255..255, clamped to +-kQuotientLimit
    void* block;
};

constexpr std::size_t kAlign = 64;

std::size_t round_up(std::size_t bytes) { return (bytes + kAlign - 1) / kAlign * kAlign; }

bool acquire(Scratch* s, int width, const ScratchAllocator& scratch) {
    const std::size_t n = static_cast<std::size_t>(width) + kAlign;
    // Row arrays of int16 x 10, int32 x 1 and uint8 x 2, plus the quotient table.
    const std::size_t i16 = round_up(n * sizeof(int16_t));
    const std::size_t i32 = round_up(n * sizeof(int32_t));
    const std::size_t u8 = round_up(n);
    const std::size_t table = round_up(511 * sizeof(int16_t));
    // On 32-bit targets a very wide plane would overflow the byte count.
    if (n > SIZE_MAX / 64) return false;
    const std::size_t total = 10 * i16 + i32 + 2 * u8 + table + kAlign;
    s->block = scratch.allocate(total);
    if (!s->block) return false;
    uintptr_t at = (reinterpret_cast<uintptr_t>(s->block) + kAlign - 1) & ~(kAlign - 1);
    auto take = [&at](std::size_t bytes) {
        void* p = reinterpret_cast<void*>(at);
        at += bytes;
        return p;
    };
    for (int16_t*& row : s->sums) row = static_cast<int16_t*>(take(i16));
    s->box = static_cast<uint8_t*>(take(u8));
    s->confidence = static_cast<int16_t*>(take(i16));
    s->c1 = static_cast<int16_t*>(take(i16));
    s->c2 = static_cast<int16_t*>(take(i16));
    s->c3 = static_cast<int16_t*>(take(i16));
    s->c4 = static_cast<int16_t*>(take(i16));
    s->c5 = static_cast<int16_t*>(take(i16));
    s->c6 = static_cast<int16_t*>(take(i16));
    s->detectors = static_cast<int32_t*>(take(i32));
    s->out = static_cast<uint8_t*>(take(u8));
    s->quotient = static_cast<int16_t*>(take(table));
    return true;
}

// trunc(w * k) in single precision, clamped to +-kQuotientLimit; the clamp changes
// no stored sample because P - q saturates to 0..255 either way.
int16_t clamped_quotient(int32_t w, float k) {
    float product = static_cast<float>(w) * k;
    if (product > static_cast<float>(kQuotientLimit)) product = kQuotientLimit;
    if (product < -static_cast<float>(kQuotientLimit)) product = -kQuotientLimit;
    return static_cast<int16_t>(static_cast<int32_t>(product));
}

int32_t saturate(int32_t v) {
    v = v < 0 ? 0 : v;
    return v > 255 ? 255 : v;
}

int32_t clamp_threshold(int32_t t, int32_t high) { return t < 0 ? 0 : t > high ? high : t; }

void fill_row_sums(const uint8_t* row, int width, int16_t* sums) {
    for (int x = kEdge; x < width - kEdge; ++x)
        sums[x] = static_cast<int16_t>(row[x - 1] + row[x] + row[x + 1]);
}

struct Rows {
    const uint8_t* above2;  // y-2, filtered
    const uint8_t* above;   // y-1, filtered
    const uint8_t* centre;  // y, unfiltered
    const uint8_t* below;   // y+1, unfiltered
    const uint8_t* below2;  // y+2, unfiltered
};

// Phase 1: everything that depends only on values final before the row starts.
// Returns the number of detector columns listed in s.detectors.
template <bool kIntegerStrength>
int prepare_row(const Rows& r, int width, const Scratch& s, int16_t threshold1,
                int32_t strength) {
    const uint8_t* __restrict a = r.above;
    const uint8_t* __restrict b = r.centre;
    const uint8_t* __restrict c = r.below;
    const int16_t* __restrict up = s.sums[0];
    const int16_t* __restrict mid = s.sums[1];
    const int16_t* __restrict low = s.sums[2];
    uint8_t* __restrict box = s.box;
    int16_t* __restrict confidence = s.confidence;
    int16_t* __restrict c1 = s.c1;
    int16_t* __restrict c2 = s.c2;
    int16_t* __restrict c3 = s.c3;
    int16_t* __restrict c4 = s.c4;
    int16_t* __restrict c5 = s.c5;
    int16_t* __restrict c6 = s.c6;
    const int16_t* __restrict quotient = s.quotient + 255;
    // The output arrays overlap neither each other nor the inputs.
#pragma GCC ivdep
    for (int x = kEdge; x < width - kEdge; ++x) {
        const int p = b[x];
        const int d = 9 * p - (up[x] + mid[x] + low[x]);
        const int magnitude = d < 0 ? -d : d;
        // Box-mean result. Over |w| <= 255 and |strength| <= 3000, trunc(w * k) in
        // single precision equals the integer quotient w * strength / 20; other
        // strengths take the table of exact quotients.
        const int w = d / 9;
        const int q = kIntegerStrength ? w * strength / 20 : quotient[w];
        const int v = p - q;
        box[x] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
        // |trunc(0.4 D)| is 2|D| / 5 over the activities that occur.
        confidence[x] =
            static_cast<int16_t>(magnitude < threshold1 ? kNoDetector : 2 * magnitude / 5);

        const int al = a[x - 1], am = a[x], ar = a[x + 1];
        const int br = b[x + 1];
        const int cl = c[x - 1], cm = c[x], cr = c[x + 1];
        const int g2 = al + 2 * am + ar - cl - 2 * cm - cr;
        const int g5 = -al + 2 * am - ar + 4 * p - 2 * br - cl + 2 * cm - cr;
        const int g6 = -al - 2 * am - ar + 4 * p + 2 * br - cl - 2 * cm - cr;
        c1[x] = static_cast<int16_t>(al - ar - 2 * br + cl - cr);
        c2[x] = static_cast<int16_t>(g2 < 0 ? -g2 : g2);
        c3[x] = static_cast<int16_t>(2 * al + am - br - cm - 2 * cr);
        c4[x] = static_cast<int16_t>(-am - 2 * ar - br + 2 * cl + cm);
        // (g - 2L) >> 1 == (g >> 1) - L, so the halving can happen here.
        c5[x] = static_cast<int16_t>(g5 >> 1);
        c6[x] = static_cast<int16_t>(g6 >> 1);
    }
    int count = 0;
    for (int x = kEdge; x < width - kEdge; ++x) {
        s.detectors[count] = x;
        count += s.confidence[x] != kNoDetector;
    }
    return count;
}

int32_t magnitude(int32_t v) { return v < 0 ? -v : v; }
int32_t larger(int32_t a, int32_t b) { return a > b ? a : b; }

// Phase 2: the detector samples in raster order. out[] already holds every
// box-mean result and the two border samples on the left.
void finish_row(const Rows& r, const Scratch& s, int count, const int32_t* table) {
    const int32_t* shape = table + kTableOffset;
    uint8_t* out = s.out;
    const uint8_t* a2 = r.above2;
    const uint8_t* a = r.above;
    const uint8_t* b = r.centre;
    const uint8_t* c = r.below;
    const uint8_t* c2 = r.below2;
    const int16_t* quotient = s.quotient + 255;
    for (int i = 0; i < count; ++i) {
        const int x = s.detectors[i];
        const int p = b[x];
        const int left = out[x - 1];
        const int left2 = out[x - 2];

        const int32_t vertical = shape[p - a2[x]] + shape[p - a[x]] + shape[p - c[x]] +
                                 shape[p - c2[x]];
        const int32_t rising = shape[p - a2[x + 2]] + shape[p - a[x + 1]] +
                               shape[p - c[x - 1]] + shape[p - c2[x - 2]];
        const int32_t falling = shape[p - a2[x - 2]] + shape[p - a[x - 1]] +
                                shape[p - c[x + 1]] + shape[p - c2[x + 2]];
        const int32_t horizontal =
            shape[p - left2] + shape[p - left] + shape[p - b[x + 1]] + shape[p - b[x + 2]];

        // Each magnitude carries its kernel's rank in the low bits, so one maximum
        // picks the strongest kernel and, among equals, the lowest-numbered one.
        // Branch-free on purpose: the winner is as unpredictable as the noise.
        const int32_t k1 = magnitude(s.c1[x] + 2 * left) << 3 | 7;
        const int32_t k2 = s.c2[x] << 3 | 6;
        const int32_t k3 = magnitude(s.c3[x] + left) << 3 | 5;
        const int32_t k4 = magnitude(s.c4[x] + left) << 3 | 4;
        const int32_t k5 = magnitude(s.c5[x] - left) << 3 | 3;
        const int32_t k6 = magnitude(s.c6[x] + left) << 3 | 2;
        const int32_t best = larger(larger(larger(k1, k2), larger(k3, k4)), larger(k5, k6));
        int32_t sums[8];
        sums[7] = vertical;
        sums[6] = horizontal;
        sums[5] = rising;
        sums[4] = falling;
        sums[3] = vertical;
        sums[2] = horizontal;
        const int32_t directional = saturate(p - quotient[sums[best & 7] >> 2]);
        // Confidence fails: the box-mean result stands.
        const int32_t keep_box = -static_cast<int32_t>((best >> 3) < s.confidence[x]);
        out[x] = static_cast<uint8_t>((s.box[x] & keep_box) | (directional & ~keep_box));
    }
}

}  // namespace

PassStatus VELNOR_PASS_FUNCTION(const FilterSettings& settings, uint8_t* plane,
                                std::ptrdiff_t pitch, const ScratchAllocator& allocator) {
    const int width = settings.width;
    const int height = settings.height;
    if (width <= 2 * kEdge || height <= 2 * kEdge) return PassStatus::ok;

    Scratch s;
    if (!acquire(&s, width, allocator)) return PassStatus::out_of_memory;

    const float k = static_cast<float>(settings.strength) * 0.05f;
    for (int w = -255; w <= 255; ++w) s.quotient[w + 255] = clamped_quotient(w, k);
    // |D| <= 2040, so any threshold1 above 2040 acts like 2041 and any below 0 like 0.
    const bool integer_strength = settings.strength >= -3000 && settings.strength <= 3000;
    const int16_t threshold1 = static_cast<int16_t>(clamp_threshold(settings.threshold1, 2041));

    auto row = [plane, pitch](int y) { return plane + y * pitch; };
    fill_row_sums(row(1), width, s.sums[0]);
    fill_row_sums(row(2), width, s.sums[1]);
    for (int y = kEdge; y < height - kEdge; ++y) {
        fill_row_sums(row(y + 1), width, s.sums[2]);
        const Rows rows{row(y - 2), row(y - 1), row(y), row(y + 1), row(y + 2)};
        const int count =
            integer_strength ? prepare_row<true>(rows, width, s, threshold1, settings.strength)
                             : prepare_row<false>(rows, width, s, threshold1, settings.strength);
        s.out[0] = rows.centre[0];
        s.out[1] = rows.centre[1];
        std::memcpy(s.out + kEdge, s.box + kEdge, static_cast<std::size_t>(width - 2 * kEdge));
        finish_row(rows, s, count, settings.table);
        std::memcpy(row(y) + kEdge, s.out + kEdge, static_cast<std::size_t>(width - 2 * kEdge));
        int16_t* oldest = s.sums[0];
        s.sums[0] = s.sums[1];
        s.sums[1] = s.sums[2];
        s.sums[2] = oldest;
    }
    allocator.release(s.block);
    return PassStatus::ok;
}

}  // namespace velnor
