// The row-wise form of the fast pass, included by wavefront_body.h inside its
// anonymous namespace (same instruction set, same helpers).
//
// Scheme. A sample whose activity stays below threshold1 takes the box mean, which
// depends only on unfiltered samples; so do its activity and confidence threshold.
// classify_band computes all of these for the band's rows with vectors along x,
// sixteen columns at a time, and marks the samples that need the detectors. When
// few are marked, filter_band_rows visits the rows in raster order: it copies the
// box results up to the next marked sample into the plane, runs the detectors for
// that sample on the plane as it now stands (filtered to the left and above,
// unfiltered to the right and below, as in the plain pass) and goes on.

// Sixteen bytes widened to the sixteen lanes, and back (values 0..255).
VELNOR_INLINE Vec load_bytes(const uint8_t* p) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
#if defined(__AVX2__)
    return reinterpret_cast<Vec>(_mm256_cvtepu8_epi16(bytes));
#else
    const __m128i zero = _mm_setzero_si128();
    return Vec{{reinterpret_cast<Half>(_mm_unpacklo_epi8(bytes, zero)),
                reinterpret_cast<Half>(_mm_unpackhi_epi8(bytes, zero))}};
#endif
}

VELNOR_INLINE void store_bytes(uint8_t* p, Vec v) {
#if defined(__AVX2__)
    const __m256i all = reinterpret_cast<__m256i>(v);
    const __m128i bytes =
        _mm_packus_epi16(_mm256_castsi256_si128(all), _mm256_extracti128_si256(all, 1));
#else
    const __m128i bytes =
        _mm_packus_epi16(reinterpret_cast<__m128i>(v.h[0]), reinterpret_cast<__m128i>(v.h[1]));
#endif
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), bytes);
}

// Bit i set where lane i of a comparison result is set.
VELNOR_INLINE unsigned lane_bits(Vec mask) {
#if defined(__AVX2__)
    const __m256i all = reinterpret_cast<__m256i>(mask);
    const __m128i packed =
        _mm_packs_epi16(_mm256_castsi256_si128(all), _mm256_extracti128_si256(all, 1));
#else
    const __m128i packed =
        _mm_packs_epi16(reinterpret_cast<__m128i>(mask.h[0]), reinterpret_cast<__m128i>(mask.h[1]));
#endif
    return static_cast<unsigned>(_mm_movemask_epi8(packed));
}

// Set bits of a 16-bit value (the SSE2 target has no population count instruction).
VELNOR_INLINE int count_bits(unsigned v) {
    v = v - ((v >> 1) & 0x5555u);
    v = (v & 0x3333u) + ((v >> 2) & 0x3333u);
    v = (v + (v >> 4)) & 0x0F0Fu;
    return static_cast<int>((v + (v >> 8)) & 0x1Fu);
}

// Confidence thresholds and detector marks of one filtered row of the band.
struct RowResults {
    int16_t* confidence;  // confidence threshold T of each sample, by column
    uint16_t* marks;  // per 16 columns from column kEdge: bit set where the detectors are needed
};

// Row i of the band is plane row top + i; rows kFirstOut .. kFirstOut + kBandRows - 1
// are the filtered ones.
RowResults row_results(const Scratch& s, int i) {
    const int r = i - kFirstOut;
    return RowResults{s.row_confidence + r * s.row_stride, s.row_marks + r * s.mark_words};
}

