// Every pass level against the reference pass: random plane sizes, pitches,
// content and parameters; the whole buffer, padding included, must match bit for bit.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "core/dispatch.h"
#include "core/filter_settings.h"
#include "core/luma_pass.h"
#include "core/pass_arith.h"
#include "core/simd/fast_passes.h"
#include "tests/test_plane.h"
#include "tests/tested_levels.h"

namespace velnor {
namespace {

using test::TestPlane;

// Unoptimised sanitizer builds run the passes some fifty times slower: they get
// fewer random cases and one full-width strip instead of two full frames.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSlowBuild = true;
#else
constexpr bool kSlowBuild = false;
#endif

std::vector<SimdLevel> fast_levels() { return test::tested_levels(); }

// Content the shared generator lacks: saturated extremes, thin lines on flat
// ground, hard checkerboards and steps of random height.
void fill_extra(TestPlane& plane, std::mt19937& rng) {
    std::uniform_int_distribution<int> pick(0, 3);
    std::uniform_int_distribution<int> sample(0, 255);
    const int style = pick(rng);
    const int lo = sample(rng), hi = sample(rng);
    const int period = 2 + pick(rng);
    for (int y = 0; y < plane.height; ++y)
        for (int x = 0; x < plane.width; ++x) {
            int v;
            switch (style) {
                case 0:
                    v = pick(rng) < 2 ? 0 : 255;
                    break;  // saturated
                case 1:
                    v = (x % period == 0 || y % (period + 1) == 0) ? hi : lo;
                    break;  // lines
                case 2:
                    v = ((x + y) & 1) ? hi : lo;
                    break;  // checkerboard
                default:
                    v = (x + 2 * y) % (period * 3) < period ? hi : lo + pick(rng);  // steps
            }
            plane.at(x, y) = static_cast<uint8_t>(v > 255 ? 255 : v);
        }
}

int32_t random_parameter(std::mt19937& rng, int32_t typical_low, int32_t typical_high) {
    static const int32_t kSpecial[] = {INT_MIN, INT_MIN + 1, -2041, -1,   0,    1,
                                       20,      255,         256,   2040, 2041, INT_MAX};
    switch (std::uniform_int_distribution<int>(0, 3)(rng)) {
        case 0:
            return kSpecial[std::uniform_int_distribution<std::size_t>(
                0, std::size(kSpecial) - 1)(rng)];
        case 1:
            return static_cast<int32_t>(rng());  // anywhere in the 32-bit range
        default:
            return std::uniform_int_distribution<int32_t>(typical_low, typical_high)(rng);
    }
}

struct Case {
    int width, height;
    std::ptrdiff_t pitch;
    int32_t strength, threshold1, threshold2;
};

// Each vector pass as dispatched (automatic: its own choice of form per band) and
// with each internal form forced on every band, so that no form hides behind the
// choice.
struct FormName {
    PassForm form;
    const char* name;
};
constexpr FormName kForms[] = {{PassForm::automatic, "automatic choice"},
                               {PassForm::wavefront, "wavefront form"},
                               {PassForm::row_wise, "row-wise form"}};

std::string describe(const Case& c, SimdLevel level, const FormName& form) {
    return std::string(level_name(level)) + ", " + form.name + ", " + std::to_string(c.width) +
           "x" + std::to_string(c.height) + " pitch " + std::to_string(c.pitch) + " strength " +
           std::to_string(c.strength) + " threshold1 " + std::to_string(c.threshold1) +
           " threshold2 " + std::to_string(c.threshold2);
}

FilterSettings settings_for(const Case& c) {
    return FilterSettings(c.width, c.height, c.strength, c.threshold1, c.threshold2);
}

PassStatus run_form(SimdLevel level, PassForm form, const FilterSettings& settings,
                    TestPlane& plane) {
    if (form == PassForm::automatic)
        return pass_for_level(level)(settings, plane.data(), plane.pitch,
                                     default_scratch_allocator());
    return form_pass_for_level(level)(settings, plane.data(), plane.pitch,
                                      default_scratch_allocator(), form, nullptr);
}

// Runs `level` in `form` on a copy of `plane`; true when it gives `expected` (the
// reference pass's result) byte for byte, padding included.
::testing::AssertionResult matches(const TestPlane& expected, const TestPlane& plane, const Case& c,
                                   SimdLevel level, PassForm form) {
    TestPlane actual = plane;
    if (run_form(level, form, settings_for(c), actual) != PassStatus::ok)
        return ::testing::AssertionFailure() << "status not ok";
    for (std::size_t i = 0; i < expected.bytes.size(); ++i)
        if (expected.bytes[i] != actual.bytes[i])
            return ::testing::AssertionFailure()
                   << "byte " << i << " (x " << i % plane.pitch << ", y " << i / plane.pitch
                   << "): reference " << int(expected.bytes[i]) << ", got " << int(actual.bytes[i]);
    return ::testing::AssertionSuccess();
}

TestPlane reference_result(const TestPlane& plane, const Case& c) {
    TestPlane expected = plane;
    EXPECT_EQ(filter_luma_reference(settings_for(c), expected.data(), expected.pitch,
                                    default_scratch_allocator()),
              PassStatus::ok);
    return expected;
}

// Every level in `levels`, in every form, on `plane` against one reference result.
::testing::AssertionResult all_levels_match(const TestPlane& plane, const Case& c,
                                            const std::vector<SimdLevel>& levels) {
    const TestPlane expected = reference_result(plane, c);
    for (SimdLevel level : levels)
        for (const FormName& form : kForms) {
            ::testing::AssertionResult result = matches(expected, plane, c, level, form.form);
            if (!result) return result << " (" << describe(c, level, form) << ")";
        }
    return ::testing::AssertionSuccess();
}

TEST(Differential, RandomPlanesAndParameters) {
    const std::vector<SimdLevel> levels = fast_levels();
    if (levels.empty()) GTEST_SKIP() << "no vector level on this CPU";
    std::mt19937 rng(20240607);
    std::uniform_int_distribution<int> size(0, 70);
    std::uniform_int_distribution<int> padding(0, 9);
    const int rounds = kSlowBuild ? 400 : 3000;
    for (int round = 0; round < rounds; ++round) {
        Case c;
        c.width = size(rng);
        c.height = size(rng);
        c.pitch = c.width + (padding(rng) < 4 ? 0 : padding(rng));
        const bool realistic = round % 2 == 0;
        c.strength = realistic ? std::uniform_int_distribution<int32_t>(0, 40)(rng)
                               : random_parameter(rng, -400, 400);
        c.threshold1 = realistic ? std::uniform_int_distribution<int32_t>(0, 120)(rng)
                                 : random_parameter(rng, -50, 2100);
        c.threshold2 = realistic ? std::uniform_int_distribution<int32_t>(0, 40)(rng)
                                 : random_parameter(rng, -10, 300);
        TestPlane plane(c.width, c.height, c.pitch);
        if (round % 3 == 2)
            fill_extra(plane, rng);
        else
            test::fill_random(plane, rng);
        ASSERT_TRUE(all_levels_match(plane, c, levels));
    }
}

// Every knee of the shaping table (the vector passes evaluate it in different ways
// for small and large knees) and every strength near the common ones.
TEST(Differential, EveryKneeAndNearbyStrengths) {
    const std::vector<SimdLevel> levels = fast_levels();
    if (levels.empty()) GTEST_SKIP() << "no vector level on this CPU";
    std::mt19937 rng(77);
    std::vector<Case> cases;
    for (int32_t knee = -2; knee <= 260; ++knee)
        cases.push_back({37, 23, 40, 20, knee % 3 ? 40 : 0, knee});
    for (int32_t strength = -45; strength <= 45; ++strength)
        cases.push_back({29, 21, 29, strength, 30, 12});
    std::uniform_int_distribution<int> sample(0, 255);
    for (const Case& c : cases) {
        // The mixed generator's content, then samples spread over the whole range,
        // whose large differences reach the far end of every knee's band.
        for (const bool spread : {false, true}) {
            TestPlane plane(c.width, c.height, c.pitch);
            if (spread)
                for (int y = 0; y < c.height; ++y)
                    for (int x = 0; x < c.width; ++x)
                        plane.at(x, y) = static_cast<uint8_t>(sample(rng));
            else
                test::fill_random(plane, rng);
            ASSERT_TRUE(all_levels_match(plane, c, levels));
        }
    }
}

// Full-size frames at the defaults: long rows, both content kinds the bench uses.
TEST(Differential, FullHdFrames) {
    const std::vector<SimdLevel> levels = fast_levels();
    if (levels.empty()) GTEST_SKIP() << "no vector level on this CPU";
    std::mt19937 rng(99);
    for (const int noise : {12, 2}) {
        if (kSlowBuild && noise != 12) continue;
        const Case c{1920, kSlowBuild ? 360 : 1080, 1920 + 32, 20, 40, 10};
        TestPlane plane(c.width, c.height, c.pitch);
        std::normal_distribution<float> jitter(0.0f, static_cast<float>(noise));
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) {
                const float v = 40.0f + 160.0f * x / c.width + 30.0f * y / c.height + jitter(rng);
                plane.at(x, y) = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
            }
        EXPECT_TRUE(all_levels_match(plane, c, levels));
    }
}

// Flat ground with faint noise and isolated spikes (few samples reach the
// detectors, so a pass may take its row-wise form there) in horizontal stripes
// alternating with strong noise (most samples reach them): the two forms meet at
// every kind of row boundary. Widths straddle the 16- and 32-sample vector sizes.
TEST(Differential, SparseAndDenseStripes) {
    const std::vector<SimdLevel> levels = fast_levels();
    if (levels.empty()) GTEST_SKIP() << "no vector level on this CPU";
    std::mt19937 rng(5150);
    std::uniform_int_distribution<int> stripe(1, 30);
    std::uniform_int_distribution<int> percent(0, 99);
    std::uniform_int_distribution<int> faint(-1, 1), strong(-40, 40);
    const int widths[] = {5, 6, 15, 16, 17, 18, 19, 20, 21, 33, 34, 35, 36, 37, 50, 67, 131};
    const int rounds = kSlowBuild ? 2 : 8;
    for (int round = 0; round < rounds; ++round)
        for (const int width : widths) {
            const Case c{width,
                         5 + stripe(rng) * 3,
                         width + round % 3,
                         round % 4 ? 20 : 13,
                         round % 5 ? 40 : 24,
                         round % 2 ? 10 : 30};
            TestPlane plane(c.width, c.height, c.pitch);
            const int spikes = percent(rng) % 8;  // percent of spikes on the flat ground
            bool dense = percent(rng) < 50;
            for (int y = 0, left = stripe(rng); y < c.height; ++y, --left) {
                if (left == 0) dense = !dense, left = stripe(rng);
                for (int x = 0; x < c.width; ++x) {
                    int v = 120 + x / 3 + (dense ? strong(rng) : faint(rng));
                    if (!dense && percent(rng) < spikes) v += percent(rng) < 50 ? 60 : -60;
                    plane.at(x, y) = static_cast<uint8_t>(v);
                }
            }
            ASSERT_TRUE(all_levels_match(plane, c, levels));
        }
}

// Widths just below and above each power of two a 16-bit lane reaches (2^15 signed,
// 2^16 unsigned): columns and steps must never be counted in the lanes. A few rows
// keep them fast: faint noise with a spike every 257 samples (every path, along the
// whole row) lets the automatic choice take the cheaper row-wise form.
TEST(Differential, WidthsBeyondTheLaneRange) {
    const std::vector<SimdLevel> levels = fast_levels();
    if (levels.empty()) GTEST_SKIP() << "no vector level on this CPU";
    const int widths[] = {32767, 32768, 65535, 65536, 65537};
    std::mt19937 rng(65536);
    std::uniform_int_distribution<int> faint(-1, 1);
    for (const int width : widths) {
        const Case c{width, 6, width + 3, width % 2 ? 20 : 13, 40, width % 2 ? 10 : 30};
        TestPlane plane(c.width, c.height, c.pitch);
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) {
                const int spike = (x + 7 * y) % 257 == 0 ? ((x / 257) % 2 ? 70 : -70) : 0;
                plane.at(x, y) = static_cast<uint8_t>(100 + (x & 15) + faint(rng) + spike);
            }
        ASSERT_TRUE(all_levels_match(plane, c, levels));
    }
}

