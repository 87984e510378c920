#include "plugin/avisynth_c/velnor_avs_c.h"

#include <atomic>
#include <cstdint>
#include <limits>
#include <new>

#include "core/denoiser.h"
#include "core/filter_settings.h"
#include "plugin/script_function.h"

namespace velnor::avsc {

namespace {

// The host's functions as one environment registered them, shared by that
// environment and every Velnor clip made in it, and freed by whichever lets go
// last: the host shuts an environment down before its last clips and prefetch
// threads are gone.
struct SharedApi {
    AvsApi api;
    std::atomic<int> users;
};

void release(SharedApi* shared) {
    if (--shared->users == 0) delete shared;
}

// One Velnor clip's state; read-only once created, so any number of threads may
// filter frames with it at once.
struct Instance {
    Denoiser denoiser;
    SharedApi* shared;
};

AVS_Value error_value(const char* message) {
    AVS_Value value{};
    value.type = kValueError;
    value.d.string = message;
    return value;
}

// The bound arguments: an array in parameter order (a lone value is its own array).
struct Arguments {
    const AVS_Value* values;
    int count;

    explicit Arguments(const AVS_Value& args)
        : values(args.type == kValueArray ? args.d.array : &args),
          count(args.type == kValueArray ? args.array_size : 1) {}

    const AVS_Value* at(int i) const { return i < count ? &values[i] : nullptr; }

