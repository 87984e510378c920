// The module's entry point and the create callback of the script function Velnor.
#pragma once

#include "core/filter_settings.h"
#include "plugin/host_interface.h"

// Called by the host when a script loads the module; registers Velnor. Exported as
// _AvisynthPluginInit2@4.
extern "C" const char* VELNOR_STDCALL AvisynthPluginInit2(velnor::host::IScriptEnvironment* env);

namespace velnor::plugin {

inline constexpr const char kFunctionName[] = "Velnor";
inline constexpr const char kParameters[] = "c[strength]i[threshold1]i[threshold2]i";
inline constexpr const char kVersionText[] = "Velnor ver 0.1";

// Turns a script call Velnor(clip, strength, threshold1, threshold2) into a filter
// clip value at `result`. Raises "Velnor: Requires YV12 input" for any other input.
host::AVSValue* VELNOR_CDECL create_velnor(host::AVSValue* result, host::AVSValue args,
                                           void* user_data, host::IScriptEnvironment* env);

}  // namespace velnor::plugin
