// The fast pass, compiled once per instruction set: each including translation unit
// defines VELNOR_PASS_FUNCTION (the entry point's name) and is built with its own
// target flags, so the loops below are vectorised for that instruction set.
//
// Everything here has internal linkage and uses no inline function or template from
// a shared header: a copy compiled for AVX2 must never be picked by the linker for
// code that runs on a lesser CPU.
//
// Per row y the work splits into two phases.
//  1. Ahead, vectorised, from values that are final before the row's samples are
//     visited: rows y-2 and y-1 (already filtered), rows y, y+1, y+2 (unfiltered)
//     and the window sums. It gives each sample its box-mean result, whether it
//     needs the detectors, and every part of the detector responses that does not
//     involve the filtered left neighbour L = p(x-1, y).
//  2. In order, for detector samples only: add L's share to five responses (G2 has
//     no weight on L), choose the winner, and for horizontal smoothing look up the
//     two filtered samples to the left. Results go to a row buffer, so that samples
//     to the right still read unfiltered values; the buffer is stored chunk by chunk.
// Phase 2 is a chain from one sample to the next. To keep the CPU busy, several
// rows are in flight at once, each a chunk (less two columns) behind the row above:
// by then the row above is final wherever the row below reads it, and the row
// below has not yet written anything the row above reads.
#ifndef VELNOR_PASS_FUNCTION
#error "define VELNOR_PASS_FUNCTION before including this file"
#endif

#include <cstddef>
#include <cstdint>
#include <cstring>

#include <immintrin.h>

#include "core/filter_settings.h"
#include "core/luma_pass.h"