// Writes the box result of every sample of the band's filtered rows into the plane
// and records the confidence thresholds and the samples that need the detectors.
// Reads unfiltered samples only: the padded rows (copy_band_rows) and the saved
// copy of the row above the band (null for the first band, whose row above is
// never filtered).
__attribute__((noinline)) void classify_band(const Band& b, const Scratch& s, const Constants& c,
                                             const uint8_t* saved) {
    uint8_t* raw_above = padded_row(s, kLanes);
    std::memcpy(raw_above, saved ? saved : padded_row(s, kFirstOut - 1),
                static_cast<std::size_t>(b.width));

    const Vec nine = splat(9);
    const Vec column_offsets = load(kLaneIndex);
    const Vec last_column = splat(b.width - 1 - kEdge);
    for (int i = kFirstOut; i < kFirstOut + kBandRows; ++i) {
        if (b.top + i > b.height - 1 - kEdge) break;
        const RowResults out = row_results(s, i);
        const uint8_t* above = i == kFirstOut ? raw_above : padded_row(s, i - 1);
        const uint8_t* here = padded_row(s, i);
        const uint8_t* below = padded_row(s, i + 1);
        uint8_t* row = b.plane + (b.top + i) * b.pitch;
        for (int x = kEdge, word = 0; x < b.width - kEdge; x += kLanes, ++word) {
            const Vec p = load_bytes(here + x);
            const Vec column_sum_left =
                load_bytes(above + x - 1) + load_bytes(here + x - 1) + load_bytes(below + x - 1);
            const Vec column_sum = load_bytes(above + x) + p + load_bytes(below + x);
            const Vec column_sum_right =
                load_bytes(above + x + 1) + load_bytes(here + x + 1) + load_bytes(below + x + 1);
            const Vec d = p * nine - (column_sum_left + column_sum + column_sum_right);
            const Vec size = magnitude(d);
            const Vec box = clamp_sample(p - scaled(divide<9>(d), c));
            if (x + kLanes <= b.width - kEdge) {
                store_bytes(row + x, box);
            } else {
                alignas(16) uint8_t tail[kLanes];
                store_bytes(tail, box);
                std::memcpy(row + x, tail, static_cast<std::size_t>(b.width - kEdge - x));
            }
            // |trunc(0.4 D)| is 2|D| / 5 over the activities that occur.
            store(out.confidence + x, divide<5>(size + size));
            const Vec column = splat(x) + column_offsets;
            const unsigned bits = lane_bits((size >= c.threshold1) & (column <= last_column));
            out.marks[word] = static_cast<uint16_t>(bits);
        }
    }
}

// Share of marked samples in a band (percent) up to which the row-wise form is the
// faster one: its cost grows with the marked samples (about 18 ns each), the
// wavefront's hardly depends on them. Measured on 1080p gradients with noise.
#if defined(__AVX2__)
constexpr int kRowWisePercent = 7;
#elif defined(__SSE4_1__)
constexpr int kRowWisePercent = 20;
#else
constexpr int kRowWisePercent = 33;
#endif

// Whether the row-wise form suits the band, judged by the samples that need the
// detectors in every fourth filtered row, from the padded copies (copy_band_rows).
// Only an estimate: the band's first row is sampled only when it is the only one,
// and then with the filtered row above it. Stops as soon as the answer is no.
bool row_wise_suits(const Band& b, const Scratch& s, const Constants& c) {
    const int rows =
        b.height - 2 * kEdge - b.top < kBandRows ? b.height - 2 * kEdge - b.top : kBandRows;
    const int first = rows > 1 ? 1 : 0;
    const int sampled = (rows - first + 3) / 4;
    const long long budget =
        static_cast<long long>(kRowWisePercent) * sampled * (b.width - 2 * kEdge) / 100;
    const Vec column_offsets = load(kLaneIndex);
    const Vec last_column = splat(b.width - 1 - kEdge);
    long long marked = 0;
    for (int r = first; r < rows; r += 4) {
        const uint8_t* above = padded_row(s, kFirstOut + r - 1);
        const uint8_t* here = padded_row(s, kFirstOut + r);
        const uint8_t* below = padded_row(s, kFirstOut + r + 1);
        for (int x = kEdge; x < b.width - kEdge; x += kLanes) {
            const Vec neighbours = load_bytes(above + x - 1) + load_bytes(above + x) +
                                   load_bytes(above + x + 1) + load_bytes(here + x - 1) +
                                   load_bytes(here + x + 1) + load_bytes(below + x - 1) +
                                   load_bytes(below + x) + load_bytes(below + x + 1);
            const Vec d = load_bytes(here + x) * splat(8) - neighbours;
            const Vec column = splat(x) + column_offsets;
            marked +=
                count_bits(lane_bits((magnitude(d) >= c.threshold1) & (column <= last_column)));
            if (marked > budget) return false;
        }
    }
    return true;
}

// q = trunc(w * k) in single precision, as scaled() per lane.
int scaled_scalar(int w, const Constants& c) {
    if (c.unit_strength) return w;
    float product = static_cast<float>(w) * c.k_scalar;
    if (product > kQuotientLimit) product = kQuotientLimit;
    if (product < -kQuotientLimit) product = -kQuotientLimit;
    return static_cast<int>(product);
}

// Scalar helpers of our own: no template or inline function of a shared header
// may be instantiated under these target flags.
VELNOR_INLINE int absolute(int v) { return v < 0 ? -v : v; }
VELNOR_INLINE int larger(int a, int b) { return a > b ? a : b; }