    // An argument the script left out takes the default; false if it holds a value
    // beyond 32 bits.
    bool integer_or(int i, int32_t fallback, int32_t* out) const {
        const AVS_Value* v = at(i);
        *out = fallback;
        if (!v) return true;
        if (v->type == kValueInt) *out = v->d.integer;
        if (v->type != kValueLong) return true;
        if (v->d.longlong < std::numeric_limits<int32_t>::min() ||
            v->d.longlong > std::numeric_limits<int32_t>::max())
            return false;
        *out = static_cast<int32_t>(v->d.longlong);
        return true;
    }
};

// Denoises the luma of a frame this call owns; null on success, otherwise the
// error for the host to raise.
const char* filter_luma(const Instance& self, AVS_VideoFrame* frame) noexcept {
    const AvsApi& api = self.shared->api;
    const FilterSettings& s = self.denoiser.settings();
    const int pitch = api.get_pitch_p(frame, AVS_PLANAR_Y);
    // The pass writes width x height samples, so a frame smaller than the clip says
    // (a faulty source) is refused rather than overrun.
    if (api.get_row_size_p(frame, AVS_PLANAR_Y) < s.width ||
        api.get_height_p(frame, AVS_PLANAR_Y) < s.height || pitch < s.width)
        return plugin::kFrameSize;
    uint8_t* luma = api.get_write_ptr_p(frame, AVS_PLANAR_Y);
    if (!luma) return plugin::kNotWritable;
    try {
        if (self.denoiser.filter(luma, pitch) == PassStatus::ok) return nullptr;
    } catch (...) {
    }
    return plugin::kOutOfMemory;
}

AVS_VideoFrame* get_frame(AVS_FilterInfo* fi, int n) {
    const Instance& self = *static_cast<const Instance*>(fi->user_data);
    const AvsApi& api = self.shared->api;
    AVS_VideoFrame* frame = api.get_frame(fi->child, n);
    if (!frame) return nullptr;  // the host raises the child's error
    if (api.make_writable(fi->env, &frame) < 0) {
        const char* error = api.get_error(fi->env);
        fi->error = error ? error : plugin::kNotWritable;
        api.release_video_frame(frame);
        return nullptr;
    }
    if (const char* error = filter_luma(self, frame)) {
        fi->error = error;
        api.release_video_frame(frame);
        return nullptr;
    }
    return frame;
}

// Velnor keeps no state between frames, so the host may call it from any number of
// threads on one instance: the most parallel mode there is.
int set_cache_hints(AVS_FilterInfo*, int cachehints, int) {
    return cachehints == AVS_CACHE_GET_MTMODE ? AVS_MT_NICE_FILTER : 0;
}

void free_filter(AVS_FilterInfo* fi) {
    Instance* instance = static_cast<Instance*>(fi->user_data);
    release(instance->shared);
    delete instance;
    fi->user_data = nullptr;
}

// Builds the instance for a clip of format `vi`; null with `*refusal` set when
// Velnor does not take that clip.
Instance* make_instance(const AVS_VideoInfo& vi, const Arguments& args, SharedApi* shared,
                        const char** refusal) {
    if (!accepts_format(vi)) {
        *refusal = kFormatRefusal;
        return nullptr;
    }
    int32_t strength, threshold1, threshold2;
    if (!args.integer_or(1, kDefaultStrength, &strength) ||
        !args.integer_or(2, kDefaultThreshold1, &threshold1) ||
        !args.integer_or(3, kDefaultThreshold2, &threshold2)) {
        *refusal = plugin::kParameterRange;
        return nullptr;
    }
    Instance* instance = nullptr;
    try {
        instance = new Instance{
            Denoiser(FilterSettings(vi.width, vi.height, strength, threshold1, threshold2)),
            shared};
        ++shared->users;
    } catch (...) {
        *refusal = plugin::kOutOfMemory;
    }
    return instance;
}

AVS_Value create_velnor(AVS_ScriptEnvironment* env, AVS_Value args, void* user_data) {
    SharedApi* shared = static_cast<SharedApi*>(user_data);
    const AvsApi* api = &shared->api;
    const Arguments arguments(args);
    const AVS_Value* clip_value = arguments.at(0);
    if (!clip_value || clip_value->type != kValueClip) return error_value(kFormatRefusal);

    AVS_FilterInfo* fi = nullptr;
    AVS_Clip* clip = api->new_c_filter(env, &fi, *clip_value, 1);
    if (!clip || !fi) return error_value(plugin::kHostRefusedFilter);
    const char* refusal = nullptr;
    Instance* instance = make_instance(fi->vi, arguments, shared, &refusal);
    AVS_Value result = error_value(refusal);
    if (instance) {
        // Audio and parity callbacks stay null: the host then answers from the child.
        fi->user_data = instance;
        fi->get_frame = get_frame;
        fi->set_cache_hints = set_cache_hints;
        fi->free_filter = free_filter;
        api->set_to_clip(&result, clip);
    }
    api->release_clip(clip);
    return result;
}

void shut_down(void* shared, AVS_ScriptEnvironment*) { release(static_cast<SharedApi*>(shared)); }

}  // namespace

bool accepts_format(const AVS_VideoInfo& vi) {
    if (vi.width <= 0 || vi.height <= 0) return false;
    // Compared as the host compares planar formats, ignoring the plane order that
    // tells I420 from YV12.
    const int format = vi.pixel_type & AVS_CS_PLANAR_MASK;
    for (int accepted : {AVS_CS_YV12, AVS_CS_YV16, AVS_CS_YV24, AVS_CS_YV411, AVS_CS_Y8})
        if (format == (accepted & AVS_CS_PLANAR_FILTER)) return true;
    return false;
}

const char* register_velnor(AVS_ScriptEnvironment* env, const AvsApi& api) {
    SharedApi* shared = new (std::nothrow) SharedApi{api, {1}};
    if (!shared) return plugin::kOutOfMemory;
    api.add_function(env, plugin::kFunctionName, plugin::kParameters, create_velnor, shared);
    api.at_exit(env, shut_down, shared);
    return plugin::kAvsPlusVersionText;
}

}  // namespace velnor::avsc

extern "C" VELNOR_EXPORT const char* avisynth_c_plugin_init(
    velnor::avsc::AVS_ScriptEnvironment* env) {
    using namespace velnor::avsc;
    AvsApi api{};
    if (!resolve_loaded_avs_api(&api)) return kNoInterface;
    return register_velnor(env, api);
}
