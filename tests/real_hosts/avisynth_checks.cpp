// The AviSynth+ checks: a random source registered through the C interface, Velnor
// called from scripts in every accepted format and depth with every argument set,
// with chroma=true, under Prefetch, and refusals of the formats it does not take.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "core/measured_settings.h"
#include "plugin/script_function.h"
#include "tests/real_hosts/cli_suggestion.h"
#include "tests/real_hosts/frame_check.h"
#include "tests/real_hosts/harness_constants.h"
#include "tests/real_hosts/host_checks.h"

namespace velnor::real_hosts {

namespace {

constexpr int kFrames = 4;
constexpr int kPrefetchThreads = 3;
constexpr uint32_t kSeed = 2718;
// Audio samples compared at the start of each clip, and the widest sample in bytes.
constexpr int64_t kAudioSamples = 4096;
constexpr std::size_t kMaxSampleBytes = 8;

struct Format {
    const char* name;
    const char* blank_clip_type;  // what BlankClip makes
    int pixel_type;               // given to the source's clip instead, or 0
    int planes;                   // with alpha
    int bits;                     // 32: float
};

// BlankClip makes no I420: the source declares it on YV12 frames, which the host
// addresses by plane, as it does I420 frames.
const Format kFormats[] = {
    {"YV12", "YV12", 0, 3, 8},
    {"I420", "YV12", avs::AVS_CS_I420, 3, 8},
    {"YV16", "YV16", 0, 3, 8},
    {"YV24", "YV24", 0, 3, 8},
    {"YV411", "YV411", 0, 3, 8},
    {"Y8", "Y8", 0, 1, 8},
    {"YUV420P10", "YUV420P10", 0, 3, 10},
    {"YUV422P12", "YUV422P12", 0, 3, 12},
    {"YUV444P14", "YUV444P14", 0, 3, 14},
    {"YUV420P16", "YUV420P16", 0, 3, 16},
    {"YUVA422P16", "YUVA422P16", 0, 4, 16},
    {"Y16", "Y16", 0, 1, 16},
    {"YUV420PS", "YUV420PS", 0, 3, 32},
    {"YUVA444PS", "YUVA444PS", 0, 4, 32},
    {"Y32", "Y32", 0, 1, 32},
};

// auto's checks: one format per depth, on a clip long enough for the frames it
// measures to spread.
const char* const kAutoFormats[] = {"YV12", "YUV420P10", "YUV420P16", "YUV420PS"};
constexpr int kAutoFrames = 30;
constexpr int kAutoWidth = 352, kAutoHeight = 202;
// velnor --suggest prints the estimate with two decimals.
constexpr double kPrintedSigma = 0.005;

SampleFormat sample_format(int bits) {
    return bits == 32 ? SampleFormat::floating() : SampleFormat::integer(bits);
}

struct Size {
    int width, height;
};

// The widest holds column positions beyond what 16-bit lanes can.
const Size kSizes[] = {{4, 2}, {76, 46}, {352, 202}, {65600, 8}};

// Audio added to every source clip: a tone, so that lost or altered samples show.
constexpr const char kAudio[] = ".AudioDub(Tone(type=\"Sine\", samplerate=48000, channels=2))";

const char* const kRefused[] = {
    "BlankClip(pixel_type=\"RGB24\")", "BlankClip(pixel_type=\"RGB32\")",
    "BlankClip(pixel_type=\"RGB48\")", "BlankClip(pixel_type=\"RGB64\")",
    "BlankClip(pixel_type=\"YUY2\")",  "BlankClip(pixel_type=\"RGBP\")",
    "BlankClip(pixel_type=\"RGBAP\")", "BlankClip(pixel_type=\"RGBP16\")",
    "BlankClip(pixel_type=\"RGBPS\")", "BlankClip().KillVideo()",
};

const int kPlaneIds[] = {avs::AVS_PLANAR_Y, avs::AVS_PLANAR_U, avs::AVS_PLANAR_V,
                         avs::AVS_PLANAR_A};

avs::AVS_Value string_value(const char* text) {
    avs::AVS_Value value{};
    value.type = kAvsValueString;
    value.d.string = text;
    return value;
}

// The test source's per-filter data.
struct NoiseSource {
    const AvisynthApi* api;
    int seed;
    int planes;
    SampleFormat format;
};

avs::AVS_VideoFrame* noise_frame(avs::AVS_FilterInfo* info, int n) {
    const auto& source = *static_cast<const NoiseSource*>(info->user_data);
    const AvisynthApi& api = *source.api;
    avs::AVS_VideoFrame* frame = api.get_frame(info->child, n);
    if (!frame) return nullptr;
    // 1: the host made a writable copy, 0: the frame was writable already, -1: failure.
    if (api.make_writable(info->env, &frame) < 0) {
        api.release_video_frame(frame);
        return nullptr;
    }
    for (int p = 0; p < source.planes; ++p) {
        fill_test_plane(api.get_write_ptr_p(frame, kPlaneIds[p]),
                        api.get_pitch_p(frame, kPlaneIds[p]),
                        api.get_row_size_p(frame, kPlaneIds[p]) / source.format.bytes(),
                        api.get_height_p(frame, kPlaneIds[p]), source.format,
                        static_cast<uint32_t>(source.seed), n, p);
    }
    return frame;
}

void free_noise(avs::AVS_FilterInfo* info) { delete static_cast<NoiseSource*>(info->user_data); }

// VelnorTestNoise(clip, seed, planes, pixel_type, bits): the clip's frames with
// random planes of `bits`-bit samples (32: float); a non-zero pixel_type replaces
// the clip's.
avs::AVS_Value create_noise(avs::AVS_ScriptEnvironment* env, avs::AVS_Value args, void* user_data) {
    const auto* api = static_cast<const AvisynthApi*>(user_data);
    avs::AVS_FilterInfo* info = nullptr;
    avs::AVS_Clip* clip = api->new_c_filter(env, &info, args.d.array[0], 1);
    info->user_data = new NoiseSource{api, args.d.array[1].d.integer, args.d.array[2].d.integer,
                                      sample_format(args.d.array[4].d.integer)};
    if (args.d.array[3].d.integer != 0) info->vi.pixel_type = args.d.array[3].d.integer;
    info->get_frame = noise_frame;
    info->free_filter = free_noise;
    avs::AVS_Value result{};
    api->set_to_clip(&result, clip);
    api->release_clip(clip);
    return result;
}

class Session {
public:
    Session(const AvisynthApi& api, Tally& tally) : api_(api), tally_(tally) {}

