#include "plugin/vapoursynth/velnor_vs.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

#include "core/denoiser.h"
#include "core/filter_settings.h"
#include "plugin/script_function.h"

namespace velnor::vs {

namespace {

// One Velnor node's state; read-only once created, so the core may request
// frames from any number of threads at once.
struct Instance {
    VSNode* source;
    Denoiser denoiser;
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

// Makes the output frame: chroma planes and properties shared with `source`, luma
// a filtered copy of the source's. Null with the error set on `ctx` on failure.
const VSFrame* filter_frame(const Instance& self, const VSFrame* source, VSFrameContext* ctx,
                            VSCore* core, const VSAPI* vsapi) {
    const FilterSettings& s = self.denoiser.settings();
    const VSVideoFormat* format = vsapi->getVideoFrameFormat(source);
    const int width = vsapi->getFrameWidth(source, 0);
    const int height = vsapi->getFrameHeight(source, 0);
    if (width != s.width || height != s.height) {
        vsapi->setFilterError(plugin::kFrameSize, ctx);
        return nullptr;
    }
    const VSFrame* plane_sources[3] = {nullptr, source, source};
    const int planes[3] = {0, 1, 2};
    VSFrame* out =
        vsapi->newVideoFrame2(format, width, height, plane_sources, planes, source, core);
    if (!out) {
        vsapi->setFilterError(plugin::kOutOfMemory, ctx);
        return nullptr;
    }
    const uint8_t* src = vsapi->getReadPtr(source, 0);
    const ptrdiff_t src_stride = vsapi->getStride(source, 0);
    uint8_t* dst = vsapi->getWritePtr(out, 0);
    const ptrdiff_t dst_stride = vsapi->getStride(out, 0);
    for (int y = 0; y < height; ++y)
        std::memcpy(dst + y * dst_stride, src + y * src_stride, static_cast<size_t>(width));
    PassStatus status = PassStatus::out_of_memory;
    try {
        status = self.denoiser.filter(dst, dst_stride);
    } catch (...) {
    }
    if (status != PassStatus::ok) {
        vsapi->freeFrame(out);
        vsapi->setFilterError(plugin::kOutOfMemory, ctx);
        return nullptr;
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

void create_velnor(const VSMap* in, VSMap* out, void*, VSCore* core, const VSAPI* vsapi) {
    VSNode* source = vsapi->mapGetNode(in, "clip", 0, nullptr);
    const VSVideoInfo* vi = vsapi->getVideoInfo(source);
    const char* refusal = nullptr;
    int32_t strength = 0, threshold1 = 0, threshold2 = 0;
    if (!accepts_format(*vi))
        refusal = kFormatRefusal;
    else if (!integer_or(in, "strength", kDefaultStrength, vsapi, &strength) ||
             !integer_or(in, "threshold1", kDefaultThreshold1, vsapi, &threshold1) ||
             !integer_or(in, "threshold2", kDefaultThreshold2, vsapi, &threshold2))
        refusal = plugin::kParameterRange;
    Instance* instance = nullptr;
    if (!refusal) {
        try {
            instance = new Instance{source, Denoiser(FilterSettings(vi->width, vi->height, strength,
                                                                    threshold1, threshold2))};
        } catch (...) {
            refusal = plugin::kOutOfMemory;
        }
    }
    if (refusal) {
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

bool accepts_format(const VSVideoInfo& vi) {
    const VSVideoFormat& f = vi.format;
    return (f.colorFamily == cfYUV || f.colorFamily == cfGray) && f.sampleType == stInteger &&
           f.bitsPerSample == 8 && f.bytesPerSample == 1 && vi.width > 0 && vi.height > 0;
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
