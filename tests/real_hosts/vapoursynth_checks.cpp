// The VapourSynth checks: a random source filter made through the API, Velnor invoked
// on it in every accepted format and depth with every argument set and plane list,
// frames pulled one by one and all at once from the core's threads, and refusals of
// the formats and plane lists it does not take.
#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/measured_settings.h"
#include "plugin/script_function.h"
#include "plugin/vapoursynth/vs_interface.h"
#include "tests/real_hosts/cli_suggestion.h"
#include "tests/real_hosts/frame_check.h"
#include "tests/real_hosts/harness_constants.h"
#include "tests/real_hosts/host_checks.h"
#include "tests/real_hosts/shared_library.h"

namespace velnor::real_hosts {

namespace {

using namespace velnor::vs;

constexpr int kFrames = 6;
constexpr uint32_t kSeed = 3141;
constexpr const char kFrameKey[] = "VelnorTestFrame";
constexpr const char kFieldKey[] = "_FieldBased";
constexpr int kFieldValue = 2;

struct Format {
    int color_family, sample_type, bits, subsampling_w, subsampling_h;
};

const Format kAccepted[] = {
    {cfGray, stInteger, 8, 0, 0}, {cfYUV, stInteger, 8, 1, 1},  {cfYUV, stInteger, 8, 1, 0},
    {cfYUV, stInteger, 8, 0, 0},  {cfYUV, stInteger, 8, 2, 2},  {cfYUV, stInteger, 8, 2, 0},
    {cfYUV, stInteger, 8, 0, 1},  {cfYUV, stInteger, 10, 1, 1}, {cfYUV, stInteger, 12, 1, 0},
    {cfYUV, stInteger, 16, 1, 1}, {cfYUV, stInteger, 16, 0, 0}, {cfGray, stInteger, 16, 0, 0},
    {cfYUV, stFloat, 32, 1, 1},   {cfYUV, stFloat, 32, 0, 0},   {cfGray, stFloat, 32, 0, 0},
};

// A zero colour family stands for a clip whose format varies.
const Format kRefused[] = {
    {cfRGB, stInteger, 8, 0, 0}, {cfRGB, stInteger, 16, 0, 0}, {cfRGB, stFloat, 32, 0, 0},
    {cfYUV, stFloat, 16, 0, 0},  {cfGray, stFloat, 16, 0, 0},  {0, 0, 0, 0, 0},
};

// auto's checks: one format per depth, on a clip long enough for the frames it
// measures to spread.
const Format kAutoFormats[] = {{cfYUV, stInteger, 8, 1, 1},
                               {cfYUV, stInteger, 10, 1, 1},
                               {cfYUV, stInteger, 16, 1, 1},
                               {cfYUV, stFloat, 32, 1, 1}};
constexpr int kAutoFrames = 30;
constexpr int kAutoWidth = 352, kAutoHeight = 200;
// velnor --suggest prints the estimate with two decimals.
constexpr double kPrintedSigma = 0.005;
constexpr int kInformationMessage = 1;

// Plane lists refused on a YUV clip.
const std::vector<int> kRefusedPlanes[] = {{3}, {0, 0}, {-1}};

SampleFormat sample_format(const VSVideoFormat& f) {
    return f.sampleType == stFloat ? SampleFormat::floating()
                                   : SampleFormat::integer(f.bitsPerSample);
}

struct Size {
    int width, height;
};

// The widest holds column positions beyond what 16-bit lanes can.
const Size kSizes[] = {{4, 4}, {76, 44}, {352, 200}, {65600, 8}};

struct NoiseSource {
    VSVideoInfo vi;
};

const VSFrame* noise_frame(int n, int reason, void* instance, void**, VSFrameContext*, VSCore* core,
                           const VSAPI* api) {
    if (reason != arInitial) return nullptr;
    const VSVideoInfo& vi = static_cast<NoiseSource*>(instance)->vi;
    VSFrame* frame = api->newVideoFrame(&vi.format, vi.width, vi.height, nullptr, core);
    for (int p = 0; p < vi.format.numPlanes; ++p)
        fill_test_plane(api->getWritePtr(frame, p), api->getStride(frame, p),
                        api->getFrameWidth(frame, p), api->getFrameHeight(frame, p),
                        sample_format(vi.format), kSeed, n, p);
    VSMap* props = api->getFramePropertiesRW(frame);
    api->mapSetInt(props, kFrameKey, n, maReplace);
    api->mapSetInt(props, kFieldKey, kFieldValue, maReplace);
    return frame;
}

void free_noise(void* instance, VSCore*, const VSAPI*) {
    delete static_cast<NoiseSource*>(instance);
}

std::string format_name(const Format& f) {
    if (f.color_family == 0) return "variable format";
    const char* family = f.color_family == cfGray  ? "Gray"
                         : f.color_family == cfRGB ? "RGB"
                                                   : "YUV";
    return std::string(family) + (f.sample_type == stFloat ? " float " : " ") +
           std::to_string(f.bits) + " bits, subsampling " + std::to_string(f.subsampling_w) + "/" +
           std::to_string(f.subsampling_h);
}

// Frames delivered by the core's threads, collected for the main thread.
struct AsyncFrames {
    std::mutex mutex;
    std::condition_variable done;
    std::vector<const VSFrame*> frames = std::vector<const VSFrame*>(kFrames, nullptr);
    std::vector<std::string> errors;
    int pending = kFrames;
};

void frame_done(void* user, const VSFrame* frame, int n, VSNode*, const char* error) {
    auto& async = *static_cast<AsyncFrames*>(user);
    std::lock_guard<std::mutex> lock(async.mutex);
    async.frames[static_cast<std::size_t>(n)] = frame;
    if (error) async.errors.push_back(error);
    if (--async.pending == 0) async.done.notify_one();
}

bool same_file(const std::string& a, const std::string& b) {
    std::error_code error;
    return std::filesystem::equivalent(a, b, error) && !error;
}

class Session {
public:
    Session(const VSAPI& api, Tally& tally) : api_(api), tally_(tally) {}
    ~Session() {
        if (core_) api_.freeCore(core_);
    }