    bool start(const std::string& plugin_path) {
        env_ = api_.create_script_environment(kAvsClassicInterfaceVersion);
        if (!env_ || api_.get_error(env_)) {
            tally_.fail(std::string("no script environment: ") +
                        (env_ && api_.get_error(env_) ? api_.get_error(env_) : "null"));
            return false;
        }
        api_.add_function(env_, "VelnorTestNoise", "ciiii", create_noise,
                          const_cast<AvisynthApi*>(&api_));
        std::string version;
        if (!eval_string("VersionString()", version)) return false;
        std::printf("  host: %s\n", version.c_str());
        return eval_string("LoadPlugin(\"" + plugin_path + "\")", version);
    }

    ~Session() {
        if (env_) api_.delete_script_environment(env_);
    }

    // Evaluates a script; a clip result is returned (the caller releases it), anything
    // else is reported and gives null. `error` receives a script error's text.
    avs::AVS_Clip* eval_clip(const std::string& script, std::string* error = nullptr) {
        avs::AVS_Value value = api_.invoke(env_, "Eval", string_value(script.c_str()), nullptr);
        avs::AVS_Clip* clip = nullptr;
        if (value.type == avs::kValueClip)
            clip = api_.take_clip(value, env_);
        else if (value.type == avs::kValueError && error)
            *error = value.d.string;
        else
            tally_.fail(script + ": " +
                        (value.type == avs::kValueError ? value.d.string : "not a clip"));
        api_.release_value(value);
        return clip;
    }

