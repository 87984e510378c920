// The measured settings table and the rule that reads it.
#include "core/suggested_settings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace velnor {
namespace {

TEST(SuggestedSettings, TableCoversTheNoiseRange) {
    const auto rows = suggested_settings_table();
    ASSERT_FALSE(rows.empty());
    EXPECT_LE(rows.front().sigma, 3.0);
    EXPECT_GE(rows.back().sigma, 20.0);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (i > 0) {
            EXPECT_GT(rows[i].sigma, rows[i - 1].sigma) << "row " << i;
            EXPECT_GT(rows[i].estimate, rows[i - 1].estimate) << "row " << i;
        }
        // Within the ranges where the filter does not overshoot.
        EXPECT_GE(rows[i].strength, 0) << "row " << i;
        EXPECT_LE(rows[i].strength, 20) << "row " << i;
        EXPECT_GT(rows[i].threshold1, 0) << "row " << i;
        EXPECT_GT(rows[i].threshold2, 0) << "row " << i;
    }
}

TEST(SuggestedSettings, InterpolatesBetweenRowsAndHoldsTheEnds) {
    // Looked up by the estimate column, not by sigma.
    const SettingsRow rows[] = {{1, 10, 40, 5, 2}, {3.5, 14, 100, 9, 4}, {11, 20, 400, 30, 10}};
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        double estimate;
        FilterValues expected;
    } cases[] = {
        {0.5, {10, 40, 5}},  {2, {10, 40, 5}},     {3, {12, 70, 7}},
        {4, {14, 100, 9}},   {5.5, {16, 175, 14}}, {9.9, {20, 395, 30}},
        {10, {20, 400, 30}}, {80, {20, 400, 30}},  {nan, {10, 40, 5}},
    };
    for (const auto& c : cases) {
        const FilterValues got = interpolate_settings(rows, c.estimate);
        EXPECT_EQ(got.strength, c.expected.strength) << "estimate " << c.estimate;
        EXPECT_EQ(got.threshold1, c.expected.threshold1) << "estimate " << c.estimate;
        EXPECT_EQ(got.threshold2, c.expected.threshold2) << "estimate " << c.estimate;
    }
}

}  // namespace
}  // namespace velnor
