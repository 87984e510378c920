// The fast pass, compiled once per instruction set: each including translation unit
// defines VELNOR_PASS_FUNCTION (the entry point's name) and is built with its own
// target flags, so the 16-lane vectors below map onto that instruction set.
//
// Everything here has internal linkage and uses no inline function or template from
// a shared header: a copy compiled for AVX2 must never be picked by the linker for
// code that runs on a lesser CPU.
//
// Scheme. A sample's result depends on its filtered left and upper neighbours, so a
// row cannot be vectorised along x. Instead one vector holds sixteen consecutive
// rows, one per lane, each lane kSkew columns behind the lane above it: lane i at
// step t holds column t - kSkew*i. Then at step t every lane's upper neighbours
// (up to one column to the right) and left neighbours were produced by earlier
// steps, and its right and lower neighbours are still unfiltered, exactly as in a
// raster pass. Lanes 0 and 1 carry the two (final) rows above the band, lanes 14
// and 15 the two (unfiltered) rows below it; lanes 2..13 are filtered. Each step
// computes both paths for all lanes without branches and keeps what the raster
// pass would have chosen.
//
// In the skewed layout the neighbour (dx, dy) of lane i at step t sits at step
// t + dx + kSkew*dy, lane i + dy, so a whole neighbourhood is a handful of vector
// loads and lane shifts.
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

constexpr int kEdge = 2;          // border width that is never written
constexpr int kLanes = 16;        // rows per vector
constexpr int kFirstOut = 2;      // first filtered lane
constexpr int kBandRows = 12;     // filtered lanes: 2..13
constexpr int kSkew = 2;          // columns each lane trails the lane above
constexpr int kMargin = 8;        // steps kept before the first and after the last
constexpr int kSpan = kSkew * (kLanes - 1);  // extra steps the skew adds to a row
constexpr int16_t kNoDetector = 32767;       // confidence threshold nothing reaches
constexpr float kQuotientLimit = 512.0f;     // |q| beyond this saturates alike

typedef int16_t Vec __attribute__((vector_size(2 * kLanes)));
typedef int32_t Wide __attribute__((vector_size(4 * kLanes)));
typedef float Floats __attribute__((vector_size(4 * kLanes)));

Vec splat(int v) {
    const int16_t s = static_cast<int16_t>(v);
    return Vec{s, s, s, s, s, s, s, s, s, s, s, s, s, s, s, s};
}