    bool eval_string(const std::string& script, std::string& text) {
        avs::AVS_Value value = api_.invoke(env_, "Eval", string_value(script.c_str()), nullptr);
        const bool ok = value.type != avs::kValueError;
        if (value.type == kAvsValueString) text = value.d.string;
        if (!ok) tally_.fail(script + ": " + value.d.string);
        api_.release_value(value);
        return ok;
    }

    void set_source(avs::AVS_Clip* clip) {
        avs::AVS_Value value{};
        api_.set_to_clip(&value, clip);
        api_.set_var(env_, "velnor_source", value);
        api_.release_value(value);
    }

    void compare_clips(avs::AVS_Clip* in, avs::AVS_Clip* out, const Format& format,
                       const Arguments& arguments, const std::string& where) {
        const avs::AVS_VideoInfo& a = *api_.get_video_info(in);
        const avs::AVS_VideoInfo& b = *api_.get_video_info(out);
        tally_.count_other();
        if (a.width != b.width || a.height != b.height || a.fps_numerator != b.fps_numerator ||
            a.fps_denominator != b.fps_denominator || a.num_frames != b.num_frames ||
            a.pixel_type != b.pixel_type ||
            a.audio_samples_per_second != b.audio_samples_per_second ||
            a.sample_type != b.sample_type || a.num_audio_samples != b.num_audio_samples ||
            a.nchannels != b.nchannels || a.image_type != b.image_type) {
            tally_.fail(where + ": clip properties changed");
            return;
        }
        check_audio(in, out, a, where);
        for (int n = 0; n < a.num_frames; ++n) {
            avs::AVS_VideoFrame* fi = api_.get_frame(in, n);
            avs::AVS_VideoFrame* fo = api_.get_frame(out, n);
            const std::string frame_where = where + ", frame " + std::to_string(n);
            if (!fi || !fo) {
                const char* e = api_.clip_get_error(fo ? in : out);
                tally_.fail(frame_where + ": no frame: " + (e ? e : "?"));
            } else {
                const SampleFormat sample = sample_format(format.bits);
                for (int p = 0; p < format.planes; ++p) {
                    const ConstPlane pi = plane(fi, kPlaneIds[p], sample);
                    const ConstPlane po = plane(fo, kPlaneIds[p], sample);
                    const std::string plane_where = frame_where + ", plane " + std::to_string(p);
                    if (arguments.filters_plane(p))
                        tally_.check_filtered(pi, po, arguments, plane_where);
                    else
                        tally_.check_same(pi, po, plane_where);
                }
                if (api_.get_parity(in, n) != api_.get_parity(out, n))
                    tally_.fail(frame_where + ": parity changed");
                tally_.count_frame();
            }
            if (fi) api_.release_video_frame(fi);
            if (fo) api_.release_video_frame(fo);
        }
    }

