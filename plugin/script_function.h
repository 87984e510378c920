// The script function every host binding registers: its name, its AviSynth
// parameter string, the version text the AviSynth plug-ins report, and the errors
// the 64-bit bindings share.
#pragma once

#include "core/version.h"

namespace velnor::plugin {

inline constexpr const char kFunctionName[] = "Velnor";
inline constexpr const char kParameters[] = "c[strength]i[threshold1]i[threshold2]i";
// The AviSynth 2.5 plug-in's text stays as its first release wrote it: scripts and
// hosts compare it. The AviSynth+ C plug-in names the release it belongs to.
inline constexpr const char kVersionText[] = "Velnor ver 0.1";
inline constexpr const char kAvsPlusVersionText[] = "Velnor ver " VELNOR_VERSION_TEXT;

inline constexpr const char kOutOfMemory[] = "Velnor: out of memory";
inline constexpr const char kParameterRange[] = "Velnor: parameters must be 32-bit integers";
inline constexpr const char kNotWritable[] = "Velnor: frame is not writable";
inline constexpr const char kFrameSize[] = "Velnor: frame size does not match the clip";
inline constexpr const char kNoSourceFrame[] = "Velnor: the source frame is missing";
inline constexpr const char kHostRefusedFilter[] = "Velnor: the host could not create the filter";

}  // namespace velnor::plugin
