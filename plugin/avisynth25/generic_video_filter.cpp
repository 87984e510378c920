#include "plugin/avisynth25/generic_video_filter.h"

#include "plugin/avisynth25/host_references.h"

namespace velnor::host {

namespace {
const GenericVideoFilter& as_filter(IClip* self) { return *static_cast<GenericVideoFilter*>(self); }
}  // namespace

GenericVideoFilter::GenericVideoFilter(const ClipVtable* vtable, IClip* child)
    : IClip{vtable, 0}, child_(child), vi_(*child->vtable->GetVideoInfo(child)) {
    add_ref(child_);
}

GenericVideoFilter::~GenericVideoFilter() { release(child_); }

int VELNOR_STDCALL GenericVideoFilter::GetVersion(IClip*) { return kInterfaceVersion; }

VideoFrame** VELNOR_STDCALL GenericVideoFilter::GetFrame(IClip* self, VideoFrame** result, int n,
                                                         IScriptEnvironment* env) {
    IClip* child = as_filter(self).child_;
    return child->vtable->GetFrame(child, result, n, env);
}

bool VELNOR_STDCALL GenericVideoFilter::GetParity(IClip* self, int n) {
    IClip* child = as_filter(self).child_;
    return child->vtable->GetParity(child, n);
}

void VELNOR_STDCALL GenericVideoFilter::GetAudio(IClip* self, void* buffer, int64_t start,
                                                 int64_t count, IScriptEnvironment* env) {
    IClip* child = as_filter(self).child_;
    child->vtable->GetAudio(child, buffer, start, count, env);
}

int VELNOR_STDCALL GenericVideoFilter::SetCacheHints(IClip*, int, int) { return 0; }

const VideoInfo* VELNOR_STDCALL GenericVideoFilter::GetVideoInfo(IClip* self) {
    return &as_filter(self).vi_;
}

}  // namespace velnor::host
