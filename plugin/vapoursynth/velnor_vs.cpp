#include "plugin/vapoursynth/velnor_vs.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/denoiser.h"
#include "core/filter_settings.h"
#include "core/measured_settings.h"
#include "core/noise_estimate.h"
#include "plugin/plane_report.h"
#include "plugin/script_function.h"

namespace velnor::vs {

namespace {

constexpr int kMaxPlanes = 3;

// VSMessageType: an information message.
constexpr int kInformationMessage = 1;

// One Velnor node's state; read-only once created, so the core may request
// frames from any number of threads at once. A plane has a denoiser (made for its
// own size) exactly when it is filtered.
struct Instance {
    VSNode* source;
    std::optional<Denoiser> planes[kMaxPlanes];
    std::vector<plugin::PlaneReport> reports;  // auto: each filtered plane's, on every frame
};

// One Estimate node's state, read-only once created.
struct EstimateInstance {
    VSNode* source;
    SampleFormat format;
};

// Adds plane `p` of `frame` to `estimator`, at the frame's own size.
void add_plane(NoiseEstimator& estimator, const VSFrame* frame, int p, SampleFormat format,
               const VSAPI* vsapi) {
    estimator.add_plane(vsapi->getReadPtr(frame, p), format, vsapi->getFrameWidth(frame, p),
                        vsapi->getFrameHeight(frame, p), vsapi->getStride(frame, p),
                        plugin::float_range(p));
}

// The source's frame `n` in a get-frame function: requested on arInitial, fetched
// on arAllFramesReady. Null until then, and null with the error set on `ctx` when
// the source did not deliver it.
const VSFrame* source_frame(int n, int reason, VSNode* source, VSFrameContext* ctx,
                            const VSAPI* vsapi) {
    if (reason == arInitial) {
        vsapi->requestFrameFilter(n, source, ctx);
        return nullptr;
    }
    if (reason != arAllFramesReady) return nullptr;
    const VSFrame* frame = vsapi->getFrameFilter(n, source, ctx);
    if (!frame) vsapi->setFilterError(plugin::kNoSourceFrame, ctx);
    return frame;
}

// Reads an optional integer argument; false if it does not fit in 32 bits.
bool integer_or(const VSMap* in, const char* key, int32_t fallback, const VSAPI* vsapi,
                int32_t* out) {
    int error = 0;
    const int64_t value = vsapi->mapGetInt(in, key, 0, &error);
    *out = fallback;
    if (error) return true;  // left out
    if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max())
        return false;
    *out = static_cast<int32_t>(value);
    return true;
}

// Reads the planes argument into `chosen`; false if it names a plane the clip lacks
// or one plane twice. An empty list chooses none (create_velnor then returns the
// clip itself).
bool planes_to_filter(const VSMap* in, int num_planes, const VSAPI* vsapi,
                      bool (&chosen)[kMaxPlanes]) {
    for (bool& c : chosen) c = false;
    const int count = vsapi->mapNumElements(in, "planes");
    if (count < 0) {  // left out
        for (int p : plugin::kDefaultPlanes) chosen[p] = true;
        return true;
    }
    for (int i = 0; i < count; ++i) {
        const int64_t p = vsapi->mapGetInt(in, "planes", i, nullptr);
        if (p < 0 || p >= num_planes || chosen[p]) return false;
        chosen[p] = true;
    }
    return true;
}

const char* status_error(PassStatus status) {
    return status == PassStatus::misaligned ? plugin::kMisaligned : plugin::kOutOfMemory;
}

// Makes the output frame: unfiltered planes and the properties shared with
// `source`, each filtered plane a filtered copy of the source's. Null with the
// error set on `ctx` on failure.
const VSFrame* filter_frame(const Instance& self, const VSFrame* source, VSFrameContext* ctx,
                            VSCore* core, const VSAPI* vsapi) {
    const VSVideoFormat* format = vsapi->getVideoFrameFormat(source);
    const VSFrame* plane_sources[kMaxPlanes] = {};
    const int planes[kMaxPlanes] = {0, 1, 2};
    for (int p = 0; p < format->numPlanes && p < kMaxPlanes; ++p) {
        if (!self.planes[p]) {
            plane_sources[p] = source;
            continue;
        }
        // The pass writes the size it was made for: a frame that differs is refused.
        const FilterSettings& s = self.planes[p]->settings();
        if (vsapi->getFrameWidth(source, p) != s.width ||
            vsapi->getFrameHeight(source, p) != s.height) {
            vsapi->setFilterError(plugin::kFrameSize, ctx);
            return nullptr;
        }
    }
    VSFrame* out = vsapi->newVideoFrame2(format, vsapi->getFrameWidth(source, 0),
                                         vsapi->getFrameHeight(source, 0), plane_sources, planes,
                                         source, core);
    if (!out) {
        vsapi->setFilterError(plugin::kOutOfMemory, ctx);
        return nullptr;
    }
    for (int p = 0; p < format->numPlanes && p < kMaxPlanes; ++p) {
        if (!self.planes[p]) continue;
        const Denoiser& denoiser = *self.planes[p];
        const std::size_t row_bytes = static_cast<std::size_t>(denoiser.settings().width) *
                                      static_cast<std::size_t>(denoiser.format().bytes());
        const uint8_t* src = vsapi->getReadPtr(source, p);
        const ptrdiff_t src_stride = vsapi->getStride(source, p);
        uint8_t* dst = vsapi->getWritePtr(out, p);
        const ptrdiff_t dst_stride = vsapi->getStride(out, p);
        for (int y = 0; y < denoiser.settings().height; ++y)
            std::memcpy(dst + y * dst_stride, src + y * src_stride, row_bytes);
        PassStatus status = PassStatus::out_of_memory;
        try {
            status = denoiser.filter(dst, dst_stride);
        } catch (...) {
        }
        if (status != PassStatus::ok) {
            vsapi->freeFrame(out);
            vsapi->setFilterError(status_error(status), ctx);
            return nullptr;
        }
    }
    if (!self.reports.empty()) {
        VSMap* props = vsapi->getFramePropertiesRW(out);
        plugin::attach_reports(
            self.reports,
            [&](const char* key, int64_t value, bool append) {
                vsapi->mapSetInt(props, key, value, append ? maAppend : maReplace);
            },
            [&](const char* key, double value, bool append) {
                vsapi->mapSetFloat(props, key, value, append ? maAppend : maReplace);
            });
    }
    return out;
}

const VSFrame* get_frame(int n, int reason, void* instance_data, void**, VSFrameContext* ctx,
                         VSCore* core, const VSAPI* vsapi) {
    const Instance& self = *static_cast<const Instance*>(instance_data);
    const VSFrame* source = source_frame(n, reason, self.source, ctx, vsapi);
    if (!source) return nullptr;
    const VSFrame* out = filter_frame(self, source, ctx, core, vsapi);
    vsapi->freeFrame(source);
    return out;
}

void free_instance(void* instance_data, VSCore*, const VSAPI* vsapi) {
    Instance* self = static_cast<Instance*>(instance_data);
    vsapi->freeNode(self->source);
    delete self;
}

// Estimate: the source's frame with its planes shared and the luma's VelnorNoise
// and VelnorDetail added.
const VSFrame* estimate_frame(int n, int reason, void* instance_data, void**, VSFrameContext* ctx,
                              VSCore* core, const VSAPI* vsapi) {
    const EstimateInstance& self = *static_cast<const EstimateInstance*>(instance_data);
    const VSFrame* source = source_frame(n, reason, self.source, ctx, vsapi);
    if (!source) return nullptr;
    NoiseEstimate estimate;
    try {
        NoiseEstimator estimator;
        add_plane(estimator, source, 0, self.format, vsapi);
        estimate = estimator.estimate();
    } catch (...) {
        vsapi->freeFrame(source);
        vsapi->setFilterError(plugin::kOutOfMemory, ctx);
        return nullptr;
    }
    const VSVideoFormat* format = vsapi->getVideoFrameFormat(source);
    const VSFrame* plane_sources[kMaxPlanes] = {source, source, source};
    const int planes[kMaxPlanes] = {0, 1, 2};
    VSFrame* out = vsapi->newVideoFrame2(format, vsapi->getFrameWidth(source, 0),
                                         vsapi->getFrameHeight(source, 0), plane_sources, planes,
                                         source, core);
    vsapi->freeFrame(source);
    if (!out) {
        vsapi->setFilterError(plugin::kOutOfMemory, ctx);
        return nullptr;
    }
    VSMap* props = vsapi->getFramePropertiesRW(out);
    vsapi->mapSetFloat(props, plugin::kNoiseProperty, plugin::noise_value(estimate), maReplace);
    vsapi->mapSetFloat(props, plugin::kDetailProperty, plugin::detail_value(estimate), maReplace);
    return out;
}

void free_estimate(void* instance_data, VSCore*, const VSAPI* vsapi) {
    EstimateInstance* self = static_cast<EstimateInstance*>(instance_data);
    vsapi->freeNode(self->source);
    delete self;
}

// The noise of each chosen plane of the frames spread_frames picks, each plane on
// its own, fetched as a filter may while it is created; empty with `*error` set
// when the source fails to deliver one.
struct Measurement {
    std::vector<NoiseEstimate> estimates;  // of the chosen planes, in plane order
    std::vector<int64_t> frames;
};

std::optional<Measurement> measure(VSNode* source, const VSVideoInfo& vi, SampleFormat format,
                                   const bool (&chosen)[kMaxPlanes], const VSAPI* vsapi,
                                   std::string* error) {
    Measurement m;
    m.frames = spread_frames(vi.numFrames,
                             static_cast<uint64_t>(vi.width) * static_cast<uint64_t>(vi.height));
    NoiseEstimator estimators[kMaxPlanes];
    for (const int64_t n : m.frames) {
        char message[512] = "";
        const VSFrame* frame =
            vsapi->getFrame(static_cast<int>(n), source, message, static_cast<int>(sizeof message));
        if (!frame) {
            *error = plugin::measure_failure(n, message);
            return std::nullopt;
        }
        try {
            for (int p = 0; p < kMaxPlanes; ++p)
                if (chosen[p]) add_plane(estimators[p], frame, p, format, vsapi);
        } catch (...) {
            vsapi->freeFrame(frame);
            throw;
        }
        vsapi->freeFrame(frame);
    }
    for (int p = 0; p < kMaxPlanes; ++p)
        if (chosen[p]) m.estimates.push_back(estimators[p].estimate());
    return m;
}

// "plane 0 (luma): noise sigma 2.84, detail 1.31", for an estimate below the
// settings table "plane 1: no noise measurable (noise sigma 0.40, detail 1.02)",
// without one "plane 2: no noise estimate (...)"; then the settings used.
std::string describe(const plugin::PlaneReport& r) {
    char text[320];
    const int at =
        std::snprintf(text, sizeof text, "plane %d%s: ", r.plane, r.plane == 0 ? " (luma)" : "");
    const std::size_t used = at > 0 ? static_cast<std::size_t>(at) : 0;
    if (r.basis == SettingsBasis::measured)
        std::snprintf(text + used, sizeof text - used, "noise sigma %.2f, detail %.2f",
                      r.estimate.sigma, r.estimate.detail);
    else if (r.estimate.valid)
        std::snprintf(text + used, sizeof text - used, "%s (noise sigma %.2f, detail %.2f)",
                      basis_reason(r.basis), r.estimate.sigma, r.estimate.detail);
    else
        std::snprintf(text + used, sizeof text - used, "%s", basis_reason(r.basis));
    std::string line = text;
    std::snprintf(text, sizeof text, ", filtered with strength %d, threshold1 %d, threshold2 %d",
                  r.values.strength, r.values.threshold1, r.values.threshold2);
    return line + text;
}

// The one information message of an auto filter: the frames measured, then each
// filtered plane's estimate and settings.
void log_choice(const Measurement& m, const VSVideoInfo& vi,
                const std::vector<plugin::PlaneReport>& reports, VSCore* core, const VSAPI* vsapi) {
    std::string frames;
    for (const int64_t n : m.frames) frames += (frames.empty() ? "" : ", ") + std::to_string(n);
    char text[200];
    std::snprintf(text, sizeof text, "Velnor: auto measured frame%s %s of %dx%d",
                  m.frames.size() == 1 ? "" : "s", frames.c_str(), vi.width, vi.height);
    std::string line = text;
    for (const plugin::PlaneReport& r : reports) line += "; " + describe(r);
    vsapi->logMessage(kInformationMessage, line.c_str(), core);
}

// Builds the instance for `source` from the arguments; null with `*refusal` set
// when Velnor does not take them, null alone when they choose no plane. Cheap refusals come before
// anything is measured.
Instance* make_instance(VSNode* source, const VSVideoInfo& vi, const VSMap* in, VSCore* core,
                        const VSAPI* vsapi, std::string* refusal) {
    const SampleFormat format = sample_format_of(vi);
    int32_t strength = 0, threshold1 = 0, threshold2 = 0, automatic = 0;
    bool chosen[kMaxPlanes];
    if (!format.valid()) {
        *refusal = kFormatRefusal;
    } else if (!integer_or(in, "strength", kDefaultStrength, vsapi, &strength) ||
               !integer_or(in, "threshold1", kDefaultThreshold1, vsapi, &threshold1) ||
               !integer_or(in, "threshold2", kDefaultThreshold2, vsapi, &threshold2) ||
               !integer_or(in, "auto", 0, vsapi, &automatic)) {
        *refusal = plugin::kParameterRange;
    } else if (!planes_to_filter(in, vi.format.numPlanes, vsapi, chosen)) {
        *refusal = kPlanesRefusal;
    } else if (automatic && vi.numFrames <= 0) {
        *refusal = plugin::kNothingToMeasure;
    }
    if (!refusal->empty()) return nullptr;
    // Nothing chosen: nothing to filter or measure.
    if (!chosen[0] && !chosen[1] && !chosen[2]) return nullptr;
    try {
        // Each chosen plane's settings: the values named in the call, or without
        // them what auto measured on that plane.
        FilterValues values[kMaxPlanes];
        for (FilterValues& v : values) v = {strength, threshold1, threshold2};
        std::vector<plugin::PlaneReport> reports;
        if (automatic) {
            const std::optional<Measurement> m =
                measure(source, vi, format, chosen, vsapi, refusal);
            if (!m) return nullptr;
            std::size_t next = 0;
            for (int p = 0; p < kMaxPlanes; ++p) {
                if (!chosen[p]) continue;
                const NoiseEstimate& estimate = m->estimates.at(next++);
                const MeasuredSettings measured =
                    settings_for_estimate(estimate, plugin::plane_kind(p));
                FilterValues& v = values[p];
                integer_or(in, "strength", measured.values.strength, vsapi, &v.strength);
                integer_or(in, "threshold1", measured.values.threshold1, vsapi, &v.threshold1);
                integer_or(in, "threshold2", measured.values.threshold2, vsapi, &v.threshold2);
                reports.push_back({p, estimate, measured.basis, v});
            }
            log_choice(*m, vi, reports, core, vsapi);
        }
        auto instance = std::make_unique<Instance>(Instance{source, {}, std::move(reports)});
        for (int p = 0; p < kMaxPlanes; ++p) {
            if (!chosen[p]) continue;
            const int ssw = p == 0 ? 0 : vi.format.subSamplingW;
            const int ssh = p == 0 ? 0 : vi.format.subSamplingH;
            const FilterValues& v = values[p];
            instance->planes[p].emplace(FilterSettings(vi.width >> ssw, vi.height >> ssh,
                                                       v.strength, v.threshold1, v.threshold2),
                                        format);
        }
        return instance.release();
    } catch (...) {
        *refusal = plugin::kOutOfMemory;
        return nullptr;
    }
}

void create_velnor(const VSMap* in, VSMap* out, void*, VSCore* core, const VSAPI* vsapi) {
    VSNode* source = vsapi->mapGetNode(in, "clip", 0, nullptr);
    const VSVideoInfo* vi = vsapi->getVideoInfo(source);
    std::string refusal;
    Instance* instance = nullptr;
    try {
        instance = make_instance(source, *vi, in, core, vsapi, &refusal);
    } catch (...) {
        refusal = plugin::kOutOfMemory;
    }
    if (!instance && refusal.empty()) {  // planes=[]: the clip passes through untouched
        vsapi->mapConsumeNode(out, "clip", source, maAppend);
        return;
    }
    if (!instance) {
        vsapi->freeNode(source);
        vsapi->mapSetError(out, refusal.c_str());
        return;
    }
    const VSFilterDependency dependency = {source, rpStrictSpatial};
    VSNode* node = vsapi->createVideoFilter2(plugin::kFunctionName, vi, get_frame, free_instance,
                                             fmParallel, &dependency, 1, instance, core);
    if (!node) {
        free_instance(instance, core, vsapi);
        vsapi->mapSetError(out, plugin::kHostRefusedFilter);
        return;
    }
    vsapi->mapConsumeNode(out, "clip", node, maAppend);
}

void create_estimate(const VSMap* in, VSMap* out, void*, VSCore* core, const VSAPI* vsapi) {
    VSNode* source = vsapi->mapGetNode(in, "clip", 0, nullptr);
    const VSVideoInfo* vi = vsapi->getVideoInfo(source);
    const SampleFormat format = sample_format_of(*vi);
    EstimateInstance* instance =
        format.valid() ? new (std::nothrow) EstimateInstance{source, format} : nullptr;
    if (!instance) {
        vsapi->freeNode(source);
        vsapi->mapSetError(out, format.valid() ? plugin::kOutOfMemory : kFormatRefusal);
        return;
    }
    const VSFilterDependency dependency = {source, rpStrictSpatial};
    VSNode* node = vsapi->createVideoFilter2(kEstimateFunction, vi, estimate_frame, free_estimate,
                                             fmParallel, &dependency, 1, instance, core);
    if (!node) {
        free_estimate(instance, core, vsapi);
        vsapi->mapSetError(out, plugin::kHostRefusedFilter);
        return;
    }
    vsapi->mapConsumeNode(out, "clip", node, maAppend);
}

}  // namespace

