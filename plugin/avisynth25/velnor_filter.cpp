#include "plugin/avisynth25/velnor_filter.h"

#include "plugin/avisynth25/host_references.h"

namespace velnor::plugin {

using host::IClip;
using host::IScriptEnvironment;
using host::VideoFrame;

const host::ClipVtable VelnorFilter::kVtable = {
    GenericVideoFilter::GetVersion,          VelnorFilter::GetFrame,
    GenericVideoFilter::GetParity,           GenericVideoFilter::GetAudio,
    GenericVideoFilter::SetCacheHints,       GenericVideoFilter::GetVideoInfo,
    host::deleting_destructor<VelnorFilter>,
};

VelnorFilter::VelnorFilter(IClip* child, int32_t strength, int32_t threshold1, int32_t threshold2,
                           const ScratchAllocator& scratch)
    : GenericVideoFilter(&kVtable, child),
      denoiser_(FilterSettings(vi().width, vi().height, strength, threshold1, threshold2)),
      scratch_(scratch) {}

// The child's GetFrame, MakeWritable and ThrowError may raise the host's exception,
// which unwinds through this function without running destructors. So the frame
// reference is held as a plain pointer and released by hand before raising an
// error of our own. (An error inside MakeWritable itself leaves that one reference
// behind; nothing here can intercept the host's exception.) Should ThrowError
// return, the child's frame goes on unfiltered: a null frame would crash the next
// filter in the chain.
VideoFrame** VELNOR_STDCALL VelnorFilter::GetFrame(IClip* self, VideoFrame** result, int n,
                                                   IScriptEnvironment* env) {
    const VelnorFilter& filter = *static_cast<VelnorFilter*>(self);
    IClip* child = filter.child();
    VideoFrame* frame = nullptr;
    child->vtable->GetFrame(child, &frame, n, env);
    if (!frame) {
        env->vtable->ThrowError(env, "Velnor: the source clip returned no frame");
        *result = nullptr;  // nothing to pass on
        return result;
    }
    env->vtable->MakeWritable(env, &frame);
    if (const char* error = filter.filter_frame(frame)) {
        if (frame) host::release(frame);
        env->vtable->ThrowError(env, error);
        frame = nullptr;
        child->vtable->GetFrame(child, &frame, n, env);
    }
    *result = frame;
    return result;
}

const char* VelnorFilter::filter_frame(VideoFrame* frame) const noexcept {
    if (!frame) return "Velnor: frame is not writable";
    // The pass writes width x height samples, so a frame smaller than the clip says
    // (a faulty source) is refused rather than overrun.
    const FilterSettings& s = settings();
    if (frame->row_size < s.width || frame->height < s.height || frame->pitch < s.width)
        return "Velnor: frame is smaller than the clip";
    uint8_t* luma = host::luma_write_ptr(frame);
    if (!luma) return "Velnor: frame is not writable";
    try {
        if (denoiser_.filter(luma, frame->pitch, scratch_) == PassStatus::ok) return nullptr;
    } catch (...) {
    }
    return "Velnor: out of memory";
}

}  // namespace velnor::plugin