    // auto on a clip of `format`, luma alone and with chroma=true: frame for frame
    // each filtered plane is that plane of the output of the settings velnor
    // --suggest (--chroma) prints for it on the frames auto measures, each frame
    // carrying every filtered plane's estimate and settings; VelnorEstimate gives
    // each frame the command line's estimate of that frame alone.
    void check_auto(const Format& format) {
        const SampleFormat sample = sample_format(format.bits);
        avs::AVS_Clip* source = eval_clip(
            "VelnorTestNoise(BlankClip(length=" + std::to_string(kAutoFrames) +
            ", width=" + std::to_string(kAutoWidth) + ", height=" + std::to_string(kAutoHeight) +
            ", pixel_type=\"" + format.blank_clip_type + "\", fps=25), " + std::to_string(kSeed) +
            ", " + std::to_string(format.planes) + ", 0, " + std::to_string(format.bits) + ")");
        if (!source) return;
        set_source(source);
        for (const bool chroma : {false, true}) check_auto_planes(format, chroma, source);
        const std::string where = std::string("auto, ") + format.name;
        avs::AVS_Clip* estimate = eval_clip("VelnorEstimate(velnor_source)");
        for (int n = 0; estimate && n < kAutoFrames; n += kAutoFrames / 3) {
            avs::AVS_VideoFrame* in = api_.get_frame(source, n);
            avs::AVS_VideoFrame* out = api_.get_frame(estimate, n);
            const std::string frame_where = where + ", VelnorEstimate frame " + std::to_string(n);
            std::string error;
            const std::optional<CliSuggestion> alone =
                cli_suggestion({plane(in, avs::AVS_PLANAR_Y, sample)}, &error);
            int missing = 0;
            const double noise = api_.prop_get_float(env_, api_.get_frame_props_ro(env_, out),
                                                     plugin::kNoiseProperty, 0, &missing);
            int no_detail = 0;
            api_.prop_get_float(env_, api_.get_frame_props_ro(env_, out), plugin::kDetailProperty,
                                0, &no_detail);
            tally_.count_other();
            if (!alone || missing || no_detail || std::abs(noise - alone->sigma) > kPrintedSigma)
                tally_.fail(frame_where + ": VelnorNoise " + std::to_string(noise) + " (" +
                            (missing ? "missing" : "set") + "), VelnorDetail " +
                            (no_detail ? "missing" : "set") + ", velnor --suggest " +
                            (alone ? std::to_string(alone->sigma) : error));
            tally_.check_same(plane(in, avs::AVS_PLANAR_Y, sample),
                              plane(out, avs::AVS_PLANAR_Y, sample), frame_where);
            api_.release_video_frame(in);
            api_.release_video_frame(out);
        }
        for (avs::AVS_Clip* clip : {estimate, source})
            if (clip) api_.release_clip(clip);
    }

private:
    void check_auto_planes(const Format& format, bool chroma, avs::AVS_Clip* source) {
        const std::string where =
            std::string("auto") + (chroma ? " with chroma, " : ", ") + format.name;
        const SampleFormat sample = sample_format(format.bits);
        const int measured_planes = chroma ? 3 : 1;
        std::vector<avs::AVS_VideoFrame*> held;
        std::vector<FramePlanes> measured;
        for (const int64_t n : spread_frames(kAutoFrames, uint64_t{kAutoWidth} * kAutoHeight)) {
            held.push_back(api_.get_frame(source, static_cast<int>(n)));
            FramePlanes& planes = measured.emplace_back();
            for (int p = 0; p < measured_planes; ++p)
                planes.push_back(plane(held.back(), kPlaneIds[p], sample));
        }
        std::string error;
        const std::optional<std::vector<CliSuggestion>> cli =
            cli_suggestion_per_plane(measured, &error);
        for (avs::AVS_VideoFrame* frame : held) api_.release_video_frame(frame);
        if (!cli) {
            tally_.fail(where + ": " + error);
            return;
        }
        const std::string chroma_argument = chroma ? ", chroma=true" : "";
        avs::AVS_Clip* automatic =
            eval_clip("Velnor(velnor_source, auto=true" + chroma_argument + ")");
        // Plane p of the output is plane p of `named[p]` (the luma's for planes not filtered).
        std::vector<avs::AVS_Clip*> named;
        for (const CliSuggestion& s : *cli)
            named.push_back(
                eval_clip("Velnor(velnor_source, strength=" + std::to_string(s.strength) +
                          ", threshold1=" + std::to_string(s.threshold1) +
                          ", threshold2=" + std::to_string(s.threshold2) + chroma_argument + ")"));
        const bool all_named = std::find(named.begin(), named.end(), nullptr) == named.end();
        for (int n = 0; automatic && all_named && n < kAutoFrames; ++n) {
            avs::AVS_VideoFrame* a = api_.get_frame(automatic, n);
            std::vector<avs::AVS_VideoFrame*> b;
            for (avs::AVS_Clip* clip : named) b.push_back(api_.get_frame(clip, n));
            const std::string frame_where = where + ", frame " + std::to_string(n);
            if (a && std::find(b.begin(), b.end(), nullptr) == b.end()) {
                for (int p = 0; p < format.planes; ++p)
                    tally_.check_same(plane(b[p < measured_planes ? p : 0], kPlaneIds[p], sample),
                                      plane(a, kPlaneIds[p], sample),
                                      frame_where + ", plane " + std::to_string(p));
                check_properties(a, *cli, frame_where);
                tally_.count_frame();
            } else {
                tally_.fail(frame_where + ": no frame");
            }
            if (a) api_.release_video_frame(a);
            for (avs::AVS_VideoFrame* frame : b)
                if (frame) api_.release_video_frame(frame);
        }
        if (automatic) api_.release_clip(automatic);
        for (avs::AVS_Clip* clip : named)
            if (clip) api_.release_clip(clip);
    }

