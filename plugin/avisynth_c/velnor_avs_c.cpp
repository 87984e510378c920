#include "plugin/avisynth_c/velnor_avs_c.h"

#include <atomic>
#include <cstdint>
#include <limits>
#include <new>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/denoiser.h"
#include "core/filter_settings.h"
#include "core/measured_settings.h"
#include "core/noise_estimate.h"
#include "plugin/plane_report.h"
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

constexpr int kPlaneIds[] = {AVS_PLANAR_Y, AVS_PLANAR_U, AVS_PLANAR_V};
constexpr int kMaxPlanes = 3;

// One Velnor clip's state; read-only once created, so any number of threads may
// filter frames with it at once. A plane has a denoiser (made for its own size)
// exactly when it is filtered.
struct Instance {
    std::optional<Denoiser> planes[kMaxPlanes];
    SharedApi* shared;
    std::vector<plugin::PlaneReport> reports;  // auto: each filtered plane's, on every frame
};

// One VelnorEstimate clip's state, read-only once created.
struct EstimateInstance {
    SampleFormat format;
    SharedApi* shared;
};

constexpr int kAutoArgument = 5;

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

    bool boolean_or(int i, bool fallback) const {
        const AVS_Value* v = at(i);
        return v && v->type == kValueBool ? v->d.boolean != 0 : fallback;
    }

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

// Denoises the chosen planes of a frame this call owns; null on success,
// otherwise the error for the host to raise.
const char* filter_planes(const Instance& self, AVS_VideoFrame* frame) noexcept {
    const AvsApi& api = self.shared->api;
    for (int p = 0; p < kMaxPlanes; ++p) {
        if (!self.planes[p]) continue;
        const Denoiser& denoiser = *self.planes[p];
        const FilterSettings& s = denoiser.settings();
        const int id = kPlaneIds[p];
        const int pitch = api.get_pitch_p(frame, id);
        const int64_t row_bytes = int64_t{s.width} * denoiser.format().bytes();
        // The pass writes width x height samples, so a frame smaller than the clip
        // says (a faulty source) is refused rather than overrun.
        if (api.get_row_size_p(frame, id) < row_bytes || api.get_height_p(frame, id) < s.height ||
            pitch < row_bytes)
            return plugin::kFrameSize;
        uint8_t* samples = api.get_write_ptr_p(frame, id);
        if (!samples) return plugin::kNotWritable;
        PassStatus status = PassStatus::out_of_memory;
        try {
            status = denoiser.filter(samples, pitch);
        } catch (...) {
        }
        if (status == PassStatus::misaligned) return plugin::kMisaligned;
        if (status != PassStatus::ok) return plugin::kOutOfMemory;
    }
    return nullptr;
}

// Adds plane `p` (0 luma, 1 U, 2 V) of `frame` to `estimator`, at the frame's own size.
void add_plane(const AvsApi& api, const AVS_VideoFrame* frame, int p, SampleFormat format,
               NoiseEstimator& estimator) {
    const int id = kPlaneIds[p];
    estimator.add_plane(api.get_read_ptr_p(frame, id), format,
                        api.get_row_size_p(frame, id) / format.bytes(), api.get_height_p(frame, id),
                        api.get_pitch_p(frame, id), plugin::float_range(p));
}

// Attaches the reports to a frame this call owns, where the host has properties.
void attach(const AvsApi& api, AVS_ScriptEnvironment* env, AVS_VideoFrame* frame,
            const std::vector<plugin::PlaneReport>& reports) {
    if (!api.get_frame_props_rw) return;
    AVS_Map* props = api.get_frame_props_rw(env, frame);
    if (!props) return;
    plugin::attach_reports(
        reports,
        [&](const char* key, int64_t value, bool append) {
            api.prop_set_int(env, props, key, value, append ? kPropAppend : kPropReplace);
        },
        [&](const char* key, double value, bool append) {
            api.prop_set_float(env, props, key, value, append ? kPropAppend : kPropReplace);
        });
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
    if (const char* error = filter_planes(self, frame)) {
        fi->error = error;
        api.release_video_frame(frame);
        return nullptr;
    }
    if (!self.reports.empty()) attach(api, fi->env, frame, self.reports);
    return frame;
}