namespace velnor {

namespace {

constexpr int kEdge = 2;                // border width that is never written
constexpr int16_t kNoDetector = 32767;  // confidence threshold no response reaches
constexpr int kQuotientLimit = 512;     // |q| beyond this saturates every sample alike
constexpr int kLanes = 4;               // rows in flight
constexpr int kChunk = 64;              // columns a row advances per step
constexpr int kSkew = 2;                // extra columns each row trails the row above
constexpr int kSumRows = kLanes + 2;    // window sums kept: rows above, in and below a group
constexpr int kRecord = 8;              // int16 entries per sample in Lane::responses

enum Kernel { kG1, kG2, kG3, kG4, kG5, kG6, kKernels };

// Per-row arrays of one row in flight, indexed by column.
struct Lane {
    uint8_t* box;         // box-mean result of each sample
    int16_t* confidence;  // T, or kNoDetector when |D| < threshold1
    // Per sample, the six responses without L's share, in kernel order: G2 already
    // a magnitude, G5 and G6 already halved; then two zero entries.
    int16_t* responses;
    int32_t* detectors;   // columns of the current chunk that take the detector path
    uint8_t* out;         // the row being filtered; [0] and [1] hold the border
    // For each kernel, its four smoothing neighbours: neighbour j of column x is
    // neighbour_rows[j][x + neighbour_columns[j]].
    const uint8_t* neighbour_rows[kKernels][4];
    int neighbour_columns[kKernels][4];
};

struct Scratch {
    int16_t* sums[kSumRows];  // horizontal 3-sums of unfiltered rows, row r at r % kSumRows
    Lane lanes[kLanes];
    int16_t* quotient;        // q for w = -255..255, clamped to +-kQuotientLimit
    void* block;
};

constexpr std::size_t kAlign = 64;

std::size_t round_up(std::size_t bytes) { return (bytes + kAlign - 1) / kAlign * kAlign; }

bool acquire(Scratch* s, int width, const ScratchAllocator& scratch) {
    const std::size_t n = static_cast<std::size_t>(width) + kAlign;
    // On 32-bit targets a very wide plane would overflow the byte count.
    if (n > SIZE_MAX / 1024) return false;
    const std::size_t i16 = round_up(n * sizeof(int16_t));
    const std::size_t u8 = round_up(n);
    const std::size_t list = round_up(kChunk * sizeof(int32_t));
    const std::size_t table = round_up(511 * sizeof(int16_t));
    const std::size_t lane = (1 + kRecord) * i16 + 2 * u8 + list;
    const std::size_t total = kSumRows * i16 + kLanes * lane + table + kAlign;
    s->block = scratch.allocate(total);
    if (!s->block) return false;
    uintptr_t at = (reinterpret_cast<uintptr_t>(s->block) + kAlign - 1) & ~(kAlign - 1);
    auto take = [&at](std::size_t bytes) {
        void* p = reinterpret_cast<void*>(at);
        at += bytes;
        return p;
    };
    for (int16_t*& row : s->sums) row = static_cast<int16_t*>(take(i16));
    for (Lane& l : s->lanes) {
        l.box = static_cast<uint8_t*>(take(u8));
        l.confidence = static_cast<int16_t*>(take(i16));
        l.responses = static_cast<int16_t*>(take(kRecord * i16));
        l.detectors = static_cast<int32_t*>(take(list));
        l.out = static_cast<uint8_t*>(take(u8));
    }
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

int32_t magnitude(int32_t v) { return v < 0 ? -v : v; }
#if !defined(__SSE4_1__)
int32_t larger(int32_t a, int32_t b) { return a > b ? a : b; }
#endif
int clamp_column(int x, int low, int high) { return x < low ? low : x > high ? high : x; }

void fill_row_sums(const uint8_t* row, int width, int16_t* sums) {
    for (int x = kEdge; x < width - kEdge; ++x)
        sums[x] = static_cast<int16_t>(row[x - 1] + row[x] + row[x + 1]);
}

struct Rows {
    const uint8_t* above2;  // y-2, filtered
    const uint8_t* above;   // y-1, filtered
    const uint8_t* centre;  // y, unfiltered until its results are stored
    const uint8_t* below;   // y+1, unfiltered
    const uint8_t* below2;  // y+2, unfiltered
    const int16_t* sums_above;
    const int16_t* sums_centre;
    const int16_t* sums_below;
};

struct Parameters {
    int16_t threshold1;  // clamped to 0..2041, which decides every |D| <= 2040 alike
    float k;             // strength factor
    const int16_t* quotient;  // indexed by w, -255..255
    const int32_t* shape;     // difference-shaping table indexed by d, -255..255
};

// Phase 1 for one column, the plain way: used where a vector would reach past the row.
void prepare_one(const Rows& r, const Lane& lane, int x, const Parameters& pm) {
    const uint8_t* a = r.above;
    const uint8_t* b = r.centre;
    const uint8_t* c = r.below;
    const int p = b[x];
    const int d = 9 * p - (r.sums_above[x] + r.sums_centre[x] + r.sums_below[x]);
    const int size = magnitude(d);
    const uint8_t result = static_cast<uint8_t>(saturate(p - pm.quotient[d / 9]));
    lane.box[x] = result;
    lane.out[x] = result;
    // |trunc(0.4 D)| is 2|D| / 5 over the activities that occur.
    lane.confidence[x] = static_cast<int16_t>(size < pm.threshold1 ? kNoDetector : 2 * size / 5);

    const int al = a[x - 1], am = a[x], ar = a[x + 1];
    const int br = b[x + 1];
    const int cl = c[x - 1], cm = c[x], cr = c[x + 1];
    const int g2 = al + 2 * am + ar - cl - 2 * cm - cr;
    const int g5 = -al + 2 * am - ar + 4 * p - 2 * br - cl + 2 * cm - cr;
    const int g6 = -al - 2 * am - ar + 4 * p + 2 * br - cl - 2 * cm - cr;
    int16_t* record = lane.responses + kRecord * x;
    record[kG1] = static_cast<int16_t>(al - ar - 2 * br + cl - cr);
    record[kG2] = static_cast<int16_t>(magnitude(g2));
    record[kG3] = static_cast<int16_t>(2 * al + am - br - cm - 2 * cr);
    record[kG4] = static_cast<int16_t>(-am - 2 * ar - br + 2 * cl + cm);
    // (g - 2L) >> 1 == (g >> 1) - L, so the halving can happen here.
    record[kG5] = static_cast<int16_t>(g5 >> 1);
    record[kG6] = static_cast<int16_t>(g6 >> 1);
    record[6] = 0;
    record[7] = 0;
}

// Vectors of int16 lanes; the widest the translation unit's instruction set has.
#if defined(__AVX2__)
using Vec = __m256i;
constexpr int kVec = 16;
Vec widen(const uint8_t* p) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}
Vec load(const int16_t* p) { return _mm256_loadu_si256(reinterpret_cast<const Vec*>(p)); }
void store(int16_t* p, Vec v) { _mm256_storeu_si256(reinterpret_cast<Vec*>(p), v); }
Vec splat(int v) { return _mm256_set1_epi16(static_cast<int16_t>(v)); }
Vec add(Vec a, Vec b) { return _mm256_add_epi16(a, b); }
Vec sub(Vec a, Vec b) { return _mm256_sub_epi16(a, b); }
Vec shl(Vec a, int n) { return _mm256_slli_epi16(a, n); }
Vec sar(Vec a, int n) { return _mm256_srai_epi16(a, n); }
Vec mulhi_unsigned(Vec a, Vec b) { return _mm256_mulhi_epu16(a, b); }
Vec abs16(Vec a) { return _mm256_abs_epi16(a); }
Vec negate_where_negative(Vec a, Vec sign) { return _mm256_sign_epi16(a, sign); }
Vec less(Vec a, Vec b) { return _mm256_cmpgt_epi16(b, a); }
Vec bit_select(Vec mask, Vec yes, Vec no) {
    return _mm256_or_si256(_mm256_and_si256(mask, yes), _mm256_andnot_si256(mask, no));
}
// Saturating narrowing to bytes, in lane order.
void store_bytes(uint8_t* p, Vec v) {
    const Vec packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(v, v), 0x08);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm256_castsi256_si128(packed));
}
unsigned mask_bits(Vec mask) {
    const Vec packed = _mm256_permute4x64_epi64(_mm256_packs_epi16(mask, mask), 0x08);
    return static_cast<unsigned>(_mm_movemask_epi8(_mm256_castsi256_si128(packed)));
}
// q = trunc(w * k) in single precision, clamped as clamped_quotient does.
Vec scaled(Vec w, float k) {
    const __m256 factor = _mm256_set1_ps(k);
    const __m256 limit = _mm256_set1_ps(static_cast<float>(kQuotientLimit));
    const __m256 low_limit = _mm256_set1_ps(-static_cast<float>(kQuotientLimit));
    auto half = [&](__m128i part) {
        __m256 product = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_cvtepi16_epi32(part)), factor);
        product = _mm256_min_ps(_mm256_max_ps(product, low_limit), limit);
        return _mm256_cvttps_epi32(product);
    };
    const __m256i lo = half(_mm256_castsi256_si128(w));
    const __m256i hi = half(_mm256_extracti128_si256(w, 1));
    return _mm256_permute4x64_epi64(_mm256_packs_epi32(lo, hi), 0xD8);
}
// Writes the records of 16 samples: entry j of sample i comes from rows[j] lane i.
void store_records(int16_t* out, const Vec rows[kRecord]) {
    const Vec t0 = _mm256_unpacklo_epi16(rows[0], rows[1]);
    const Vec t1 = _mm256_unpackhi_epi16(rows[0], rows[1]);
    const Vec t2 = _mm256_unpacklo_epi16(rows[2], rows[3]);
    const Vec t3 = _mm256_unpackhi_epi16(rows[2], rows[3]);
    const Vec t4 = _mm256_unpacklo_epi16(rows[4], rows[5]);
    const Vec t5 = _mm256_unpackhi_epi16(rows[4], rows[5]);
    const Vec t6 = _mm256_unpacklo_epi16(rows[6], rows[7]);
    const Vec t7 = _mm256_unpackhi_epi16(rows[6], rows[7]);
    const Vec u0 = _mm256_unpacklo_epi32(t0, t2);
    const Vec u1 = _mm256_unpackhi_epi32(t0, t2);
    const Vec u2 = _mm256_unpacklo_epi32(t1, t3);
    const Vec u3 = _mm256_unpackhi_epi32(t1, t3);
    const Vec u4 = _mm256_unpacklo_epi32(t4, t6);
    const Vec u5 = _mm256_unpackhi_epi32(t4, t6);
    const Vec u6 = _mm256_unpacklo_epi32(t5, t7);
    const Vec u7 = _mm256_unpackhi_epi32(t5, t7);
    // Within each 128-bit half, record i of that half (samples 0..7 low, 8..15 high).
    const Vec r[8] = {_mm256_unpacklo_epi64(u0, u4), _mm256_unpackhi_epi64(u0, u4),
                      _mm256_unpacklo_epi64(u1, u5), _mm256_unpackhi_epi64(u1, u5),
                      _mm256_unpacklo_epi64(u2, u6), _mm256_unpackhi_epi64(u2, u6),
                      _mm256_unpacklo_epi64(u3, u7), _mm256_unpackhi_epi64(u3, u7)};
    for (int i = 0; i < 8; ++i) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + kRecord * i), _mm256_castsi256_si128(r[i]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + kRecord * (i + 8)),
                         _mm256_extracti128_si256(r[i], 1));
    }
}
#else
using Vec = __m128i;
constexpr int kVec = 8;
Vec widen(const uint8_t* p) {
    const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
#if defined(__SSE4_1__)
    return _mm_cvtepu8_epi16(bytes);
#else
    return _mm_unpacklo_epi8(bytes, _mm_setzero_si128());
#endif
}
Vec load(const int16_t* p) { return _mm_loadu_si128(reinterpret_cast<const Vec*>(p)); }
void store(int16_t* p, Vec v) { _mm_storeu_si128(reinterpret_cast<Vec*>(p), v); }
Vec splat(int v) { return _mm_set1_epi16(static_cast<int16_t>(v)); }
Vec add(Vec a, Vec b) { return _mm_add_epi16(a, b); }
Vec sub(Vec a, Vec b) { return _mm_sub_epi16(a, b); }
Vec shl(Vec a, int n) { return _mm_slli_epi16(a, n); }
Vec sar(Vec a, int n) { return _mm_srai_epi16(a, n); }
Vec mulhi_unsigned(Vec a, Vec b) { return _mm_mulhi_epu16(a, b); }
#if defined(__SSE4_1__)
Vec abs16(Vec a) { return _mm_abs_epi16(a); }
Vec negate_where_negative(Vec a, Vec sign) { return _mm_sign_epi16(a, sign); }
#else
Vec abs16(Vec a) { return _mm_max_epi16(a, _mm_sub_epi16(_mm_setzero_si128(), a)); }
// sign is never zero where it matters here: a is zero wherever sign is.
Vec negate_where_negative(Vec a, Vec sign) {
    const Vec negative = _mm_srai_epi16(sign, 15);
    return _mm_sub_epi16(_mm_xor_si128(a, negative), negative);
}
#endif
Vec less(Vec a, Vec b) { return _mm_cmplt_epi16(a, b); }
Vec bit_select(Vec mask, Vec yes, Vec no) {
    return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
}
void store_bytes(uint8_t* p, Vec v) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_packus_epi16(v, v));
}
unsigned mask_bits(Vec mask) {
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(mask, mask))) & 0xFF;
}
Vec scaled(Vec w, float k) {
    const __m128 factor = _mm_set1_ps(k);
    const __m128 limit = _mm_set1_ps(static_cast<float>(kQuotientLimit));
    const __m128 low_limit = _mm_set1_ps(-static_cast<float>(kQuotientLimit));
    auto half = [&](__m128i part) {
        __m128 product = _mm_mul_ps(_mm_cvtepi32_ps(part), factor);
        product = _mm_min_ps(_mm_max_ps(product, low_limit), limit);
        return _mm_cvttps_epi32(product);
    };
    // Sign-extend the halves to 32 bits.
    const __m128i lo = _mm_srai_epi32(_mm_unpacklo_epi16(w, w), 16);
    const __m128i hi = _mm_srai_epi32(_mm_unpackhi_epi16(w, w), 16);
    return _mm_packs_epi32(half(lo), half(hi));
}
void store_records(int16_t* out, const Vec rows[kRecord]) {
    const Vec t0 = _mm_unpacklo_epi16(rows[0], rows[1]);
    const Vec t1 = _mm_unpackhi_epi16(rows[0], rows[1]);
    const Vec t2 = _mm_unpacklo_epi16(rows[2], rows[3]);
    const Vec t3 = _mm_unpackhi_epi16(rows[2], rows[3]);
    const Vec t4 = _mm_unpacklo_epi16(rows[4], rows[5]);
    const Vec t5 = _mm_unpackhi_epi16(rows[4], rows[5]);
    const Vec t6 = _mm_unpacklo_epi16(rows[6], rows[7]);
    const Vec t7 = _mm_unpackhi_epi16(rows[6], rows[7]);
    const Vec u0 = _mm_unpacklo_epi32(t0, t2);
    const Vec u1 = _mm_unpackhi_epi32(t0, t2);
    const Vec u2 = _mm_unpacklo_epi32(t1, t3);
    const Vec u3 = _mm_unpackhi_epi32(t1, t3);
    const Vec u4 = _mm_unpacklo_epi32(t4, t6);
    const Vec u5 = _mm_unpackhi_epi32(t4, t6);
    const Vec u6 = _mm_unpacklo_epi32(t5, t7);
    const Vec u7 = _mm_unpackhi_epi32(t5, t7);
    const Vec r[8] = {_mm_unpacklo_epi64(u0, u4), _mm_unpackhi_epi64(u0, u4),
                      _mm_unpacklo_epi64(u1, u5), _mm_unpackhi_epi64(u1, u5),
                      _mm_unpacklo_epi64(u2, u6), _mm_unpackhi_epi64(u2, u6),
                      _mm_unpacklo_epi64(u3, u7), _mm_unpackhi_epi64(u3, u7)};
    for (int i = 0; i < 8; ++i) _mm_storeu_si128(reinterpret_cast<__m128i*>(out + kRecord * i), r[i]);
}
#endif

