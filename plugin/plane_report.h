// What auto decides for each filtered plane, shared by the 64-bit bindings: the
// plane's estimate, why its settings are what they are and the values it is
// filtered with, and the frame properties that carry them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/measured_settings.h"
#include "core/noise_estimate.h"
#include "core/sample_format.h"
#include "plugin/script_function.h"

namespace velnor::plugin {

struct PlaneReport {
    int plane;  // 0 luma, 1 and 2 chroma
    NoiseEstimate estimate;
    SettingsBasis basis;  // of the measured settings
    FilterValues values;  // filtered with: the measured settings, or the values named
};

inline PlaneKind plane_kind(int plane) { return plane == 0 ? PlaneKind::luma : PlaneKind::chroma; }

// Adds plane `plane` (0 luma, 1 and 2 chroma) of a frame to `estimator`. Float
// chroma is centred on 0 while the estimate reads float samples as 0..1, so it is
// measured shifted up by one half, on a copy: 8-bit chroma and its float form then
// give the same estimate, and only the ends of the range count as clipped.
inline void add_plane(NoiseEstimator& estimator, int plane, const uint8_t* data,
                      SampleFormat format, int32_t width, int32_t height, std::ptrdiff_t pitch) {
    if (plane == 0 || format.type != SampleType::f32 || width <= 0 || height <= 0) {
        estimator.add_plane(data, format, width, height, pitch);
        return;
    }
    std::vector<float> shifted(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (int32_t y = 0; y < height; ++y) {
        float* row = shifted.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
        std::memcpy(row, data + y * pitch, static_cast<std::size_t>(width) * sizeof(float));
        for (int32_t x = 0; x < width; ++x) row[x] += 0.5f;
    }
    estimator.add_plane(
        shifted.data(), width, height,
        static_cast<std::ptrdiff_t>(width) * static_cast<std::ptrdiff_t>(sizeof(float)));
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