    // The properties of an auto frame: one entry per plane suggested, in plane order.
    void check_properties(const avs::AVS_VideoFrame* frame, const std::vector<CliSuggestion>& cli,
                          const std::string& where) {
        const avs::AVS_Map* props = api_.get_frame_props_ro(env_, frame);
        tally_.count_other();
        for (std::size_t p = 0; p < cli.size(); ++p) {
            const int index = static_cast<int>(p);
            const std::string at = where + ", entry " + std::to_string(p) + ": ";
            for (const ExpectedInt& i : expected_int_properties(index, cli[p])) {
                int missing = 0;
                const int64_t value = api_.prop_get_int(env_, props, i.key, index, &missing);
                if (missing || value != i.value)
                    tally_.fail(at + i.key + " " + std::to_string(value) + ", expected " +
                                std::to_string(i.value));
            }
            int missing = 0, no_detail = 0;
            const double noise =
                api_.prop_get_float(env_, props, plugin::kNoiseProperty, index, &missing);
            api_.prop_get_float(env_, props, plugin::kDetailProperty, index, &no_detail);
            if (missing || no_detail || std::abs(noise - cli[p].sigma) > kPrintedSigma)
                tally_.fail(at + "VelnorNoise " + std::to_string(noise) + ", velnor --suggest " +
                            std::to_string(cli[p].sigma) +
                            (no_detail ? ", VelnorDetail missing" : ""));
        }
        int missing = 0;
        api_.prop_get_int(env_, props, plugin::kPlanesProperty, static_cast<int>(cli.size()),
                          &missing);
        if (!missing) tally_.fail(where + ": more entries than planes filtered");
    }

    void check_audio(avs::AVS_Clip* in, avs::AVS_Clip* out, const avs::AVS_VideoInfo& vi,
                     const std::string& where) {
        const int64_t count = std::min(vi.num_audio_samples, kAudioSamples);
        const std::size_t bytes = static_cast<std::size_t>(count) *
                                  static_cast<std::size_t>(vi.nchannels) * kMaxSampleBytes;
        std::vector<unsigned char> expected(bytes), actual(bytes);
        tally_.count_other();
        if (api_.get_audio(in, expected.data(), 0, count) != 0 ||
            api_.get_audio(out, actual.data(), 0, count) != 0 || expected != actual)
            tally_.fail(where + ": audio changed");
    }

    ConstPlane plane(const avs::AVS_VideoFrame* frame, int id, SampleFormat format) const {
        return {api_.get_read_ptr_p(frame, id), api_.get_pitch_p(frame, id),
                api_.get_row_size_p(frame, id) / format.bytes(), api_.get_height_p(frame, id),
                format};
    }

