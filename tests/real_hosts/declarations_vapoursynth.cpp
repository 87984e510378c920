// Compares the project's VapourSynth declarations with an install's VapourSynth4.h:
// struct sizes and offsets, the order and type of every entry of both function
// tables, and the constants. Built once per install prefix; exit status 0 when all
// match.
#include <VapourSynth4.h>

#include <cstddef>

#include "plugin/vapoursynth/vs_interface.h"
#include "tests/real_hosts/declaration_report.h"
#include "tests/real_hosts/harness_constants.h"

namespace ours = velnor::vs;
using velnor::real_hosts::DeclarationReport;
using velnor::real_hosts::kSameType;
using velnor::real_hosts::Leaf;

VELNOR_LEAF(VSFrame)
VELNOR_LEAF(VSNode)
VELNOR_LEAF(VSCore)
VELNOR_LEAF(VSPlugin)
VELNOR_LEAF(VSPluginFunction)
VELNOR_LEAF(VSFunction)
VELNOR_LEAF(VSMap)
VELNOR_LEAF(VSLogHandle)
VELNOR_LEAF(VSFrameContext)
VELNOR_LEAF(VSAPI)
VELNOR_LEAF(VSPLUGINAPI)
VELNOR_LEAF(VSVideoFormat)
VELNOR_LEAF(VSAudioFormat)
VELNOR_LEAF(VSVideoInfo)
VELNOR_LEAF(VSAudioInfo)
VELNOR_LEAF(VSCoreInfo)
VELNOR_LEAF(VSFilterDependency)

namespace {

// clang-format off
#define VELNOR_VSAPI_ENTRIES(X)                                                                    \
    X(createVideoFilter) X(createVideoFilter2) X(createAudioFilter) X(createAudioFilter2)          \
    X(setLinearFilter) X(setCacheMode) X(setCacheOptions) X(freeNode) X(addNodeRef)                \
    X(getNodeType) X(getVideoInfo) X(getAudioInfo) X(newVideoFrame) X(newVideoFrame2)              \
    X(newAudioFrame) X(newAudioFrame2) X(freeFrame) X(addFrameRef) X(copyFrame)                    \
    X(getFramePropertiesRO) X(getFramePropertiesRW) X(getStride) X(getReadPtr) X(getWritePtr)      \
    X(getVideoFrameFormat) X(getAudioFrameFormat) X(getFrameType) X(getFrameWidth)                 \
    X(getFrameHeight) X(getFrameLength) X(getVideoFormatName) X(getAudioFormatName)                \
    X(queryVideoFormat) X(queryAudioFormat) X(queryVideoFormatID) X(getVideoFormatByID)            \
    X(getFrame) X(getFrameAsync) X(getFrameFilter) X(requestFrameFilter) X(releaseFrameEarly)      \
    X(cacheFrame) X(setFilterError) X(createFunction) X(freeFunction) X(addFunctionRef)            \
    X(callFunction) X(createMap) X(freeMap) X(clearMap) X(copyMap) X(mapSetError)                  \
    X(mapGetError) X(mapNumKeys) X(mapGetKey) X(mapDeleteKey) X(mapNumElements) X(mapGetType)      \
    X(mapSetEmpty) X(mapGetInt) X(mapGetIntSaturated) X(mapGetIntArray) X(mapSetInt)               \
    X(mapSetIntArray) X(mapGetFloat) X(mapGetFloatSaturated) X(mapGetFloatArray) X(mapSetFloat)    \
    X(mapSetFloatArray) X(mapGetData) X(mapGetDataSize) X(mapGetDataTypeHint) X(mapSetData)        \
    X(mapGetNode) X(mapSetNode) X(mapConsumeNode) X(mapGetFrame) X(mapSetFrame)                    \
    X(mapConsumeFrame) X(mapGetFunction) X(mapSetFunction) X(mapConsumeFunction)                   \
    X(registerFunction) X(getPluginByID) X(getPluginByNamespace) X(getNextPlugin)                  \
    X(getPluginName) X(getPluginID) X(getPluginNamespace) X(getNextPluginFunction)                 \
    X(getPluginFunctionByName) X(getPluginFunctionName) X(getPluginFunctionArguments)              \
    X(getPluginFunctionReturnType) X(getPluginPath) X(getPluginVersion) X(invoke) X(createCore)    \
    X(freeCore) X(setMaxCacheSize) X(setThreadCount) X(getCoreInfo) X(getAPIVersion)               \
    X(logMessage) X(addLogHandler) X(removeLogHandler)
// clang-format on

}  // namespace

