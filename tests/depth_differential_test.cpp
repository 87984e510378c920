// The vector passes for 16-bit words and floats against the reference passes at
// every level: random plane sizes, pitches, content and parameters; words bit for
// bit (padding included), floats within the rounding tolerance.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/dispatch.h"
#include "core/filter_settings.h"
#include "core/luma_pass.h"
#include "core/simd/fast_passes.h"
#include "tests/float_edge_planes.h"
#include "tests/sample_plane.h"
#include "tests/sample_reference.h"
#include "tests/tested_levels.h"

namespace velnor {
namespace {

using test::SamplePlane;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSlowBuild = true;  // unoptimised and sanitized: fewer cases
#else
constexpr bool kSlowBuild = false;
#endif

// The levels that have a vector pass of their own for the sample type.
std::vector<SimdLevel> own_levels(SimdLevel (*level_of)(SimdLevel)) {
    std::vector<SimdLevel> levels;
    for (SimdLevel level : test::tested_levels())
        if (level_of(level) == level) levels.push_back(level);
    return levels;
}

struct Case {
    int bits, width, height;
    std::ptrdiff_t pitch;
    int32_t strength, threshold1, threshold2;
    bool out_of_range;  // some words above 2^B - 1
};

// Each pass as dispatched (its own choice of form per band) and with each form
// forced on every band.
struct FormName {
    PassForm form;
    const char* name;
};
constexpr FormName kForms[] = {{PassForm::automatic, "automatic choice"},
                               {PassForm::wavefront, "wavefront form"},
                               {PassForm::row_wise, "row-wise form"}};

std::string describe(const Case& c, SimdLevel level, const FormName& form) {
    return (c.bits == 32 ? std::string("float") : "B=" + std::to_string(c.bits)) + ", " +
           level_name(level) + ", " + form.name + ", " + std::to_string(c.width) + "x" +
           std::to_string(c.height) + " pitch " + std::to_string(c.pitch) + " strength " +
           std::to_string(c.strength) + " threshold1 " + std::to_string(c.threshold1) +
           " threshold2 " + std::to_string(c.threshold2) +
           (c.out_of_range ? ", words out of range" : "");
}

int32_t random_parameter(std::mt19937& rng, int32_t low, int32_t high) {
    static const int32_t kSpecial[] = {INT_MIN, -1, 0, 1, 255, 256, 1 << 24, INT_MAX};
    switch (std::uniform_int_distribution<int>(0, 3)(rng)) {
        case 0:
            return kSpecial[std::uniform_int_distribution<std::size_t>(0, 7)(rng)];
        case 1:
            return static_cast<int32_t>(rng());
        default:
            return std::uniform_int_distribution<int32_t>(low, high)(rng);
    }
}

Case random_case(std::mt19937& rng, int bits, int round) {
    std::uniform_int_distribution<int> size(0, 80), padding(0, 9);
    Case c;
    c.bits = bits;
    c.width = size(rng);
    c.height = size(rng);
    c.pitch = c.width + (padding(rng) < 4 ? 0 : padding(rng));
    const bool realistic = round % 2 == 0;
    c.strength = realistic ? std::uniform_int_distribution<int32_t>(0, 40)(rng)
                           : random_parameter(rng, -400, 400);
    c.threshold1 = realistic ? std::uniform_int_distribution<int32_t>(0, 240)(rng)
                             : random_parameter(rng, -50, 2100);
    c.threshold2 = realistic ? std::uniform_int_distribution<int32_t>(0, 60)(rng)
                             : random_parameter(rng, -10, 300);
    c.out_of_range = round % 5 == 4;
    return c;
}

// Content at 8-bit scale (noise, flat, edges, lines) promoted to `scale` with
// random low bits, as samples of the word range.
std::vector<double> random_content(const Case& c, std::mt19937& rng) {
    std::uniform_int_distribution<int> pick(0, 3), sample(0, 255), small(-12, 12);
    std::uniform_real_distribution<double> fraction(0.0, 1.0);
    const int style = pick(rng), base = sample(rng), other = sample(rng);
    std::vector<double> content(static_cast<std::size_t>(c.width) * c.height);
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x) {
            int v = style == 0   ? sample(rng)
                    : style == 1 ? base + small(rng)
                    : style == 2 ? (x < c.width / 2 ? base : other) + small(rng)
                                 : ((x + y) % 7 == 0 ? other : base);
            v = v < 0 ? 0 : v > 255 ? 255 : v;
            content[static_cast<std::size_t>(y) * c.width + x] = v + fraction(rng);
        }
    return content;
}

SamplePlane<uint16_t> word_plane(const Case& c, std::mt19937& rng) {
    SamplePlane<uint16_t> plane(c.width, c.height, c.pitch);
    const std::vector<double> content = random_content(c, rng);
    std::uniform_int_distribution<int> stray(0, 19);
    std::uniform_int_distribution<int> above(c.bits < 16 ? 1 << c.bits : 65535, 65535);
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x) {
            int v = static_cast<int>(content[static_cast<std::size_t>(y) * c.width + x] *
                                     (1 << (c.bits - 8)));
            if (c.out_of_range && stray(rng) == 0) v = above(rng);
            plane.at(x, y) = static_cast<uint16_t>(v);
        }
    return plane;
}