// Phase 1 for columns [x0, x1): everything that depends only on values that are
// final before these samples are visited. Returns the number of detector columns
// listed in lane.detectors.
int prepare(const Rows& r, const Lane& lane, int x0, int x1, int width, const Parameters& pm) {
    // A vector reads columns x-1 .. x+kVec; stay inside the row.
    const int vector_end = x1 < width - kVec ? x1 : width - kVec;
    const bool unit_strength = pm.k == 1.0f;
    const Vec nine_inverse = splat(7282);  // (65536 + 2) / 9: |D| / 9 exact for |D| <= 2040
    const Vec fifth = splat(13108);        // (65536 + 4) / 5: 2|D| / 5 exact for |D| <= 2040
    const Vec threshold1 = splat(pm.threshold1);
    const Vec no_detector = splat(kNoDetector);
    int count = 0;
    int x = x0;
    for (; x + kVec <= vector_end; x += kVec) {
        const Vec p = widen(r.centre + x);
        const Vec box_sum = add(add(load(r.sums_above + x), load(r.sums_centre + x)),
                                load(r.sums_below + x));
        const Vec d = sub(add(shl(p, 3), p), box_sum);
        const Vec size = abs16(d);
        const Vec w = negate_where_negative(mulhi_unsigned(size, nine_inverse), d);
        const Vec q = unit_strength ? w : scaled(w, pm.k);
        const Vec result = sub(p, q);
        store_bytes(lane.box + x, result);
        store_bytes(lane.out + x, result);
        const Vec box_only = less(size, threshold1);
        store(lane.confidence + x,
              bit_select(box_only, no_detector, mulhi_unsigned(add(size, size), fifth)));
        unsigned bits = mask_bits(box_only) ^ ((1u << kVec) - 1);
        while (bits) {
            lane.detectors[count++] = x + __builtin_ctz(bits);
            bits &= bits - 1;
        }

        const Vec al = widen(r.above + x - 1), am = widen(r.above + x), ar = widen(r.above + x + 1);
        const Vec br = widen(r.centre + x + 1);
        const Vec cl = widen(r.below + x - 1), cm = widen(r.below + x), cr = widen(r.below + x + 1);
        const Vec outer = add(add(al, ar), add(cl, cr));
        const Vec top = add(add(al, ar), shl(am, 1));
        const Vec bottom = add(add(cl, cr), shl(cm, 1));
        const Vec centre_row = shl(sub(shl(p, 1), br), 1);      // 4p - 2br
        const Vec centre_line = sub(shl(am, 1), outer);           // 2am - al - ar - cl - cr
        Vec rows[kRecord];
        rows[kG1] = sub(sub(add(al, cl), ar), add(cr, shl(br, 1)));
        rows[kG2] = abs16(sub(top, bottom));
        rows[kG3] = sub(sub(add(shl(al, 1), am), add(br, cm)), shl(cr, 1));
        rows[kG4] = sub(add(shl(cl, 1), cm), add(add(am, shl(ar, 1)), br));
        rows[kG5] = sar(add(add(centre_line, shl(cm, 1)), centre_row), 1);
        rows[kG6] = sar(sub(add(shl(p, 2), shl(br, 1)), add(top, bottom)), 1);
        rows[6] = splat(0);
        rows[7] = splat(0);
        store_records(lane.responses + kRecord * x, rows);
    }
    for (; x < x1; ++x) {
        prepare_one(r, lane, x, pm);
        lane.detectors[count] = x;
        count += lane.confidence[x] != kNoDetector;
    }
    return count;
}

