// The VapourSynth binding: velnor.Velnor(clip, strength, threshold1, threshold2) on
// constant-format 8-bit integer YUV and GRAY8 clips.
#pragma once

#include "core/version.h"
#include "plugin/export.h"
#include "plugin/vapoursynth/vs_interface.h"

namespace velnor::vs {

inline constexpr const char kPluginIdentifier[] = "io.github.velnor";
inline constexpr const char kPluginNamespace[] = "velnor";
inline constexpr const char kPluginName[] = "Velnor luma denoiser";
inline constexpr int kPluginVersion = (kVersionMajor << 16) | kVersionMinor;
inline constexpr const char kArguments[] =
    "clip:vnode;strength:int:opt;threshold1:int:opt;threshold2:int:opt;";
inline constexpr const char kReturnType[] = "clip:vnode;";

// The error text for clips of any other format.
inline constexpr const char kFormatRefusal[] =
    "Velnor: needs constant-format 8-bit integer YUV or GRAY8 video of constant size";

// True for the clip formats Velnor filters.
bool accepts_format(const VSVideoInfo& vi);

}  // namespace velnor::vs

// The entry point VapourSynth looks up in an API 4 plug-in.
extern "C" VELNOR_EXPORT void VapourSynthPluginInit2(velnor::vs::VSPlugin* plugin,
                                                     const velnor::vs::VSPLUGINAPI* vspapi);