// Address steps (dx, dy) to the neighbours of each kernel, with dy <= 0 (dx < 0 when
// dy = 0): the neighbours at +1 and +2 steps are final and read from the plane,
// those at -1 and -2 steps unfiltered and read from the row copies.
struct NeighbourSteps {
    std::ptrdiff_t plane[6], raw[6];

    NeighbourSteps(std::ptrdiff_t pitch, std::ptrdiff_t raw_pitch) {
        constexpr int kDx[6] = {0, -1, 1, -1, 0, -1}, kDy[6] = {-1, 0, -1, -1, -1, 0};
        for (int k = 0; k < 6; ++k) {
            plane[k] = kDx[k] + kDy[k] * pitch;
            raw[k] = kDx[k] + kDy[k] * raw_pitch;
        }
    }
};

// The detector path for the sample at column x of one filtered row. The plane row
// holds final results up to x - 1 and box results from x on, and the rows above it
// are final; `raw` is the padded unfiltered copy of the same row, followed by the
// unfiltered rows below it (raw_pitch apart). So left and upper neighbours come
// from the plane, the sample itself and its right and lower neighbours from the
// copies, as the plain pass sees them. Leaves the box result where the confidence
// test fails. Branch-free: which path a sample takes is hard to predict.
VELNOR_INLINE void detector_result(uint8_t* row, std::ptrdiff_t pitch, const uint8_t* raw,
                                   std::ptrdiff_t raw_pitch, int x, int confidence,
                                   const Constants& c, const int32_t* table,
                                   const NeighbourSteps& steps) {
    const uint8_t* up = row - pitch;
    const uint8_t* down = raw + raw_pitch;
    const int al = up[x - 1], am = up[x], ar = up[x + 1];
    const int l = row[x - 1], p = raw[x], r = raw[x + 1];
    const int bl = down[x - 1], bm = down[x], br = down[x + 1];
    const int top = al + am + am + ar, bottom = bl + bm + bm + br;
    const int g1 = absolute(al - ar + l + l - r - r + bl - br);
    const int g2 = absolute(top - bottom);
    const int g3 = absolute(al + al + am + l - r - bm - br - br);
    const int g4 = absolute(bl + bl + bm + l - r - am - ar - ar);
    const int centre = 4 * p;
    const int g5 = absolute((am + am - al - ar + centre - l - l - r - r + bm + bm - bl - br) >> 1);
    const int g6 = absolute((centre + l + l + r + r - top - bottom) >> 1);
    // Strongest kernel, the earlier one among equals: the largest of magnitude * 8
    // + (7 - kernel index).
    int key = g1 * 8 + 7;
    key = larger(key, g2 * 8 + 6);
    key = larger(key, g3 * 8 + 5);
    key = larger(key, g4 * 8 + 4);
    key = larger(key, g5 * 8 + 3);
    key = larger(key, g6 * 8 + 2);
    const int kernel = 7 - (key & 7);
    const std::ptrdiff_t step = steps.plane[kernel], raw_step = steps.raw[kernel];
    const int32_t* shape = table + kTableOffset + p;  // shape[-n]: entry for p - n
    const int sum = shape[-row[x + 2 * step]] + shape[-row[x + step]] + shape[-raw[x - raw_step]] +
                    shape[-raw[x - 2 * raw_step]];
    int value = p - scaled_scalar(sum >> 2, c);
    value = value < 0 ? 0 : value > 255 ? 255 : value;
    row[x] = static_cast<uint8_t>((key >> 3) < confidence ? row[x] : value);
}

// The row-wise form: after classify_band, runs the detectors for the marked samples
// in raster order.
__attribute__((noinline)) void filter_band_rows(const Band& b, const Scratch& s, const Constants& c,
                                                const int32_t* table) {
    const NeighbourSteps steps(b.pitch, s.row_stride);
    for (int i = kFirstOut; i < kFirstOut + kBandRows; ++i) {
        const int y = b.top + i;
        if (y > b.height - 1 - kEdge) break;
        const RowResults results = row_results(s, i);
        uint8_t* row = b.plane + y * b.pitch;
        const uint8_t* raw = padded_row(s, i);
        for (int x0 = kEdge, word = 0; x0 < b.width - kEdge; x0 += kLanes, ++word)
            for (unsigned bits = results.marks[word]; bits != 0; bits &= bits - 1) {
                const int x = x0 + __builtin_ctz(bits);
                detector_result(row, b.pitch, raw, s.row_stride, x, results.confidence[x], c, table,
                                steps);
            }
    }
}