// Every level in every form against one reference result, word for word.
::testing::AssertionResult words_match(const Case& c, const std::vector<SimdLevel>& levels,
                                       const SamplePlane<uint16_t>& plane) {
    const FilterSettings s(c.width, c.height, c.strength, c.threshold1, c.threshold2);
    SamplePlane<uint16_t> expected = plane;
    if (filter_words_reference(s, c.bits, expected.data(), expected.pitch,
                               default_scratch_allocator()) != PassStatus::ok)
        return ::testing::AssertionFailure() << "reference status not ok";
    for (SimdLevel level : levels)
        for (const FormName& form : kForms) {
            SamplePlane<uint16_t> actual = plane;
            const PassStatus status =
                form.form == PassForm::automatic
                    ? word_pass_for_level(level)(s, c.bits, actual.data(), actual.pitch,
                                                 default_scratch_allocator())
                    : word_form_pass_for_level(level)(s, c.bits, actual.data(), actual.pitch,
                                                      default_scratch_allocator(), form.form,
                                                      nullptr);
            if (status != PassStatus::ok)
                return ::testing::AssertionFailure()
                       << "status not ok (" << describe(c, level, form) << ")";
            for (std::size_t i = 0; i < expected.samples.size(); ++i)
                if (expected.samples[i] != actual.samples[i])
                    return ::testing::AssertionFailure()
                           << "word " << i << ": reference " << expected.samples[i] << ", got "
                           << actual.samples[i] << " (" << describe(c, level, form) << ")";
        }
    return ::testing::AssertionSuccess();
}

TEST(DepthDifferential, WordsAtEveryDepthAndLevel) {
    const std::vector<SimdLevel> levels = own_levels(word_level);
    if (levels.empty()) GTEST_SKIP() << "no vector word pass on this CPU";
    std::mt19937 rng(1609);
    const int rounds = kSlowBuild ? 60 : 500;
    for (int bits : {8, 9, 10, 11, 12, 14, 16})
        for (int round = 0; round < rounds; ++round) {
            const Case c = random_case(rng, bits, round);
            const SamplePlane<uint16_t> plane = word_plane(c, rng);
            ASSERT_TRUE(words_match(c, levels, plane));
        }
}