// The choice of form follows the content: where hardly a sample reaches the
// detectors every band takes the row-wise form, where most do the wavefront form.
// (Both forms give the reference's output; a wrong choice only costs time.)
TEST(Differential, FormChoiceFollowsTheContent) {
    const std::vector<SimdLevel> levels = fast_levels();
    if (levels.empty()) GTEST_SKIP() << "no vector level on this CPU";
    struct Content {
        const char* name;
        int noise;  // uniform noise of +-noise on a gentle ramp
        bool row_wise;
    };
    const Content contents[] = {{"faint noise", 1, true}, {"strong noise", 40, false}};
    for (const Content& content : contents) {
        std::mt19937 rng(31);
        std::uniform_int_distribution<int> noise(-content.noise, content.noise);
        TestPlane plane(300, 120, 300);
        for (int y = 0; y < plane.height; ++y)
            for (int x = 0; x < plane.width; ++x)
                plane.at(x, y) = static_cast<uint8_t>(100 + x / 10 + noise(rng));
        const FilterSettings settings(plane.width, plane.height, 20, 40, 10);
        for (SimdLevel level : levels) {
            BandForms forms;
            ASSERT_EQ(form_pass_for_level(level)(settings, plane.data(), plane.pitch,
                                                 default_scratch_allocator(), PassForm::automatic,
                                                 &forms),
                      PassStatus::ok);
            EXPECT_GT(forms.wavefront + forms.row_wise, 0) << level_name(level);
            EXPECT_EQ(content.row_wise ? forms.wavefront : forms.row_wise, 0)
                << level_name(level) << ", " << content.name << ": " << forms.wavefront
                << " wavefront bands, " << forms.row_wise << " row-wise bands";
        }
    }
}

