// The script function every host binding registers: its name, its AviSynth
// parameter strings, the version text the AviSynth plug-ins report, the defaults of
// the 64-bit bindings' plane choices, and the errors they share.
#pragma once

#include "core/version.h"

namespace velnor::plugin {

inline constexpr const char kFunctionName[] = "Velnor";
// The 2.5 plug-in's parameters (8-bit luma only).
inline constexpr const char kParameters[] = "c[strength]i[threshold1]i[threshold2]i";
// The AviSynth+ C plug-in's: chroma=true filters U and V as well.
inline constexpr const char kParametersWithChroma[] =
    "c[strength]i[threshold1]i[threshold2]i[chroma]b";
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

}  // namespace velnor::plugin