// The knee beyond every difference, the activity threshold beyond 2^32 once
// scaled, each depth's whole range in flat areas and at the plane's largest
// differences: full-range samples with the extremes.
TEST(DepthDifferential, WordsWithExtremeParameters) {
    const std::vector<SimdLevel> levels = own_levels(word_level);
    if (levels.empty()) GTEST_SKIP() << "no vector word pass on this CPU";
    struct Parameters {
        int32_t strength, threshold1, threshold2;
    };
    const Parameters extremes[] = {{20, INT_MAX, 10},   {20, 1 << 24, INT_MAX}, {-3000, 0, 0},
                                   {3000, 40, 1 << 24}, {20, INT_MIN, INT_MIN}, {1, 0, 256},
                                   {40, 8, 255},        {-1, 4096, 128}};
    std::mt19937 rng(33);
    for (int bits : {9, 10, 11, 12, 14, 16})
        for (const Parameters& p : extremes)
            for (bool out_of_range : {false, true}) {
                const Case c{bits,       37,           29,           41,
                             p.strength, p.threshold1, p.threshold2, out_of_range};
                SamplePlane<uint16_t> plane(c.width, c.height, c.pitch);
                std::uniform_int_distribution<int> full(0, (1 << bits) - 1), any(0, 65535);
                for (int y = 0; y < c.height; ++y)
                    for (int x = 0; x < c.width; ++x)
                        plane.at(x, y) = static_cast<uint16_t>(out_of_range ? any(rng) : full(rng));
                ASSERT_TRUE(words_match(c, levels, plane));
            }
}

// Words of 9..12 bits run in int16 lanes where the settings allow (knees up to 255
// once scaled, or above every difference; the int32 form between), and a band with
// a word above 2^B - 1 in the int32 form. Each depth at the knees on both sides of
// each switch, with strengths at the edges of the integer product, on content
// whose only stray words sit in the middle band (so that the form switches there
// and back), and on full-range noise.
TEST(DepthDifferential, WordsWhereTheNarrowFormSwitches) {
    const std::vector<SimdLevel> levels = own_levels(word_level);
    if (levels.empty()) GTEST_SKIP() << "no vector word pass on this CPU";
    const int32_t strengths[] = {20, 21, 40, -20, 3000, INT_MAX};
    std::mt19937 rng(4095);
    for (int bits = 9; bits <= 12; ++bits) {
        const int shift = bits - 8;
        // Scaled knees 255 or just below, 256 or just above, 2^B - 2^shift, 2^B.
        const int32_t knees[] = {0, 1, 255 >> shift, (255 >> shift) + 1, 255, 256, INT_MAX};
        for (int32_t threshold2 : knees)
            for (int32_t strength : strengths)
                for (int content = 0; content < 3; ++content) {
                    const Case c{bits,       45,          52, 47, strength, content == 2 ? 0 : 30,
                                 threshold2, content == 1};
                    SamplePlane<uint16_t> plane = word_plane(c, rng);
                    std::uniform_int_distribution<int> full(0, (1 << bits) - 1);
                    std::uniform_int_distribution<int> above(1 << bits, 65535);
                    for (int y = 0; y < c.height; ++y)
                        for (int x = 0; x < c.width; ++x) {
                            if (content == 2) plane.at(x, y) = static_cast<uint16_t>(full(rng));
                            if (content == 1)
                                plane.at(x, y) = y == 25 && x % 9 == 4
                                                     ? static_cast<uint16_t>(above(rng))
                                                     : plane.at(x, y) & ((1 << bits) - 1);
                        }
                    ASSERT_TRUE(words_match(c, levels, plane));
                }
    }
}

// Widths beyond what a 16-bit lane counts (columns and steps must never be held in
// the lanes), at the largest depth, in a few rows.
TEST(DepthDifferential, WordsInRowsBeyondTheLaneRange) {
    const std::vector<SimdLevel> levels = own_levels(word_level);
    if (levels.empty()) GTEST_SKIP() << "no vector word pass on this CPU";
    std::mt19937 rng(65537);
    for (const int width : {32768, 65537}) {
        if (kSlowBuild && width < 65536) continue;
        const Case c{16, width, 6, width + 1, 20, 40, 10, false};
        const SamplePlane<uint16_t> plane = word_plane(c, rng);
        ASSERT_TRUE(words_match(c, levels, plane));
    }
}