    bool start(const std::string& plugin_path) {
        core_ = api_.createCore(0);
        if (!core_) {
            tally_.fail("no core");
            return false;
        }
        VSCoreInfo info{};
        api_.getCoreInfo(core_, &info);
        // The build options (the frame guard among them) are a line of the version text.
        const std::string text = info.versionString ? info.versionString : "";
        const std::size_t options = text.find("Options:");
        const std::string options_line =
            options == std::string::npos ? "no build options"
                                         : text.substr(options, text.find('\n', options) - options);
        std::printf("  host: VapourSynth core R%d, API %d.%d, %s\n", info.core, info.api >> 16,
                    info.api & 0xffff, options_line.c_str());
        // A core that autoloaded velnor (a wheel installed beside it) must have
        // found the library under test; otherwise it is loaded here.
        if ((plugin_ = api_.getPluginByNamespace("velnor", core_))) {
            const char* path = api_.getPluginPath(plugin_);
            std::printf("  velnor autoloaded from %s\n", path ? path : "(unknown)");
            if (!path || !same_file(path, plugin_path))
                tally_.fail("the core autoloaded another velnor than " + plugin_path);
            return true;
        }
        VSMap* args = api_.createMap();
        api_.mapSetData(args, "path", plugin_path.c_str(), -1, kVsDataUtf8, maReplace);
        VSMap* out =
            api_.invoke(api_.getPluginByID("com.vapoursynth.std", core_), "LoadPlugin", args);
        const char* error = api_.mapGetError(out);
        if (error) tally_.fail(std::string("LoadPlugin: ") + error);
        api_.freeMap(out);
        api_.freeMap(args);
        plugin_ = api_.getPluginByNamespace("velnor", core_);
        if (!error && !plugin_) tally_.fail("no plug-in with the namespace velnor");
        return plugin_ != nullptr;
    }

    // A new random source node of the given format and size, or null.
    VSNode* make_source(const Format& format, const Size& size, int frames = kFrames) {
        auto* source = new NoiseSource{};
        VSVideoInfo& vi = source->vi;
        if (format.color_family != 0 &&
            !api_.queryVideoFormat(&vi.format, format.color_family, format.sample_type, format.bits,
                                   format.subsampling_w, format.subsampling_h, core_)) {
            tally_.fail(format_name(format) + ": the core knows no such format");
            delete source;
            return nullptr;
        }
        vi.fpsNum = 25;
        vi.fpsDen = 1;
        vi.width = size.width;
        vi.height = size.height;
        vi.numFrames = frames;
        VSNode* node = api_.createVideoFilter2("VelnorTestNoise", &vi, noise_frame, free_noise,
                                               fmParallel, nullptr, 0, source, core_);
        if (!node) tally_.fail(format_name(format) + ": no source node");
        return node;
    }

