// The measured settings table and the rule that reads it.
#include "core/suggested_settings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/measured_settings.h"

namespace velnor {
namespace {

TEST(SuggestedSettings, EachKindIsAFullGridOverTheNoiseRange) {
    for (const PlaneKind plane : {PlaneKind::luma, PlaneKind::chroma}) {
        const auto nodes = settings_nodes(plane);
        SCOPED_TRACE(plane == PlaneKind::luma ? "luma" : "chroma");
        ASSERT_FALSE(nodes.empty());
        std::size_t details = 1;
        while (details < nodes.size() && nodes[details].estimate == nodes[0].estimate) ++details;
        ASSERT_EQ(nodes.size() % details, 0u);
        ASSERT_GT(nodes.size() / details, 1u);
        EXPECT_LE(nodes.front().estimate, 2.0);
        EXPECT_GE(nodes.back().estimate, 20.0);
        for (std::size_t i = 0; i < nodes.size(); ++i) {
            const SettingsNode& n = nodes[i];
            SCOPED_TRACE(testing::Message() << "node " << i);
            EXPECT_EQ(n.plane, plane);
            // Its row's estimate and its column's detail, both axes ascending.
            EXPECT_EQ(n.estimate, nodes[i - i % details].estimate);
            EXPECT_EQ(n.detail, nodes[i % details].detail);
            EXPECT_TRUE(i % details == 0 || n.detail > nodes[i - 1].detail);
            EXPECT_TRUE(i < details || n.estimate > nodes[i - details].estimate);
            // Within the ranges where the filter does not overshoot.
            EXPECT_GE(n.strength, 0);
            EXPECT_LE(n.strength, 20);
            EXPECT_GT(n.threshold1, 0);
            EXPECT_GT(n.threshold2, 0);
        }
    }
}

TEST(SuggestedSettings, InterpolatesBilinearlyAndHoldsTheEdges) {
    // Estimates 2 and 6, details 1 and 3.
    const SettingsNode nodes[] = {{PlaneKind::luma, 2, 1, 20, 40, 4},
                                  {PlaneKind::luma, 2, 3, 4, 10, 8},
                                  {PlaneKind::luma, 6, 1, 20, 200, 20},
                                  {PlaneKind::luma, 6, 3, 12, 50, 16}};
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        double estimate, detail;
        FilterValues expected;
    } cases[] = {
        {2, 1, {20, 40, 4}},      {6, 3, {12, 50, 16}},  {1, 0.5, {20, 40, 4}},
        {9, 9, {12, 50, 16}},     {2, 2, {12, 25, 6}},   {4, 1, {20, 120, 12}},
        {4, 2, {14, 75, 12}},     {3, 1.5, {17, 65, 9}}, {nan, nan, {20, 40, 4}},
        {50, 0.2, {20, 200, 20}}, {0.1, 7, {4, 10, 8}},
    };
    for (const auto& c : cases) {
        const FilterValues got = interpolate_settings(nodes, c.estimate, c.detail);
        SCOPED_TRACE(testing::Message() << "estimate " << c.estimate << " detail " << c.detail);
        EXPECT_EQ(got.strength, c.expected.strength);
        EXPECT_EQ(got.threshold1, c.expected.threshold1);
        EXPECT_EQ(got.threshold2, c.expected.threshold2);
    }
}

// The basis of the settings for each kind of estimate.
TEST(SuggestedSettings, BasisFollowsTheEstimate) {
    for (const PlaneKind plane : {PlaneKind::luma, PlaneKind::chroma}) {
        const auto nodes = settings_nodes(plane);
        const double lowest = nodes.front().estimate;
        const struct {
            NoiseEstimate estimate;
            SettingsBasis basis;
        } cases[] = {
            {{false, 0, 0, 0, 0}, SettingsBasis::no_estimate},
            {{true, lowest / 2, 2, 10, 100}, SettingsBasis::no_noise},
            {{true, lowest, 2, 10, 100}, SettingsBasis::measured},
            {{true, 7.5, 1.3, 10, 100}, SettingsBasis::measured},
        };
        for (const auto& c : cases) {
            const MeasuredSettings got = settings_for_estimate(c.estimate, plane);
            EXPECT_EQ(got.basis, c.basis) << c.estimate.sigma;
            if (c.basis == SettingsBasis::no_noise) {
                EXPECT_EQ(got.values.strength, 0);
            }
        }
    }
}

}  // namespace
}  // namespace velnor