    const AvisynthApi& api_;
    Tally& tally_;
    avs::AVS_ScriptEnvironment* env_ = nullptr;
};

std::string velnor_call(const Arguments& arguments) {
    std::string call = "Velnor(velnor_source";
    if (arguments.strength) call += ", strength=" + std::to_string(*arguments.strength);
    if (arguments.threshold1) call += ", threshold1=" + std::to_string(*arguments.threshold1);
    if (arguments.threshold2) call += ", threshold2=" + std::to_string(*arguments.threshold2);
    if (arguments.chroma) call += std::string(", chroma=") + (*arguments.chroma ? "true" : "false");
    return call + ")";
}

}  // namespace

bool check_avisynth(const AvisynthApi& api, const std::string& plugin_path,
                    const std::string& mode) {
    Tally tally("AviSynth+ (" + mode + ")");
    {
        Session session(api, tally);
        if (session.start(plugin_path)) {
            for (const Format& format : kFormats) {
                for (const Size& size : kSizes) {
                    const std::string where = std::string(format.name) + " " +
                                              std::to_string(size.width) + "x" +
                                              std::to_string(size.height);
                    avs::AVS_Clip* source = session.eval_clip(
                        "VelnorTestNoise(BlankClip(length=" + std::to_string(kFrames) + ", width=" +
                        std::to_string(size.width) + ", height=" + std::to_string(size.height) +
                        ", pixel_type=\"" + format.blank_clip_type + "\", fps=25)" + kAudio +
                        ".AssumeTFF(), " + std::to_string(kSeed) + ", " +
                        std::to_string(format.planes) + ", " + std::to_string(format.pixel_type) +
                        ", " + std::to_string(format.bits) + ")");
                    if (!source) continue;
                    session.set_source(source);
                    std::vector<Arguments> calls = argument_table();
                    for (Arguments with_chroma : {calls[0], calls[1]}) {
                        with_chroma.chroma = true;
                        calls.push_back(with_chroma);
                    }
                    for (const Arguments& arguments : calls) {
                        if (avs::AVS_Clip* out = session.eval_clip(velnor_call(arguments))) {
                            session.compare_clips(source, out, format, arguments,
                                                  where + ", " + arguments.describe());
                            api.release_clip(out);
                        }
                    }
                    const std::string prefetched =
                        velnor_call({}) + ".Prefetch(" + std::to_string(kPrefetchThreads) + ")";
                    if (avs::AVS_Clip* out = session.eval_clip(prefetched)) {
                        session.compare_clips(source, out, format, {}, where + ", " + prefetched);
                        api.release_clip(out);
                    }
                    api.release_clip(source);
                }
            }
            for (const char* input : kRefused) {
                std::string error;
                const std::string script = std::string(input) + ".Velnor()";
                avs::AVS_Clip* out = session.eval_clip(script, &error);
                tally.check_refusal(out ? nullptr : error.c_str(), script);
                if (out) api.release_clip(out);
            }
            if (cli_program().empty())
                std::printf("  auto: SKIPPED, VELNOR_CLI names no velnor program\n");
            else
                for (const char* name : kAutoFormats)
                    for (const Format& format : kFormats)
                        if (std::string(format.name) == name) session.check_auto(format);
            // Found through the second entry point, the plug-in sees these whole.
            for (const WideParameter& wide : kWideParameters) {
                std::string error;
                const std::string script = std::string("BlankClip(pixel_type=\"YV12\").Velnor(") +
                                           wide.name + "=" + std::to_string(wide.value) + ")";
                avs::AVS_Clip* out = session.eval_clip(script, &error);
                tally.check_refusal(out ? nullptr : error.c_str(), script, plugin::kParameterRange);
                if (out) api.release_clip(out);
            }
        }
    }
    tally.print_summary();
    return tally.passed();
}

}  // namespace velnor::real_hosts