Vec load(const int16_t* p) {
    Vec v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void store(int16_t* p, Vec v) { std::memcpy(p, &v, sizeof v); }

// Lane i takes lane i - n (n = 1, 2); the lowest lanes are left unspecified.
Vec lanes_down1(Vec v) {
    return __builtin_shuffle(v, Vec{0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14});
}
Vec lanes_down2(Vec v) {
    return __builtin_shuffle(v, Vec{0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13});
}

Vec magnitude(Vec v) { return v < 0 ? -v : v; }
Vec clamp_sample(Vec v) {
    v = v < 0 ? splat(0) : v;
    return v > 255 ? splat(255) : v;
}

Floats to_floats(Vec v) { return __builtin_convertvector(__builtin_convertvector(v, Wide), Floats); }
// Truncation toward zero; callers keep the values well inside the int32 range.
Vec to_vec(Floats f) { return __builtin_convertvector(__builtin_convertvector(f, Wide), Vec); }

struct Constants {
    Vec knee;          // threshold2 clamped to 0..256 (256 and above: identity)
    Vec knee2;         // twice that
    Floats knee2_f;
    Floats inverse;    // 1 / knee and 0.5 / knee in single precision (0 for knee 0)
    Floats half_inverse;
    bool unit_strength;
    Floats k;
    Vec threshold1;    // clamped to 0..2041, which decides every |D| <= 2040 alike
};

// The difference-shaping table evaluated in the lanes: d for |d| < t, 0 for
// |d| >= 2t, else (2t - |d|) * d / t truncated. The quotient (2t - m) * m / t is at
// most t <= 255 with a fractional part of k / t; floor(num * (1/t) + 0.5/t) in
// single precision errs by far less than 0.5 / t, so it gives the exact quotient.
Vec shape(Vec d, const Constants& c) {
    const Vec m = magnitude(d);
    const Floats mf = to_floats(m);
    const Floats band = (c.knee2_f - mf) * mf * c.inverse + c.half_inverse;
    const Vec g = to_vec(band);
    const Vec signed_g = d < 0 ? -g : g;
    return m < c.knee ? d : (m >= c.knee2 ? splat(0) : signed_g);
}

// q = trunc(w * k) in single precision, clamped to +-kQuotientLimit; the clamp
// changes no stored sample because P - q saturates to 0..255 either way.
Vec scaled(Vec w, const Constants& c) {
    if (c.unit_strength) return w;
    Floats product = to_floats(w) * c.k;
    const Floats high = Floats{} + kQuotientLimit;
    const Floats low = Floats{} - kQuotientLimit;
    product = product > high ? high : product;
    product = product < low ? low : product;
    return to_vec(product);
}

// Per-band arrays, each entry a vector of 16 lanes, index t + kMargin.
struct Scratch {
    int16_t* current;   // samples as the pass has left them
    int16_t* original;  // samples before the pass (rows above the band included)
    int16_t* sums;      // horizontal 3-sums of the original samples
    int16_t* box;       // box-mean result
    int16_t* confidence;  // T, or kNoDetector where |D| < threshold1
    uint8_t* saved[2];  // unfiltered copies of the last two rows of the previous band
    uint8_t* saving[2];
    void* block;
};

std::size_t round_up(std::size_t bytes) { return (bytes + 63) / 64 * 64; }

bool acquire(Scratch* s, int width, const ScratchAllocator& allocator) {
    const std::size_t steps = static_cast<std::size_t>(width) + kSpan + 2 * kMargin;
    // On 32-bit targets a very wide plane would overflow the byte count.
    if (steps > SIZE_MAX / 1024) return false;
    const std::size_t array = round_up(steps * kLanes * sizeof(int16_t));
    const std::size_t row = round_up(static_cast<std::size_t>(width));
    s->block = allocator.allocate(5 * array + 4 * row + 64);
    if (!s->block) return false;
    uintptr_t at = (reinterpret_cast<uintptr_t>(s->block) + 63) & ~static_cast<uintptr_t>(63);
    auto take = [&at](std::size_t bytes) {
        void* p = reinterpret_cast<void*>(at);
        at += bytes;
        return p;
    };
    s->current = static_cast<int16_t*>(take(array));
    s->original = static_cast<int16_t*>(take(array));
    s->sums = static_cast<int16_t*>(take(array));
    s->box = static_cast<int16_t*>(take(array));
    s->confidence = static_cast<int16_t*>(take(array));
    for (uint8_t*& r : s->saved) r = static_cast<uint8_t*>(take(row));
    for (uint8_t*& r : s->saving) r = static_cast<uint8_t*>(take(row));
    return true;
}

struct Band {
    uint8_t* plane;
    std::ptrdiff_t pitch;
    int width, height;
    int top;    // plane row of lane 0
    int steps;  // width + kSpan
};

int16_t* at_step(int16_t* array, int t) { return array + (t + kMargin) * kLanes; }

// Fills current and original with the band's rows in the skewed layout: zeros
// outside the plane, original's lanes 0 and 1 from the saved unfiltered rows.
void load_band(const Band& b, const Scratch& s, bool rows_above_saved) {
    const std::size_t bytes =
        static_cast<std::size_t>(b.steps + 2 * kMargin) * kLanes * sizeof(int16_t);
    std::memset(s.current, 0, bytes);
    for (int i = 0; i < kLanes; ++i) {
        const int y = b.top + i;
        if (y >= b.height) break;
        const uint8_t* row = b.plane + y * b.pitch;
        int16_t* lane = at_step(s.current, kSkew * i) + i;
        for (int x = 0; x < b.width; ++x) lane[x * kLanes] = row[x];
    }
    std::memcpy(s.original, s.current, bytes);
    if (rows_above_saved) {
        for (int i = 0; i < kFirstOut; ++i) {
            int16_t* lane = at_step(s.original, kSkew * i) + i;
            for (int x = 0; x < b.width; ++x) lane[x * kLanes] = s.saved[i][x];
        }
    }
}

// Everything that depends on original samples only: box-mean result and
// confidence threshold of every lane at every step.
void prepare_band(const Band& b, const Scratch& s, const Constants& c) {
    for (int t = -kMargin + 1; t < b.steps + kMargin - 1; ++t) {
        const int16_t* o = at_step(s.original, t);
        store(at_step(s.sums, t), load(o - kLanes) + load(o) + load(o + kLanes));
    }
    const Vec nine = splat(9);
    for (int t = 0; t < b.steps; ++t) {
        const Vec p = load(at_step(s.original, t));
        // Row above: step t - kSkew, lane i - 1; row below: step t + kSkew, lane i + 1.
        const Vec box_sum = load(at_step(s.sums, t - kSkew) - 1) + load(at_step(s.sums, t)) +
                            load(at_step(s.sums, t + kSkew) + 1);
        const Vec d = p * nine - box_sum;
        const Vec size = magnitude(d);
        store(at_step(s.box, t), clamp_sample(p - scaled(d / 9, c)));
        // |trunc(0.4 D)| is 2|D| / 5 over the activities that occur.
        store(at_step(s.confidence, t),
              size < c.threshold1 ? splat(kNoDetector) : (size + size) / 5);
    }
}

// The in-order sweep over the band's steps.
void sweep_band(const Band& b, const Scratch& s, const Constants& c) {
    const Vec lane_skew = Vec{0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30};
    Vec lane_used{};
    for (int i = kFirstOut; i < kFirstOut + kBandRows; ++i)
        lane_used[i] = b.top + i <= b.height - 1 - kEdge ? -1 : 0;
    const Vec first_column = splat(kEdge);
    const Vec last_column = splat(b.width - 1 - kEdge);

    const int first = kEdge + kSkew * kFirstOut;
    const int last = b.width - 1 - kEdge + kSkew * (kFirstOut + kBandRows - 1);
    Vec prev[7];  // prev[j]: the lanes of step t - j as they now stand
    for (int j = 1; j <= 6; ++j) prev[j] = load(at_step(s.current, first - j));
    for (int t = first; t <= last; ++t) {
        int16_t* here = at_step(s.current, t);
        const Vec p = load(here);
        const Vec l2 = prev[2], l = prev[1];
        const Vec r1 = load(here + kLanes), r2 = load(here + 2 * kLanes);
        const Vec al = lanes_down1(prev[3]), am = lanes_down1(prev[2]), ar = lanes_down1(prev[1]);
        const Vec bl = load(here + kLanes + 1), bm = load(here + 2 * kLanes + 1),
                  br = load(here + 3 * kLanes + 1);
        const Vec a2l = lanes_down2(prev[6]), a2m = lanes_down2(prev[4]),
                  a2r = lanes_down2(prev[2]);
        const Vec b2l = load(here + 2 * kLanes + 2), b2m = load(here + 4 * kLanes + 2),
                  b2r = load(here + 6 * kLanes + 2);

        const Vec top = al + am + am + ar, bottom = bl + bm + bm + br;
        const Vec g1 = magnitude(al - ar + l + l - r1 - r1 + bl - br);
        const Vec g2 = magnitude(top - bottom);
        const Vec g3 = magnitude(al + al + am + l - r1 - bm - br - br);
        const Vec g4 = magnitude(bl + bl + bm + l - r1 - am - ar - ar);
        const Vec centre = p + p + p + p;
        const Vec g5 = magnitude((am + am - al - ar + centre - l - l - r1 - r1 + bm + bm - bl - br) >> 1);
        const Vec g6 = magnitude((centre + l + l + r1 + r1 - top - bottom) >> 1);

        // Strongest kernel, the earlier one among equals, and its four neighbours.
        Vec best = g1;
        Vec n0 = a2m, n1 = am, n2 = bm, n3 = b2m;
        Vec stronger = g2 > best;
        best = stronger ? g2 : best;
        n0 = stronger ? l2 : n0;
        n1 = stronger ? l : n1;
        n2 = stronger ? r1 : n2;
        n3 = stronger ? r2 : n3;
        stronger = g3 > best;
        best = stronger ? g3 : best;
        n0 = stronger ? a2r : n0;
        n1 = stronger ? ar : n1;
        n2 = stronger ? bl : n2;
        n3 = stronger ? b2l : n3;
        stronger = g4 > best;
        best = stronger ? g4 : best;
        n0 = stronger ? a2l : n0;
        n1 = stronger ? al : n1;
        n2 = stronger ? br : n2;
        n3 = stronger ? b2r : n3;
        stronger = g5 > best;
        best = stronger ? g5 : best;
        n0 = stronger ? a2m : n0;
        n1 = stronger ? am : n1;
        n2 = stronger ? bm : n2;
        n3 = stronger ? b2m : n3;
        stronger = g6 > best;
        best = stronger ? g6 : best;
        n0 = stronger ? l2 : n0;
        n1 = stronger ? l : n1;
        n2 = stronger ? r1 : n2;
        n3 = stronger ? r2 : n3;

        const Vec sum = shape(p - n0, c) + shape(p - n1, c) + shape(p - n2, c) + shape(p - n3, c);
        const Vec directional = clamp_sample(p - scaled(sum >> 2, c));
        const Vec result = best < load(at_step(s.confidence, t)) ? load(at_step(s.box, t))
                                                                 : directional;
        const Vec column = splat(t) - lane_skew;
        const Vec active = lane_used & (column >= first_column) & (column <= last_column);
        const Vec out = active ? result : p;
        store(here, out);
        for (int j = 6; j > 1; --j) prev[j] = prev[j - 1];
        prev[1] = out;
    }
}

// Stores the filtered lanes back into the plane and keeps unfiltered copies of
// the band's last two filtered rows for the next band.
void store_band(const Band& b, const Scratch& s) {
    for (int i = kFirstOut; i < kFirstOut + kBandRows; ++i) {
        const int y = b.top + i;
        if (y > b.height - 1 - kEdge) break;
        uint8_t* row = b.plane + y * b.pitch;
        const int16_t* lane = at_step(s.current, kSkew * i) + i;
        for (int x = kEdge; x < b.width - kEdge; ++x) row[x] = static_cast<uint8_t>(lane[x * kLanes]);
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

    Constants c;
    const int32_t t2 = settings.threshold2;
    const int knee = t2 < 0 ? 0 : t2 > 256 ? 256 : t2;
    c.knee = splat(knee);
    c.knee2 = splat(2 * knee);
    c.knee2_f = Floats{} + static_cast<float>(2 * knee);
    c.inverse = Floats{} + (knee > 0 ? 1.0f / static_cast<float>(knee) : 0.0f);
    c.half_inverse = Floats{} + (knee > 0 ? 0.5f / static_cast<float>(knee) : 0.0f);
    const float k = static_cast<float>(settings.strength) * 0.05f;
    c.unit_strength = k == 1.0f;
    c.k = Floats{} + k;
    const int32_t t1 = settings.threshold1;
    c.threshold1 = splat(t1 < 0 ? 0 : t1 > 2041 ? 2041 : t1);

    for (int top = 0; top + kFirstOut <= height - 1 - kEdge; top += kBandRows) {
        const Band b{plane, pitch, width, height, top, width + kSpan};
        load_band(b, s, top > 0);
        // The band's last two filtered rows, unfiltered, become the next band's
        // rows above; their filtered values will be in the plane by then.
        for (int i = 0; i < kFirstOut; ++i) {
            const int y = top + kBandRows + i;
            if (y < height) std::memcpy(s.saving[i], plane + y * pitch, static_cast<std::size_t>(width));
        }
        prepare_band(b, s, c);
        sweep_band(b, s, c);
        store_band(b, s);
        for (int i = 0; i < kFirstOut; ++i) {
            uint8_t* swap = s.saved[i];
            s.saved[i] = s.saving[i];
            s.saving[i] = swap;
        }
    }
    allocator.release(s.block);
    return PassStatus::ok;
}

}  // namespace velnor
