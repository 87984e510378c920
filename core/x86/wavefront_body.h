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
#if !defined(VELNOR_PASS_FUNCTION) || !defined(VELNOR_SHAPE_PROBE)
#error "define VELNOR_PASS_FUNCTION and VELNOR_SHAPE_PROBE before including this file"
#endif

#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/filter_settings.h"
#include "core/luma_pass.h"

namespace velnor {

namespace {

// Small vector helpers must melt into their callers: passed as arguments, the
// split vectors would travel through memory.
#define VELNOR_INLINE __attribute__((always_inline)) inline

constexpr int kEdge = 2;                     // border width that is never written
constexpr int kLanes = 16;                   // rows per vector
constexpr int kFirstOut = 2;                 // first filtered lane
constexpr int kBandRows = 12;                // filtered lanes: 2..13
constexpr int kSkew = 2;                     // columns each lane trails the lane above
constexpr int kMargin = 8;                   // steps kept before the first and after the last
constexpr int kSpan = kSkew * (kLanes - 1);  // extra steps the skew adds to a row
constexpr int16_t kNoDetector = 32767;       // confidence threshold nothing reaches
constexpr float kQuotientLimit = 512.0f;     // |q| beyond this saturates alike
constexpr int kPad = 64;                     // zeros around each row copy

// Element-wise operators for vectors kept as several native parts.
#define VELNOR_PIECEWISE(Result, Type, part, count, op)                     \
    VELNOR_INLINE Result operator op(Type a, Type b) {                      \
        Result r;                                                           \
        for (int i = 0; i < count; ++i) r.part[i] = a.part[i] op b.part[i]; \
        return r;                                                           \
    }

#if defined(__AVX2__)
// Sixteen int16 lanes in one register; the float forms in two (the compiler
// would split wider vectors itself, but turn selections into element loops).
typedef int16_t Vec __attribute__((vector_size(2 * kLanes)));
typedef float EightFloats __attribute__((vector_size(32)));
typedef int32_t EightInts __attribute__((vector_size(32)));
struct Wide {
    EightInts h[2];
};
struct Floats {
    EightFloats h[2];
};
VELNOR_PIECEWISE(Floats, Floats, h, 2, +)
VELNOR_PIECEWISE(Floats, Floats, h, 2, -)
VELNOR_PIECEWISE(Floats, Floats, h, 2, *)
VELNOR_PIECEWISE(Wide, Floats, h, 2, <)
VELNOR_PIECEWISE(Wide, Floats, h, 2, >)

VELNOR_INLINE Vec splat(int v) { return Vec{} + static_cast<int16_t>(v); }
VELNOR_INLINE Floats splat_floats(float v) {
    const EightFloats half = EightFloats{} + v;
    return Floats{{half, half}};
}

// Lane i takes lane i - n (n = 1, 2); the lowest lanes are left unspecified.
VELNOR_INLINE Vec lanes_down1(Vec v) {
    return __builtin_shufflevector(v, v, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14);
}
VELNOR_INLINE Vec lanes_down2(Vec v) {
    return __builtin_shufflevector(v, v, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13);
}

VELNOR_INLINE Floats to_floats(Vec v) {
    const __m256i all = reinterpret_cast<__m256i>(v);
    return Floats{{reinterpret_cast<EightFloats>(
                       _mm256_cvtepi32_ps(_mm256_cvtepi16_epi32(_mm256_castsi256_si128(all)))),
                   reinterpret_cast<EightFloats>(_mm256_cvtepi32_ps(
                       _mm256_cvtepi16_epi32(_mm256_extracti128_si256(all, 1))))}};
}
// Truncation toward zero, saturated to int16; callers keep the values inside the
// int16 range where the result matters.
VELNOR_INLINE Vec to_vec(Floats f) {
    const __m256i low = _mm256_cvttps_epi32(reinterpret_cast<__m256>(f.h[0]));
    const __m256i high = _mm256_cvttps_epi32(reinterpret_cast<__m256>(f.h[1]));
    return reinterpret_cast<Vec>(_mm256_permute4x64_epi64(_mm256_packs_epi32(low, high), 0xD8));
}

VELNOR_INLINE Vec select(Vec mask, Vec yes, Vec no) { return mask ? yes : no; }
VELNOR_INLINE Floats select(Wide mask, Floats yes, Floats no) {
    return Floats{{mask.h[0] ? yes.h[0] : no.h[0], mask.h[1] ? yes.h[1] : no.h[1]}};
}
VELNOR_INLINE Vec max(Vec a, Vec b) { return a > b ? a : b; }
VELNOR_INLINE Vec magnitude(Vec v) { return v < 0 ? -v : v; }

// For each lane with x in 0..255: entry x of a 16-byte table, or 0 for x >= 16;
// for negative x, some entry. Adding 0x70 with unsigned saturation sets bit 7 of
// the shuffle index exactly when the low byte is 16 or more (and always in the
// upper byte), and the shuffle yields 0 for such indices.
constexpr bool kHasByteShuffle = true;
VELNOR_INLINE Vec look_up(Vec x, __m128i table) {
    const __m256i index =
        _mm256_adds_epu8(reinterpret_cast<__m256i>(x), reinterpret_cast<__m256i>(splat(-32656)));
    return reinterpret_cast<Vec>(_mm256_shuffle_epi8(_mm256_broadcastsi128_si256(table), index));
}
// g negated where d is negative, 0 where d is 0.
VELNOR_INLINE Vec with_sign_of(Vec g, Vec d) {
    return reinterpret_cast<Vec>(
        _mm256_sign_epi16(reinterpret_cast<__m256i>(g), reinterpret_cast<__m256i>(d)));
}

// Truncating division by a constant.
template <int kDivisor>
VELNOR_INLINE Vec divide(Vec a) {
    constexpr int16_t d = kDivisor;
    return a / d;
}

// Lanes as unsigned 16-bit values (wrapping): low half of the product, high half
// of the product, shift right by a count held in the low quadword, sum, difference.
VELNOR_INLINE Vec unsigned_multiply_low(Vec a, Vec b) {
    return reinterpret_cast<Vec>(
        _mm256_mullo_epi16(reinterpret_cast<__m256i>(a), reinterpret_cast<__m256i>(b)));
}
VELNOR_INLINE Vec unsigned_multiply_high(Vec a, Vec b) {
    return reinterpret_cast<Vec>(
        _mm256_mulhi_epu16(reinterpret_cast<__m256i>(a), reinterpret_cast<__m256i>(b)));
}
VELNOR_INLINE Vec unsigned_shift_right(Vec a, __m128i count) {
    return reinterpret_cast<Vec>(_mm256_srl_epi16(reinterpret_cast<__m256i>(a), count));
}
VELNOR_INLINE Vec unsigned_add(Vec a, Vec b) {
    return reinterpret_cast<Vec>(
        _mm256_add_epi16(reinterpret_cast<__m256i>(a), reinterpret_cast<__m256i>(b)));
}
VELNOR_INLINE Vec unsigned_subtract(Vec a, Vec b) {
    return reinterpret_cast<Vec>(
        _mm256_sub_epi16(reinterpret_cast<__m256i>(a), reinterpret_cast<__m256i>(b)));
}
VELNOR_INLINE Vec min(Vec a, Vec b) { return a < b ? a : b; }
#else
// Without AVX the sixteen lanes are two 128-bit halves (the float forms four
// quarters), each handled with the instruction set's own operations: letting the
// compiler split wider vectors itself turns comparisons into element loops.
typedef int16_t Half __attribute__((vector_size(16)));
typedef int32_t WideQuarter __attribute__((vector_size(16)));
typedef float FloatQuarter __attribute__((vector_size(16)));
struct Vec {
    Half h[2];
};
struct Wide {
    WideQuarter q[4];
};
struct Floats {
    FloatQuarter q[4];
};

VELNOR_PIECEWISE(Vec, Vec, h, 2, +)
VELNOR_PIECEWISE(Vec, Vec, h, 2, -)
VELNOR_PIECEWISE(Vec, Vec, h, 2, *)
VELNOR_PIECEWISE(Vec, Vec, h, 2, &)
VELNOR_PIECEWISE(Vec, Vec, h, 2, |)
VELNOR_PIECEWISE(Vec, Vec, h, 2, <)
VELNOR_PIECEWISE(Vec, Vec, h, 2, >)
VELNOR_PIECEWISE(Vec, Vec, h, 2, <=)
VELNOR_PIECEWISE(Vec, Vec, h, 2, >=)
VELNOR_PIECEWISE(Vec, Vec, h, 2, !=)
VELNOR_PIECEWISE(Vec, Vec, h, 2, ==)
VELNOR_PIECEWISE(Floats, Floats, q, 4, +)
VELNOR_PIECEWISE(Floats, Floats, q, 4, -)
VELNOR_PIECEWISE(Floats, Floats, q, 4, *)
VELNOR_PIECEWISE(Wide, Floats, q, 4, <)
VELNOR_PIECEWISE(Wide, Floats, q, 4, >)
VELNOR_PIECEWISE(Wide, Wide, q, 4, &)
VELNOR_PIECEWISE(Wide, Wide, q, 4, |)

VELNOR_INLINE Vec splat(int v) {
    const Half half = Half{} + static_cast<int16_t>(v);
    return Vec{{half, half}};
}
VELNOR_INLINE Floats splat_floats(float v) {
    const FloatQuarter quarter = FloatQuarter{} + v;
    return Floats{{quarter, quarter, quarter, quarter}};
}
VELNOR_INLINE Vec operator-(Vec a) { return Vec{{-a.h[0], -a.h[1]}}; }
VELNOR_INLINE Vec operator~(Vec a) { return Vec{{~a.h[0], ~a.h[1]}}; }
VELNOR_INLINE Wide operator~(Wide a) { return Wide{{~a.q[0], ~a.q[1], ~a.q[2], ~a.q[3]}}; }
VELNOR_INLINE Vec operator>>(Vec a, int n) { return Vec{{a.h[0] >> n, a.h[1] >> n}}; }
template <int kDivisor>
VELNOR_INLINE Vec divide(Vec a) {
    constexpr int16_t d = kDivisor;
    return Vec{{a.h[0] / d, a.h[1] / d}};
}
VELNOR_INLINE Vec operator<(Vec a, int b) { return a < splat(b); }
VELNOR_INLINE Vec operator>(Vec a, int b) { return a > splat(b); }
VELNOR_INLINE Vec operator!=(Vec a, int b) { return a != splat(b); }
VELNOR_INLINE Vec operator==(Vec a, int b) { return a == splat(b); }

// Lane i takes lane i - n (n = 1, 2); the lowest lanes are left unspecified.
template <int kBytes>
VELNOR_INLINE Vec lanes_down(Vec v) {
    const __m128i low = reinterpret_cast<__m128i>(v.h[0]);
    const __m128i high = reinterpret_cast<__m128i>(v.h[1]);
    return Vec{{reinterpret_cast<Half>(_mm_slli_si128(low, kBytes)),
                reinterpret_cast<Half>(
                    _mm_or_si128(_mm_slli_si128(high, kBytes), _mm_srli_si128(low, 16 - kBytes)))}};
}
VELNOR_INLINE Vec lanes_down1(Vec v) { return lanes_down<2>(v); }
VELNOR_INLINE Vec lanes_down2(Vec v) { return lanes_down<4>(v); }

// Bitwise selection: plain ?: on these would be split into single elements.
VELNOR_INLINE Vec select(Vec mask, Vec yes, Vec no) { return (mask & yes) | (~mask & no); }
VELNOR_INLINE Floats select(Wide mask, Floats yes, Floats no) {
    Floats out;
    for (int i = 0; i < 4; ++i) {
        const WideQuarter y = reinterpret_cast<WideQuarter>(yes.q[i]);
        const WideQuarter n = reinterpret_cast<WideQuarter>(no.q[i]);
        out.q[i] = reinterpret_cast<FloatQuarter>((mask.q[i] & y) | (~mask.q[i] & n));
    }
    return out;
}
VELNOR_INLINE Vec max(Vec a, Vec b) {
    return Vec{{reinterpret_cast<Half>(_mm_max_epi16(reinterpret_cast<__m128i>(a.h[0]),
                                                     reinterpret_cast<__m128i>(b.h[0]))),
                reinterpret_cast<Half>(_mm_max_epi16(reinterpret_cast<__m128i>(a.h[1]),
                                                     reinterpret_cast<__m128i>(b.h[1])))}};
}
VELNOR_INLINE Vec min(Vec a, Vec b) {
    return Vec{{reinterpret_cast<Half>(_mm_min_epi16(reinterpret_cast<__m128i>(a.h[0]),
                                                     reinterpret_cast<__m128i>(b.h[0]))),
                reinterpret_cast<Half>(_mm_min_epi16(reinterpret_cast<__m128i>(a.h[1]),
                                                     reinterpret_cast<__m128i>(b.h[1])))}};
}
// Lanes as unsigned 16-bit values (wrapping): low half of the product, high half
// of the product, sum, difference, shift right by a count held in the low quadword.
VELNOR_INLINE Vec unsigned_multiply_low(Vec a, Vec b) {
    return Vec{{reinterpret_cast<Half>(_mm_mullo_epi16(reinterpret_cast<__m128i>(a.h[0]),
                                                       reinterpret_cast<__m128i>(b.h[0]))),
                reinterpret_cast<Half>(_mm_mullo_epi16(reinterpret_cast<__m128i>(a.h[1]),
                                                       reinterpret_cast<__m128i>(b.h[1])))}};
}
VELNOR_INLINE Vec unsigned_multiply_high(Vec a, Vec b) {
    return Vec{{reinterpret_cast<Half>(_mm_mulhi_epu16(reinterpret_cast<__m128i>(a.h[0]),
                                                       reinterpret_cast<__m128i>(b.h[0]))),
                reinterpret_cast<Half>(_mm_mulhi_epu16(reinterpret_cast<__m128i>(a.h[1]),
                                                       reinterpret_cast<__m128i>(b.h[1])))}};
}
VELNOR_INLINE Vec unsigned_add(Vec a, Vec b) {
    return Vec{{reinterpret_cast<Half>(_mm_add_epi16(reinterpret_cast<__m128i>(a.h[0]),
                                                     reinterpret_cast<__m128i>(b.h[0]))),
                reinterpret_cast<Half>(_mm_add_epi16(reinterpret_cast<__m128i>(a.h[1]),
                                                     reinterpret_cast<__m128i>(b.h[1])))}};
}
VELNOR_INLINE Vec unsigned_subtract(Vec a, Vec b) {
    return Vec{{reinterpret_cast<Half>(_mm_sub_epi16(reinterpret_cast<__m128i>(a.h[0]),
                                                     reinterpret_cast<__m128i>(b.h[0]))),
                reinterpret_cast<Half>(_mm_sub_epi16(reinterpret_cast<__m128i>(a.h[1]),
                                                     reinterpret_cast<__m128i>(b.h[1])))}};
}
VELNOR_INLINE Vec unsigned_shift_right(Vec a, __m128i count) {
    return Vec{{reinterpret_cast<Half>(_mm_srl_epi16(reinterpret_cast<__m128i>(a.h[0]), count)),
                reinterpret_cast<Half>(_mm_srl_epi16(reinterpret_cast<__m128i>(a.h[1]), count))}};
}
VELNOR_INLINE Vec magnitude(Vec v) {
    return Vec{{reinterpret_cast<Half>(_mm_max_epi16(reinterpret_cast<__m128i>(v.h[0]),
                                                     reinterpret_cast<__m128i>(-v.h[0]))),
                reinterpret_cast<Half>(_mm_max_epi16(reinterpret_cast<__m128i>(v.h[1]),
                                                     reinterpret_cast<__m128i>(-v.h[1])))}};
}

#if defined(__SSE4_1__)
// As the AVX2 forms, on each half.
constexpr bool kHasByteShuffle = true;
VELNOR_INLINE Vec look_up(Vec x, __m128i table) {
    const __m128i offset = reinterpret_cast<__m128i>(splat(-32656).h[0]);
    return Vec{{reinterpret_cast<Half>(_mm_shuffle_epi8(
                    table, _mm_adds_epu8(reinterpret_cast<__m128i>(x.h[0]), offset))),
                reinterpret_cast<Half>(_mm_shuffle_epi8(
                    table, _mm_adds_epu8(reinterpret_cast<__m128i>(x.h[1]), offset)))}};
}
VELNOR_INLINE Vec with_sign_of(Vec g, Vec d) {
    return Vec{{reinterpret_cast<Half>(_mm_sign_epi16(reinterpret_cast<__m128i>(g.h[0]),
                                                      reinterpret_cast<__m128i>(d.h[0]))),
                reinterpret_cast<Half>(_mm_sign_epi16(reinterpret_cast<__m128i>(g.h[1]),
                                                      reinterpret_cast<__m128i>(d.h[1])))}};
}
#else
constexpr bool kHasByteShuffle = false;
VELNOR_INLINE Vec look_up(Vec x, __m128i) { return x; }
VELNOR_INLINE Vec with_sign_of(Vec g, Vec) { return g; }
#endif

VELNOR_INLINE Floats to_floats(Vec v) {
    Floats f;
    for (int i = 0; i < 2; ++i) {
        const __m128i half = reinterpret_cast<__m128i>(v.h[i]);
        // Sign-extend each half of the half to 32 bits.
        f.q[2 * i] = reinterpret_cast<FloatQuarter>(
            _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpacklo_epi16(half, half), 16)));
        f.q[2 * i + 1] = reinterpret_cast<FloatQuarter>(
            _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpackhi_epi16(half, half), 16)));
    }
    return f;
}
// Truncation toward zero, saturated to int16; callers keep the values inside the
// int16 range where the result matters.
VELNOR_INLINE Vec to_vec(Floats f) {
    Vec v;
    for (int i = 0; i < 2; ++i)
        v.h[i] = reinterpret_cast<Half>(
            _mm_packs_epi32(_mm_cvttps_epi32(reinterpret_cast<__m128>(f.q[2 * i])),
                            _mm_cvttps_epi32(reinterpret_cast<__m128>(f.q[2 * i + 1]))));
    return v;
}
#endif

