#include "plugin/avisynth25/plugin_entry.h"

#include <cstdio>
#include <new>

#include "core/test_events.h"
#include "plugin/avisynth25/host_references.h"
#include "plugin/avisynth25/velnor_filter.h"

namespace velnor::plugin {

using host::AVSValue;
using host::IClip;
using host::IScriptEnvironment;

namespace {

// The bound arguments: an array in parameter order (a lone value is its own array).
struct Arguments {
    const AVSValue* values;
    int count;

    explicit Arguments(const AVSValue& args)
        : values(args.type == host::kValueArray ? args.array : &args),
          count(args.type == host::kValueArray ? args.array_size : 1) {}

    IClip* clip(int i) const {
        return i < count && values[i].type == host::kValueClip ? values[i].clip : nullptr;
    }
    // An argument the script left out (or that holds no integer) takes the default.
    int32_t integer_or(int i, int32_t fallback) const {
        return i < count && values[i].type == host::kValueInt ? values[i].integer : fallback;
    }
};

// Raises a script error after giving up `args`, which this callback owns; the
// host's error does not run our destructors. Answers 0 if the error returns.
AVSValue* fail(AVSValue* result, AVSValue& args, IScriptEnvironment* env, const char* message) {
    host::destroy_value(args);
    env->vtable->ThrowError(env, message);
    *result = host::int_value(0);
    return result;
}

void report_level(SimdLevel level) {
    const char* path = test_events_path();
    if (path == nullptr) return;
    // Binary, so that the line ends in LF on Windows too.
    if (std::FILE* file = std::fopen(path, "ab")) {
        std::fprintf(file, "level %s\n", level_name(level));
        std::fclose(file);
    }
}

}  // namespace

// The input clip is read from the argument array without a reference of its own:
// the array holds one for the whole call, and no reference is then held across
// ThrowError.
AVSValue* VELNOR_CDECL create_velnor(AVSValue* result, AVSValue args, void*,
                                     IScriptEnvironment* env) {
    const Arguments arguments(args);
    IClip* clip = arguments.clip(0);
    if (!clip || !host::is_yv12(*clip->vtable->GetVideoInfo(clip)))
        return fail(result, args, env, "Velnor: Requires YV12 input");

    const int32_t strength = arguments.integer_or(1, kDefaultStrength);
    const int32_t threshold1 = arguments.integer_or(2, kDefaultThreshold1);
    const int32_t threshold2 = arguments.integer_or(3, kDefaultThreshold2);
    // The host is called only after the catch block has ended: its error must not
    // unwind through a handler of ours.
    VelnorFilter* filter = nullptr;
    try {
        filter = new VelnorFilter(clip, strength, threshold1, threshold2);
    } catch (...) {
        filter = nullptr;
    }
    if (!filter) return fail(result, args, env, "Velnor: out of memory");
    report_level(filter->level());
    *result = host::clip_value(filter);
    host::destroy_value(args);
    return result;
}

}  // namespace velnor::plugin

extern "C" const char* VELNOR_STDCALL AvisynthPluginInit2(velnor::host::IScriptEnvironment* env) {
    using namespace velnor::plugin;
    env->vtable->AddFunction(env, kFunctionName, kParameters, create_velnor, nullptr);
    return kVersionText;
}
