// The AviSynth+ C-interface binding: the script function Velnor on planar YUV, YUVA
// and greyscale clips of 8 to 16 bits and 32-bit float; luma, and chroma on request;
// auto=true measures the settings. VelnorEstimate attaches the luma noise estimate
// to each frame.
#pragma once

#include "plugin/avisynth_c/avs_c_api.h"
#include "plugin/avisynth_c/avs_c_interface.h"
#include "plugin/avisynth_c/avs_pixel_type.h"
#include "plugin/export.h"

namespace velnor::avsc {

// The error text for clips of any other format.
inline constexpr const char kFormatRefusal[] =
    "Velnor: needs planar YUV 4:2:0, 4:2:2, 4:4:4 or 4:1:1, planar YUVA or greyscale video "
    "(YV12, I420, YV16, YV24, YV411, Y8, YUV420P10 to YUV444P16, YUVA, Y10 to Y16, the float "
    "forms such as YUV420PS and Y32); convert RGB and YUY2 first, e.g. with ConvertToYV12() "
    "or ConvertToYUV444()";
// VelnorEstimate's refusal in a host without frame properties.
inline constexpr const char kNoFrameProperties[] =
    "Velnor: VelnorEstimate needs frame properties, which AviSynth+ has from version 3.6 on; "
    "update AviSynth+, or use Velnor(auto=true), which works without them";
// The version text returned when the host's functions cannot be found.
inline constexpr const char kNoInterface[] =
    "Velnor: the AviSynth+ C interface was not found in this process";

// Registers Velnor with `env`, which then calls the host through a copy of `api`
// until the environment has shut down and its last Velnor clip is freed. Returns
// the version text for the host.
const char* register_velnor(AVS_ScriptEnvironment* env, const AvsApi& api);

}  // namespace velnor::avsc

// The entry points AviSynth+ looks up in a C plug-in, both registering Velnor. The
// host tries the second first; finding it, it hands over script integers beyond
// 32 bits as 64-bit values (which Velnor refuses) instead of their low 32 bits.
extern "C" VELNOR_EXPORT const char* avisynth_c_plugin_init2(
    velnor::avsc::AVS_ScriptEnvironment* env);
extern "C" VELNOR_EXPORT const char* avisynth_c_plugin_init(
    velnor::avsc::AVS_ScriptEnvironment* env);
