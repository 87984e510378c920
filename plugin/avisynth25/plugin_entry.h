// The module's entry point and the create callback of the script function Velnor.
#pragma once

#include "core/filter_settings.h"
#include "plugin/avisynth25/host_interface.h"
#include "plugin/script_function.h"

// Called by the host when a script loads the module; registers Velnor. Exported as
// _AvisynthPluginInit2@4.
extern "C" const char* VELNOR_STDCALL AvisynthPluginInit2(velnor::host::IScriptEnvironment* env);

namespace velnor::plugin {

// Turns a script call Velnor(clip, strength, threshold1, threshold2) into a filter
// clip value at `result`. Raises "Velnor: Requires YV12 input" for any other input.
// With VELNOR_TEST_EVENTS set (core/test_events.h), each filter made appends
// "level NAME" to the events file: the vector level its pass runs at, which a test
// host cannot see otherwise.
host::AVSValue* VELNOR_CDECL create_velnor(host::AVSValue* result, host::AVSValue args,
                                           void* user_data, host::IScriptEnvironment* env);

}  // namespace velnor::plugin