// VelnorEstimate: the child's frame with the luma's VelnorNoise and VelnorDetail
// added (on a copy where the frame is shared, as the host's MakeWritable decides).
AVS_VideoFrame* estimate_frame(AVS_FilterInfo* fi, int n) {
    const EstimateInstance& self = *static_cast<const EstimateInstance*>(fi->user_data);
    const AvsApi& api = self.shared->api;
    AVS_VideoFrame* frame = api.get_frame(fi->child, n);
    if (!frame) return nullptr;  // the host raises the child's error
    NoiseEstimate estimate;
    try {
        NoiseEstimator estimator;
        add_plane(api, frame, 0, self.format, estimator);
        estimate = estimator.estimate();
    } catch (...) {
        fi->error = plugin::kOutOfMemory;
        api.release_video_frame(frame);
        return nullptr;
    }
    if (api.make_writable(fi->env, &frame) < 0) {
        const char* error = api.get_error(fi->env);
        fi->error = error ? error : plugin::kNotWritable;
        api.release_video_frame(frame);
        return nullptr;
    }
    AVS_Map* props = api.get_frame_props_rw(fi->env, frame);
    if (props) {
        api.prop_set_float(fi->env, props, plugin::kNoiseProperty, plugin::noise_value(estimate),
                           kPropReplace);
        api.prop_set_float(fi->env, props, plugin::kDetailProperty, plugin::detail_value(estimate),
                           kPropReplace);
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

void free_estimate(AVS_FilterInfo* fi) {
    EstimateInstance* instance = static_cast<EstimateInstance*>(fi->user_data);
    release(instance->shared);
    delete instance;
    fi->user_data = nullptr;
}

// The noise of the first `planes` planes (luma, then U and V) of the frames
// spread_frames picks, each plane on its own, fetched from the child while the
// filter is created; empty with `*error` set when the child fails to deliver one.
std::optional<std::vector<NoiseEstimate>> measure(const AvsApi& api, AVS_FilterInfo* fi,
                                                  SampleFormat format, int planes,
                                                  std::string* error) {
    std::vector<NoiseEstimator> estimators(static_cast<std::size_t>(planes));
    const auto luma = static_cast<uint64_t>(fi->vi.width) * static_cast<uint64_t>(fi->vi.height);
    for (const int64_t n : spread_frames(fi->vi.num_frames, luma)) {
        AVS_VideoFrame* frame = api.get_frame(fi->child, static_cast<int>(n));
        if (!frame) {
            *error = plugin::measure_failure(n, api.clip_get_error(fi->child));
            return std::nullopt;
        }
        try {
            for (int p = 0; p < planes; ++p) add_plane(api, frame, p, format, estimators[p]);
        } catch (...) {
            api.release_video_frame(frame);
            throw;
        }
        api.release_video_frame(frame);
    }
    std::vector<NoiseEstimate> estimates;
    for (const NoiseEstimator& estimator : estimators) estimates.push_back(estimator.estimate());
    return estimates;
}

// Builds the instance for the filter's clip; null with `*refusal` set when Velnor
// does not take that clip or cannot measure it. Cheap refusals come before
// anything is measured.
Instance* make_instance(AVS_FilterInfo* fi, const Arguments& args, SharedApi* shared,
                        std::string* refusal) {
    const AVS_VideoInfo& vi = fi->vi;
    PlanarFormat format;
    if (vi.width <= 0 || vi.height <= 0 || !decode_pixel_type(vi.pixel_type, &format)) {
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
    const bool automatic = args.boolean_or(kAutoArgument, false);
    if (automatic && vi.num_frames <= 0) {
        *refusal = plugin::kNothingToMeasure;
        return nullptr;
    }
    const int planes = format.chroma && args.boolean_or(4, plugin::kDefaultChroma) ? 3 : 1;
    Instance* instance = nullptr;
    try {
        // Each filtered plane's settings: the values named in the call, or without
        // them what auto measured on that plane.
        FilterValues values[kMaxPlanes];
        std::vector<plugin::PlaneReport> reports;
        if (automatic) {
            const std::optional<std::vector<NoiseEstimate>> estimates =
                measure(shared->api, fi, format.sample, planes, refusal);
            if (!estimates) return nullptr;
            for (int p = 0; p < planes; ++p) {
                const NoiseEstimate& estimate = (*estimates)[p];
                const MeasuredSettings measured =
                    settings_for_estimate(estimate, plugin::plane_kind(p));
                FilterValues& v = values[p];
                args.integer_or(1, measured.values.strength, &v.strength);
                args.integer_or(2, measured.values.threshold1, &v.threshold1);
                args.integer_or(3, measured.values.threshold2, &v.threshold2);
                reports.push_back({p, estimate, measured.basis, v});
            }
        } else {
            for (FilterValues& v : values) v = {strength, threshold1, threshold2};
        }
        instance = new Instance{{}, shared, std::move(reports)};
        for (int p = 0; p < planes; ++p) {
            const int shift_w = p == 0 ? 0 : format.shift_w;
            const int shift_h = p == 0 ? 0 : format.shift_h;
            const FilterValues& v = values[p];
            instance->planes[p].emplace(FilterSettings(vi.width >> shift_w, vi.height >> shift_h,
                                                       v.strength, v.threshold1, v.threshold2),
                                        format.sample);
        }
        ++shared->users;
    } catch (...) {
        delete instance;
        instance = nullptr;
        *refusal = plugin::kOutOfMemory;
    }
    return instance;
}

// An error value whose text the host keeps for as long as it needs it.
AVS_Value saved_error(const AvsApi& api, AVS_ScriptEnvironment* env, const std::string& message) {
    const char* saved = api.save_string(env, message.c_str(), static_cast<int>(message.size()));
    return error_value(saved ? saved : plugin::kOutOfMemory);
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
    std::string refusal;
    Instance* instance = nullptr;
    try {
        instance = make_instance(fi, arguments, shared, &refusal);
    } catch (...) {
        refusal = plugin::kOutOfMemory;
    }
    AVS_Value result = instance ? AVS_Value{} : saved_error(*api, env, refusal);
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

AVS_Value create_estimate(AVS_ScriptEnvironment* env, AVS_Value args, void* user_data) {
    SharedApi* shared = static_cast<SharedApi*>(user_data);
    const AvsApi* api = &shared->api;
    const Arguments arguments(args);
    const AVS_Value* clip_value = arguments.at(0);
    if (!clip_value || clip_value->type != kValueClip) return error_value(kFormatRefusal);
    if (!api->get_frame_props_rw) return error_value(kNoFrameProperties);

    AVS_FilterInfo* fi = nullptr;
    AVS_Clip* clip = api->new_c_filter(env, &fi, *clip_value, 1);
    if (!clip || !fi) return error_value(plugin::kHostRefusedFilter);
    PlanarFormat format;
    const bool accepted =
        fi->vi.width > 0 && fi->vi.height > 0 && decode_pixel_type(fi->vi.pixel_type, &format);
    EstimateInstance* instance =
        accepted ? new (std::nothrow) EstimateInstance{format.sample, shared} : nullptr;
    AVS_Value result = error_value(accepted ? plugin::kOutOfMemory : kFormatRefusal);
    if (instance) {
        ++shared->users;
        fi->user_data = instance;
        fi->get_frame = estimate_frame;
        fi->set_cache_hints = set_cache_hints;
        fi->free_filter = free_estimate;
        api->set_to_clip(&result, clip);
    }
    api->release_clip(clip);
    return result;
}

void shut_down(void* shared, AVS_ScriptEnvironment*) { release(static_cast<SharedApi*>(shared)); }

}  // namespace

const char* register_velnor(AVS_ScriptEnvironment* env, const AvsApi& api) {
    SharedApi* shared = new (std::nothrow) SharedApi{api, {1}};
    if (!shared) return plugin::kOutOfMemory;
    api.add_function(env, plugin::kFunctionName, plugin::kParametersWithChroma, create_velnor,
                     shared);
    api.add_function(env, plugin::kEstimateFunctionName, plugin::kEstimateParameters,
                     create_estimate, shared);
    api.at_exit(env, shut_down, shared);
    return plugin::kAvsPlusVersionText;
}

}  // namespace velnor::avsc

namespace {

const char* initialise(velnor::avsc::AVS_ScriptEnvironment* env) {
    using namespace velnor::avsc;
    AvsApi api{};
    if (!resolve_loaded_avs_api(&api)) return kNoInterface;
    return register_velnor(env, api);
}

}  // namespace

static_assert(std::is_same_v<decltype(&avisynth_c_plugin_init2), velnor::avsc::AVS_PluginInit>);
static_assert(std::is_same_v<decltype(&avisynth_c_plugin_init), velnor::avsc::AVS_PluginInit>);

extern "C" VELNOR_EXPORT const char* avisynth_c_plugin_init2(
    velnor::avsc::AVS_ScriptEnvironment* env) {
    return initialise(env);
}

extern "C" VELNOR_EXPORT const char* avisynth_c_plugin_init(
    velnor::avsc::AVS_ScriptEnvironment* env) {
    return initialise(env);
}