// The vector shaping forms (byte-shuffle bands, division by the knee) against the
// scalar table: every knee that shapes anything, every difference.
TEST(Differential, ShapingTableEveryKneeEveryDifference) {
    const std::vector<SimdLevel> levels = fast_levels();
    if (levels.empty()) GTEST_SKIP() << "no vector level on this CPU";
    std::vector<int32_t> knees = {INT_MIN, -1, 0, 1000, INT_MAX};
    for (int32_t t = 1; t <= 257; ++t) knees.push_back(t);
    for (SimdLevel level : levels) {
        const ShapeProbe probe = shape_probe_for_level(level);
        ASSERT_NE(probe, nullptr) << level_name(level);
        for (int32_t t : knees) {
            const FilterSettings settings(8, 8, 20, 40, t);
            int32_t shaped[kTableSize];
            probe(t, shaped);
            for (int d = -255; d <= 255; ++d)
                ASSERT_EQ(shaped[d + kTableOffset], settings.shape(d))
                    << level_name(level) << " t=" << t << " d=" << d;
        }
    }
}

// The vector strength product against the scalar one: every strength from -3000 to
// 3000, every w a pass can produce (box results D / 9 and shaped sums), compared
// as far as a stored sample can tell (|q| >= 255 saturates alike).
TEST(Differential, StrengthProductEveryStrengthEveryW) {
    constexpr int kMaxW = 255, kSaturated = 255;
    auto visible = [](int32_t q) {
        return q < -kSaturated ? -kSaturated : q > kSaturated ? kSaturated : q;
    };
    const std::vector<SimdLevel> levels = fast_levels();
    if (levels.empty()) GTEST_SKIP() << "no vector level on this CPU";
    for (SimdLevel level : levels) {
        const CorrectionProbe probe = correction_probe_for_level(level);
        ASSERT_NE(probe, nullptr) << level_name(level);
        for (int32_t strength = -3000; strength <= 3000; ++strength) {
            const float k = strength_factor(strength);
            int32_t q[2 * kMaxW + 1];
            probe(strength, q);
            for (int w = -kMaxW; w <= kMaxW; ++w)
                ASSERT_EQ(visible(q[w + kMaxW]), visible(scaled_correction(w, k)))
                    << level_name(level) << " strength=" << strength << " w=" << w;
        }
    }
}