// Phase 2 for one detector sample at column x; out[] holds the filtered samples to
// its left.
inline void finish(const Rows& r, const Lane& lane, int x, const Parameters& pm) {
    uint8_t* out = lane.out;
    const int p = r.centre[x];
    const int left = out[x - 1];
    const int16_t* record = lane.responses + kRecord * x;
#if defined(__SSE4_1__)
    // L's weight in each response; the minimum position of 0xFFFF - |R| is the
    // strongest kernel, the lowest-numbered among equals.
    const __m128i weights = _mm_setr_epi16(2, 0, 1, 1, -1, 1, 0, 0);
    const __m128i responses =
        _mm_add_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(record)),
                      _mm_mullo_epi16(_mm_set1_epi16(static_cast<int16_t>(left)), weights));
    const __m128i inverted = _mm_xor_si128(_mm_abs_epi16(responses), _mm_set1_epi32(-1));
    const uint32_t found = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_minpos_epu16(inverted)));
    const int kernel = static_cast<int>(found >> 16) & 7;
    const int32_t strongest = static_cast<int32_t>(~found & 0xFFFF);
#else
    // Each magnitude carries its kernel's rank in the low bits, so one maximum
    // picks the strongest kernel and, among equals, the lowest-numbered one.
    // Branch-free on purpose: the winner is as unpredictable as the noise.
    const int32_t k1 = magnitude(record[kG1] + 2 * left) << 3 | 7;
    const int32_t k2 = record[kG2] << 3 | 6;
    const int32_t k3 = magnitude(record[kG3] + left) << 3 | 5;
    const int32_t k4 = magnitude(record[kG4] + left) << 3 | 4;
    const int32_t k5 = magnitude(record[kG5] - left) << 3 | 3;
    const int32_t k6 = magnitude(record[kG6] + left) << 3 | 2;
    const int32_t best = larger(larger(larger(k1, k2), larger(k3, k4)), larger(k5, k6));
    const int kernel = 7 - (best & 7);
    const int32_t strongest = best >> 3;
