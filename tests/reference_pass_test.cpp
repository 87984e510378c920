#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <random>
#include <vector>

#include "core/filter_settings.h"
#include "core/luma_pass.h"
#include "core/pass_arith.h"
#include "tests/test_plane.h"

namespace velnor {
namespace {

using test::TestPlane;

PassStatus run(TestPlane& plane, int32_t strength = 20, int32_t threshold1 = 40,
               int32_t threshold2 = 10) {
    const FilterSettings settings(plane.width, plane.height, strength, threshold1, threshold2);
    return filter_luma_reference(settings, plane.data(), plane.pitch, default_scratch_allocator());
}

struct Change {
    int x, y, value;
};

// Expects `after` to equal `before` except at the listed samples.
void expect_changes(const TestPlane& before, const TestPlane& after,
                    const std::vector<Change>& changes) {
    TestPlane expected = before;
    for (const Change& c : changes) expected.at(c.x, c.y) = static_cast<uint8_t>(c.value);
    for (int y = 0; y < before.height; ++y)
        for (int x = 0; x < before.width; ++x)
            EXPECT_EQ(after.at(x, y), expected.at(x, y)) << "at (" << x << ", " << y << ")";
}

TEST(ReferencePass, SingleBrightSample) {
    TestPlane plane(9, 9, 9, 100);
    plane.at(4, 4) = 110;
    const TestPlane before = plane;
    ASSERT_EQ(run(plane), PassStatus::ok);
    expect_changes(before, plane,
                   {{3, 3, 101},
                    {4, 3, 101},
                    {5, 3, 101},
                    {3, 4, 101},
                    {4, 4, 102},
                    {5, 4, 101},
                    {3, 5, 101},
                    {4, 5, 101},
                    {5, 5, 101}});
}

TEST(ReferencePass, CleanStructuresSurvive) {
    struct Shape {
        const char* name;
        int (*value)(int x, int y);
    };
    const Shape shapes[] = {
        {"vertical step", [](int x, int) { return x < 4 ? 50 : 150; }},
        {"horizontal step", [](int, int y) { return y < 4 ? 50 : 150; }},
        {"diagonal step", [](int x, int y) { return x + y < 8 ? 50 : 150; }},
        {"horizontal line", [](int, int y) { return y == 4 ? 200 : 100; }},
        {"vertical line", [](int x, int) { return x == 4 ? 200 : 100; }},
        {"constant", [](int, int) { return 77; }},
    };
    for (const Shape& shape : shapes) {
        TestPlane plane(9, 9, 9);
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < 9; ++x) plane.at(x, y) = static_cast<uint8_t>(shape.value(x, y));
        const TestPlane before = plane;
        ASSERT_EQ(run(plane), PassStatus::ok);
        EXPECT_EQ(plane, before) << shape.name;
    }
}

TEST(ReferencePass, NoisyVerticalStep) {
    struct Case {
        int noisy, centre_after;
    };
    for (const Case c : {Case{160, 152}, Case{162, 153}}) {
        TestPlane plane(9, 9, 9);
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < 9; ++x) plane.at(x, y) = x < 4 ? 50 : 150;
        plane.at(4, 4) = static_cast<uint8_t>(c.noisy);
        const TestPlane before = plane;
        ASSERT_EQ(run(plane), PassStatus::ok);
        EXPECT_EQ(plane.at(4, 4), c.centre_after) << "noisy " << c.noisy;
        if (c.noisy == 160)
            expect_changes(before, plane,
                           {{4, 2, 153},
                            {4, 3, 154},
                            {5, 3, 151},
                            {4, 4, 152},
                            {5, 4, 151},
                            {4, 5, 152},
                            {5, 5, 151},
                            {4, 6, 151}});
    }
}

TEST(ReferencePass, NoisyStepTakesEveryPath) {
    TestPlane plane = TestPlane::from_rows({
        {68, 71, 64, 65, 175, 171, 192, 187},
        {67, 56, 64, 61, 179, 187, 186, 179},
        {58, 59, 70, 51, 177, 173, 168, 189},
        {56, 61, 64, 52, 171, 186, 188, 184},
        {68, 61, 53, 49, 188, 189, 184, 177},
        {71, 49, 51, 64, 181, 170, 184, 174},
        {62, 59, 55, 58, 174, 177, 177, 168},
        {52, 61, 49, 63, 173, 189, 189, 178},
    });
    const TestPlane expected = TestPlane::from_rows({
        {68, 71, 64, 65, 175, 171, 192, 187},
        {67, 56, 64, 61, 179, 187, 186, 179},
        {58, 59, 65, 56, 178, 175, 168, 189},
        {56, 61, 63, 57, 179, 185, 188, 184},
        {68, 61, 56, 57, 180, 186, 184, 177},
        {71, 49, 55, 59, 177, 180, 184, 174},
        {62, 59, 55, 58, 174, 177, 177, 168},
        {52, 61, 49, 63, 173, 189, 189, 178},
    });
    ASSERT_EQ(run(plane), PassStatus::ok);
    expect_changes(expected, plane, {});
}