    // Invokes Velnor, with `wide` set as well if given; returns its node, or null
    // with the error text in `error`.
    VSNode* velnor(VSNode* source, const Arguments& arguments, std::string& error,
                   const WideParameter* wide = nullptr) {
        VSMap* args = api_.createMap();
        api_.mapSetNode(args, "clip", source, maReplace);
        if (arguments.strength) api_.mapSetInt(args, "strength", *arguments.strength, maReplace);
        if (arguments.threshold1)
            api_.mapSetInt(args, "threshold1", *arguments.threshold1, maReplace);
        if (arguments.threshold2)
            api_.mapSetInt(args, "threshold2", *arguments.threshold2, maReplace);
        if (arguments.planes) {
            const std::vector<int64_t> planes(arguments.planes->begin(), arguments.planes->end());
            api_.mapSetIntArray(args, "planes", planes.data(), static_cast<int>(planes.size()));
        }
        if (wide) api_.mapSetInt(args, wide->name, wide->value, maReplace);
        VSMap* out = api_.invoke(plugin_, "Velnor", args);
        VSNode* node = nullptr;
        if (const char* e = api_.mapGetError(out))
            error = e;
        else
            node = api_.mapGetNode(out, "clip", 0, nullptr);
        api_.freeMap(out);
        api_.freeMap(args);
        return node;
    }

    void check_info(VSNode* in, VSNode* out, const std::string& where) {
        const VSVideoInfo& a = *api_.getVideoInfo(in);
        const VSVideoInfo& b = *api_.getVideoInfo(out);
        tally_.count_other();
        if (a.format.colorFamily != b.format.colorFamily ||
            a.format.sampleType != b.format.sampleType ||
            a.format.bitsPerSample != b.format.bitsPerSample ||
            a.format.subSamplingW != b.format.subSamplingW ||
            a.format.subSamplingH != b.format.subSamplingH || a.fpsNum != b.fpsNum ||
            a.fpsDen != b.fpsDen || a.width != b.width || a.height != b.height ||
            a.numFrames != b.numFrames)
            tally_.fail(where + ": clip properties changed");
    }

    // Compares output frame n with the reference pass on input frame n.
    void check_frame(VSNode* in, const VSFrame* out, int n, const Arguments& arguments,
                     const std::string& where) {
        char error[1024] = {};
        const VSFrame* source = api_.getFrame(n, in, error, sizeof error);
        if (!source || !out) {
            tally_.fail(where + ": no frame: " + error);
            if (source) api_.freeFrame(source);
            return;
        }
        const int planes = api_.getVideoFrameFormat(source)->numPlanes;
        for (int p = 0; p < planes; ++p) {
            const ConstPlane pi = plane(source, p), po = plane(out, p);
            const std::string plane_where = where + ", plane " + std::to_string(p);
            if (arguments.filters_plane(p))
                tally_.check_filtered(pi, po, arguments, plane_where);
            else
                tally_.check_same(pi, po, plane_where);
        }
        const VSMap* props = api_.getFramePropertiesRO(out);
        int e1 = 0, e2 = 0;
        if (api_.mapGetInt(props, kFrameKey, 0, &e1) != n || e1 ||
            api_.mapGetInt(props, kFieldKey, 0, &e2) != kFieldValue || e2)
            tally_.fail(where + ": frame properties lost");
        tally_.count_frame();
        api_.freeFrame(source);
    }

    void check_in_order(VSNode* in, VSNode* out, const Arguments& arguments,
                        const std::string& where) {
        for (int n = 0; n < kFrames; ++n) {
            char error[1024] = {};
            const VSFrame* frame = api_.getFrame(n, out, error, sizeof error);
            check_frame(
                in, frame, n, arguments,
                where + (frame ? "" : std::string(" ") + error) + ", frame " + std::to_string(n));
            if (frame) api_.freeFrame(frame);
        }
    }

    void check_all_at_once(VSNode* in, VSNode* out, const Arguments& arguments,
                           const std::string& where) {
        AsyncFrames async;
        for (int n = 0; n < kFrames; ++n) api_.getFrameAsync(n, out, frame_done, &async);
        {
            std::unique_lock<std::mutex> lock(async.mutex);
            async.done.wait(lock, [&] { return async.pending == 0; });
        }
        for (const std::string& error : async.errors) tally_.fail(where + ": " + error);
        for (int n = 0; n < kFrames; ++n) {
            check_frame(in, async.frames[static_cast<std::size_t>(n)], n, arguments,
                        where + ", frame " + std::to_string(n));
            if (async.frames[static_cast<std::size_t>(n)])
                api_.freeFrame(async.frames[static_cast<std::size_t>(n)]);
        }
    }

