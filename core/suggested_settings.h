// Filter settings for a plane's measured noise and detail, from the measured table
// core/suggested_settings.tsv (compiled in; demo/measure_settings.py writes it).
#pragma once

#include <cstdint>
#include <span>

#include "core/filter_settings.h"

namespace velnor {

// Which kind of plane an estimate was measured on: luma and chroma have settings
// of their own.
enum class PlaneKind { luma, chroma };

// One node of the table: the settings for a plane of `plane` kind whose noise
// estimate reads `estimate` (8-bit steps) and whose detail reads `detail`.
struct SettingsNode {
    PlaneKind plane;
    double estimate;
    double detail;
    int32_t strength;
    int32_t threshold1;
    int32_t threshold2;
};

struct FilterValues {
    int32_t strength;
    int32_t threshold1;
    int32_t threshold2;
};

// The nodes of one kind of plane: a full grid, estimate ascending, and within one
// estimate detail ascending, the same details at every estimate.
std::span<const SettingsNode> settings_nodes(PlaneKind plane);

// Each value interpolated bilinearly between the four nodes around (estimate,
// detail) and rounded; outside the grid the nearest edge holds (not a number
// counts as below). `nodes` is a grid as settings_nodes gives.
FilterValues interpolate_settings(std::span<const SettingsNode> nodes, double estimate,
                                  double detail);

// interpolate_settings over the measured table.
FilterValues suggested_settings(PlaneKind plane, double estimate, double detail);

// Whether `estimate` lies below the table's lightest noise: no noise measurable.
bool below_measured_noise(PlaneKind plane, double estimate);

// The settings for input without measurable noise: strength 0, which leaves the
// picture as it is, with the default thresholds (for a strength named beside the
// measurement). Clean photographs read below the lightest noise; there any
// filtering only removes detail.
FilterValues clean_input_settings();

}  // namespace velnor