// Planes without an interior stay as they are; W or H = 5 filters one column or row.
TEST(ReferencePass, SmallPlanesTouchOnlyTheInterior) {
    struct Case {
        int width, height;
    };
    std::mt19937 rng(7);
    for (const Case c : {Case{0, 0}, Case{4, 9}, Case{9, 4}, Case{1, 1}, Case{5, 5}, Case{5, 9},
                         Case{9, 5}, Case{-3, 9}}) {
        TestPlane plane(c.width > 0 ? c.width : 0, c.height, c.width > 0 ? c.width + 3 : 3);
        std::uniform_int_distribution<int> sample(0, 255);
        for (int y = 0; y < plane.height; ++y)
            for (int x = 0; x < plane.width; ++x)
                plane.at(x, y) = static_cast<uint8_t>(sample(rng));
        const TestPlane before = plane;
        // threshold1 above any activity and strength 20: every interior sample moves
        // to P - trunc(D / 9), so a changed sample can only be an interior one.
        const FilterSettings settings(c.width, c.height, 20, 5000, 10);
        ASSERT_EQ(
            filter_luma_reference(settings, plane.data(), plane.pitch, default_scratch_allocator()),
            PassStatus::ok);
        for (std::size_t i = 0; i < plane.bytes.size(); ++i) {
            const int x = static_cast<int>(i % plane.pitch), y = static_cast<int>(i / plane.pitch);
            const bool interior = x >= 2 && x < c.width - 2 && y >= 2 && y < c.height - 2;
            if (!interior) {
                ASSERT_EQ(plane.bytes[i], before.bytes[i]) << c.width << "x" << c.height;
            }
        }
    }
}

// With threshold1 out of reach every sample moves to its box mean rounded toward it.
TEST(ReferencePass, HighThresholdGivesBoxMean) {
    std::mt19937 rng(11);
    TestPlane plane(12, 10, 16);
    test::fill_random(plane, rng);
    const TestPlane before = plane;
    ASSERT_EQ(run(plane, 20, 2041, 10), PassStatus::ok);
    // Activity comes from unfiltered samples only, so the expectation uses `before`.
    for (int y = 2; y < 8; ++y)
        for (int x = 2; x < 10; ++x) {
            int box = 0;
            for (int j = -1; j <= 1; ++j)
                for (int i = -1; i <= 1; ++i) box += before.at(x + i, y + j);
            const int p = before.at(x, y);
            EXPECT_EQ(plane.at(x, y), p - (9 * p - box) / 9) << x << "," << y;
        }
}

// Strength 0 changes nothing; a zero table leaves only the box-mean fallback.
TEST(ReferencePass, NeutralParametersMoveOnlyBoxMeanSamples) {
    struct Case {
        int32_t strength, threshold1, threshold2;
    };
    std::mt19937 rng(3);
    for (const Case c : {Case{0, 40, 10}, Case{0, INT_MIN, INT_MAX},
                         // Everything takes the detector path, and the table is zero.
                         Case{20, INT_MIN, 0}, Case{20, 0, -5}}) {
        for (int round = 0; round < 20; ++round) {
            TestPlane plane(17, 13, 20);
            test::fill_random(plane, rng);
            TestPlane filtered = plane;
            ASSERT_EQ(run(filtered, c.strength, c.threshold1, c.threshold2), PassStatus::ok);
            if (c.strength == 0) {
                ASSERT_EQ(filtered, plane);
            } else {
                // Only the box-mean fallback of the confidence test may move samples.
                for (int y = 2; y < 11; ++y)
                    for (int x = 2; x < 15; ++x) {
                        if (filtered.at(x, y) == plane.at(x, y)) continue;
                        int box = 0;
                        for (int j = -1; j <= 1; ++j)
                            for (int i = -1; i <= 1; ++i) box += plane.at(x + i, y + j);
                        const int p = plane.at(x, y);
                        ASSERT_EQ(filtered.at(x, y), p - (9 * p - box) / 9);
                    }
            }
        }
    }
}

// Extreme parameters: no undefined behaviour (the sanitizers watch), border and
// padding untouched, and saturated strengths leave only P, 0 or 255.
TEST(ReferencePass, ExtremeParameters) {
    const int32_t values[] = {INT_MIN, INT_MIN + 1, -1, 0, 1, 20, INT_MAX - 1, INT_MAX};
    std::mt19937 rng(5);
    for (int32_t strength : values)
        for (int32_t threshold1 : values)
            for (int32_t threshold2 : values) {
                TestPlane plane(11, 9, 14);
                test::fill_random(plane, rng);
                TestPlane filtered = plane;
                ASSERT_EQ(run(filtered, strength, threshold1, threshold2), PassStatus::ok);
                for (int y = 0; y < 9; ++y)
                    for (int x = 0; x < 14; ++x) {
                        const bool interior = x >= 2 && x < 9 && y >= 2 && y < 7;
                        if (!interior) {
                            ASSERT_EQ(filtered.at(x, y), plane.at(x, y));
                        } else if (strength == INT_MAX || strength == INT_MIN) {
                            const int v = filtered.at(x, y);
                            ASSERT_TRUE(v == 0 || v == 255 || v == plane.at(x, y)) << v;
                        }
                    }
            }
}