// A refused allocation leaves the plane as it was, at every level.
TEST(Differential, RefusedScratchLeavesPlaneUnchanged) {
    const ScratchAllocator refusing{[](std::size_t) -> void* { return nullptr; },
                                    [](void*) { std::abort(); }};
    std::mt19937 rng(4);
    TestPlane plane(40, 30, 48);
    test::fill_random(plane, rng);
    const FilterSettings settings(40, 30, 20, 40, 10);
    for (SimdLevel level : fast_levels()) {
        TestPlane copy = plane;
        EXPECT_EQ(pass_for_level(level)(settings, copy.data(), copy.pitch, refusing),
                  PassStatus::out_of_memory)
            << level_name(level);
        EXPECT_EQ(copy, plane) << level_name(level);
    }
}

// An allocator granting requests up to a limit, recording the largest request.
std::size_t scratch_limit = SIZE_MAX;
std::size_t largest_request = 0;
void* capped_allocate(std::size_t bytes) {
    largest_request = bytes > largest_request ? bytes : largest_request;
    return bytes <= scratch_limit ? std::malloc(bytes) : nullptr;
}
const ScratchAllocator kCappedAllocator{capped_allocate, std::free};

// With scratch enough for the plain pass but not for the vector forms (which need
// several times more per column), every level still filters the plane exactly; one
// byte less and it reports out of memory with the plane unchanged.
TEST(Differential, ScratchForThePlainPassOnly) {
    std::mt19937 rng(12);
    TestPlane plane(300, 40, 304);
    test::fill_random(plane, rng);
    const FilterSettings settings(300, 40, 20, 40, 10);
    TestPlane expected = plane;
    scratch_limit = SIZE_MAX, largest_request = 0;
    ASSERT_EQ(filter_luma_reference(settings, expected.data(), expected.pitch, kCappedAllocator),
              PassStatus::ok);
    const std::size_t plain_need = largest_request;
    struct Limit {
        std::size_t bytes;
        PassStatus status;
    };
    for (const Limit limit :
         {Limit{plain_need, PassStatus::ok}, Limit{plain_need - 1, PassStatus::out_of_memory}})
        for (SimdLevel level : fast_levels()) {
            TestPlane copy = plane;
            scratch_limit = limit.bytes;
            EXPECT_EQ(pass_for_level(level)(settings, copy.data(), copy.pitch, kCappedAllocator),
                      limit.status)
                << level_name(level);
            EXPECT_EQ(copy, limit.status == PassStatus::ok ? expected : plane) << level_name(level);
        }
    scratch_limit = SIZE_MAX;
}

}  // namespace
}  // namespace velnor
