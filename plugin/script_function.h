// The script function every host binding registers: its name, its AviSynth
// parameter strings, the version text the AviSynth plug-ins report, the defaults of
// the 64-bit bindings' plane choices, and the errors they share.
#pragma once

#include <cstdint>
#include <string>

#include "core/version.h"

namespace velnor::plugin {

inline constexpr const char kFunctionName[] = "Velnor";
// The 2.5 plug-in's parameters (8-bit luma only).
inline constexpr const char kParameters[] = "c[strength]i[threshold1]i[threshold2]i";
// The AviSynth+ C plug-in's: chroma=true filters U and V as well, auto=true
// measures the noise for the settings not named.
inline constexpr const char kParametersWithChroma[] =
    "c[strength]i[threshold1]i[threshold2]i[chroma]b[auto]b";
// The function that only measures: VelnorEstimate(clip) in AviSynth+,
// velnor.Estimate(clip) in VapourSynth.
inline constexpr const char kEstimateFunctionName[] = "VelnorEstimate";
inline constexpr const char kEstimateParameters[] = "c";

// The frame properties of auto, arrays with one entry per filtered plane in plane
// order (plugin/plane_report.h): the plane, its noise estimate in 8-bit steps and
// its detail (both 0 where it has nothing to measure) and the settings it is
// filtered with. The estimate function attaches the luma's noise and detail alone.
inline constexpr const char kPlanesProperty[] = "VelnorPlanes";
inline constexpr const char kNoiseProperty[] = "VelnorNoise";
inline constexpr const char kDetailProperty[] = "VelnorDetail";
inline constexpr const char kStrengthProperty[] = "VelnorStrength";
inline constexpr const char kThreshold1Property[] = "VelnorThreshold1";
inline constexpr const char kThreshold2Property[] = "VelnorThreshold2";
// The AviSynth 2.5 plug-in's text stays as its first release wrote it: scripts and
// hosts compare it. The AviSynth+ C plug-in names the release it belongs to.
inline constexpr const char kVersionText[] = "Velnor ver 0.1";
inline constexpr const char kAvsPlusVersionText[] = "Velnor ver " VELNOR_VERSION_TEXT;

// Which planes are filtered when the script does not say: luma only.
inline constexpr bool kDefaultChroma = false;  // AviSynth+: chroma
inline constexpr int kDefaultPlanes[] = {0};   // VapourSynth: planes

inline constexpr const char kOutOfMemory[] = "Velnor: out of memory";
inline constexpr const char kParameterRange[] = "Velnor: parameters must be 32-bit integers";
inline constexpr const char kNotWritable[] = "Velnor: frame is not writable";
inline constexpr const char kFrameSize[] = "Velnor: frame size does not match the clip";
inline constexpr const char kMisaligned[] =
    "Velnor: the host gave a plane not aligned to its sample size";
inline constexpr const char kNoSourceFrame[] = "Velnor: the source frame is missing";
inline constexpr const char kHostRefusedFilter[] = "Velnor: the host could not create the filter";
inline constexpr const char kNothingToMeasure[] =
    "Velnor: auto needs frames to measure, and this clip has none; name strength, threshold1 "
    "and threshold2 instead";

// The error for frame `frame` that the source failed to deliver while auto
// measured, with the host's message where it gave one.
inline std::string measure_failure(int64_t frame, const char* host_message) {
    std::string text =
        "Velnor: auto could not measure the noise: the source failed to deliver "
        "frame " +
        std::to_string(frame);
    if (host_message && host_message[0]) text += std::string(" (") + host_message + ")";
    return text + "; check the source, or name strength, threshold1 and threshold2 instead";
}

}  // namespace velnor::plugin
