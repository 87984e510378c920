// The parts of the VapourSynth API 4 that Velnor uses, declared from the host's
// documented layouts. The host hands the plug-in two tables of function pointers
// (VSPLUGINAPI at load time, VSAPI with every call); the tables are declared whole
// up to the last entry of API 4.0, in the host's order, because an entry out of
// place would call the wrong function. Newer cores append entries after those.
//
// The asserts at the end pin the layouts of the 64-bit hosts (x86-64 Linux and
// Windows, plain C calling convention).
#pragma once

#include <cstddef>
#include <cstdint>

namespace velnor::vs {

// Opaque host objects.
struct VSFrame;
struct VSNode;
struct VSCore;
struct VSPlugin;
struct VSPluginFunction;
struct VSFunction;
struct VSMap;
struct VSLogHandle;
struct VSFrameContext;
struct VSAPI;

// API version major.minor as (major << 16) | minor; 4.0 is the version every API 4
// core loads.
inline constexpr int kApiMajor = 4;
inline constexpr int kApiMinor = 0;
inline constexpr int kApiVersion = (kApiMajor << 16) | kApiMinor;

// VSColorFamily
inline constexpr int cfUndefined = 0;
inline constexpr int cfGray = 1;
inline constexpr int cfRGB = 2;
inline constexpr int cfYUV = 3;

// VSSampleType
inline constexpr int stInteger = 0;
inline constexpr int stFloat = 1;

// VSFilterMode
inline constexpr int fmParallel = 0;
inline constexpr int fmParallelRequests = 1;
inline constexpr int fmUnordered = 2;
inline constexpr int fmFrameState = 3;

// VSMediaType
inline constexpr int mtVideo = 1;
inline constexpr int mtAudio = 2;

// VSRequestPattern
inline constexpr int rpGeneral = 0;
inline constexpr int rpNoFrameReuse = 1;
inline constexpr int rpStrictSpatial = 2;

// VSActivationReason
inline constexpr int arInitial = 0;
inline constexpr int arAllFramesReady = 1;
inline constexpr int arError = -1;

// VSMapAppendMode
inline constexpr int maReplace = 0;
inline constexpr int maAppend = 1;

// VSMapPropertyError
inline constexpr int peSuccess = 0;
inline constexpr int peUnset = 1;
inline constexpr int peType = 2;
inline constexpr int peError = 3;
inline constexpr int peIndex = 4;

struct VSVideoFormat {
    int colorFamily;
    int sampleType;
    int bitsPerSample;
    int bytesPerSample;
    int subSamplingW;  // log2 of the chroma subsampling
    int subSamplingH;
    int numPlanes;
};

struct VSAudioFormat {
    int sampleType;
    int bitsPerSample;
    int bytesPerSample;
    int numChannels;
    uint64_t channelLayout;
};

struct VSVideoInfo {
    VSVideoFormat format;  // colorFamily cfUndefined: the format varies per frame
    int64_t fpsNum;
    int64_t fpsDen;
    int width;  // 0 with height 0: the size varies per frame
    int height;
    int numFrames;
};

struct VSAudioInfo {
    VSAudioFormat format;
    int sampleRate;
    int64_t numSamples;
    int numFrames;
};

struct VSCoreInfo {
    const char* versionString;
    int core;
    int api;
    int numThreads;
    int64_t maxFramebufferSize;
    int64_t usedFramebufferSize;
};

struct VSFilterDependency {
    VSNode* source;
    int requestPattern;
};

using VSPublicFunction = void (*)(const VSMap* in, VSMap* out, void* userData, VSCore* core,
                                  const VSAPI* vsapi);
using VSFreeFunctionData = void (*)(void* userData);
using VSFilterGetFrame = const VSFrame* (*)(int n, int activationReason, void* instanceData,
                                            void** frameData, VSFrameContext* frameCtx,
                                            VSCore* core, const VSAPI* vsapi);
using VSFilterFree = void (*)(void* instanceData, VSCore* core, const VSAPI* vsapi);
using VSFrameDoneCallback = void (*)(void* userData, const VSFrame* f, int n, VSNode* node,
                                     const char* errorMsg);
using VSLogHandler = void (*)(int msgType, const char* msg, void* userData);
using VSLogHandlerFree = void (*)(void* userData);

struct VSPLUGINAPI {
    int (*getAPIVersion)();
    int (*configPlugin)(const char* identifier, const char* pluginNamespace, const char* name,
                        int pluginVersion, int apiVersion, int flags, VSPlugin* plugin);
    int (*registerFunction)(const char* name, const char* args, const char* returnType,
                            VSPublicFunction argsFunc, void* functionData, VSPlugin* plugin);
};

struct VSAPI {
    // Filters and nodes.
    void (*createVideoFilter)(VSMap* out, const char* name, const VSVideoInfo* vi,
                              VSFilterGetFrame getFrame, VSFilterFree free, int filterMode,
                              const VSFilterDependency* dependencies, int numDeps,
                              void* instanceData, VSCore* core);
    VSNode* (*createVideoFilter2)(const char* name, const VSVideoInfo* vi,
                                  VSFilterGetFrame getFrame, VSFilterFree free, int filterMode,
                                  const VSFilterDependency* dependencies, int numDeps,
                                  void* instanceData, VSCore* core);
    void (*createAudioFilter)(VSMap* out, const char* name, const VSAudioInfo* ai,
                              VSFilterGetFrame getFrame, VSFilterFree free, int filterMode,
                              const VSFilterDependency* dependencies, int numDeps,
                              void* instanceData, VSCore* core);
    VSNode* (*createAudioFilter2)(const char* name, const VSAudioInfo* ai,
                                  VSFilterGetFrame getFrame, VSFilterFree free, int filterMode,
                                  const VSFilterDependency* dependencies, int numDeps,
                                  void* instanceData, VSCore* core);
    int (*setLinearFilter)(VSNode* node);
    void (*setCacheMode)(VSNode* node, int mode);
    void (*setCacheOptions)(VSNode* node, int fixedSize, int maxSize, int maxHistorySize);

