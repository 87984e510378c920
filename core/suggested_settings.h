// Filter settings for a luma noise level, from the measured table
// core/suggested_settings.tsv (compiled in; demo/measure_settings.py writes it).
#pragma once

#include <cstdint>
#include <span>

#include "core/filter_settings.h"

namespace velnor {

struct SettingsRow {
    double sigma;  // noise standard deviation, 8-bit steps
    int32_t strength;
    int32_t threshold1;
    int32_t threshold2;
    double estimate;  // what the noise estimate reads at `sigma`; rows are looked up by it
};

struct FilterValues {
    int32_t strength;
    int32_t threshold1;
    int32_t threshold2;
};

// The measured rows, sigma and estimate ascending.
std::span<const SettingsRow> suggested_settings_table();

// Each value interpolated linearly between the two rows whose `estimate` is around
// `estimate` and rounded; below the first row the first, above the last row the
// last. `rows` is not empty.
FilterValues interpolate_settings(std::span<const SettingsRow> rows, double estimate);

// interpolate_settings over the measured table, for a noise estimate.
FilterValues suggested_settings(double estimate);

// Whether `estimate` lies below the table's first row: no noise measurable.
bool below_measured_noise(double estimate);

// The settings for input without measurable noise: strength 0, which leaves the
// picture as it is, with the default thresholds (for a strength named beside the
// measurement).
// Clean photographs read 0.1 to 0.7, below the first row; there the lightest row
// changes them (luma PSNR 50 to 57 dB against the clean picture) and any
// filtering only removes detail.
FilterValues clean_input_settings();

}  // namespace velnor
