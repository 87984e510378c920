// The AviSynth+ C-interface binding: the script function Velnor on 8-bit planar
// YUV and Y8 clips.
#pragma once

#include "plugin/avisynth_c/avs_c_api.h"
#include "plugin/avisynth_c/avs_c_interface.h"
#include "plugin/export.h"

namespace velnor::avsc {

// The error text for clips of any other format.
inline constexpr const char kFormatRefusal[] =
    "Velnor: needs 8-bit planar YUV (YV12, I420, YV16, YV24, YV411) or Y8 video";
// The version text returned when the host's functions cannot be found.
inline constexpr const char kNoInterface[] =
    "Velnor: the AviSynth+ C interface was not found in this process";

// True for the pixel types Velnor filters (of a clip that has video).
bool accepts_format(const AVS_VideoInfo& vi);

// Registers Velnor with `env`, which then calls the host through a copy of `api`
// until the environment has shut down and its last Velnor clip is freed. Returns
// the version text for the host.
const char* register_velnor(AVS_ScriptEnvironment* env, const AvsApi& api);

}  // namespace velnor::avsc

// The entry point AviSynth+ looks up in a C plug-in.
extern "C" VELNOR_EXPORT const char* avisynth_c_plugin_init(
    velnor::avsc::AVS_ScriptEnvironment* env);
