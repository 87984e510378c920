// The script function every host binding registers: its name, its AviSynth
// parameter string and the version text the AviSynth plug-ins report.
#pragma once

namespace velnor::plugin {

inline constexpr const char kFunctionName[] = "Velnor";
inline constexpr const char kParameters[] = "c[strength]i[threshold1]i[threshold2]i";
inline constexpr const char kVersionText[] = "Velnor ver 0.1";

}  // namespace velnor::plugin
