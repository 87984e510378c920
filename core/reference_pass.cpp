// The plain pass: one raster sweep, each result written back before the next
// sample is visited, so later samples see earlier results where the algorithm says.
// One sweep serves every sample type; a Rule supplies the arithmetic that differs
// between integer samples (truncating, clamped) and float samples (neither).
#include <cmath>
#include <cstdlib>
#include <limits>

#include "core/depth_thresholds.h"
#include "core/luma_pass.h"
#include "core/pass_arith.h"
#include "core/row_window.h"

namespace velnor {

namespace {

enum Kernel { kG1, kG2, kG3, kG4, kG5, kG6, kKernelCount };

// 3x3 detector kernels, rows top to bottom, columns left to right.
constexpr int kKernels[kKernelCount][3][3] = {
    {{1, 0, -1}, {2, 0, -2}, {1, 0, -1}},     // G1 vertical edge
    {{1, 2, 1}, {0, 0, 0}, {-1, -2, -1}},     // G2 horizontal edge
    {{2, 1, 0}, {1, 0, -1}, {0, -1, -2}},     // G3 lower left to upper right
    {{0, -1, -2}, {1, 0, -1}, {2, 1, 0}},     // G4 upper left to lower right
    {{-1, 2, -1}, {-2, 4, -2}, {-1, 2, -1}},  // G5 thin vertical line
    {{-1, -2, -1}, {2, 4, 2}, {-1, -2, -1}},  // G6 thin horizontal line
};

struct Offset {
    int dx, dy;
};

// The four smoothing neighbours along each kernel's orientation.
constexpr Offset kNeighbours[kKernelCount][4] = {
    {{0, -2}, {0, -1}, {0, 1}, {0, 2}},    // G1 vertical
    {{-2, 0}, {-1, 0}, {1, 0}, {2, 0}},    // G2 horizontal
    {{2, -2}, {1, -1}, {-1, 1}, {-2, 2}},  // G3
    {{-2, -2}, {-1, -1}, {1, 1}, {2, 2}},  // G4
    {{0, -2}, {0, -1}, {0, 1}, {0, 2}},    // G5 vertical
    {{-2, 0}, {-1, 0}, {1, 0}, {2, 0}},    // G6 horizontal
};

// Integer samples of B = 8..16 bits: parameters scaled by 2^(B-8), every quotient
// truncated, results clamped to 0..2^B - 1.
template <class SampleType>
struct IntegerRule {
    using Sample = SampleType;
    using Value = int32_t;

    DepthThresholds limits;
    float k;

    IntegerRule(const FilterSettings& settings, int bits)
        : limits(depth_thresholds(settings.threshold1, settings.threshold2, bits)),
          k(strength_factor(settings.strength)) {}

    static Value value(Sample s) { return s; }
    bool box_suffices(Value activity) const { return std::abs(activity) < limits.activity; }
    static Value box_correction(Value activity) { return activity / 9; }
    static Value halved(Value response) { return response >> 1; }
    static Value magnitude(Value v) { return std::abs(v); }
    static Value confidence(Value activity) { return confidence_threshold(activity); }
    Value shape(Value d) const { return shaped_difference(d, limits.knee); }
    static Value quarter(Value sum) { return sum >> 2; }
    Sample corrected(Value p, Value w) const {
        const int64_t result = int64_t{p} - scaled_correction(w, k);
        return static_cast<Sample>(result < 0                   ? 0
                                   : result > limits.max_sample ? limits.max_sample
                                                                : result);
    }
};

// Float samples, 1.0 in the role of 255: thresholds divided by 255, nothing
// truncated, nothing clamped. Samples that are not finite (NaN, infinities) stay
// as they are and do not spread: a sample whose 3x3 box holds one (or whose
// activity overflows) keeps its value, a directional neighbour that is not finite
// counts as a difference beyond the knee, and a result that would not be finite
// (a huge sample's correction overflowing) leaves the sample as it was.
struct FloatRule {
    using Sample = float;
    using Value = float;

    float threshold1, knee, k;

    explicit FloatRule(const FilterSettings& settings)
        : threshold1(static_cast<float>(settings.threshold1) / 255.0f),
          knee(static_cast<float>(settings.threshold2) / 255.0f),
          k(strength_factor(settings.strength)) {}

    static Value value(Sample s) { return s; }
    bool box_suffices(Value activity) const { return std::fabs(activity) < threshold1; }
    static Value box_correction(Value activity) { return activity / 9.0f; }
    static Value halved(Value response) { return response * 0.5f; }
    static Value magnitude(Value v) { return std::fabs(v); }
    // NaN where the activity is not finite: no response reaches it, so the sample
    // takes the box result, which is not finite either.
    static Value confidence(Value activity) {
        return std::isfinite(activity) ? std::fabs(0.4f * activity)
                                       : std::numeric_limits<float>::quiet_NaN();
    }
    // A NaN difference (a neighbour that is NaN) shapes to 0, as one beyond the knee.
    Value shape(Value d) const {
        const float m = std::fabs(d);
        if (m < knee) return d;
        if (!(m < 2.0f * knee)) return 0.0f;
        return (2.0f * knee - m) * d / knee;
    }
    static Value quarter(Value sum) { return 0.25f * sum; }
    Sample corrected(Value p, Value w) const {
        const float result = p - w * k;
        return std::isfinite(result) ? result : p;
    }
};

template <class Sample>
class PlaneView {
public:
    PlaneView(Sample* plane, std::ptrdiff_t pitch) : plane_(plane), pitch_(pitch) {}
    Sample& at(int x, int y) const { return plane_[y * pitch_ + x]; }

private:
    Sample* plane_;
    std::ptrdiff_t pitch_;
};

template <class Rule>
class ReferenceSweep {
public:
    using Sample = typename Rule::Sample;
    using Value = typename Rule::Value;