// An overshoot saturates: bright neighbours of a bright spike stay bright.
TEST(ReferencePass, OvershootSaturatesInsteadOfWrapping) {
    struct Case {
        int field, spike, saturated;
    };
    // Neighbours of the spike have |D| = 15, w = -+1, q = -+20 at strength 400:
    // 240 + 20 must clamp to 255, 10 - 20 to 0, never wrap to the other extreme.
    for (const Case c : {Case{240, 255, 255}, Case{10, 0, 0}}) {
        TestPlane plane(9, 9, 9, static_cast<uint8_t>(c.field));
        plane.at(4, 4) = static_cast<uint8_t>(c.spike);
        ASSERT_EQ(run(plane, 400), PassStatus::ok);
        EXPECT_EQ(plane.at(3, 3), c.saturated);
        // The spike itself is legitimately pulled far; every other sample stays on
        // the field's side.
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < 9; ++x) {
                if (x == 4 && y == 4) continue;
                EXPECT_GE(plane.at(x, y), std::min(c.field, c.saturated)) << x << "," << y;
                EXPECT_LE(plane.at(x, y), std::max(c.field, c.saturated)) << x << "," << y;
            }
    }
}

struct CountingScratch {
    static inline int allocations = 0;
    static inline int releases = 0;
    static void* allocate(std::size_t bytes) {
        ++allocations;
        return std::malloc(bytes);
    }
    static void release(void* block) {
        ++releases;
        std::free(block);
    }
    static void* refuse(std::size_t) { return nullptr; }
};

TEST(ReferencePassScratch, AcquiredOnceAndReleased) {
    CountingScratch::allocations = CountingScratch::releases = 0;
    const ScratchAllocator counting{CountingScratch::allocate, CountingScratch::release};
    TestPlane plane(32, 24, 32, 90);
    const FilterSettings settings(32, 24, 20, 40, 10);
    ASSERT_EQ(filter_luma_reference(settings, plane.data(), plane.pitch, counting), PassStatus::ok);
    EXPECT_EQ(CountingScratch::allocations, 1);
    EXPECT_EQ(CountingScratch::releases, 1);
}

TEST(ReferencePassScratch, FailureLeavesPlaneUnchanged) {
    CountingScratch::releases = 0;
    const ScratchAllocator refusing{CountingScratch::refuse, CountingScratch::release};
    std::mt19937 rng(9);
    TestPlane plane(32, 24, 40);
    test::fill_random(plane, rng);
    const TestPlane before = plane;
    const FilterSettings settings(32, 24, 20, 40, 10);
    EXPECT_EQ(filter_luma_reference(settings, plane.data(), plane.pitch, refusing),
              PassStatus::out_of_memory);
    EXPECT_EQ(plane, before);
    EXPECT_EQ(CountingScratch::releases, 0);
}

// The closed forms a vector pass may use instead of the floating-point steps.
TEST(PassArithmetic, ConfidenceThresholdIsIntegerForm) {
    for (int32_t d = -2040; d <= 2040; ++d)
        ASSERT_EQ(confidence_threshold(d), 2 * std::abs(d) / 5) << d;
}

TEST(PassArithmetic, ScaledCorrectionIsIntegerQuotientInRange) {
    for (int32_t strength = -3000; strength <= 3000; ++strength) {
        const float k = strength_factor(strength);
        for (int32_t w = -255; w <= 255; ++w)
            ASSERT_EQ(scaled_correction(w, k), w * strength / 20) << w << " " << strength;
    }
}

TEST(PassArithmetic, ScaledCorrectionSaturates) {
    EXPECT_EQ(scaled_correction(255, strength_factor(INT_MAX)), INT32_MAX);
    EXPECT_EQ(scaled_correction(-255, strength_factor(INT_MAX)), INT32_MIN);
    EXPECT_EQ(scaled_correction(255, strength_factor(INT_MIN)), INT32_MIN);
    EXPECT_EQ(scaled_correction(1, strength_factor(INT_MAX)), 107374184);
    EXPECT_EQ(corrected_sample(0, INT32_MIN), 255);
    EXPECT_EQ(corrected_sample(255, INT32_MAX), 0);
    EXPECT_EQ(corrected_sample(100, 7), 93);
}

}  // namespace
}  // namespace velnor
