#include "tests/plugin/fake_host.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "tests/test_plane.h"

namespace velnor::test {

using host::AVSValue;
using host::IClip;
using host::IScriptEnvironment;
using host::VideoFrame;
using host::VideoFrameBuffer;
using host::VideoInfo;

namespace {

int32_t atomic_add(int32_t& counter, int32_t delta) {
    return std::atomic_ref<int32_t>(counter).fetch_add(delta) + delta;
}
int32_t atomic_load(int32_t& counter) { return std::atomic_ref<int32_t>(counter).load(); }

constexpr int kGuardBytes = 32;
constexpr int kRowPadding = 13;  // pitch exceeds the width by this, so padding exists

}  // namespace

// --- counting -----------------------------------------------------------------

void add_clip_reference(IClip* clip) { atomic_add(clip->refcount, 1); }

void release_clip(IClip* clip) {
    if (atomic_add(clip->refcount, -1) == 0) clip->vtable->DeletingDestructor(clip, 1);
}

void release_frame(VideoFrame* frame) {
    if (atomic_load(frame->refcount) == 1) atomic_add(frame->vfb->refcount, -1);
    atomic_add(frame->refcount, -1);
}

void release_value(AVSValue& value) {
    if (value.type == host::kValueClip && value.clip) release_clip(value.clip);
    value.type = host::kValueUndefined;
}

// --- frames -------------------------------------------------------------------

VideoFrameBuffer* FramePool::add_buffer(std::size_t size) {
    auto buffer = std::make_unique<Buffer>();
    buffer->bytes.assign(size, kGuardMarker);
    buffer->header.data = buffer->bytes.data();
    buffer->header.data_size = static_cast<int32_t>(size);
    buffer->header.refcount = 1;
    std::lock_guard lock(mutex_);
    buffers_.push_back(std::move(buffer));
    return &buffers_.back()->header;
}

VideoFrame* FramePool::add_frame(const VideoFrame& geometry, VideoFrameBuffer* vfb) {
    auto frame = std::make_unique<VideoFrame>(geometry);
    frame->refcount = 1;
    frame->vfb = vfb;
    std::lock_guard lock(mutex_);
    frames_.push_back(std::move(frame));
    return frames_.back().get();
}

VideoFrame* FramePool::new_frame(int width, int height, uint32_t seed) {
    const int chroma_width = (width + 1) / 2, chroma_height = (height + 1) / 2;
    VideoFrame g{};
    g.pitch = width + kRowPadding;
    g.pitchUV = chroma_width + kRowPadding;
    g.row_size = width;
    g.height = height;
    g.offset = kGuardBytes;
    g.offsetU = g.offset + g.pitch * height;
    g.offsetV = g.offsetU + g.pitchUV * chroma_height;
    const std::size_t size =
        static_cast<std::size_t>(g.offsetV + g.pitchUV * chroma_height + kGuardBytes);
    VideoFrameBuffer* vfb = add_buffer(size);

    std::mt19937 rng(seed);
    TestPlane luma(width, height, width);
    fill_random(luma, rng);
    for (int y = 0; y < height; ++y)
        std::memcpy(vfb->data + g.offset + y * g.pitch, luma.data() + y * width,
                    static_cast<std::size_t>(width));
    std::uniform_int_distribution<int> sample(0, 255);
    for (int plane_offset : {g.offsetU, g.offsetV})
        for (int y = 0; y < chroma_height; ++y)
            for (int x = 0; x < chroma_width; ++x)
                vfb->data[plane_offset + y * g.pitchUV + x] = static_cast<uint8_t>(sample(rng));
    return add_frame(g, vfb);
}

VideoFrame* FramePool::copy_of(const VideoFrame* frame) {
    VideoFrameBuffer* vfb = add_buffer(static_cast<std::size_t>(frame->vfb->data_size));
    std::memcpy(vfb->data, frame->vfb->data, static_cast<std::size_t>(frame->vfb->data_size));
    return add_frame(*frame, vfb);
}

VideoFrame* FramePool::share_buffer(VideoFrame* frame) {
    atomic_add(frame->vfb->refcount, 1);
    return add_frame(*frame, frame->vfb);
}

int64_t FramePool::total_references() const {
    std::lock_guard lock(mutex_);
    int64_t total = 0;
    for (const auto& frame : frames_) total += atomic_load(frame->refcount);
    for (const auto& buffer : buffers_) total += atomic_load(buffer->header.refcount);
    return total;
}

std::vector<uint8_t> buffer_bytes(const VideoFrame* frame) {
    const uint8_t* data = frame->vfb->data;
    return std::vector<uint8_t>(data, data + frame->vfb->data_size);
}

// --- environment --------------------------------------------------------------

namespace {

FakeEnvironment& as_fake(IScriptEnvironment* env) { return *static_cast<FakeEnvironment*>(env); }

void VELNOR_CDECL throw_error(IScriptEnvironment* self, const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    FakeEnvironment& env = as_fake(self);
    env.errors.emplace_back(text);
    if (env.on_error) env.on_error();
    if (!env.error_returns) throw HostError{text};
}

void VELNOR_STDCALL add_function(IScriptEnvironment* self, const char* name, const char* params,
                                 host::ApplyFunc apply, void* user_data) {
    as_fake(self).registrations.push_back({name, params, apply, user_data});
}

bool VELNOR_STDCALL make_writable(IScriptEnvironment* self, VideoFrame** frame) {
    FakeEnvironment& env = as_fake(self);
    VideoFrame* original = *frame;
    if (atomic_load(original->refcount) == 1 && atomic_load(original->vfb->refcount) == 1)
        return false;
    if (env.writable == FakeEnvironment::Writable::leave_shared) return false;
    *frame = env.pool.copy_of(original);
    release_frame(original);
    ++env.copies;
    return true;
}

const host::EnvironmentVtable kEnvironmentVtable = {
    .DeletingDestructor = nullptr,
    .GetCPUFlags = nullptr,
    .SaveString = nullptr,
    .Sprintf = nullptr,
    .VSprintf = nullptr,
    .ThrowError = throw_error,
    .AddFunction = add_function,
    .FunctionExists = nullptr,
    .Invoke = nullptr,
    .GetVar = nullptr,
    .SetVar = nullptr,
    .SetGlobalVar = nullptr,
    .PushContext = nullptr,
    .PopContext = nullptr,
    .NewVideoFrame = nullptr,
    .MakeWritable = make_writable,
    .BitBlt = nullptr,
    .AtExit = nullptr,
    .CheckVersion = nullptr,
};

}  // namespace

FakeEnvironment::FakeEnvironment(FramePool& frame_pool)
    : IScriptEnvironment{&kEnvironmentVtable}, pool(frame_pool) {}

// --- source clip --------------------------------------------------------------

const host::ClipVtable SourceClip::kVtable = {
    SourceClip::GetVersion,         SourceClip::GetFrame,      SourceClip::GetParity,
    SourceClip::GetAudio,           SourceClip::SetCacheHints, SourceClip::GetVideoInfo,
    SourceClip::DeletingDestructor,
};

SourceClip::SourceClip(FramePool& pool, const VideoInfo& info, Sharing how, uint32_t seed,
                       int frame_width, int frame_height)
    : IClip{&kVtable, 1}, vi(info), sharing(how), pool_(pool) {
    const int w = frame_width < 0 ? info.width : frame_width;
    const int h = frame_height < 0 ? info.height : frame_height;
    for (int n = 0; n < info.num_frames; ++n)
        frames_.push_back(pool.new_frame(w, h, seed + static_cast<uint32_t>(n)));
}

static SourceClip& as_source(IClip* clip) { return *static_cast<SourceClip*>(clip); }

VideoFrame** VELNOR_STDCALL SourceClip::GetFrame(IClip* self, VideoFrame** result, int n,
                                                 IScriptEnvironment*) {
    SourceClip& source = as_source(self);
    n = n < 0 ? 0 : n >= source.vi.num_frames ? source.vi.num_frames - 1 : n;
    VideoFrame* own = source.frames_[static_cast<std::size_t>(n)];
    VideoFrame* handed;
    switch (source.sharing) {
        case Sharing::kept:
            atomic_add(own->refcount, 1);
            handed = own;
            break;
        case Sharing::shared_buffer:
            handed = source.pool_.share_buffer(own);
            break;
        case Sharing::none:
            handed = nullptr;
            break;
        default:
            handed = source.pool_.copy_of(own);
    }
    source.last_handed_out = handed;
    *result = handed;
    return result;
}

bool VELNOR_STDCALL SourceClip::GetParity(IClip* self, int n) { return as_source(self).parity(n); }

void VELNOR_STDCALL SourceClip::GetAudio(IClip* self, void* buffer, int64_t start, int64_t count,
                                         IScriptEnvironment* env) {
    as_source(self).audio_calls.push_back({buffer, start, count, env});
}

const VideoInfo* VELNOR_STDCALL SourceClip::GetVideoInfo(IClip* self) {
    return &as_source(self).vi;
}

int VELNOR_STDCALL SourceClip::GetVersion(IClip*) { return host::kInterfaceVersion; }

int VELNOR_STDCALL SourceClip::SetCacheHints(IClip*, int, int) { return 0; }

IClip* VELNOR_THISCALL SourceClip::DeletingDestructor(IClip* self, unsigned) {
    ++as_source(self).destroyed;
    return self;
}

VideoInfo yv12_info(int width, int height, uint32_t pixel_type) {
    VideoInfo vi{};
    vi.width = width;
    vi.height = height;
    vi.fps_numerator = 30000;
    vi.fps_denominator = 1001;
    vi.num_frames = 6;
    vi.pixel_type = static_cast<int32_t>(pixel_type);
    vi.audio_samples_per_second = 48000;
    vi.sample_type = 2;
    vi.num_audio_samples = 6'000'000'000LL;  // above 32 bits
    vi.nchannels = 2;
    vi.image_type = 3;
    return vi;
}

// --- host-side calls ----------------------------------------------------------

VideoFrame* request_frame(IClip* clip, int n, IScriptEnvironment* env) {
    VideoFrame* frame = nullptr;
    VideoFrame** returned = clip->vtable->GetFrame(clip, &frame, n, env);
    if (returned != &frame) {
        std::fprintf(stderr, "GetFrame did not return its result pointer\n");
        std::abort();
    }
    return frame;
}

AVSValue call_create(const FakeEnvironment::Registration& registration, FakeEnvironment& env,
                     const std::vector<AVSValue>& args) {
    // The array holds its own references while the callback runs.
    struct Array {
        std::vector<AVSValue> values;
        ~Array() {
            for (AVSValue& v : values) release_value(v);
        }
    } array{args};
    for (AVSValue& v : array.values)
        if (v.type == host::kValueClip) add_clip_reference(v.clip);

    AVSValue packed{};
    packed.type = host::kValueArray;
    packed.array_size = static_cast<int16_t>(array.values.size());
    packed.array = array.values.data();
    AVSValue result{};
    result.type = 'x';  // not a value: shows whether the callback wrote one
    registration.apply(&result, packed, registration.user_data, &env);
    return result;
}

}  // namespace velnor::test