// The word pass's shaping (a division by the knee in vector lanes) against the
// scalar rule: every difference a 16-bit word can give, knees from the smallest to
// beyond the largest difference.
TEST(DepthDifferential, WordShapingEveryDifference) {
    const std::vector<SimdLevel> levels = own_levels(word_level);
    if (levels.empty()) GTEST_SKIP() << "no vector word pass on this CPU";
    const int32_t knees[] = {INT_MIN, -1,    0,     1,     2,     3,       5,      255,   256,
                             257,     1000,  4095,  4097,  12345, 32767,   32768,  32769, 43691,
                             65533,   65534, 65535, 65536, 65537, 1 << 24, INT_MAX};
    std::vector<int32_t> shaped(2 * 65535 + 1);
    for (SimdLevel level : levels) {
        const WordShapeProbe probe = word_shape_probe_for_level(level);
        ASSERT_NE(probe, nullptr) << level_name(level);
        for (int32_t knee : knees) {
            probe(knee, shaped.data());
            const int32_t t = knee < 0 ? 0 : knee > 65536 ? 65536 : knee;
            for (int d = -65535; d <= 65535; ++d)
                ASSERT_EQ(shaped[d + 65535], shaped_difference(d, t))
                    << level_name(level) << " knee " << knee << " d " << d;
        }
    }
}

// The narrow word pass's shaping (a 16-bit division by the knee) against the
// scalar rule: every difference of 12-bit words, every knee the form takes.
TEST(DepthDifferential, NarrowWordShapingEveryDifference) {
    const std::vector<SimdLevel> levels = own_levels(word_level);
    if (levels.empty()) GTEST_SKIP() << "no vector word pass on this CPU";
    std::vector<int32_t> shaped(2 * 4095 + 1);
    for (SimdLevel level : levels) {
        const NarrowShapeProbe probe = narrow_shape_probe_for_level(level);
        ASSERT_NE(probe, nullptr) << level_name(level);
        for (int32_t knee = 0; knee <= 257; ++knee) {
            const int32_t t = knee <= 255 ? knee : knee == 256 ? 4096 : 65536;
            probe(t, shaped.data());
            for (int d = -4095; d <= 4095; ++d)
                ASSERT_EQ(shaped[d + 4095], shaped_difference(d, t))
                    << level_name(level) << " knee " << t << " d " << d;
        }
    }
}

// Floats (luma 0..1 or chroma -0.5..0.5) within 1e-4 of the reference on at least
// 99.9% of the samples and within 0.05 everywhere; the padding untouched; the same
// result on a second run.
TEST(DepthDifferential, FloatsWithinTheTolerance) {
    const std::vector<SimdLevel> levels = own_levels(float_level);
    if (levels.empty()) GTEST_SKIP() << "no vector float pass on this CPU";
    std::mt19937 rng(2718);
    const int rounds = kSlowBuild ? 60 : 600;
    long long samples[std::size(kAllLevels)][std::size(kForms)] = {};
    long long loose[std::size(kAllLevels)][std::size(kForms)] = {};
    for (int round = 0; round < rounds; ++round) {
        const Case c = random_case(rng, 32, round);
        const std::vector<double> content = random_content(c, rng);
        const float offset = round % 3 == 2 ? -0.5f : 0.0f;
        SamplePlane<float> plane(c.width, c.height, c.pitch, -7.0f);
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x)
                plane.at(x, y) =
                    static_cast<float>(content[static_cast<std::size_t>(y) * c.width + x] / 256.0) +
                    offset;
        const FilterSettings s(c.width, c.height, c.strength, c.threshold1, c.threshold2);
        SamplePlane<float> expected = plane;
        ASSERT_EQ(filter_floats_reference(s, expected.data(), expected.pitch,
                                          default_scratch_allocator()),
                  PassStatus::ok);
        for (SimdLevel level : levels)
            for (std::size_t f = 0; f < std::size(kForms); ++f) {
                const FormName& form = kForms[f];
                auto run = [&](SamplePlane<float>& out) {
                    return form.form == PassForm::automatic
                               ? float_pass_for_level(level)(s, out.data(), out.pitch,
                                                             default_scratch_allocator())
                               : float_form_pass_for_level(level)(s, out.data(), out.pitch,
                                                                  default_scratch_allocator(),
                                                                  form.form, nullptr);
                };
                SamplePlane<float> actual = plane, again = plane;
                ASSERT_EQ(run(actual), PassStatus::ok) << describe(c, level, form);
                ASSERT_EQ(run(again), PassStatus::ok) << describe(c, level, form);
                ASSERT_EQ(std::memcmp(actual.data(), again.data(), actual.samples.size() * 4), 0)
                    << "not deterministic (" << describe(c, level, form) << ")";
                const std::size_t at = static_cast<std::size_t>(level);
                for (std::size_t i = 0; i < expected.samples.size(); ++i) {
                    const bool inside = c.pitch > 0 &&
                                        static_cast<std::ptrdiff_t>(i % c.pitch) < c.width &&
                                        i < expected.samples.size() - 1;
                    if (!inside) {
                        ASSERT_EQ(actual.samples[i], -7.0f) << "padding written at " << i << " ("
                                                            << describe(c, level, form) << ")";
                        continue;
                    }
                    bool near = false;
                    ASSERT_TRUE(
                        test::float_result_agrees(expected.samples[i], actual.samples[i], &near))
                        << "sample " << i << " is " << actual.samples[i] << ", expected "
                        << expected.samples[i] << " (" << describe(c, level, form) << ")";
                    ++samples[at][f];
                    loose[at][f] += !near;
                }
            }
    }
    for (SimdLevel level : levels)
        for (std::size_t f = 0; f < std::size(kForms); ++f) {
            const std::size_t at = static_cast<std::size_t>(level);
            EXPECT_LE(static_cast<double>(loose[at][f]),
                      (1.0 - test::kFloatNearShare) * samples[at][f])
                << level_name(level) << ", " << kForms[f].name << ": " << loose[at][f] << " of "
                << samples[at][f] << " samples beyond " << test::kFloatNear;
        }
}

