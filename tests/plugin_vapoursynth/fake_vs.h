// A compact stand-in for a VapourSynth API 4 core: maps of integers and
// nodes; source nodes of random frames; the two-step frame requests of a filter;
// frames of any sample size whose planes can be shared between frames, each plane
// padded so that a write beyond it shows.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <variant>
#include <vector>

#include "plugin/vapoursynth/vs_interface.h"
#include "tests/test_plane.h"

namespace velnor::vs {

struct VSMap {
    using Value = std::variant<int64_t, VSNode*, double>;
    std::map<std::string, std::vector<Value>> entries;
    std::string error;
    bool operator==(const VSMap& other) const { return entries == other.entries; }
};

struct VSFrame {
    std::atomic<int> refs{1};
    VSVideoFormat format{};
    int width = 0;
    int height = 0;
    std::shared_ptr<test::TestPlane> planes[3];
    VSMap props;
};

struct VSNode {
    std::atomic<int> refs{1};
    VSVideoInfo vi{};
    // A filter node:
    VSFilterGetFrame get_frame = nullptr;
    VSFilterFree free = nullptr;
    void* instance = nullptr;
    int mode = -1;
    std::vector<VSFilterDependency> dependencies;
    // A source node: its frames, kept so that tests can compare with them, and
    // how many rows they lack against vi (a faulty source).
    int frame_shrink = 0;
    // A source that fails to deliver frame `failing`, and one whose luma samples
    // are the 8-bit value `luma` (if not negative) plus uniform noise of up to
    // `luma_noise` either way.
    int failing = -1;
    int luma = -1;
    int luma_noise = 0;
    // The same for planes 1 and 2.
    int chroma[2] = {-1, -1};
    int chroma_noise[2] = {0, 0};
    std::atomic<int> requests{0};
    std::mutex mutex;
    std::map<int, const VSFrame*> frames;
};

struct VSFrameContext {
    VSNode* requested_node = nullptr;
    int requested_n = -1;
    const VSFrame* ready = nullptr;
    std::string error;
};

struct VSCore {};

struct VSPlugin {
    std::string identifier, plugin_namespace, name;
    int version = 0, api_version = 0;
    struct Function {
        std::string name, args, return_type;
        VSPublicFunction create;
        void* data;
    };
    std::vector<Function> functions;
};

class FakeVs {
public:
    static const VSAPI& api();
    static const VSPLUGINAPI& plugin_api();
    static std::atomic<int> live_frames;
    // Messages logged through logMessage: type and text.
    static std::vector<std::pair<int, std::string>> log;

    // A source node of `format` (a null format: variable) and size.
    static VSNode* source(const VSVideoFormat& format, int width, int height);
    static VSVideoFormat format(int color_family, int sample_type, int bits, int ssw, int ssh);

    // Calls the registered Velnor on `source` with the given integer (array)
    // arguments; the new node, or null with `error` set.
    using Args = std::map<std::string, std::vector<int64_t>>;
    VSNode* call_velnor(VSNode* source, const Args& args, std::string* error);
    // Calls the registered Estimate on `source`.
    VSNode* call_estimate(VSNode* source, std::string* error);

    // Frame n of `node`, requested as the core does; null with `error` set on failure.
    static const VSFrame* get_frame(VSNode* node, int n, std::string* error = nullptr);

    VSCore core;
    VSPlugin plugin;
};

}  // namespace velnor::vs
