// The host's inline rules for counted references and frame write access. Both
// sides of the interface apply them to the same memory, so they must be followed
// exactly (interlocked increments and decrements on 32-bit counters).
#pragma once

#include <cstdint>

#include "plugin/avisynth25/host_interface.h"

namespace velnor::host {

// The counters are plain 32-bit fields of the host's structures, so they are
// updated with the compiler's atomic operations on that memory (sequentially
// consistent, as the host's interlocked calls are).
namespace detail {
inline int32_t atomic_add(int32_t& counter, int32_t delta) {
    return __atomic_add_fetch(&counter, delta, __ATOMIC_SEQ_CST);
}
inline int32_t atomic_load(int32_t& counter) { return __atomic_load_n(&counter, __ATOMIC_SEQ_CST); }
}  // namespace detail

inline void add_ref(IClip* clip) { detail::atomic_add(clip->refcount, 1); }

// Destroys the clip through its deleting destructor when the last reference goes.
inline void release(IClip* clip) {
    if (detail::atomic_add(clip->refcount, -1) == 0) clip->vtable->DeletingDestructor(clip, 1);
}

inline void add_ref(VideoFrame* frame) { detail::atomic_add(frame->refcount, 1); }

// The last reference to a frame also gives up the frame's share of its buffer. The
// host recycles frames; they are never freed here.
inline void release(VideoFrame* frame) {
    if (detail::atomic_load(frame->refcount) == 1) detail::atomic_add(frame->vfb->refcount, -1);
    detail::atomic_add(frame->refcount, -1);
}

// The luma plane's write address, or null when the frame or its buffer is shared.
// Taking it marks the buffer's content as changed.
inline uint8_t* luma_write_ptr(VideoFrame* frame) {
    if (detail::atomic_load(frame->refcount) != 1 || detail::atomic_load(frame->vfb->refcount) != 1)
        return nullptr;
    ++frame->vfb->sequence_number;
    return frame->vfb->data + frame->offset;
}

// A clip value owns one reference to its clip.
inline AVSValue clip_value(IClip* clip) {
    add_ref(clip);
    AVSValue value{};
    value.type = kValueClip;
    value.clip = clip;
    return value;
}

inline AVSValue int_value(int32_t integer) {
    AVSValue value{};
    value.type = kValueInt;
    value.integer = integer;
    return value;
}

// Ends the life of a value this side owns; only a clip value holds anything.
inline void destroy_value(AVSValue& value) {
    if (value.type == kValueClip && value.clip) release(value.clip);
    value.type = kValueUndefined;
}

}  // namespace velnor::host
