// What auto decides for each filtered plane, shared by the 64-bit bindings: the
// plane's estimate, why its settings are what they are and the values it is
// filtered with, and the frame properties that carry them.
#pragma once

#include <cstddef>
#include <vector>

#include "core/measured_settings.h"
#include "core/noise_estimate.h"
#include "plugin/script_function.h"

namespace velnor::plugin {

struct PlaneReport {
    int plane;  // 0 luma, 1 and 2 chroma
    NoiseEstimate estimate;
    SettingsBasis basis;  // of the measured settings
    FilterValues values;  // filtered with: the measured settings, or the values named
};

inline PlaneKind plane_kind(int plane) { return plane == 0 ? PlaneKind::luma : PlaneKind::chroma; }

// How a plane's float samples lie: the hosts centre float chroma on 0.
inline FloatRange float_range(int plane) {
    return plane == 0 ? FloatRange::unit : FloatRange::centred;
}

// The estimate as frame properties: 0 where nothing could be measured.
inline double noise_value(const NoiseEstimate& estimate) {
    return estimate.valid ? estimate.sigma : 0.0;
}
inline double detail_value(const NoiseEstimate& estimate) {
    return estimate.valid ? estimate.detail : 0.0;
}

// Attaches the reports as arrays with one entry per filtered plane, in plane order
// (so the first entry is the luma's wherever luma is filtered): `set_int(key,
// value, append)` and `set_float(key, value, append)` write one entry, replacing
// the key's entries when `append` is false.
template <typename SetInt, typename SetFloat>
void attach_reports(const std::vector<PlaneReport>& reports, SetInt set_int, SetFloat set_float) {
    for (std::size_t i = 0; i < reports.size(); ++i) {
        const PlaneReport& r = reports[i];
        const bool append = i > 0;
        set_int(kPlanesProperty, r.plane, append);
        set_float(kNoiseProperty, noise_value(r.estimate), append);
        set_float(kDetailProperty, detail_value(r.estimate), append);
        set_int(kStrengthProperty, r.values.strength, append);
        set_int(kThreshold1Property, r.values.threshold1, append);
        set_int(kThreshold2Property, r.values.threshold2, append);
    }
}

}  // namespace velnor::plugin
