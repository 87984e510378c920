// Counts what a real host keeps per load of the plug-in: CYCLES times a new script
// environment or core, the plug-in loaded by path, one frame filtered, the
// environment deleted or the core freed. Prints the heap in use per cycle and exits
// non-zero when it reaches kToleratedBytesPerCycle or the host keeps the plug-in
// loaded (1 on a failure, 2 on a usage error). The host library itself is opened
// privately once, as an editor keeps it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "plugin/vapoursynth/vs_interface.h"
#include "tests/real_hosts/avisynth_api.h"
#include "tests/real_hosts/harness_constants.h"
#include "tests/real_hosts/heap_in_use.h"
#include "tests/real_hosts/shared_library.h"

namespace velnor::real_hosts {
namespace {

constexpr int kDefaultCycles = 200;
constexpr int kWarmUpCycles = 5;
constexpr std::size_t kToleratedBytesPerCycle = 1024;

// One AviSynth+ cycle; false with the reason printed.
bool avisynth_cycle(const AvisynthApi& api, const std::string& plugin) {
    avs::AVS_ScriptEnvironment* env = api.create_script_environment(kAvsClassicInterfaceVersion);
    if (!env) return std::printf("no script environment\n"), false;
    const std::string script = "LoadPlugin(\"" + plugin +
                               "\")\nBlankClip(width=64, height=48, pixel_type=\"YV12\").Velnor()";
    avs::AVS_Value text{};
    text.type = kAvsValueString;
    text.d.string = script.c_str();
    avs::AVS_Value value = api.invoke(env, "Eval", text, nullptr);
    bool ok = value.type == avs::kValueClip;
    if (!ok) std::printf("%s\n", value.type == avs::kValueError ? value.d.string : "not a clip");
    if (ok) {
        avs::AVS_Clip* clip = api.take_clip(value, env);
        avs::AVS_VideoFrame* frame = api.get_frame(clip, 0);
        ok = frame != nullptr;
        if (frame)
            api.release_video_frame(frame);
        else
            std::printf("no frame: %s\n", api.clip_get_error(clip));
        api.release_clip(clip);
    }
    api.release_value(value);
    api.delete_script_environment(env);
    return ok;
}

// One VapourSynth cycle; false with the reason printed.
bool vapoursynth_cycle(const vs::VSAPI& api, const std::string& plugin) {
    vs::VSCore* core = api.createCore(0);
    if (!core) return std::printf("no core\n"), false;
    vs::VSMap* args = api.createMap();
    api.mapSetData(args, "path", plugin.c_str(), -1, kVsDataUtf8, vs::maReplace);
    vs::VSMap* out = api.invoke(api.getPluginByID("com.vapoursynth.std", core), "LoadPlugin", args);
    const char* error = api.mapGetError(out);
    bool ok = !error;
    if (error) std::printf("LoadPlugin: %s\n", error);
    api.freeMap(out);
    api.clearMap(args);
    vs::VSNode* node = nullptr;
    if (ok) {
        api.mapSetInt(args, "width", 64, vs::maReplace);
        api.mapSetInt(args, "height", 48, vs::maReplace);
        api.mapSetInt(args, "format",
                      api.queryVideoFormatID(vs::cfYUV, vs::stInteger, 8, 1, 1, core),
                      vs::maReplace);
        out = api.invoke(api.getPluginByID("com.vapoursynth.std", core), "BlankClip", args);
        vs::VSNode* blank = api.mapGetNode(out, "clip", 0, nullptr);
        api.freeMap(out);
        api.clearMap(args);
        api.mapConsumeNode(args, "clip", blank, vs::maReplace);
        out = api.invoke(api.getPluginByNamespace("velnor", core), "Velnor", args);
        if ((error = api.mapGetError(out)))
            std::printf("Velnor: %s\n", error);
        else
            node = api.mapGetNode(out, "clip", 0, nullptr);
        api.freeMap(out);
    }
    if (node) {
        char message[256] = {};
        const vs::VSFrame* frame = api.getFrame(0, node, message, sizeof message);
        if (frame)
            api.freeFrame(frame);
        else
            std::printf("no frame: %s\n", message);
        ok = frame != nullptr;
        api.freeNode(node);
    }
    api.freeMap(args);
    api.freeCore(core);
    return ok && node;
}

template <typename Cycle>
int measure(const char* host, const std::string& plugin, int cycles, Cycle cycle) {
    for (int i = 0; i < kWarmUpCycles; ++i)
        if (!cycle()) return 1;
    const std::size_t before = heap_in_use();
    for (int i = 0; i < cycles; ++i)
        if (!cycle()) return 1;
    const std::size_t after = heap_in_use();
    // A host that kept the plug-in would show nothing of what an unload leaves.
    if (SharedLibrary::loaded(plugin))
        return std::printf("%s kept the plug-in loaded: no unload to measure -> FAIL\n", host), 1;
    const double per_cycle = (static_cast<double>(after) - static_cast<double>(before)) / cycles;
    const bool pass = per_cycle < kToleratedBytesPerCycle;
    std::printf(
        "%s: %d load/unload cycles, heap in use %zu -> %zu bytes, %.1f bytes per cycle "
        "-> %s\n",
        host, cycles, before, after, per_cycle, pass ? "PASS" : "FAIL");
    return pass ? 0 : 1;
}

int usage() {
    std::fprintf(stderr,
                 "usage: unload_cycles avisynth LIBAVISYNTH PLUGIN [CYCLES]\n"
                 "       unload_cycles vapoursynth LIBVAPOURSYNTH PLUGIN [CYCLES]\n");
    return 2;
}

}  // namespace
}  // namespace velnor::real_hosts

int main(int argc, char** argv) {
    using namespace velnor::real_hosts;
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc != 4 && argc != 5) return usage();
    const int cycles = argc == 5 ? std::atoi(argv[4]) : kDefaultCycles;
    if (cycles <= 0) return usage();
    const std::string plugin = argv[3];
    SharedLibrary library(argv[2], false);
    if (!library.is_open()) return std::printf("%s\n", library.error().c_str()), 1;
    if (!std::strcmp(argv[1], "avisynth")) {
        AvisynthApi api;
        bool resolved = true;
#define VELNOR_RESOLVE(name, type) resolved = library.resolve("avs_" #name, api.name) && resolved;
        VELNOR_AVISYNTH_FUNCTIONS(VELNOR_RESOLVE)
#undef VELNOR_RESOLVE
        if (!resolved) return std::printf("%s\n", library.error().c_str()), 1;
        return measure("AviSynth+", plugin, cycles, [&] { return avisynth_cycle(api, plugin); });
    }
    if (!std::strcmp(argv[1], "vapoursynth")) {
        velnor::vs::VSGetVapourSynthAPI get_api = nullptr;
        if (!library.resolve("getVapourSynthAPI", get_api))
            return std::printf("%s\n", library.error().c_str()), 1;
        const velnor::vs::VSAPI* api = get_api(velnor::vs::kApiVersion);
        if (!api) return std::printf("the core offers no API 4.0\n"), 1;
        return measure("VapourSynth", plugin, cycles,
                       [&] { return vapoursynth_cycle(*api, plugin); });
    }
    return usage();
}
