// Filter settings for a luma noise level, from the measured table
// cli/suggested_settings.tsv (compiled in; demo/measure_settings.py writes it).
#pragma once

#include <cstdint>
#include <span>

namespace velnor::cli {

struct SettingsRow {
    double sigma;  // noise standard deviation, 8-bit steps
    int32_t strength;
    int32_t threshold1;
    int32_t threshold2;
};

struct FilterValues {
    int32_t strength;
    int32_t threshold1;
    int32_t threshold2;
};

// The measured rows, sigma ascending.
std::span<const SettingsRow> suggested_settings_table();

// Each value interpolated linearly between the two rows around `sigma` and rounded;
// below the first row the first, above the last row the last. `rows` is not empty.
FilterValues interpolate_settings(std::span<const SettingsRow> rows, double sigma);

// interpolate_settings over the measured table.
FilterValues suggested_settings(double sigma);

}  // namespace velnor::cli