    void (*freeNode)(VSNode* node);
    VSNode* (*addNodeRef)(VSNode* node);
    int (*getNodeType)(VSNode* node);
    const VSVideoInfo* (*getVideoInfo)(VSNode* node);
    const VSAudioInfo* (*getAudioInfo)(VSNode* node);

    // Frames.
    VSFrame* (*newVideoFrame)(const VSVideoFormat* format, int width, int height,
                              const VSFrame* propSrc, VSCore* core);
    VSFrame* (*newVideoFrame2)(const VSVideoFormat* format, int width, int height,
                               const VSFrame** planeSrc, const int* planes, const VSFrame* propSrc,
                               VSCore* core);
    VSFrame* (*newAudioFrame)(const VSAudioFormat* format, int numSamples, const VSFrame* propSrc,
                              VSCore* core);
    VSFrame* (*newAudioFrame2)(const VSAudioFormat* format, int numSamples,
                               const VSFrame** channelSrc, const int* channels,
                               const VSFrame* propSrc, VSCore* core);
    void (*freeFrame)(const VSFrame* f);
    const VSFrame* (*addFrameRef)(const VSFrame* f);
    VSFrame* (*copyFrame)(const VSFrame* f, VSCore* core);
    const VSMap* (*getFramePropertiesRO)(const VSFrame* f);
    VSMap* (*getFramePropertiesRW)(VSFrame* f);

    ptrdiff_t (*getStride)(const VSFrame* f, int plane);
    const uint8_t* (*getReadPtr)(const VSFrame* f, int plane);
    uint8_t* (*getWritePtr)(VSFrame* f, int plane);

    const VSVideoFormat* (*getVideoFrameFormat)(const VSFrame* f);
    const VSAudioFormat* (*getAudioFrameFormat)(const VSFrame* f);
    int (*getFrameType)(const VSFrame* f);
    int (*getFrameWidth)(const VSFrame* f, int plane);
    int (*getFrameHeight)(const VSFrame* f, int plane);
    int (*getFrameLength)(const VSFrame* f);

