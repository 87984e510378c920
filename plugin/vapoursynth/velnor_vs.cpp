#include "plugin/vapoursynth/velnor_vs.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <optional>

#include "core/denoiser.h"
#include "core/filter_settings.h"
#include "plugin/script_function.h"

namespace velnor::vs {

namespace {

constexpr int kMaxPlanes = 3;

// One Velnor node's state; read-only once created, so the core may request
// frames from any number of threads at once. A plane has a denoiser (made for its
// own size) exactly when it is filtered.
struct Instance {
    VSNode* source;
    std::optional<Denoiser> planes[kMaxPlanes];
};

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

// Builds the instance for `source` from the arguments; null with `*refusal` set
// when Velnor does not take them, null alone when they choose no plane.
Instance* make_instance(VSNode* source, const VSVideoInfo& vi, const VSMap* in, const VSAPI* vsapi,
                        const char** refusal) {
    const SampleFormat format = sample_format_of(vi);
    int32_t strength = 0, threshold1 = 0, threshold2 = 0;
    bool chosen[kMaxPlanes];
    if (!format.valid()) {
        *refusal = kFormatRefusal;
    } else if (!integer_or(in, "strength", kDefaultStrength, vsapi, &strength) ||
               !integer_or(in, "threshold1", kDefaultThreshold1, vsapi, &threshold1) ||
               !integer_or(in, "threshold2", kDefaultThreshold2, vsapi, &threshold2)) {
        *refusal = plugin::kParameterRange;
    } else if (!planes_to_filter(in, vi.format.numPlanes, vsapi, chosen)) {
        *refusal = kPlanesRefusal;
    }
    if (*refusal) return nullptr;
    if (!chosen[0] && !chosen[1] && !chosen[2]) return nullptr;  // nothing to filter
    try {
        auto* instance = new Instance{source, {}};
        for (int p = 0; p < kMaxPlanes; ++p) {
            if (!chosen[p]) continue;
            const int ssw = p == 0 ? 0 : vi.format.subSamplingW;
            const int ssh = p == 0 ? 0 : vi.format.subSamplingH;
            instance->planes[p].emplace(
                FilterSettings(vi.width >> ssw, vi.height >> ssh, strength, threshold1, threshold2),
                format);
        }
        return instance;
    } catch (...) {
        *refusal = plugin::kOutOfMemory;
        return nullptr;
    }
}

void create_velnor(const VSMap* in, VSMap* out, void*, VSCore* core, const VSAPI* vsapi) {
    VSNode* source = vsapi->mapGetNode(in, "clip", 0, nullptr);
    const VSVideoInfo* vi = vsapi->getVideoInfo(source);
    const char* refusal = nullptr;
    Instance* instance = make_instance(source, *vi, in, vsapi, &refusal);
    if (!instance && !refusal) {  // planes=[]: the clip passes through untouched
        vsapi->mapConsumeNode(out, "clip", source, maAppend);
        return;
    }
    if (!instance) {
        vsapi->freeNode(source);
        vsapi->mapSetError(out, refusal);
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
}