VELNOR_INLINE Vec load(const int16_t* p) {
    Vec v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void store(int16_t* p, Vec v) { std::memcpy(p, &v, sizeof v); }

VELNOR_INLINE bool any(Vec mask) {
#if defined(__AVX2__)
    const __m256i bits = reinterpret_cast<__m256i>(mask);
    return !_mm256_testz_si256(bits, bits);
#else
    return _mm_movemask_epi8(_mm_or_si128(reinterpret_cast<__m128i>(mask.h[0]),
                                          reinterpret_cast<__m128i>(mask.h[1]))) != 0;
#endif
}

VELNOR_INLINE Vec clamp_sample(Vec v) {
    v = select(v < 0, splat(0), v);
    return select(v > 255, splat(255), v);
}

struct Constants {
    Vec knee;   // threshold2 clamped to 0..256 (256 and above: identity)
    Vec knee2;  // twice that
    // Division of unsigned 16-bit lanes by the knee (by 1 for knee 0): q = (h + ((n -
    // h) >> shift1)) >> shift2 with h the high half of n * magic (Granlund and
    // Montgomery's method for a divisor known at run time; exact for every n).
    Vec knee_magic;
    __m128i knee_shift1, knee_shift2;
    int knee_tables;        // 1 for knee <= 16, 2 for knee <= 32, else 0 (or no shuffle)
    __m128i knee_table[2];  // entry j of table i: the band value for |d| = knee + 16 i + j
    bool unit_strength;
    Floats k;
    float k_scalar;
    Vec threshold1;  // clamped to 0..2041, which decides every |D| <= 2040 alike
};

// The difference-shaping table evaluated in the lanes: d for |d| < t, 0 for
// |d| >= 2t, else (2t - |d|) * d / t truncated, that is the sign of d times
// floor((2t - m) * m / t) with m = |d|.
// kTables: the knee tables to use (c.knee_tables), 0 for the division form.
template <int kTables>
VELNOR_INLINE Vec shape(Vec d, const Constants& c) {
    const Vec m = magnitude(d);
    Vec signed_g;
    if constexpr (kTables > 0) {
        // Entries at and beyond knee are 0, which covers |d| >= 2 knee.
        const Vec x = m - c.knee;
        Vec g = look_up(x, c.knee_table[0]);
        if constexpr (kTables > 1) g = g | look_up(x - splat(16), c.knee_table[1]);
        signed_g = with_sign_of(g, d);
    } else {
        // m capped at 2 knee, where the band ends: (2t - m) * m then lies in 0..t*t,
        // below 2^16 for t <= 255 (t = 256 has no band among the m <= 255 that occur).
        const Vec capped = min(m, c.knee2);
        const Vec n = unsigned_multiply_low(c.knee2 - capped, capped);
        const Vec h = unsigned_multiply_high(n, c.knee_magic);
        const Vec g = unsigned_shift_right(
            unsigned_add(h, unsigned_shift_right(unsigned_subtract(n, h), c.knee_shift1)),
            c.knee_shift2);
        signed_g = select(m >= c.knee2, splat(0), select(d < 0, -g, g));
    }
    return select(m < c.knee, d, signed_g);
}

// q = trunc(w * k) in single precision, clamped to +-kQuotientLimit; the clamp
// changes no stored sample because P - q saturates to 0..255 either way.
VELNOR_INLINE Vec scaled(Vec w, const Constants& c) {
    if (c.unit_strength) return w;
    Floats product = to_floats(w) * c.k;
    const Floats high = splat_floats(kQuotientLimit);
    const Floats low = splat_floats(-kQuotientLimit);
    product = select(product > high, high, product);
    product = select(product < low, low, product);
    return to_vec(product);
}

// Per-band arrays, each entry a vector of 16 lanes, index t + kMargin.
struct Scratch {
    int16_t* current;           // samples as the pass has left them
    int16_t* sums;              // horizontal 3-sums of the samples before the pass
    int16_t* box;               // box-mean result
    int16_t* confidence;        // T, or kNoDetector where |D| < threshold1
    uint8_t* saved;             // unfiltered copy of the row above the band
    uint8_t* saving;            // unfiltered copy of the band's last filtered row
    uint8_t* rows;              // the band's rows, each padded by kPad zeros on both sides,
                                // then the unfiltered row above the band, padded alike
    int16_t* row_confidence;    // row-wise form: confidence thresholds
    uint16_t* row_marks;        // row-wise form: detector marks, 16 columns a word
    std::ptrdiff_t row_stride;  // bytes or entries from one row to the next
    int mark_words;             // words of marks per row
    int steps_end;              // steps -kMargin .. steps_end-1 exist, a multiple of kLanes apart
    void* block;
};

std::size_t round_up(std::size_t bytes) { return (bytes + 63) / 64 * 64; }

VELNOR_INLINE bool acquire(Scratch* s, int width, const ScratchAllocator& allocator) {
    // On 32-bit targets a very wide plane would overflow the byte count.
    if (width > INT32_MAX / 64 || static_cast<std::size_t>(width) > SIZE_MAX / 1024) return false;
    // Steps -kMargin .. width + kSpan + kMargin - 1, in whole blocks of kLanes.
    const int steps = (width + kSpan + 2 * kMargin + kLanes - 1) / kLanes * kLanes;
    s->steps_end = steps - kMargin;
    const std::size_t array = round_up(static_cast<std::size_t>(steps) * kLanes * sizeof(int16_t));
    const std::size_t row = round_up(static_cast<std::size_t>(width));
    s->row_stride =
        static_cast<std::ptrdiff_t>(round_up(static_cast<std::size_t>(width) + 2 * kPad));
    const std::size_t rows = (kLanes + 1) * static_cast<std::size_t>(s->row_stride);
    const std::size_t confidence_rows =
        kBandRows * static_cast<std::size_t>(s->row_stride) * sizeof(int16_t);
    s->mark_words = (width + kLanes - 1) / kLanes;
    const std::size_t marks =
        round_up(kBandRows * static_cast<std::size_t>(s->mark_words) * sizeof(uint16_t));
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
    s->row_marks = static_cast<uint16_t*>(take(marks));
    std::memset(s->rows, 0, rows);
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

// 16 x 16 bytes: out[j] byte i = in[i] byte j.
void transpose(const __m128i in[16], __m128i out[16]) {
    __m128i a[16], b[16], c[16];
    for (int g = 0; g < 8; ++g) {  // row pairs, column halves
        a[2 * g] = _mm_unpacklo_epi8(in[2 * g], in[2 * g + 1]);
        a[2 * g + 1] = _mm_unpackhi_epi8(in[2 * g], in[2 * g + 1]);
    }
    for (int g = 0; g < 4; ++g)  // row quads, column quarters
        for (int h = 0; h < 2; ++h) {
            b[4 * g + 2 * h] = _mm_unpacklo_epi16(a[4 * g + h], a[4 * g + 2 + h]);
            b[4 * g + 2 * h + 1] = _mm_unpackhi_epi16(a[4 * g + h], a[4 * g + 2 + h]);
        }
    for (int g = 0; g < 2; ++g)  // row octets, column pairs
        for (int q = 0; q < 4; ++q) {
            c[8 * g + 2 * q] = _mm_unpacklo_epi32(b[8 * g + q], b[8 * g + 4 + q]);
            c[8 * g + 2 * q + 1] = _mm_unpackhi_epi32(b[8 * g + q], b[8 * g + 4 + q]);
        }
    for (int e = 0; e < 8; ++e) {
        out[2 * e] = _mm_unpacklo_epi64(c[e], c[8 + e]);
        out[2 * e + 1] = _mm_unpackhi_epi64(c[e], c[8 + e]);
    }
}

// Row i of the band, padded with zeros on both sides: sample x at [kPad + x].
uint8_t* padded_row(const Scratch& s, int i) { return s.rows + i * s.row_stride + kPad; }

// Copies the band's rows into their padded rows, zeros outside the plane.
void copy_band_rows(const Band& b, const Scratch& s) {
    for (int i = 0; i < kLanes; ++i) {
        const int y = b.top + i;
        uint8_t* row = padded_row(s, i);
        if (y < b.height)
            std::memcpy(row, b.plane + y * b.pitch, static_cast<std::size_t>(b.width));
        else
            std::memset(row, 0, static_cast<std::size_t>(b.width));
    }
}

// Fills current with the padded rows (copy_band_rows) in the skewed layout.
void load_band(const Scratch& s) {
    const __m128i zero = _mm_setzero_si128();
    for (int t0 = -kMargin; t0 < s.steps_end; t0 += kLanes) {
        __m128i in[16], out[16];
        // Lane i at step t holds column t - kSkew * i.
        for (int i = 0; i < kLanes; ++i)
            in[i] = _mm_loadu_si128(
                reinterpret_cast<const __m128i*>(padded_row(s, i) + t0 - kSkew * i));
        transpose(in, out);
        for (int j = 0; j < kLanes; ++j) {
            int16_t* step = at_step(s.current, t0 + j);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(step), _mm_unpacklo_epi8(out[j], zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(step + 8), _mm_unpackhi_epi8(out[j], zero));
        }
    }
}

// Which lanes the pass writes at a step: rows of the band inside the processed
// region, at columns inside it.
struct WrittenLanes {
    Vec skew, used, first_column, last_column;

    explicit WrittenLanes(const Band& b) {
        int16_t skews[kLanes], rows[kLanes];
        for (int i = 0; i < kLanes; ++i) {
            skews[i] = static_cast<int16_t>(kSkew * i);
            const bool filtered = i >= kFirstOut && i < kFirstOut + kBandRows;
            rows[i] = filtered && b.top + i <= b.height - 1 - kEdge ? -1 : 0;
        }
        skew = load(skews);
        used = load(rows);
        first_column = splat(kEdge);
        last_column = splat(b.width - 1 - kEdge);
    }
    VELNOR_INLINE Vec at(int t) const {
        const Vec column = splat(t) - skew;
        return used & (column >= first_column) & (column <= last_column);
    }
};

// Where the written-lanes mask is applied: with SSE4.1 (two halves per vector,
// short of registers in the sweep) folding it into the preparation measured
// faster, so unwritten lanes get their own sample as box result and never take
// the detectors; with SSE2 and AVX2 the sweep applying it itself measured faster.
#if defined(__SSE4_1__) && !defined(__AVX2__)
constexpr bool kMaskInPreparation = true;
#else
constexpr bool kMaskInPreparation = false;
#endif

// Everything that depends on unfiltered samples only: box-mean result and
// confidence threshold of every lane at every step. Only lane 1 (the row above
// the band) is already filtered; its sums come from the saved unfiltered row.
VELNOR_INLINE void prepare_band(const Band& b, const Scratch& s, const Constants& c,
                                const uint8_t* saved) {
    for (int t = -kMargin + 1; t < b.steps + kMargin - 1; ++t) {
        const int16_t* o = at_step(s.current, t);
        store(at_step(s.sums, t), load(o - kLanes) + load(o) + load(o + kLanes));
    }
    if (saved) {
        int16_t* lane = at_step(s.sums, kSkew) + 1;
        for (int x = 1; x < b.width - 1; ++x)
            lane[x * kLanes] = static_cast<int16_t>(saved[x - 1] + saved[x] + saved[x + 1]);
    }
    const WrittenLanes written(b);
    const Vec nine = splat(9);
    for (int t = 0; t < b.steps; ++t) {
        const Vec p = load(at_step(s.current, t));
        // Row above: step t - kSkew, lane i - 1; row below: step t + kSkew, lane i + 1.
        const Vec box_sum = load(at_step(s.sums, t - kSkew) - 1) + load(at_step(s.sums, t)) +
                            load(at_step(s.sums, t + kSkew) + 1);
        const Vec d = p * nine - box_sum;
        const Vec size = magnitude(d);
        const Vec box = clamp_sample(p - scaled(divide<9>(d), c));
        // |trunc(0.4 D)| is 2|D| / 5 over the activities that occur.
        const Vec threshold = divide<5>(size + size);
        if constexpr (kMaskInPreparation) {
            const Vec active = written.at(t);
            store(at_step(s.box, t), select(active, box, p));
            store(at_step(s.confidence, t),
                  select(active & (size >= c.threshold1), threshold, splat(kNoDetector)));
        } else {
            store(at_step(s.box, t), box);
            store(at_step(s.confidence, t),
                  select(size < c.threshold1, splat(kNoDetector), threshold));
        }
    }
}

// The in-order sweep over the band's steps; kTables as for shape().
template <int kTables>
void sweep_band(const Band& b, const Scratch& s, const Constants& c) {
    const WrittenLanes written(b);
    const int first = kEdge + kSkew * kFirstOut;
    const int last = b.width - 1 - kEdge + kSkew * (kFirstOut + kBandRows - 1);
    // pj: the lanes of step t - j as they now stand.
    Vec p1 = load(at_step(s.current, first - 1)), p2 = load(at_step(s.current, first - 2)),
        p3 = load(at_step(s.current, first - 3)), p4 = load(at_step(s.current, first - 4)),
        p5 = load(at_step(s.current, first - 5)), p6 = load(at_step(s.current, first - 6));
    for (int t = first; t <= last; ++t) {
        int16_t* here = at_step(s.current, t);
        const Vec p = load(here);
        const Vec active = kMaskInPreparation ? splat(-1) : written.at(t);
        const Vec confidence = load(at_step(s.confidence, t));
        const Vec box = load(at_step(s.box, t));
        if (!any(active & (confidence != kNoDetector))) {
            // Box means only: nothing here depends on earlier steps.
            const Vec out = kMaskInPreparation ? box : select(active, box, p);
            store(here, out);
            p6 = p5, p5 = p4, p4 = p3, p3 = p2, p2 = p1, p1 = out;
            continue;
        }
        const Vec l2 = p2, l = p1;
        const Vec r1 = load(here + kLanes), r2 = load(here + 2 * kLanes);
        const Vec al = lanes_down1(p3), am = lanes_down1(p2), ar = lanes_down1(p1);
        const Vec bl = load(here + kLanes + 1), bm = load(here + 2 * kLanes + 1),
                  br = load(here + 3 * kLanes + 1);
        const Vec a2l = lanes_down2(p6), a2m = lanes_down2(p4), a2r = lanes_down2(p2);
        const Vec b2l = load(here + 2 * kLanes + 2), b2m = load(here + 4 * kLanes + 2),
                  b2r = load(here + 6 * kLanes + 2);

        const Vec top = al + am + am + ar, bottom = bl + bm + bm + br;
        const Vec g1 = magnitude(al - ar + l + l - r1 - r1 + bl - br);
        const Vec g2 = magnitude(top - bottom);
        const Vec g3 = magnitude(al + al + am + l - r1 - bm - br - br);
        const Vec g4 = magnitude(bl + bl + bm + l - r1 - am - ar - ar);
        const Vec centre = p + p + p + p;
        const Vec g5 =
            magnitude((am + am - al - ar + centre - l - l - r1 - r1 + bm + bm - bl - br) >> 1);
        const Vec g6 = magnitude((centre + l + l + r1 + r1 - top - bottom) >> 1);

        // Strongest kernel, the earlier one among equals, as the orientation of its
        // neighbours: 0 vertical, 1 horizontal, 2 rising, 3 falling.
        Vec best = g1, orientation = splat(0);
        Vec stronger = g2 > best;
        best = max(best, g2);
        orientation = select(stronger, splat(1), orientation);
        stronger = g3 > best;
        best = max(best, g3);
        orientation = select(stronger, splat(2), orientation);
        stronger = g4 > best;
        best = max(best, g4);
        orientation = select(stronger, splat(3), orientation);
        stronger = g5 > best;
        best = max(best, g5);
        orientation = select(stronger, splat(0), orientation);
        stronger = g6 > best;
        best = max(best, g6);
        orientation = select(stronger, splat(1), orientation);
        const Vec horizontal = orientation == 1, rising = orientation == 2,
                  falling = orientation == 3;
        auto pick = [&](Vec v, Vec h, Vec r, Vec f) {
            return select(horizontal, h, select(rising, r, select(falling, f, v)));
        };
        const Vec n0 = pick(a2m, l2, a2r, a2l), n1 = pick(am, l, ar, al), n2 = pick(bm, r1, bl, br),
                  n3 = pick(b2m, r2, b2l, b2r);

        const Vec sum = shape<kTables>(p - n0, c) + shape<kTables>(p - n1, c) +
                        shape<kTables>(p - n2, c) + shape<kTables>(p - n3, c);
        const Vec directional = clamp_sample(p - scaled(sum >> 2, c));
        const Vec result = select(best < confidence, box, directional);
        const Vec out = kMaskInPreparation ? result : select(active, result, p);
        store(here, out);
        p6 = p5, p5 = p4, p4 = p3, p3 = p2, p2 = p1, p1 = out;
    }
}

// Stores the filtered lanes back into the plane.
void store_band(const Band& b, const Scratch& s) {
    for (int t0 = -kMargin; t0 < s.steps_end; t0 += kLanes) {
        __m128i in[16], out[16];
        for (int j = 0; j < kLanes; ++j) {
            const int16_t* step = at_step(s.current, t0 + j);
            in[j] = _mm_packus_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(step)),
                                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(step + 8)));
        }
        transpose(in, out);
        for (int i = kFirstOut; i < kFirstOut + kBandRows; ++i)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(padded_row(s, i) + t0 - kSkew * i), out[i]);
    }
    for (int i = kFirstOut; i < kFirstOut + kBandRows; ++i) {
        const int y = b.top + i;
        if (y > b.height - 1 - kEdge) break;
        std::memcpy(b.plane + y * b.pitch + kEdge, padded_row(s, i) + kEdge,
                    static_cast<std::size_t>(b.width - 2 * kEdge));
    }
}