SampleFormat sample_format_of(const VSVideoInfo& vi) {
    constexpr SampleFormat kInvalid{SampleType::u8, 0};
    const VSVideoFormat& f = vi.format;
    if ((f.colorFamily != cfYUV && f.colorFamily != cfGray) || vi.width <= 0 || vi.height <= 0)
        return kInvalid;
    SampleFormat format = kInvalid;
    if (f.sampleType == stInteger)
        format = SampleFormat::integer(f.bitsPerSample);
    else if (f.sampleType == stFloat && f.bitsPerSample == 32)
        format = SampleFormat::floating();
    const bool planes_fit = f.numPlanes == (f.colorFamily == cfGray ? 1 : kMaxPlanes);
    return format.valid() && format.bytes() == f.bytesPerSample && planes_fit ? format : kInvalid;
}

}  // namespace velnor::vs

extern "C" VELNOR_EXPORT void VapourSynthPluginInit2(velnor::vs::VSPlugin* plugin,
                                                     const velnor::vs::VSPLUGINAPI* vspapi) {
    using namespace velnor::vs;
    vspapi->configPlugin(kPluginIdentifier, kPluginNamespace, kPluginName, kPluginVersion,
                         kApiVersion, 0, plugin);
    vspapi->registerFunction(velnor::plugin::kFunctionName, kArguments, kReturnType, create_velnor,
                             nullptr, plugin);
    vspapi->registerFunction(kEstimateFunction, kEstimateArguments, kReturnType, create_estimate,
                             nullptr, plugin);
}
