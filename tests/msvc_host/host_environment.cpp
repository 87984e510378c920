#include "tests/msvc_host/host_environment.h"

#include "tests/msvc_host/check.h"

namespace {

// The locks this host takes never outlive one statement's worth of work.
class Locked {
public:
    explicit Locked(CRITICAL_SECTION& section) : section_(section) {
        EnterCriticalSection(&section_);
    }
    ~Locked() { LeaveCriticalSection(&section_); }

private:
    CRITICAL_SECTION& section_;
};

void copy_string(char* dst, int size, const char* src) {
    if (!src) src = "(null)";
    format_text(dst, size, "%s", src);
}

}  // namespace

HostEnvironment::HostEnvironment() { InitializeCriticalSection(&lock_); }

HostEnvironment::~HostEnvironment() {
    int frames = 0, buffers = 0;
    ReleaseFrames(&frames, &buffers);
    for (int i = 0; i < string_count_; ++i) free(strings_[i]);
    free(strings_);
    free(frames_);
    free(buffers_);
    DeleteCriticalSection(&lock_);
}

template <class T>
void HostEnvironment::Append(T**& items, int& count, int& capacity, T* item) {
    if (count == capacity) {
        capacity = capacity ? capacity * 2 : 64;
        T** bigger = static_cast<T**>(malloc(sizeof(T*) * capacity));
        if (count) memcpy(bigger, items, sizeof(T*) * count);
        free(items);
        items = bigger;
    }
    items[count++] = item;
}

void HostEnvironment::Unexpected(const char* what) {
    _InterlockedIncrement(&unexpected_calls_);
    last_unexpected_ = what;
}

long __stdcall HostEnvironment::GetCPUFlags() {
    Unexpected("GetCPUFlags");
    return 0;
}

char* __stdcall HostEnvironment::SaveString(const char* s, int length) {
    if (length < 0) length = static_cast<int>(strlen(s));
    char* copy = static_cast<char*>(malloc(length + 1));
    memcpy(copy, s, length);
    copy[length] = '\0';
    Locked hold(lock_);
    Append(strings_, string_count_, string_capacity_, copy);
    return copy;
}

char* __stdcall HostEnvironment::VSprintf(const char* format, va_list args) {
    char text[1024];
    _vsnprintf(text, sizeof text - 1, format, args);
    text[sizeof text - 1] = '\0';
    return SaveString(text);
}

char* __stdcall HostEnvironment::Sprintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    char* text = VSprintf(format, args);
    va_end(args);
    return text;
}

void __stdcall HostEnvironment::ThrowError(const char* format, ...) {
    va_list args;
    va_start(args, format);
    char* text = VSprintf(format, args);
    va_end(args);
    _InterlockedIncrement(&errors_thrown_);
    throw AvisynthError{text};
}

void __stdcall HostEnvironment::AddFunction(const char* name, const char* params, ApplyFunc apply,
                                            void* user_data) {
    ++registration_.calls;
    copy_string(registration_.name, sizeof registration_.name, name);
    copy_string(registration_.params, sizeof registration_.params, params);
    registration_.apply = apply;
    registration_.user_data = user_data;
}

bool __stdcall HostEnvironment::FunctionExists(const char*) {
    Unexpected("FunctionExists");
    return false;
}

AVSValue __stdcall HostEnvironment::Invoke(const char*, const AVSValue, const char**) {
    Unexpected("Invoke");
    return AVSValue();
}

AVSValue __stdcall HostEnvironment::GetVar(const char*) {
    Unexpected("GetVar");
    return AVSValue();
}

bool __stdcall HostEnvironment::SetVar(const char*, const AVSValue&) {
    Unexpected("SetVar");
    return false;
}

bool __stdcall HostEnvironment::SetGlobalVar(const char*, const AVSValue&) {
    Unexpected("SetGlobalVar");
    return false;
}

void __stdcall HostEnvironment::PushContext(int) { Unexpected("PushContext"); }
void __stdcall HostEnvironment::PopContext() { Unexpected("PopContext"); }

PVideoFrame __stdcall HostEnvironment::NewVideoFrame(const VideoInfo&, int) {
    Unexpected("NewVideoFrame");
    return PVideoFrame();
}

bool __stdcall HostEnvironment::MakeWritable(PVideoFrame* pvf) {
    _InterlockedIncrement(&make_writable_calls_);
    const VideoFrame* frame = pvf->get();
    if (frame->IsWritable()) return false;

    const FrameLayout& from = Stored(frame->vfb)->layout;
    const FrameLayout layout = copy_layout(from);
    PVideoFrame copy = NewFrame(layout, kWritableCopy, 5000);
    BYTE* dst = copy->vfb->data;
    const BYTE* src = frame->vfb->data;
    memset(dst, kCopyGuard, layout.data_size);
    BitBlt(dst + layout.offset, layout.pitch, src + frame->offset, frame->pitch, frame->row_size,
           frame->height);
    BitBlt(dst + layout.offsetU, layout.pitchUV, src + frame->offsetU, frame->pitchUV,
           from.chroma_row_size, from.chroma_height);
    BitBlt(dst + layout.offsetV, layout.pitchUV, src + frame->offsetV, frame->pitchUV,
           from.chroma_row_size, from.chroma_height);
    *pvf = copy;
    _InterlockedIncrement(&writable_copies_);
    return true;
}

void __stdcall HostEnvironment::BitBlt(BYTE* dstp, int dst_pitch, const BYTE* srcp, int src_pitch,
                                       int row_size, int height) {
    for (int y = 0; y < height; ++y) memcpy(dstp + y * dst_pitch, srcp + y * src_pitch, row_size);
}

void __stdcall HostEnvironment::AtExit(ShutdownFunc, void*) { Unexpected("AtExit"); }
void __stdcall HostEnvironment::CheckVersion(int) { Unexpected("CheckVersion"); }

PVideoFrame HostEnvironment::NewFrame(const FrameLayout& layout, BufferOrigin origin,
                                      long sequence) {
    StoredBuffer* stored = new StoredBuffer;
    stored->buffer.data = static_cast<BYTE*>(malloc(layout.data_size));
    stored->buffer.data_size = layout.data_size;
    stored->buffer.sequence_number = sequence;
    stored->buffer.refcount = 0;
    stored->origin = origin;
    stored->layout = layout;
    {
        Locked hold(lock_);
        Append(buffers_, buffer_count_, buffer_capacity_, stored);
    }
    return NewView(&stored->buffer);
}

PVideoFrame HostEnvironment::NewView(VideoFrameBuffer* buffer) {
    const FrameLayout& l = Stored(buffer)->layout;
    VideoFrame* frame = new VideoFrame(buffer, l.offset, l.pitch, l.row_size, l.height, l.offsetU,
                                       l.offsetV, l.pitchUV);
    {
        Locked hold(lock_);
        Append(frames_, frame_count_, frame_capacity_, frame);
    }
    return PVideoFrame(frame);
}

void HostEnvironment::ReleaseFrames(int* live_frames, int* live_buffers) {
    Locked hold(lock_);
    *live_frames = 0;
    *live_buffers = 0;
    for (int i = 0; i < frame_count_; ++i) {
        if (frames_[i]->refcount != 0) ++*live_frames;
        delete frames_[i];
    }
    for (int i = 0; i < buffer_count_; ++i) {
        if (buffers_[i]->buffer.refcount != 0) ++*live_buffers;
        free(buffers_[i]->buffer.data);
        delete buffers_[i];
    }
    frame_count_ = 0;
    buffer_count_ = 0;
}