constexpr int16_t kLaneIndex[kLanes] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

#include "core/x86/row_body.h"

#undef VELNOR_PIECEWISE
#undef VELNOR_INLINE

Constants make_constants(const FilterSettings& settings) {
    Constants c;
    const int32_t t2 = settings.threshold2;
    const int knee = t2 < 0 ? 0 : t2 > 256 ? 256 : t2;
    c.knee = splat(knee);
    c.knee2 = splat(2 * knee);
    const int divisor = knee > 0 ? knee : 1;
    int log2_ceiling = 0;
    while ((1 << log2_ceiling) < divisor) ++log2_ceiling;
    c.knee_magic = splat(65536 * ((1 << log2_ceiling) - divisor) / divisor + 1);
    c.knee_shift1 = _mm_cvtsi32_si128(log2_ceiling > 0 ? 1 : 0);
    c.knee_shift2 = _mm_cvtsi32_si128(log2_ceiling > 0 ? log2_ceiling - 1 : 0);
    c.knee_tables = !kHasByteShuffle ? 0 : knee <= 16 ? 1 : knee <= 32 ? 2 : 0;
    alignas(16) uint8_t band[32] = {};
    for (int j = 0; j < knee && knee <= 32; ++j)
        band[j] = static_cast<uint8_t>((knee - j) * (knee + j) / knee);
    c.knee_table[0] = _mm_load_si128(reinterpret_cast<const __m128i*>(band));
    c.knee_table[1] = _mm_load_si128(reinterpret_cast<const __m128i*>(band + 16));
    const float k = static_cast<float>(settings.strength) * 0.05f;
    c.unit_strength = k == 1.0f;
    c.k = splat_floats(k);
    c.k_scalar = k;
    const int32_t t1 = settings.threshold1;
    c.threshold1 = splat(t1 < 0 ? 0 : t1 > 2041 ? 2041 : t1);
    return c;
}

}  // namespace

