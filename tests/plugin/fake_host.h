// A small stand-in for the host, on the native platform: it owns frames and source
// clips, implements the environment's AddFunction, ThrowError and MakeWritable, and
// follows the same counting rules as the module (plugin/host_references.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "plugin/avisynth25/host_interface.h"

namespace velnor::test {

// What ThrowError raises on this side.
struct HostError {
    std::string message;
};

// Frames and their buffers, kept until the pool goes. Each buffer holds the three
// planes with padding after every row and guard bytes around them.
class FramePool {
public:
    static constexpr uint8_t kGuardMarker = 0x5A;

    // A frame for a YV12 picture of width x height (luma); random content, one
    // reference, its buffer's count 1.
    host::VideoFrame* new_frame(int width, int height, uint32_t seed);
    // An exclusively held copy of `frame` with the same geometry and bytes.
    host::VideoFrame* copy_of(const host::VideoFrame* frame);
    // A second frame over `frame`'s buffer (the buffer's count goes up).
    host::VideoFrame* share_buffer(host::VideoFrame* frame);

    // Sum of every frame's and buffer's count: equal before and after any balanced
    // sequence of requests.
    int64_t total_references() const;

private:
    struct Buffer {
        host::VideoFrameBuffer header{};
        std::vector<uint8_t> bytes;
    };
    host::VideoFrame* add_frame(const host::VideoFrame& geometry, host::VideoFrameBuffer* vfb);
    host::VideoFrameBuffer* add_buffer(std::size_t size);

    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<Buffer>> buffers_;
    std::vector<std::unique_ptr<host::VideoFrame>> frames_;
};

// The buffer bytes of a frame (all planes, padding and guards).
std::vector<uint8_t> buffer_bytes(const host::VideoFrame* frame);

class FakeEnvironment : public host::IScriptEnvironment {
public:
    enum class Writable {
        copy_when_shared,  // as a host: a shared frame is replaced by a copy
        leave_shared,      // a faulty host that leaves shared frames as they are
    };

    explicit FakeEnvironment(FramePool& pool);

    struct Registration {
        std::string name;
        std::string params;
        host::ApplyFunc apply;
        void* user_data;
    };

    FramePool& pool;
    Writable writable = Writable::copy_when_shared;
    // When set, ThrowError records the message and returns instead of raising.
    bool error_returns = false;
    // Runs inside ThrowError before it raises, to look at the state at that moment.
    std::function<void()> on_error;

    std::vector<Registration> registrations;
    std::vector<std::string> errors;
    std::atomic<int> copies{0};
};

// A source clip with prepared frames. Its deleting destructor only counts calls:
// the test owns the object.
class SourceClip : public host::IClip {
public:
    enum class Sharing {
        kept,           // the source keeps its own reference to each frame it hands out
        shared_buffer,  // hands out a second frame over its frame's buffer
        exclusive,      // hands out a fresh copy that nobody else holds
        none,           // a faulty source that hands out no frame at all
    };

    SourceClip(FramePool& pool, const host::VideoInfo& vi, Sharing sharing, uint32_t seed,
               int frame_width = -1, int frame_height = -1);

    // The source's own frame n, content as prepared.
    const host::VideoFrame* frame(int n) const { return frames_.at(static_cast<std::size_t>(n)); }
    bool parity(int n) const { return n % 3 == 1; }

    struct AudioCall {
        void* buffer;
        int64_t start;
        int64_t count;
        host::IScriptEnvironment* env;
    };
    std::vector<AudioCall> audio_calls;
    std::atomic<int> destroyed{0};
    std::atomic<host::VideoFrame*> last_handed_out{nullptr};

    const host::VideoInfo vi;
    const Sharing sharing;

private:
    static const host::ClipVtable kVtable;
    static host::VideoFrame** VELNOR_STDCALL GetFrame(host::IClip* self, host::VideoFrame** result,
                                                      int n, host::IScriptEnvironment* env);
    static bool VELNOR_STDCALL GetParity(host::IClip* self, int n);
    static void VELNOR_STDCALL GetAudio(host::IClip* self, void* buffer, int64_t start,
                                        int64_t count, host::IScriptEnvironment* env);
    static const host::VideoInfo* VELNOR_STDCALL GetVideoInfo(host::IClip* self);
    static int VELNOR_STDCALL GetVersion(host::IClip* self);
    static int VELNOR_STDCALL SetCacheHints(host::IClip* self, int hints, int range);
    static host::IClip* VELNOR_THISCALL DeletingDestructor(host::IClip* self, unsigned flags);

    FramePool& pool_;
    std::vector<host::VideoFrame*> frames_;
};

host::VideoInfo yv12_info(int width, int height, uint32_t pixel_type = host::kPixelTypeYV12);

// The host's own counting, written independently of the module's.
void add_clip_reference(host::IClip* clip);
void release_clip(host::IClip* clip);
void release_frame(host::VideoFrame* frame);
// Ends a value the host holds (a clip value gives up its reference).
void release_value(host::AVSValue& value);

// Requests frame n through the clip's vtable, as a host does. Aborts if the clip
// does not hand back the result pointer it was given.
host::VideoFrame* request_frame(host::IClip* clip, int n, host::IScriptEnvironment* env);

// Calls the create callback with the argument array (copies of `args` that hold
// their own references for the call, as a host's array does) and returns the
// result. A HostError from ThrowError passes through, after the array is released.
host::AVSValue call_create(const FakeEnvironment::Registration& registration, FakeEnvironment& env,
                           const std::vector<host::AVSValue>& args);

}  // namespace velnor::test
