// The VapourSynth binding: velnor.Velnor(clip, strength, threshold1, threshold2,
// planes, auto) on constant-format, constant-size YUV and GRAY clips of 8- to
// 16-bit integer or 32-bit float samples, and velnor.Estimate(clip), which
// attaches the luma noise estimate to each frame.
#pragma once

#include "core/sample_format.h"
#include "core/version.h"
#include "plugin/export.h"
#include "plugin/vapoursynth/vs_interface.h"

namespace velnor::vs {

inline constexpr const char kPluginIdentifier[] = "io.github.velnor";
inline constexpr const char kPluginNamespace[] = "velnor";
inline constexpr const char kPluginName[] = "Velnor spatial denoiser";
inline constexpr int kPluginVersion = (kVersionMajor << 16) | kVersionMinor;
inline constexpr const char kArguments[] =
    "clip:vnode;strength:int:opt;threshold1:int:opt;threshold2:int:opt;planes:int[]:opt:empty;"
    "auto:int:opt;";
inline constexpr const char kEstimateFunction[] = "Estimate";
inline constexpr const char kEstimateArguments[] = "clip:vnode;";
inline constexpr const char kReturnType[] = "clip:vnode;";

// The error texts for clips of any other format and for a bad plane list.
inline constexpr const char kFormatRefusal[] =
    "Velnor: needs YUV or GRAY video of constant format and size with 8- to 16-bit integer "
    "or 32-bit float samples; convert other formats first, e.g. with "
    "resize.Bicubic(format=vs.YUV444P16, matrix_s=\"709\")";
inline constexpr const char kPlanesRefusal[] =
    "Velnor: planes must list each plane at most once, by index 0, 1 or 2 for YUV and 0 "
    "for GRAY";

// The sample format of the clip formats Velnor filters; an invalid one for any other.
SampleFormat sample_format_of(const VSVideoInfo& vi);

}  // namespace velnor::vs

// The entry point VapourSynth looks up in an API 4 plug-in.
extern "C" VELNOR_EXPORT void VapourSynthPluginInit2(velnor::vs::VSPlugin* plugin,
                                                     const velnor::vs::VSPLUGINAPI* vspapi);