// Every entry of the difference-shaping table as this pass computes it in vector
// lanes, out[d + 255] for d = -255..255; lets tests compare it with the scalar table
// for every knee.
void VELNOR_SHAPE_PROBE(int32_t threshold2, int32_t* out) {
    const Constants c = make_constants(FilterSettings(8, 8, 20, 40, threshold2));
    for (int first = -255; first <= 255; first += kLanes) {
        alignas(32) int16_t lanes[kLanes];
        for (int i = 0; i < kLanes; ++i)
            lanes[i] = static_cast<int16_t>(first + i < 255 ? first + i : 255);
        const Vec d = load(lanes);
        const Vec shaped = c.knee_tables == 1   ? shape<1>(d, c)
                           : c.knee_tables == 2 ? shape<2>(d, c)
                                                : shape<0>(d, c);
        store(lanes, shaped);
        for (int i = 0; i < kLanes && first + i <= 255; ++i) out[first + i + 255] = lanes[i];
    }
}

PassStatus VELNOR_PASS_FUNCTION(const FilterSettings& settings, uint8_t* plane,
                                std::ptrdiff_t pitch, const ScratchAllocator& allocator) {
    const int width = settings.width;
    const int height = settings.height;
    if (width <= 2 * kEdge || height <= 2 * kEdge) return PassStatus::ok;

    Scratch s;
    if (!acquire(&s, width, allocator)) return PassStatus::out_of_memory;

    const Constants c = make_constants(settings);

    for (int top = 0; top + kFirstOut <= height - 1 - kEdge; top += kBandRows) {
        const Band b{plane, pitch, width, height, top, width + kSpan};
        // The band's last filtered row, unfiltered, is the next band's row above;
        // its filtered values will be in the plane by then.
        const int last = top + kFirstOut + kBandRows - 1;
        if (last < height)
            std::memcpy(s.saving, plane + last * pitch, static_cast<std::size_t>(width));
        const uint8_t* saved = top > 0 ? s.saved : nullptr;
        copy_band_rows(b, s);
        if (row_wise_suits(b, s, c)) {
            classify_band(b, s, c, saved);
            filter_band_rows(b, s, c, settings.table);
        } else {
            load_band(s);
            prepare_band(b, s, c, saved);
            switch (c.knee_tables) {
                case 1:
                    sweep_band<1>(b, s, c);
                    break;
                case 2:
                    sweep_band<2>(b, s, c);
                    break;
                default:
                    sweep_band<0>(b, s, c);
            }
            store_band(b, s);
        }
        uint8_t* swap = s.saved;
        s.saved = s.saving;
        s.saving = swap;
    }
    allocator.release(s.block);
    return PassStatus::ok;
}

}  // namespace velnor