    // Formats.
    int (*getVideoFormatName)(const VSVideoFormat* format, char* buffer);
    int (*getAudioFormatName)(const VSAudioFormat* format, char* buffer);
    int (*queryVideoFormat)(VSVideoFormat* format, int colorFamily, int sampleType,
                            int bitsPerSample, int subSamplingW, int subSamplingH, VSCore* core);
    int (*queryAudioFormat)(VSAudioFormat* format, int sampleType, int bitsPerSample,
                            uint64_t channelLayout, VSCore* core);
    uint32_t (*queryVideoFormatID)(int colorFamily, int sampleType, int bitsPerSample,
                                   int subSamplingW, int subSamplingH, VSCore* core);
    int (*getVideoFormatByID)(VSVideoFormat* format, uint32_t id, VSCore* core);

    // Frame requests.
    const VSFrame* (*getFrame)(int n, VSNode* node, char* errorMsg, int bufSize);
    void (*getFrameAsync)(int n, VSNode* node, VSFrameDoneCallback callback, void* userData);
    const VSFrame* (*getFrameFilter)(int n, VSNode* node, VSFrameContext* frameCtx);
    void (*requestFrameFilter)(int n, VSNode* node, VSFrameContext* frameCtx);
    void (*releaseFrameEarly)(VSNode* node, int n, VSFrameContext* frameCtx);
    void (*cacheFrame)(const VSFrame* frame, int n, VSFrameContext* frameCtx);
    void (*setFilterError)(const char* errorMessage, VSFrameContext* frameCtx);

    // Functions.
    VSFunction* (*createFunction)(VSPublicFunction func, void* userData, VSFreeFunctionData free,
                                  VSCore* core);
    void (*freeFunction)(VSFunction* f);
    VSFunction* (*addFunctionRef)(VSFunction* f);
    void (*callFunction)(VSFunction* func, const VSMap* in, VSMap* out);

    // Maps.
    VSMap* (*createMap)();
    void (*freeMap)(VSMap* map);
    void (*clearMap)(VSMap* map);
    void (*copyMap)(const VSMap* src, VSMap* dst);

    void (*mapSetError)(VSMap* map, const char* errorMessage);
    const char* (*mapGetError)(const VSMap* map);

    int (*mapNumKeys)(const VSMap* map);
    const char* (*mapGetKey)(const VSMap* map, int index);
    int (*mapDeleteKey)(VSMap* map, const char* key);
    int (*mapNumElements)(const VSMap* map, const char* key);
    int (*mapGetType)(const VSMap* map, const char* key);
    int (*mapSetEmpty)(VSMap* map, const char* key, int type);

    int64_t (*mapGetInt)(const VSMap* map, const char* key, int index, int* error);
    int (*mapGetIntSaturated)(const VSMap* map, const char* key, int index, int* error);
    const int64_t* (*mapGetIntArray)(const VSMap* map, const char* key, int* error);
    int (*mapSetInt)(VSMap* map, const char* key, int64_t i, int append);
    int (*mapSetIntArray)(VSMap* map, const char* key, const int64_t* i, int size);

    double (*mapGetFloat)(const VSMap* map, const char* key, int index, int* error);
    float (*mapGetFloatSaturated)(const VSMap* map, const char* key, int index, int* error);
    const double* (*mapGetFloatArray)(const VSMap* map, const char* key, int* error);
    int (*mapSetFloat)(VSMap* map, const char* key, double d, int append);
    int (*mapSetFloatArray)(VSMap* map, const char* key, const double* d, int size);

    const char* (*mapGetData)(const VSMap* map, const char* key, int index, int* error);
    int (*mapGetDataSize)(const VSMap* map, const char* key, int index, int* error);
    int (*mapGetDataTypeHint)(const VSMap* map, const char* key, int index, int* error);
    int (*mapSetData)(VSMap* map, const char* key, const char* data, int size, int type,
                      int append);

    VSNode* (*mapGetNode)(const VSMap* map, const char* key, int index, int* error);
    int (*mapSetNode)(VSMap* map, const char* key, VSNode* node, int append);
    int (*mapConsumeNode)(VSMap* map, const char* key, VSNode* node, int append);

