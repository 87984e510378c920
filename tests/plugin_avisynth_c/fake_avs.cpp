#include "tests/plugin_avisynth_c/fake_avs.h"

#include <cstring>
#include <random>

#include "tests/sample_reference.h"

namespace velnor::avsc {

std::atomic<int> FakeAvs::live_frames{0};

namespace {

// Padding of every plane row, filled with test::kPaddingMarker.
constexpr int kPadding = 13;

AVS_VideoFrame* new_frame() {
    ++FakeAvs::live_frames;
    return new AVS_VideoFrame;
}

void release_frame(AVS_VideoFrame* frame) {
    if (--frame->refs == 0) {
        delete frame;
        --FakeAvs::live_frames;
    }
}

int plane_index(int plane) {
    return plane == AVS_PLANAR_U ? 1 : plane == AVS_PLANAR_V ? 2 : plane == AVS_PLANAR_A ? 3 : 0;
}

// --- The host's functions --------------------------------------------------------

int add_function(AVS_ScriptEnvironment* env, const char* name, const char* params,
                 AVS_ApplyFunc apply, void* user_data) {
    env->host->registrations.push_back({name, params, apply, user_data});
    return 0;
}

void at_exit(AVS_ScriptEnvironment* env, AVS_ShutdownFunc function, void* user_data) {
    env->host->exit_handlers.push_back({function, user_data});
}

const char* get_error(AVS_ScriptEnvironment* env) { return env->error; }

AVS_Clip* new_c_filter(AVS_ScriptEnvironment* env, AVS_FilterInfo** fi, AVS_Value child,
                       int store_child) {
    if (child.type != kValueClip || !store_child) return nullptr;
    FilterClip* clip = new FilterClip(env, static_cast<FakeClip*>(child.d.clip));
    *fi = &clip->fi;
    return new AVS_Clip{clip};
}

void set_to_clip(AVS_Value* value, AVS_Clip* clip) {
    clip->clip->add_ref();
    *value = AVS_Value{};
    value->type = kValueClip;
    value->d.clip = clip->clip;
}

void release_clip(AVS_Clip* clip) {
    clip->clip->release();
    delete clip;
}

AVS_VideoFrame* get_frame(AVS_Clip* clip, int n) {
    AVS_VideoFrame* frame = clip->clip->get_frame(n);
    clip->error = frame ? "" : "source: frame " + std::to_string(n) + " is unreadable";
    return frame;
}

const char* clip_get_error(AVS_Clip* clip) {
    return clip->error.empty() ? nullptr : clip->error.c_str();
}

char* save_string(AVS_ScriptEnvironment* env, const char* s, int length) {
    std::vector<std::string>& saved = env->host->saved_strings;
    saved.emplace_back(s, static_cast<std::size_t>(length));
    return saved.back().data();
}

AVS_Map* get_frame_props_rw(AVS_ScriptEnvironment*, AVS_VideoFrame* frame) {
    return frame->refs == 1 ? &frame->props : nullptr;
}

// Replaces the key's entries or appends one; any other mode is refused.
int prop_set(AVS_Map* map, const char* key, double value, int append) {
    if (append != kPropReplace && append != kPropAppend) return 1;
    std::vector<double>& entries = map->values[key];
    if (append == kPropReplace) entries.clear();
    entries.push_back(value);
    return 0;
}

int prop_set_int(AVS_ScriptEnvironment*, AVS_Map* map, const char* key, int64_t i, int append) {
    return prop_set(map, key, static_cast<double>(i), append);
}

int prop_set_float(AVS_ScriptEnvironment*, AVS_Map* map, const char* key, double d, int append) {
    return prop_set(map, key, d, append);
}

int make_writable(AVS_ScriptEnvironment* env, AVS_VideoFrame** frame) {
    env->error = nullptr;
    if (env->host->make_writable_fails) {
        env->error = "host: MakeWritable failed";
        return -1;
    }
    if ((*frame)->refs == 1) return 0;
    AVS_VideoFrame* copy = new_frame();
    for (int p = 0; p < 4; ++p) copy->planes[p] = (*frame)->planes[p];
    copy->props = (*frame)->props;
    release_frame(*frame);
    *frame = copy;
    return 1;
}

uint8_t* get_write_ptr_p(const AVS_VideoFrame* frame, int plane) {
    if (frame->refs != 1) return nullptr;
    return const_cast<AVS_VideoFrame*>(frame)->planes[plane_index(plane)].data();
}

int get_pitch_p(const AVS_VideoFrame* frame, int plane) {
    return static_cast<int>(frame->planes[plane_index(plane)].pitch);
}
int get_row_size_p(const AVS_VideoFrame* frame, int plane) {
    return frame->planes[plane_index(plane)].width;
}
int get_height_p(const AVS_VideoFrame* frame, int plane) {
    return frame->planes[plane_index(plane)].height;
}
const uint8_t* get_read_ptr_p(const AVS_VideoFrame* frame, int plane) {
    return frame->planes[plane_index(plane)].bytes.data();
}

}  // namespace

const AvsApi FakeAvs::kApi = {
    add_function,       at_exit,         get_error,      new_c_filter,
    set_to_clip,        release_clip,    get_frame,      release_frame,
    make_writable,      get_write_ptr_p, get_pitch_p,    get_row_size_p,
    get_height_p,       get_read_ptr_p,  clip_get_error, save_string,
    get_frame_props_rw, prop_set_int,    prop_set_float,
};

const AvsApi FakeAvs::kApiWithoutProperties = [] {
    AvsApi api = kApi;
    api.get_frame_props_rw = nullptr;
    api.prop_set_int = nullptr;
    api.prop_set_float = nullptr;
    return api;
}();

FakeAvs::FakeAvs() = default;
FakeAvs::~FakeAvs() { shut_down(); }

void FakeAvs::shut_down() {
    for (const auto& [function, user_data] : exit_handlers) function(user_data, &env);
    exit_handlers.clear();
}

AVS_Value FakeAvs::call_estimate(FakeClip* clip) {
    AVS_Value arg{};
    arg.type = kValueClip;
    arg.d.clip = clip;
    AVS_Value array{};
    array.type = kValueArray;
    array.array_size = 1;
    array.d.array = &arg;
    const Registration& estimate = registrations.at(1);
    return estimate.apply(&env, array, estimate.user_data);
}

AVS_Value FakeAvs::call_velnor(FakeClip* clip, const std::vector<Arg>& params) {
    constexpr int kArgs = 6;  // clip, strength, threshold1, threshold2, chroma, auto
    AVS_Value args[kArgs] = {};
    args[0].type = kValueClip;
    args[0].d.clip = clip;
    for (int i = 1; i < kArgs; ++i) {
        args[i].type = kValueVoid;
        if (i - 1 < static_cast<int>(params.size()) && params[i - 1].present) {
            args[i].type = params[i - 1].type;
            if (params[i - 1].type == kValueLong)
                args[i].d.longlong = params[i - 1].value;
            else if (params[i - 1].type == kValueBool)
                args[i].d.boolean = static_cast<char>(params[i - 1].value);
            else
                args[i].d.integer = static_cast<int>(params[i - 1].value);
        }
    }
    AVS_Value array{};
    array.type = kValueArray;
    array.array_size = kArgs;
    array.d.array = args;
    const Registration& velnor = registrations.at(0);
    return velnor.apply(&env, array, velnor.user_data);
}

void FakeAvs::release_value(const AVS_Value& value) {
    if (value.type == kValueClip) static_cast<FakeClip*>(value.d.clip)->release();
}

// --- Clips ------------------------------------------------------------------------

SourceClip::SourceClip(const AVS_VideoInfo& vi, int frame_shrink)
    : FakeClip(vi), frame_shrink_(frame_shrink) {}

SourceClip::~SourceClip() {
    for (auto& [n, frame] : frames_) release_frame(frame);
}

const AVS_VideoFrame& SourceClip::original(int n) {
    AVS_VideoFrame* frame = get_frame(n);
    release_frame(frame);
    return *frame;  // still held by the source
}

AVS_VideoFrame* SourceClip::get_frame(int n) {
    ++requests;
    if (n == failing) return nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    AVS_VideoFrame*& frame = frames_[n];
    if (!frame) {
        PlanarLayout layout{};
        planar_layout(vi.pixel_type, &layout);
        frame = new_frame();
        std::mt19937 rng(static_cast<uint32_t>(1000 + n));
        const int height = vi.height - frame_shrink_;
        const int bytes = layout.sample.bytes();
        auto plane = [&](int width, int rows) {
            return test::TestPlane(width * bytes, rows, (width + kPadding) * bytes);
        };
        frame->planes[0] = plane(vi.width, height);
        if (layout.chroma) {
            const int cw = vi.width >> layout.shift_w, ch = height >> layout.shift_h;
            frame->planes[1] = plane(cw, ch);
            frame->planes[2] = plane(cw, ch);
        }
        if (layout.alpha) frame->planes[3] = plane(vi.width, height);
        for (test::TestPlane& p : frame->planes)
            test::fill_samples(p.data(), p.pitch, p.width / bytes, p.height, layout.sample, rng);
        const int levels[3] = {luma, chroma[0], chroma[1]};
        const int noise[3] = {luma_noise, chroma_noise[0], chroma_noise[1]};
        for (int p = 0; p < (layout.chroma ? 3 : 1); ++p) {
            test::TestPlane& plane = frame->planes[p];
            if (levels[p] >= 0)
                test::fill_level(plane.data(), plane.pitch, plane.width / bytes, plane.height,
                                 layout.sample, levels[p], noise[p], rng, p ? -0.5f : 0.0f);
        }
    }
    ++frame->refs;
    return frame;
}

void SourceClip::get_audio(void* buf, int64_t start, int64_t count) {
    auto* samples = static_cast<int16_t*>(buf);
    for (int64_t i = 0; i < count * vi.nchannels; ++i)
        samples[i] = static_cast<int16_t>((start * vi.nchannels + i) * 31 % 65521);
}

FilterClip::FilterClip(AVS_ScriptEnvironment* env, FakeClip* child)
    : FakeClip(child->vi), child_handle{child} {
    child->add_ref();
    fi.child = &child_handle;
    fi.vi = child->vi;
    fi.env = env;
}

FilterClip::~FilterClip() {
    if (fi.free_filter) fi.free_filter(&fi);
    child_handle.clip->release();
}

AVS_VideoFrame* FilterClip::get_frame(int n) {
    if (!fi.get_frame) return child_handle.clip->get_frame(n);
    AVS_VideoFrame* frame = fi.get_frame(&fi, n);
    if (fi.error) failed = true;
    return frame;
}

int FilterClip::get_parity(int n) {
    return fi.get_parity ? fi.get_parity(&fi, n) : child_handle.clip->get_parity(n);
}

void FilterClip::get_audio(void* buf, int64_t start, int64_t count) {
    if (fi.get_audio)
        fi.get_audio(&fi, buf, start, count);
    else
        child_handle.clip->get_audio(buf, start, count);
}

int FilterClip::set_cache_hints(int hints, int range) {
    return fi.set_cache_hints ? fi.set_cache_hints(&fi, hints, range) : 0;
}

// --- Formats ----------------------------------------------------------------------

bool planar_layout(int pixel_type, PlanarLayout* layout) {
    struct Shape {
        int pixel_type;  // at 8 bits
        PlanarLayout layout;
    };
    static const Shape kShapes[] = {
        {AVS_CS_YV12, {1, 1, true, false, {}}},
        {AVS_CS_I420, {1, 1, true, false, {}}},
        {AVS_CS_YV16, {1, 0, true, false, {}}},
        {AVS_CS_YV24, {0, 0, true, false, {}}},
        {AVS_CS_YV411, {2, 0, true, false, {}}},
        {AVS_CS_Y8, {0, 0, false, false, {}}},
        {AVS_CS_GENERIC_YUVA420, {1, 1, true, true, {}}},
        {AVS_CS_GENERIC_YUVA422, {1, 0, true, true, {}}},
        {AVS_CS_GENERIC_YUVA444, {0, 0, true, true, {}}},
    };
    static const std::pair<int, SampleFormat> kDepths[] = {
        {AVS_CS_SAMPLE_BITS_8, SampleFormat::integer(8)},
        {AVS_CS_SAMPLE_BITS_10, SampleFormat::integer(10)},
        {AVS_CS_SAMPLE_BITS_12, SampleFormat::integer(12)},
        {AVS_CS_SAMPLE_BITS_14, SampleFormat::integer(14)},
        {AVS_CS_SAMPLE_BITS_16, SampleFormat::integer(16)},
        {AVS_CS_SAMPLE_BITS_32, SampleFormat::floating()},
    };
    for (const Shape& shape : kShapes)
        for (const auto& [bits, sample] : kDepths)
            if (pixel_type == ((shape.pixel_type & ~AVS_CS_SAMPLE_BITS_MASK) | bits)) {
                *layout = shape.layout;
                layout->sample = sample;
                return true;
            }
    return false;
}

AVS_VideoInfo video_info(int pixel_type, int width, int height, int frames) {
    AVS_VideoInfo vi{};
    vi.width = width;
    vi.height = height;
    vi.fps_numerator = 30000;
    vi.fps_denominator = 1001;
    vi.num_frames = frames;
    vi.pixel_type = pixel_type;
    vi.audio_samples_per_second = 48000;
    vi.sample_type = 2;  // 16-bit integer samples
    vi.num_audio_samples = 48000LL * frames * 1001 / 30000;
    vi.nchannels = 2;
    vi.image_type = 1 << 2 | 1 << 0;  // field-based, bottom field first
    return vi;
}

}  // namespace velnor::avsc