// NaN, infinities and huge finite floats at every level and in each form: the
// reference's result with samples that are not finite in the same places and bits,
// finite ones within the tolerance, the padding untouched; at strength 0 the plane
// as it was, bit for bit.
TEST(DepthDifferential, FloatEdgeInputsGiveTheReferenceResult) {
    const std::vector<SimdLevel> levels = own_levels(float_level);
    if (levels.empty()) GTEST_SKIP() << "no vector float pass on this CPU";
    std::mt19937 rng(3937);
    for (const test::FloatEdgeCase& edge : test::kFloatEdgeCases)
        for (const test::FloatEdgeSettings& p : test::kFloatEdgeSettings) {
            constexpr int kW = 61, kH = 45, kPitch = 63;
            const SamplePlane<float> plane = test::float_edge_plane(edge, kW, kH, kPitch, rng);
            const FilterSettings s(kW, kH, p.strength, p.threshold1, p.threshold2);
            SamplePlane<float> expected = plane;
            ASSERT_EQ(filter_floats_reference(s, expected.data(), expected.pitch,
                                              default_scratch_allocator()),
                      PassStatus::ok);
            for (SimdLevel level : levels)
                for (const FormName& form : kForms) {
                    SamplePlane<float> actual = plane;
                    const PassStatus status =
                        form.form == PassForm::automatic
                            ? float_pass_for_level(level)(s, actual.data(), actual.pitch,
                                                          default_scratch_allocator())
                            : float_form_pass_for_level(level)(s, actual.data(), actual.pitch,
                                                               default_scratch_allocator(),
                                                               form.form, nullptr);
                    const std::string what =
                        test::describe(edge, p) + ", " + level_name(level) + ", " + form.name;
                    ASSERT_EQ(status, PassStatus::ok) << what;
                    if (p.strength == 0) {
                        ASSERT_EQ(std::memcmp(actual.data(), plane.samples.data(),
                                              plane.samples.size() * sizeof(float)),
                                  0)
                            << what << ": strength 0 changed the plane";
                    }
                    long loose = 0;
                    for (int y = 0; y < kH; ++y)
                        for (int x = 0; x < kPitch; ++x) {
                            const float e = expected.at(x, y), a = actual.at(x, y);
                            bool near = false;
                            ASSERT_TRUE(test::float_result_agrees(e, a, &near))
                                << what << ": sample " << x << "," << y << " is " << a
                                << ", expected " << e;
                            loose += !near;
                        }
                    EXPECT_LE(loose, (1.0 - test::kFloatNearShare) * kW * kH + 1) << what;
                }
        }
}

}  // namespace
}  // namespace velnor
