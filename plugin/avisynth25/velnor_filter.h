// The Velnor clip: a one-input filter whose frames have their luma plane denoised
// in place; everything else passes through from the child.
#pragma once

#include <cstdint>

#include "core/denoiser.h"
#include "core/luma_pass.h"
#include "plugin/avisynth25/generic_video_filter.h"
#include "plugin/avisynth25/host_interface.h"

namespace velnor::plugin {

class VelnorFilter : public host::GenericVideoFilter {
public:
    // Takes a reference to `child`, copies its VideoInfo and builds the settings
    // from its width and height and the three parameters. `scratch` supplies each
    // frame's working memory.
    VelnorFilter(host::IClip* child, int32_t strength, int32_t threshold1, int32_t threshold2,
                 const ScratchAllocator& scratch = default_scratch_allocator());

    const FilterSettings& settings() const { return denoiser_.settings(); }
    // The vector level of the pass that filters the frames.
    SimdLevel level() const { return denoiser_.level(); }

    static host::VideoFrame** VELNOR_STDCALL GetFrame(host::IClip* self, host::VideoFrame** result,
                                                      int n, host::IScriptEnvironment* env);

private:
    static const host::ClipVtable kVtable;

    // Denoises the luma plane of a frame this call owns; null on success, otherwise
    // the script error to raise.
    const char* filter_frame(host::VideoFrame* frame) const noexcept;

    Denoiser denoiser_;
    ScratchAllocator scratch_;
};

}  // namespace velnor::plugin
