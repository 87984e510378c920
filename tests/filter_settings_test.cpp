#include "core/filter_settings.h"

#include <gtest/gtest.h>

#include <climits>
#include <ostream>

namespace velnor {
namespace {

struct TableCase {
    int32_t threshold2;
    int difference;
    int32_t expected;
};

std::ostream& operator<<(std::ostream& out, const TableCase& c) {
    return out << "t=" << c.threshold2 << " d=" << c.difference;
}

class DifferenceTable : public ::testing::TestWithParam<TableCase> {};

TEST_P(DifferenceTable, EntryMatches) {
    const TableCase c = GetParam();
    const FilterSettings settings(16, 16, 20, 40, c.threshold2);
    EXPECT_EQ(settings.shape(c.difference), c.expected)
        << "threshold2=" << c.threshold2 << " d=" << c.difference;
}

INSTANTIATE_TEST_SUITE_P(
    KnownEntries, DifferenceTable,
    ::testing::Values(
        // Default knee: identity, then the parabola down to zero at 2t.
        TableCase{10, 0, 0}, TableCase{10, 9, 9}, TableCase{10, 10, 10}, TableCase{10, 11, 9},
        TableCase{10, 12, 9}, TableCase{10, 15, 7}, TableCase{10, 19, 1}, TableCase{10, 20, 0},
        TableCase{10, 255, 0}, TableCase{10, -15, -7}, TableCase{10, -10, -10},
        TableCase{10, -19, -1},
        // t = 1 keeps only -1, 0, +1.
        TableCase{1, -1, -1}, TableCase{1, 0, 0}, TableCase{1, 1, 1}, TableCase{1, 2, 0},
        TableCase{1, -2, 0},
        // t = 128.
        TableCase{128, 127, 127}, TableCase{128, 128, 128}, TableCase{128, 129, 127},
        TableCase{128, 200, 87}, TableCase{128, 255, 1}, TableCase{128, -255, -1},
        // t = 255: the ends come from the parabola and still equal d.
        TableCase{255, 255, 255}, TableCase{255, -255, -255}, TableCase{255, 254, 254}));

// Whole-table shapes for knees where the table degenerates.
TEST(DifferenceTableShape, NonPositiveKneeGivesAllZero) {
    for (int32_t t : {0, -1, -10, -255, -256, INT_MIN + 1, INT_MIN}) {
        const FilterSettings settings(8, 8, 20, 40, t);
        for (int d = -255; d <= 255; ++d)
            ASSERT_EQ(settings.shape(d), 0) << "t=" << t << " d=" << d;
    }
}

TEST(DifferenceTableShape, LargeKneeGivesIdentity) {
    for (int32_t t : {255, 256, 1000, INT_MAX / 2, INT_MAX / 2 + 1, INT_MAX}) {
        const FilterSettings settings(8, 8, 20, 40, t);
        for (int d = -255; d <= 255; ++d)
            ASSERT_EQ(settings.shape(d), d) << "t=" << t << " d=" << d;
    }
}

// For every knee that shapes anything, entries keep d's sign, never exceed |d|, and
// are odd-symmetric.
TEST(DifferenceTableShape, BoundedOddAndSignPreserving) {
    for (int32_t t = 1; t <= 256; ++t) {
        const FilterSettings settings(8, 8, 20, 40, t);
        for (int d = 0; d <= 255; ++d) {
            const int32_t e = settings.shape(d);
            ASSERT_GE(e, 0);
            ASSERT_LE(e, d);
            ASSERT_EQ(settings.shape(-d), -e);
        }
    }
}

TEST(FilterSettingsStorage, ParametersStoredUnchanged) {
    const FilterSettings settings(1920, 1080, INT_MIN, INT_MAX, -7);
    EXPECT_EQ(settings.width, 1920);
    EXPECT_EQ(settings.height, 1080);
    EXPECT_EQ(settings.strength, INT_MIN);
    EXPECT_EQ(settings.threshold1, INT_MAX);
    EXPECT_EQ(settings.threshold2, -7);
}

}  // namespace
}  // namespace velnor