int main() {
    DeclarationReport report("VapourSynth4.h");

    VELNOR_SIZE(report, VSVideoFormat);
    VELNOR_MEMBER(report, VSVideoFormat, colorFamily);
    VELNOR_MEMBER(report, VSVideoFormat, sampleType);
    VELNOR_MEMBER(report, VSVideoFormat, bitsPerSample);
    VELNOR_MEMBER(report, VSVideoFormat, bytesPerSample);
    VELNOR_MEMBER(report, VSVideoFormat, subSamplingW);
    VELNOR_MEMBER(report, VSVideoFormat, subSamplingH);
    VELNOR_MEMBER(report, VSVideoFormat, numPlanes);
    VELNOR_SIZE(report, VSAudioFormat);
    VELNOR_MEMBER(report, VSAudioFormat, sampleType);
    VELNOR_MEMBER(report, VSAudioFormat, bitsPerSample);
    VELNOR_MEMBER(report, VSAudioFormat, bytesPerSample);
    VELNOR_MEMBER(report, VSAudioFormat, numChannels);
    VELNOR_MEMBER(report, VSAudioFormat, channelLayout);
    VELNOR_SIZE(report, VSVideoInfo);
    VELNOR_MEMBER(report, VSVideoInfo, format);
    VELNOR_MEMBER(report, VSVideoInfo, fpsNum);
    VELNOR_MEMBER(report, VSVideoInfo, fpsDen);
    VELNOR_MEMBER(report, VSVideoInfo, width);
    VELNOR_MEMBER(report, VSVideoInfo, height);
    VELNOR_MEMBER(report, VSVideoInfo, numFrames);
    VELNOR_SIZE(report, VSAudioInfo);
    VELNOR_MEMBER(report, VSAudioInfo, format);
    VELNOR_MEMBER(report, VSAudioInfo, sampleRate);
    VELNOR_MEMBER(report, VSAudioInfo, numSamples);
    VELNOR_MEMBER(report, VSAudioInfo, numFrames);
    VELNOR_SIZE(report, VSCoreInfo);
    VELNOR_MEMBER(report, VSCoreInfo, versionString);
    VELNOR_MEMBER(report, VSCoreInfo, core);
    VELNOR_MEMBER(report, VSCoreInfo, api);
    VELNOR_MEMBER(report, VSCoreInfo, numThreads);
    VELNOR_MEMBER(report, VSCoreInfo, maxFramebufferSize);
    VELNOR_MEMBER(report, VSCoreInfo, usedFramebufferSize);
    VELNOR_SIZE(report, VSFilterDependency);
    VELNOR_MEMBER(report, VSFilterDependency, source);
    VELNOR_MEMBER(report, VSFilterDependency, requestPattern);

    VELNOR_SIZE(report, VSPLUGINAPI);
    VELNOR_MEMBER(report, VSPLUGINAPI, getAPIVersion);
    VELNOR_MEMBER(report, VSPLUGINAPI, configPlugin);
    VELNOR_MEMBER(report, VSPLUGINAPI, registerFunction);
    // The header's API 4.0 table: newer cores append entries after it.
    VELNOR_SIZE(report, VSAPI);
#define VELNOR_ENTRY(m) VELNOR_MEMBER(report, VSAPI, m);
    VELNOR_VSAPI_ENTRIES(VELNOR_ENTRY)
#undef VELNOR_ENTRY

    report.same_type("VSPublicFunction",
                     kSameType<Leaf, ::VSPublicFunction, ours::VSPublicFunction>);
    report.same_type("VSFilterGetFrame",
                     kSameType<Leaf, ::VSFilterGetFrame, ours::VSFilterGetFrame>);
    report.same_type("VSFilterFree", kSameType<Leaf, ::VSFilterFree, ours::VSFilterFree>);
    report.same_type("VSFrameDoneCallback",
                     kSameType<Leaf, ::VSFrameDoneCallback, ours::VSFrameDoneCallback>);
    report.same_type("VSGetVapourSynthAPI",
                     kSameType<Leaf, ::VSGetVapourSynthAPI, ours::VSGetVapourSynthAPI>);
    report.same_type("VSInitPlugin", kSameType<Leaf, ::VSInitPlugin, ours::VSInitPlugin>);
    report.same_type("getVapourSynthAPI",
                     kSameType<Leaf, decltype(&::getVapourSynthAPI), ours::VSGetVapourSynthAPI>);

    report.value("kApiVersion", ours::kApiVersion, VAPOURSYNTH_API_VERSION);
    report.value("kApiMajor", ours::kApiMajor, VAPOURSYNTH_API_MAJOR);
    report.value("kApiMinor", ours::kApiMinor, VAPOURSYNTH_API_MINOR);
    VELNOR_CONSTANT(report, cfUndefined);
    VELNOR_CONSTANT(report, cfGray);
    VELNOR_CONSTANT(report, cfRGB);
    VELNOR_CONSTANT(report, cfYUV);
    VELNOR_CONSTANT(report, stInteger);
    VELNOR_CONSTANT(report, stFloat);
    VELNOR_CONSTANT(report, fmParallel);
    VELNOR_CONSTANT(report, fmParallelRequests);
    VELNOR_CONSTANT(report, fmUnordered);
    VELNOR_CONSTANT(report, fmFrameState);
    VELNOR_CONSTANT(report, mtVideo);
    VELNOR_CONSTANT(report, mtAudio);
    VELNOR_CONSTANT(report, rpGeneral);
    VELNOR_CONSTANT(report, rpNoFrameReuse);
    VELNOR_CONSTANT(report, rpStrictSpatial);
    VELNOR_CONSTANT(report, arInitial);
    VELNOR_CONSTANT(report, arAllFramesReady);
    VELNOR_CONSTANT(report, arError);
    VELNOR_CONSTANT(report, maReplace);
    VELNOR_CONSTANT(report, maAppend);
    VELNOR_CONSTANT(report, peSuccess);
    VELNOR_CONSTANT(report, peUnset);
    VELNOR_CONSTANT(report, peType);
    VELNOR_CONSTANT(report, peError);
    VELNOR_CONSTANT(report, peIndex);
    report.value("kVsDataUtf8 (harness)", velnor::real_hosts::kVsDataUtf8, dtUtf8);
    return report.finish();
}