#endif
    const uint8_t* const* n = lane.neighbour_rows[kernel];
    const int* dx = lane.neighbour_columns[kernel];
    const int32_t* shape = pm.shape;
    const int32_t sum = shape[p - n[0][x + dx[0]]] + shape[p - n[1][x + dx[1]]] +
                        shape[p - n[2][x + dx[2]]] + shape[p - n[3][x + dx[3]]];
    const int32_t directional = saturate(p - pm.quotient[sum >> 2]);
    // Confidence fails: the box-mean result stands.
    const int32_t keep_box = -static_cast<int32_t>(strongest < lane.confidence[x]);
    out[x] = static_cast<uint8_t>((lane.box[x] & keep_box) | (directional & ~keep_box));
}

// Rows [first, first + count) of the plane, all lanes advancing together.
void filter_rows(uint8_t* plane, std::ptrdiff_t pitch, int width, int first, int count,
                 Scratch& s, const Parameters& pm) {
    auto row = [plane, pitch](int y) { return plane + y * pitch; };
    auto sums = [&s](int y) { return s.sums[y % kSumRows]; };
    for (int y = first + 1; y <= first + count; ++y) fill_row_sums(row(y), width, sums(y));

    Rows rows[kLanes];
    for (int i = 0; i < count; ++i) {
        const int y = first + i;
        rows[i] = Rows{row(y - 2), row(y - 1), row(y),      row(y + 1),
                       row(y + 2), sums(y - 1), sums(y),    sums(y + 1)};
        Lane& lane = s.lanes[i];
        lane.out[0] = row(y)[0];
        lane.out[1] = row(y)[1];
        const Rows& rw = rows[i];
        // Offsets (dx, row) of the four neighbours along each orientation.
        const uint8_t* vertical[4] = {rw.above2, rw.above, rw.below, rw.below2};
        const uint8_t* horizontal[4] = {lane.out, lane.out, rw.centre, rw.centre};
        const uint8_t* diagonal[4] = {rw.above2, rw.above, rw.below, rw.below2};
        constexpr int kVertical[4] = {0, 0, 0, 0};
        constexpr int kHorizontal[4] = {-2, -1, 1, 2};
        constexpr int kRising[4] = {2, 1, -1, -2};
        constexpr int kFalling[4] = {-2, -1, 1, 2};
        for (int j = 0; j < 4; ++j) {
            lane.neighbour_rows[kG1][j] = lane.neighbour_rows[kG5][j] = vertical[j];
            lane.neighbour_rows[kG2][j] = lane.neighbour_rows[kG6][j] = horizontal[j];
            lane.neighbour_rows[kG3][j] = lane.neighbour_rows[kG4][j] = diagonal[j];
            lane.neighbour_columns[kG1][j] = lane.neighbour_columns[kG5][j] = kVertical[j];
            lane.neighbour_columns[kG2][j] = lane.neighbour_columns[kG6][j] = kHorizontal[j];
            lane.neighbour_columns[kG3][j] = kRising[j];
            lane.neighbour_columns[kG4][j] = kFalling[j];
        }
    }
    const int end = width - kEdge;
    // Lane i is at chunk (step - i), its chunk boundaries kSkew * i columns further left.
    const int chunks = (end - kEdge + kSkew * (kLanes - 1)) / kChunk + 1;
    for (int step = 0; step < chunks + count - 1; ++step) {
        int x0[kLanes], x1[kLanes], found[kLanes];
        int most = 0;
        for (int i = 0; i < kLanes; ++i) {
            found[i] = 0;
            x0[i] = x1[i] = 0;
            const int chunk = step - i;
            if (i >= count || chunk < 0) continue;
            x0[i] = clamp_column(kEdge + chunk * kChunk - kSkew * i, kEdge, end);
            x1[i] = clamp_column(kEdge + (chunk + 1) * kChunk - kSkew * i, kEdge, end);
            if (x0[i] >= x1[i]) continue;
            found[i] = prepare(rows[i], s.lanes[i], x0[i], x1[i], width, pm);
            most = found[i] > most ? found[i] : most;
        }
        // Interleave the lanes' chains so that their latencies overlap.
        for (int n = 0; n < most; ++n)
            for (int i = 0; i < kLanes; ++i)
                if (n < found[i])
                    finish(rows[i], s.lanes[i], s.lanes[i].detectors[n], pm);
        for (int i = 0; i < count; ++i)
            if (x0[i] < x1[i])
                std::memcpy(row(first + i) + x0[i], s.lanes[i].out + x0[i],
                            static_cast<std::size_t>(x1[i] - x0[i]));
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
    const int32_t t1 = settings.threshold1;
    const Parameters pm{static_cast<int16_t>(t1 < 0 ? 0 : t1 > 2041 ? 2041 : t1), k,
                        s.quotient + 255, settings.table + kTableOffset};

    fill_row_sums(plane + pitch, width, s.sums[1 % kSumRows]);
    fill_row_sums(plane + 2 * pitch, width, s.sums[2 % kSumRows]);
    for (int y = kEdge; y < height - kEdge; y += kLanes) {
        const int rows = height - kEdge - y < kLanes ? height - kEdge - y : kLanes;
        filter_rows(plane, pitch, width, y, rows, s, pm);
    }
    allocator.release(s.block);
    return PassStatus::ok;
}

}  // namespace velnor
