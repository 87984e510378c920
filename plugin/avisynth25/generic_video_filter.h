// A one-input filter clip: holds a counted reference to its child and a copy of the
// child's VideoInfo, and answers every clip request by forwarding it to the child or
// from that copy. A filter supplies its own vtable built from these slots, replacing
// the ones it implements itself, and its deleting destructor.
#pragma once

#include "plugin/avisynth25/host_interface.h"

namespace velnor::host {

class GenericVideoFilter : public IClip {
public:
    // Takes a reference to `child` and copies its VideoInfo.
    GenericVideoFilter(const ClipVtable* vtable, IClip* child);
    ~GenericVideoFilter();
    GenericVideoFilter(const GenericVideoFilter&) = delete;
    GenericVideoFilter& operator=(const GenericVideoFilter&) = delete;

    IClip* child() const { return child_; }
    const VideoInfo& vi() const { return vi_; }

    // The default slots.
    static int VELNOR_STDCALL GetVersion(IClip* self);
    static VideoFrame** VELNOR_STDCALL GetFrame(IClip* self, VideoFrame** result, int n,
                                                IScriptEnvironment* env);
    static bool VELNOR_STDCALL GetParity(IClip* self, int n);
    static void VELNOR_STDCALL GetAudio(IClip* self, void* buffer, int64_t start, int64_t count,
                                        IScriptEnvironment* env);
    static int VELNOR_STDCALL SetCacheHints(IClip* self, int hints, int frame_range);
    static const VideoInfo* VELNOR_STDCALL GetVideoInfo(IClip* self);

private:
    IClip* child_;
    VideoInfo vi_;
};

// The deleting destructor slot for objects of type T allocated with new by this
// module: destroys the object, frees it when flags & 1, returns it.
template <class T>
IClip* VELNOR_THISCALL deleting_destructor(IClip* self, unsigned flags) {
    T* object = static_cast<T*>(self);
    if (flags & 1u)
        delete object;
    else
        object->~T();
    return self;
}

}  // namespace velnor::host