    const VSAPI& api() const { return api_; }

    // auto on a clip of `format`, with planes=[0], [0, 1, 2] and [1, 2]: frame for
    // frame each filtered plane is that plane of the output of the settings velnor
    // --suggest (--chroma) prints for it on the frames auto measures, each frame
    // carrying every filtered plane's estimate and settings, one information
    // message logged; Estimate gives each frame the command line's estimate of that
    // frame alone.
    void check_auto(const Format& format) {
        const std::string where = "auto, " + format_name(format);
        VSNode* source = make_source(format, {kAutoWidth, kAutoHeight}, kAutoFrames);
        if (!source) return;
        for (const std::vector<int>& planes :
             {std::vector<int>{0}, std::vector<int>{0, 1, 2}, std::vector<int>{1, 2}})
            check_auto_planes(format, planes, source);
        VSNode* estimate = invoke("Estimate", source, {}, where);
        for (int n = 0; estimate && n < kAutoFrames; n += kAutoFrames / 3) {
            const VSFrame* in = api_.getFrame(n, source, nullptr, 0);
            const VSFrame* out = api_.getFrame(n, estimate, nullptr, 0);
            const std::string frame_where = where + ", Estimate frame " + std::to_string(n);
            std::string error;
            const std::optional<CliSuggestion> alone = cli_suggestion({plane(in, 0)}, &error);
            int missing = 0, no_detail = 0;
            const VSMap* props = api_.getFramePropertiesRO(out);
            const double noise = api_.mapGetFloat(props, plugin::kNoiseProperty, 0, &missing);
            api_.mapGetFloat(props, plugin::kDetailProperty, 0, &no_detail);
            tally_.count_other();
            if (!alone || missing || no_detail || std::abs(noise - alone->sigma) > kPrintedSigma)
                tally_.fail(frame_where + ": VelnorNoise " + std::to_string(noise) +
                            (no_detail ? ", VelnorDetail missing" : "") + ", velnor --suggest " +
                            (alone ? std::to_string(alone->sigma) : error));
            for (int p = 0; p < api_.getVideoFrameFormat(in)->numPlanes; ++p)
                tally_.check_same(plane(in, p), plane(out, p), frame_where);
            api_.freeFrame(in);
            api_.freeFrame(out);
        }
        for (VSNode* node : {estimate, source})
            if (node) api_.freeNode(node);
    }

private:
    void check_auto_planes(const Format& format, const std::vector<int>& planes, VSNode* source) {
        std::string list;
        for (const int p : planes) list += (list.empty() ? "" : ", ") + std::to_string(p);
        const std::string where = "auto, planes [" + list + "], " + format_name(format);
        const bool chroma = planes.size() > 1 || planes[0] != 0;
        std::vector<const VSFrame*> held;
        std::vector<FramePlanes> measured;
        for (const int64_t n : spread_frames(kAutoFrames, uint64_t{kAutoWidth} * kAutoHeight)) {
            held.push_back(api_.getFrame(static_cast<int>(n), source, nullptr, 0));
            FramePlanes& frame = measured.emplace_back();
            for (int p = 0; p < (chroma ? 3 : 1); ++p) frame.push_back(plane(held.back(), p));
        }
        std::string error;
        const std::optional<std::vector<CliSuggestion>> suggested =
            cli_suggestion_per_plane(measured, &error);
        for (const VSFrame* frame : held) api_.freeFrame(frame);
        if (!suggested) {
            tally_.fail(where + ": " + error);
            return;
        }
        // What each filtered plane gets, in plane order.
        std::vector<int> sorted = planes;
        std::sort(sorted.begin(), sorted.end());
        std::vector<CliSuggestion> cli;
        for (const int p : sorted) cli.push_back(suggested->at(static_cast<std::size_t>(p)));
        std::vector<std::string> log;
        VSLogHandle* handle = api_.addLogHandler(
            [](int type, const char* message, void* user) {
                if (type == kInformationMessage && std::strstr(message, "Velnor: "))
                    static_cast<std::vector<std::string>*>(user)->push_back(message);
            },
            nullptr, &log, core_);
        VSNode* automatic = invoke("Velnor", source, {{"auto", 1}}, where, planes);
        api_.removeLogHandler(handle, core_);
        tally_.count_other();
        if (log.size() != 1)
            tally_.fail(where + ": " + std::to_string(log.size()) + " information messages");
        else
            std::printf("  %s\n", log[0].c_str());
        // Plane p of the output is plane p of named[i], i its place among the planes
        // filtered, or the source's own.
        std::vector<VSNode*> named;
        for (const CliSuggestion& s : cli)
            named.push_back(invoke("Velnor", source,
                                   {{"strength", s.strength},
                                    {"threshold1", s.threshold1},
                                    {"threshold2", s.threshold2}},
                                   where, planes));
        const bool all_named = std::find(named.begin(), named.end(), nullptr) == named.end();
        for (int n = 0; automatic && all_named && n < kAutoFrames; ++n) {
            const VSFrame* a = api_.getFrame(n, automatic, nullptr, 0);
            const VSFrame* in = api_.getFrame(n, source, nullptr, 0);
            std::vector<const VSFrame*> b;
            for (VSNode* node : named) b.push_back(api_.getFrame(n, node, nullptr, 0));
            const std::string frame_where = where + ", frame " + std::to_string(n);
            if (a && in && std::find(b.begin(), b.end(), nullptr) == b.end()) {
                for (int p = 0; p < api_.getVideoFrameFormat(a)->numPlanes; ++p) {
                    const auto at = std::find(sorted.begin(), sorted.end(), p);
                    const VSFrame* expected = at == sorted.end() ? in : b[at - sorted.begin()];
                    tally_.check_same(plane(expected, p), plane(a, p),
                                      frame_where + ", plane " + std::to_string(p));
                }
                check_properties(a, sorted, cli, frame_where);
                tally_.count_frame();
            } else {
                tally_.fail(frame_where + ": no frame");
            }
            for (const VSFrame* frame : b)
                if (frame) api_.freeFrame(frame);
            if (a) api_.freeFrame(a);
            if (in) api_.freeFrame(in);
        }
        if (automatic) api_.freeNode(automatic);
        for (VSNode* node : named)
            if (node) api_.freeNode(node);
    }

