// The host's script environment: records what the plug-in registers, raises script
// errors as C++ exceptions, and owns every frame and buffer it hands out.
#pragma once

#include "tests/msvc_host/avs_interface.h"
#include "tests/msvc_host/frame_layout.h"

// A buffer with the host's own bookkeeping behind the shared fields.
struct StoredBuffer {
    VideoFrameBuffer buffer;  // first, so a VideoFrameBuffer* leads back here
    BufferOrigin origin;
    FrameLayout layout;
};

struct Registration {
    int calls = 0;
    char name[64] = {};
    char params[128] = {};
    IScriptEnvironment::ApplyFunc apply = nullptr;
    void* user_data = nullptr;
};

class HostEnvironment : public IScriptEnvironment {
public:
    HostEnvironment();
    ~HostEnvironment() override;

    long __stdcall GetCPUFlags() override;
    char* __stdcall SaveString(const char* s, int length = -1) override;
    char* __stdcall Sprintf(const char* format, ...) override;
    char* __stdcall VSprintf(const char* format, va_list args) override;
    [[noreturn]] void __stdcall ThrowError(const char* format, ...) override;
    void __stdcall AddFunction(const char* name, const char* params, ApplyFunc apply,
                               void* user_data) override;
    bool __stdcall FunctionExists(const char* name) override;
    AVSValue __stdcall Invoke(const char* name, const AVSValue args,
                              const char** arg_names = nullptr) override;
    AVSValue __stdcall GetVar(const char* name) override;
    bool __stdcall SetVar(const char* name, const AVSValue& value) override;
    bool __stdcall SetGlobalVar(const char* name, const AVSValue& value) override;
    void __stdcall PushContext(int level = 0) override;
    void __stdcall PopContext() override;
    PVideoFrame __stdcall NewVideoFrame(const VideoInfo& vi, int align = 16) override;
    bool __stdcall MakeWritable(PVideoFrame* pvf) override;
    void __stdcall BitBlt(BYTE* dstp, int dst_pitch, const BYTE* srcp, int src_pitch, int row_size,
                          int height) override;
    void __stdcall AtExit(ShutdownFunc function, void* user_data) override;
    void __stdcall CheckVersion(int version = 2) override;

    // A new buffer of layout.data_size bytes (contents to be filled by the caller)
    // with one frame on it; the buffer's sequence number starts at `sequence`.
    PVideoFrame NewFrame(const FrameLayout& layout, BufferOrigin origin, long sequence);
    // Another frame on an existing buffer, as a host makes for a shared buffer.
    PVideoFrame NewView(VideoFrameBuffer* buffer);
    static StoredBuffer* Stored(VideoFrameBuffer* buffer) {
        return reinterpret_cast<StoredBuffer*>(buffer);
    }

    // Counts the frames and buffers whose reference count is not 0 (each should be 0
    // once every holder let go), then frees them all.
    void ReleaseFrames(int* live_frames, int* live_buffers);

    const Registration& registration() const { return registration_; }
    long make_writable_calls() const { return make_writable_calls_; }
    long writable_copies() const { return writable_copies_; }
    long errors_thrown() const { return errors_thrown_; }
    long unexpected_calls() const { return unexpected_calls_; }
    const char* last_unexpected_call() const { return last_unexpected_; }

private:
    void Unexpected(const char* what);
    template <class T>
    void Append(T**& items, int& count, int& capacity, T* item);

    CRITICAL_SECTION lock_;
    Registration registration_;
    volatile long make_writable_calls_ = 0;
    volatile long writable_copies_ = 0;
    volatile long errors_thrown_ = 0;
    volatile long unexpected_calls_ = 0;
    const char* last_unexpected_ = "";

    VideoFrame** frames_ = nullptr;
    int frame_count_ = 0, frame_capacity_ = 0;
    StoredBuffer** buffers_ = nullptr;
    int buffer_count_ = 0, buffer_capacity_ = 0;
    char** strings_ = nullptr;
    int string_count_ = 0, string_capacity_ = 0;
};