    ReferenceSweep(const Rule& rule, Sample* plane, std::ptrdiff_t pitch)
        : rule_(rule), p_(plane, pitch) {}

    PassStatus run(int width, int height, const ScratchAllocator& scratch) const {
        if (width <= 2 * kBorder || height <= 2 * kBorder) return PassStatus::ok;
        RowWindow<Value> window(width, scratch);
        if (!window.valid()) return PassStatus::out_of_memory;

        fill_row_sums(1, width, window.upper());
        fill_row_sums(2, width, window.middle());
        for (int y = kBorder; y < height - kBorder; ++y) {
            fill_row_sums(y + 1, width, window.lower());
            for (int x = kBorder; x < width - kBorder; ++x) {
                const Value centre = sample(x, y);
                const Value activity =
                    9 * centre - (window.upper()[x] + window.middle()[x] + window.lower()[x]);
                Value w;
                if (rule_.box_suffices(activity)) {
                    w = rule_.box_correction(activity);
                } else {
                    Value magnitude;
                    const Kernel kernel = strongest_kernel(x, y, &magnitude);
                    // Below the confidence threshold, or NaN on either side: box mean.
                    if (!(magnitude >= rule_.confidence(activity)))
                        w = rule_.box_correction(activity);
                    else
                        w = directional_average(x, y, kernel);
                }
                p_.at(x, y) = rule_.corrected(centre, w);
            }
            window.rotate();
        }
        return PassStatus::ok;
    }

private:
    Value sample(int x, int y) const { return Rule::value(p_.at(x, y)); }

    // Sums (left + centre) + right of row y, before any of its samples is filtered.
    void fill_row_sums(int y, int width, Value* sums) const {
        for (int x = kBorder; x < width - kBorder; ++x)
            sums[x] = sample(x - 1, y) + sample(x, y) + sample(x + 1, y);
    }

    // Row-major, zero entries included. They change no result (0 x inf is NaN, but
    // responses that read a float sample that is not finite decide nothing: that
    // sample is in the 3x3 box, so the activity is not finite and P is kept).
    Value response(int x, int y, Kernel kernel) const {
        Value sum = 0;
        for (int j = 0; j < 3; ++j)
            for (int i = 0; i < 3; ++i)
                sum += kKernels[kernel][j][i] * sample(x + i - 1, y + j - 1);
        return sum;
    }

    // The winning kernel and its magnitude; ties keep the lower-numbered kernel.
    Kernel strongest_kernel(int x, int y, Value* magnitude) const {
        Value r[kKernelCount];
        for (int k = 0; k < kKernelCount; ++k) r[k] = response(x, y, static_cast<Kernel>(k));
        r[kG5] = Rule::halved(r[kG5]);
        r[kG6] = Rule::halved(r[kG6]);
        for (Value& v : r) v = Rule::magnitude(v);
        Kernel winner = kG1;
        for (int k = kG2; k < kKernelCount; ++k)
            if (r[k] > r[winner]) winner = static_cast<Kernel>(k);
        *magnitude = r[winner];
        return winner;
    }

    Value directional_average(int x, int y, Kernel kernel) const {
        const Value centre = sample(x, y);
        Value sum = 0;
        for (const Offset& n : kNeighbours[kernel])
            sum += rule_.shape(centre - sample(x + n.dx, y + n.dy));
        return Rule::quarter(sum);
    }

    const Rule& rule_;
    PlaneView<Sample> p_;
};

template <class Rule>
PassStatus sweep(const Rule& rule, const FilterSettings& settings, typename Rule::Sample* plane,
                 std::ptrdiff_t pitch, const ScratchAllocator& scratch) {
    if (settings.strength == 0) return PassStatus::ok;  // no correction: every sample stays
    return ReferenceSweep<Rule>(rule, plane, pitch).run(settings.width, settings.height, scratch);
}

}  // namespace

PassStatus filter_luma_reference(const FilterSettings& settings, uint8_t* plane,
                                 std::ptrdiff_t pitch, const ScratchAllocator& scratch) {
    return sweep(IntegerRule<uint8_t>(settings, 8), settings, plane, pitch, scratch);
}

PassStatus filter_words_reference(const FilterSettings& settings, int bits, uint16_t* plane,
                                  std::ptrdiff_t pitch, const ScratchAllocator& scratch) {
    if (bits < 8 || bits > 16) return PassStatus::bad_format;
    return sweep(IntegerRule<uint16_t>(settings, bits), settings, plane, pitch, scratch);
}

PassStatus filter_floats_reference(const FilterSettings& settings, float* plane,
                                   std::ptrdiff_t pitch, const ScratchAllocator& scratch) {
    return sweep(FloatRule(settings), settings, plane, pitch, scratch);
}

}  // namespace velnor