    // Invokes a velnor function with integer arguments and, where given, a plane
    // list; its node, or null (failed).
    VSNode* invoke(const char* function, VSNode* source, const std::map<std::string, int>& ints,
                   const std::string& where, const std::vector<int>& planes = {}) {
        VSMap* args = api_.createMap();
        api_.mapSetNode(args, "clip", source, maReplace);
        for (const auto& [key, value] : ints) api_.mapSetInt(args, key.c_str(), value, maReplace);
        for (const int p : planes) api_.mapSetInt(args, "planes", p, maAppend);
        VSMap* out = api_.invoke(plugin_, function, args);
        VSNode* node = nullptr;
        if (const char* e = api_.mapGetError(out))
            tally_.fail(where + ", " + function + ": " + e);
        else
            node = api_.mapGetNode(out, "clip", 0, nullptr);
        api_.freeMap(out);
        api_.freeMap(args);
        return node;
    }

    // The properties of an auto frame: one entry per filtered plane (`planes`,
    // ascending), each with that plane's suggestion.
    void check_properties(const VSFrame* frame, const std::vector<int>& planes,
                          const std::vector<CliSuggestion>& cli, const std::string& where) {
        const VSMap* props = api_.getFramePropertiesRO(frame);
        tally_.count_other();
        for (const char* key :
             {plugin::kPlanesProperty, plugin::kNoiseProperty, plugin::kDetailProperty,
              plugin::kStrengthProperty, plugin::kThreshold1Property, plugin::kThreshold2Property})
            if (api_.mapNumElements(props, key) != static_cast<int>(planes.size()))
                tally_.fail(where + ": " + key + " has " +
                            std::to_string(api_.mapNumElements(props, key)) + " entries");
        for (std::size_t i = 0; i < cli.size(); ++i) {
            const int index = static_cast<int>(i);
            const std::string at = where + ", entry " + std::to_string(i) + ": ";
            for (const ExpectedInt& v : expected_int_properties(planes[i], cli[i])) {
                int missing = 0;
                const int64_t value = api_.mapGetInt(props, v.key, index, &missing);
                if (missing || value != v.value)
                    tally_.fail(at + v.key + " " + std::to_string(value) + ", expected " +
                                std::to_string(v.value));
            }
            int missing = 0;
            const double noise = api_.mapGetFloat(props, plugin::kNoiseProperty, index, &missing);
            if (missing || std::abs(noise - cli[i].sigma) > kPrintedSigma)
                tally_.fail(at + "VelnorNoise " + std::to_string(noise) + ", velnor --suggest " +
                            std::to_string(cli[i].sigma));
        }
    }