    const VSFrame* (*mapGetFrame)(const VSMap* map, const char* key, int index, int* error);
    int (*mapSetFrame)(VSMap* map, const char* key, const VSFrame* f, int append);
    int (*mapConsumeFrame)(VSMap* map, const char* key, const VSFrame* f, int append);

    VSFunction* (*mapGetFunction)(const VSMap* map, const char* key, int index, int* error);
    int (*mapSetFunction)(VSMap* map, const char* key, VSFunction* func, int append);
    int (*mapConsumeFunction)(VSMap* map, const char* key, VSFunction* func, int append);

    // Plug-ins.
    int (*registerFunction)(const char* name, const char* args, const char* returnType,
                            VSPublicFunction argsFunc, void* functionData, VSPlugin* plugin);
    VSPlugin* (*getPluginByID)(const char* identifier, VSCore* core);
    VSPlugin* (*getPluginByNamespace)(const char* ns, VSCore* core);
    VSPlugin* (*getNextPlugin)(VSPlugin* plugin, VSCore* core);
    const char* (*getPluginName)(VSPlugin* plugin);
    const char* (*getPluginID)(VSPlugin* plugin);
    const char* (*getPluginNamespace)(VSPlugin* plugin);
    VSPluginFunction* (*getNextPluginFunction)(VSPluginFunction* func, VSPlugin* plugin);
    VSPluginFunction* (*getPluginFunctionByName)(const char* name, VSPlugin* plugin);
    const char* (*getPluginFunctionName)(VSPluginFunction* func);
    const char* (*getPluginFunctionArguments)(VSPluginFunction* func);
    const char* (*getPluginFunctionReturnType)(VSPluginFunction* func);
    const char* (*getPluginPath)(const VSPlugin* plugin);
    int (*getPluginVersion)(const VSPlugin* plugin);
    VSMap* (*invoke)(VSPlugin* plugin, const char* name, const VSMap* args);

    // Core.
    VSCore* (*createCore)(int flags);
    void (*freeCore)(VSCore* core);
    int64_t (*setMaxCacheSize)(int64_t bytes, VSCore* core);
    int (*setThreadCount)(int threads, VSCore* core);
    void (*getCoreInfo)(VSCore* core, VSCoreInfo* info);
    int (*getAPIVersion)();

    // Messages.
    void (*logMessage)(int msgType, const char* msg, VSCore* core);
    VSLogHandle* (*addLogHandler)(VSLogHandler handler, VSLogHandlerFree free, void* userData,
                                  VSCore* core);
    int (*removeLogHandler)(VSLogHandle* handle, VSCore* core);
};

// The core's entry point, exported by libvapoursynth (used by programs that drive
// a core, not by plug-ins).
using VSGetVapourSynthAPI = const VSAPI* (*)(int version);
// The plug-in's entry point, exported by the plug-in as VapourSynthPluginInit2.
using VSInitPlugin = void (*)(VSPlugin* plugin, const VSPLUGINAPI* vspapi);

#if defined(__x86_64__) || defined(_M_X64)
static_assert(sizeof(VSVideoFormat) == 28);
static_assert(sizeof(VSAudioFormat) == 24);
static_assert(sizeof(VSVideoInfo) == 64);
static_assert(offsetof(VSVideoInfo, fpsNum) == 32);
static_assert(offsetof(VSVideoInfo, width) == 48);
static_assert(offsetof(VSVideoInfo, numFrames) == 56);
static_assert(sizeof(VSFilterDependency) == 16);
static_assert(sizeof(VSPLUGINAPI) == 3 * sizeof(void*));
static_assert(offsetof(VSAPI, newVideoFrame2) == 13 * sizeof(void*));
static_assert(offsetof(VSAPI, getStride) == 21 * sizeof(void*));
static_assert(offsetof(VSAPI, getFrameFilter) == 38 * sizeof(void*));
static_assert(offsetof(VSAPI, mapSetError) == 51 * sizeof(void*));
static_assert(offsetof(VSAPI, mapGetInt) == 59 * sizeof(void*));
static_assert(offsetof(VSAPI, registerFunction) == 82 * sizeof(void*));
static_assert(sizeof(VSAPI) == 106 * sizeof(void*));
#endif

}  // namespace velnor::vs
