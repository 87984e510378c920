#include "plugin/vapoursynth/velnor_vs.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "core/denoiser.h"
#include "core/filter_settings.h"
#include "core/measured_settings.h"
#include "core/noise_estimate.h"
#include "plugin/script_function.h"

namespace velnor::vs {

namespace {

constexpr int kMaxPlanes = 3;

// VSMessageType: an information message.
constexpr int kInformationMessage = 1;

// What an auto filter attaches to each frame.
struct Report {
    double noise;
    FilterValues values;
};

// One Velnor node's state; read-only once created, so the core may request
// frames from any number of threads at once. A plane has a denoiser (made for its
// own size) exactly when it is filtered.
struct Instance {
    VSNode* source;
    std::optional<Denoiser> planes[kMaxPlanes];
    std::optional<Report> report;  // auto: the estimate and the settings, on every frame
};

// One Estimate node's state, read-only once created.
struct EstimateInstance {
    VSNode* source;
    SampleFormat format;
};

// Adds the luma plane of `frame` to `estimator`, at the frame's own size.
void add_luma(NoiseEstimator& estimator, const VSFrame* frame, SampleFormat format,
              const VSAPI* vsapi) {
    estimator.add_plane(vsapi->getReadPtr(frame, 0), format, vsapi->getFrameWidth(frame, 0),
                        vsapi->getFrameHeight(frame, 0), vsapi->getStride(frame, 0));
}

// The estimate as a frame property: 0 where nothing could be measured.
double noise_value(const NoiseEstimate& estimate) { return estimate.valid ? estimate.sigma : 0.0; }

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
    if (self.report) {
        VSMap* props = vsapi->getFramePropertiesRW(out);
        vsapi->mapSetFloat(props, plugin::kNoiseProperty, self.report->noise, maReplace);
        vsapi->mapSetInt(props, plugin::kStrengthProperty, self.report->values.strength, maReplace);
        vsapi->mapSetInt(props, plugin::kThreshold1Property, self.report->values.threshold1,
                         maReplace);
        vsapi->mapSetInt(props, plugin::kThreshold2Property, self.report->values.threshold2,
                         maReplace);
    }
    return out;
}

const VSFrame* get_frame(int n, int reason, void* instance_data, void**, VSFrameContext* ctx,
                         VSCore* core, const VSAPI* vsapi) {
    const Instance& self = *static_cast<const Instance*>(instance_data);
    if (reason == arInitial) {
        vsapi->requestFrameFilter(n, self.source, ctx);
        return nullptr;
    }
    if (reason != arAllFramesReady) return nullptr;
    const VSFrame* source = vsapi->getFrameFilter(n, self.source, ctx);
    if (!source) {
        vsapi->setFilterError(plugin::kNoSourceFrame, ctx);
        return nullptr;
    }
    const VSFrame* out = filter_frame(self, source, ctx, core, vsapi);
    vsapi->freeFrame(source);
    return out;
}

void free_instance(void* instance_data, VSCore*, const VSAPI* vsapi) {
    Instance* self = static_cast<Instance*>(instance_data);
    vsapi->freeNode(self->source);
    delete self;
}

// Estimate: the source's frame with its planes shared and VelnorNoise added.
const VSFrame* estimate_frame(int n, int reason, void* instance_data, void**, VSFrameContext* ctx,
                              VSCore* core, const VSAPI* vsapi) {
    const EstimateInstance& self = *static_cast<const EstimateInstance*>(instance_data);
    if (reason == arInitial) {
        vsapi->requestFrameFilter(n, self.source, ctx);
        return nullptr;
    }
    if (reason != arAllFramesReady) return nullptr;
    const VSFrame* source = vsapi->getFrameFilter(n, self.source, ctx);
    if (!source) {
        vsapi->setFilterError(plugin::kNoSourceFrame, ctx);
        return nullptr;
    }
    double noise = 0;
    try {
        NoiseEstimator estimator;
        add_luma(estimator, source, self.format, vsapi);
        noise = noise_value(estimator.estimate());
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
    vsapi->mapSetFloat(vsapi->getFramePropertiesRW(out), plugin::kNoiseProperty, noise, maReplace);
    return out;
}

void free_estimate(void* instance_data, VSCore*, const VSAPI* vsapi) {
    EstimateInstance* self = static_cast<EstimateInstance*>(instance_data);
    vsapi->freeNode(self->source);
    delete self;
}

// The luma noise of the frames spread_frames picks, fetched as a filter may while
// it is created; empty with `*error` set when the source fails to deliver one.
struct Measurement {
    NoiseEstimate estimate;
    std::vector<int64_t> frames;
};

std::optional<Measurement> measure(VSNode* source, const VSVideoInfo& vi, SampleFormat format,
                                   const VSAPI* vsapi, std::string* error) {
    Measurement m;
    m.frames = spread_frames(vi.numFrames,
                             static_cast<uint64_t>(vi.width) * static_cast<uint64_t>(vi.height));
    NoiseEstimator estimator;
    for (const int64_t n : m.frames) {
        char message[512] = "";
        const VSFrame* frame =
            vsapi->getFrame(static_cast<int>(n), source, message, static_cast<int>(sizeof message));
        if (!frame) {
            *error = plugin::measure_failure(n, message);
            return std::nullopt;
        }
        try {
            add_luma(estimator, frame, format, vsapi);
        } catch (...) {
            vsapi->freeFrame(frame);
            throw;
        }
        vsapi->freeFrame(frame);
    }
    m.estimate = estimator.estimate();
    return m;
}

// The one information message of an auto filter: the estimate, the frames it
// rests on and the settings used.
void log_choice(const Measurement& m, const VSVideoInfo& vi, const MeasuredSettings& chosen,
                const FilterValues& used, VSCore* core, const VSAPI* vsapi) {
    std::string frames;
    for (const int64_t n : m.frames) frames += (frames.empty() ? "" : ", ") + std::to_string(n);
    char text[640];
    if (chosen.basis == SettingsBasis::measured)
        std::snprintf(text, sizeof text, "Velnor: auto measured luma noise sigma %.2f",
                      m.estimate.sigma);
    else if (m.estimate.valid)
        std::snprintf(text, sizeof text, "Velnor: auto: %s (luma noise sigma %.2f)",
                      basis_reason(chosen.basis), m.estimate.sigma);
    else
        std::snprintf(text, sizeof text, "Velnor: auto: %s", basis_reason(chosen.basis));
    std::string line = text;
    std::snprintf(text, sizeof text,
                  " on frame%s %s of %dx%d; filtering with strength %d, threshold1 %d, "
                  "threshold2 %d",
                  m.frames.size() == 1 ? "" : "s", frames.c_str(), vi.width, vi.height,
                  used.strength, used.threshold1, used.threshold2);
    line += text;
    vsapi->logMessage(kInformationMessage, line.c_str(), core);
}

// Builds the instance for `source` from the arguments; null with `*refusal` set
// when Velnor does not take them, null alone when they choose no plane and ask for
// no measurement. Cheap refusals come before anything is measured.
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
    if (!automatic && !chosen[0] && !chosen[1] && !chosen[2]) return nullptr;  // nothing to do
    std::optional<Report> report;
    try {
        if (automatic) {
            const std::optional<Measurement> m = measure(source, vi, format, vsapi, refusal);
            if (!m) return nullptr;
            const MeasuredSettings measured = settings_for_estimate(m->estimate, PlaneKind::luma);
            // Values named in the call win.
            integer_or(in, "strength", measured.values.strength, vsapi, &strength);
            integer_or(in, "threshold1", measured.values.threshold1, vsapi, &threshold1);
            integer_or(in, "threshold2", measured.values.threshold2, vsapi, &threshold2);
            report = Report{noise_value(m->estimate), {strength, threshold1, threshold2}};
            log_choice(*m, vi, measured, report->values, core, vsapi);
        }
        auto instance = std::make_unique<Instance>(Instance{source, {}, report});
        for (int p = 0; p < kMaxPlanes; ++p) {
            if (!chosen[p]) continue;
            const int ssw = p == 0 ? 0 : vi.format.subSamplingW;
            const int ssh = p == 0 ? 0 : vi.format.subSamplingH;
            instance->planes[p].emplace(
                FilterSettings(vi.width >> ssw, vi.height >> ssh, strength, threshold1, threshold2),
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