    ConstPlane plane(const VSFrame* frame, int p) const {
        return {api_.getReadPtr(frame, p), api_.getStride(frame, p), api_.getFrameWidth(frame, p),
                api_.getFrameHeight(frame, p), sample_format(*api_.getVideoFrameFormat(frame))};
    }

    const VSAPI& api_;
    Tally& tally_;
    VSCore* core_ = nullptr;
    VSPlugin* plugin_ = nullptr;
};

void run_checks(Session& session, Tally& tally) {
    const VSAPI& api = session.api();
    for (const Format& format : kAccepted) {
        for (const Size& size : kSizes) {
            const std::string where = format_name(format) + ", " + std::to_string(size.width) +
                                      "x" + std::to_string(size.height);
            VSNode* source = session.make_source(format, size);
            if (!source) continue;
            std::vector<Arguments> calls = argument_table();
            if (format.color_family == cfYUV) {
                // An empty list passes the clip through.
                for (std::vector<int> planes :
                     {std::vector<int>{1, 2}, std::vector<int>{2, 0, 1}, std::vector<int>{}}) {
                    Arguments with_planes = calls[1];
                    with_planes.planes = planes;
                    calls.push_back(with_planes);
                }
            }
            for (const Arguments& arguments : calls) {
                std::string error;
                VSNode* out = session.velnor(source, arguments, error);
                const std::string call = where + ", " + arguments.describe();
                if (!out) {
                    tally.fail(call + ": " + error);
                    continue;
                }
                session.check_info(source, out, call);
                session.check_in_order(source, out, arguments, call);
                api.freeNode(out);
            }
            std::string error;
            if (VSNode* out = session.velnor(source, {}, error)) {
                session.check_all_at_once(source, out, {}, where + ", all frames at once");
                api.freeNode(out);
            } else {
                tally.fail(where + ": " + error);
            }
            api.freeNode(source);
        }
    }
    for (const Format& format : kRefused) {
        VSNode* source = session.make_source(format, {64, 32});
        if (!source) continue;
        std::string error;
        VSNode* out = session.velnor(source, {}, error);
        tally.check_refusal(out ? nullptr : error.c_str(), format_name(format));
        if (out) api.freeNode(out);
        api.freeNode(source);
    }
    VSNode* source = session.make_source({cfYUV, stInteger, 16, 1, 1}, {64, 32});
    for (const std::vector<int>& planes : kRefusedPlanes) {
        if (!source) break;
        Arguments arguments;
        arguments.planes = planes;
        std::string error;
        VSNode* out = session.velnor(source, arguments, error);
        tally.check_refusal(out ? nullptr : error.c_str(), arguments.describe());
        if (out) api.freeNode(out);
    }
    for (const WideParameter& wide : kWideParameters) {
        if (!source) break;
        const std::string where = std::string(wide.name) + "=" + std::to_string(wide.value);
        std::string error;
        VSNode* out = session.velnor(source, {}, error, &wide);
        tally.check_refusal(out ? nullptr : error.c_str(), where, plugin::kParameterRange);
        if (out) api.freeNode(out);
    }
    if (source) api.freeNode(source);
    if (cli_program().empty())
        std::printf("  auto: SKIPPED, VELNOR_CLI names no velnor program\n");
    else
        for (const Format& format : kAutoFormats) session.check_auto(format);
}

}  // namespace

bool check_vapoursynth(const std::string& library_path, const std::string& plugin_path) {
    Tally tally("VapourSynth");
    {
        SharedLibrary library(library_path, false);
        VSGetVapourSynthAPI get_api = nullptr;
        const VSAPI* api = nullptr;
        if (!library.is_open())
            tally.fail(library.error());
        else if (!library.resolve("getVapourSynthAPI", get_api))
            tally.fail(library.error());
        else if (!(api = get_api(kApiVersion)))
            tally.fail("the core offers no API 4.0");
        if (api) {
            Session session(*api, tally);
            if (session.start(plugin_path)) run_checks(session, tally);
        }
    }
    tally.print_summary();
    return tally.passed();
}

}  // namespace velnor::real_hosts
