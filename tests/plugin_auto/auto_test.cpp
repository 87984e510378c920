// auto and the estimate function in both plug-in bindings: for the same frames the
// command line's measurement (a YUV4MPEG2 stream of the frames a binding measures)
// gives the same estimate and the same settings, the frames carry them as
// properties, and the output is the reference pass's with those settings. Refused
// clips are refused before anything is measured.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cli/byte_stream.h"
#include "cli/suggest.h"
#include "core/measured_settings.h"
#include "core/noise_estimate.h"
#include "plugin/avisynth_c/velnor_avs_c.h"
#include "plugin/script_function.h"
#include "plugin/vapoursynth/velnor_vs.h"
#include "tests/plugin_avisynth_c/fake_avs.h"
#include "tests/plugin_vapoursynth/fake_vs.h"
#include "tests/sample_reference.h"

namespace velnor {
namespace {

constexpr int kWidth = 64, kHeight = 48, kFrames = 10;

// A plane as the stand-in hosts hold it.
test::BytePlane plane_of(const test::TestPlane& plane, SampleFormat format) {
    return {plane.bytes.data(), plane.pitch, plane.width / format.bytes(), plane.height};
}

// The three planes of one 4:2:0 frame.
using Planes = std::array<test::BytePlane, 3>;

// What the command line measures on one plane of a 4:2:0 YUV4MPEG2 stream of
// these frames (integer rows as the hosts hold them, little-endian words as the
// stream's; float samples as the 16-bit words the estimate reads them as, chroma
// centred on 0 shifted up by one half first).
struct CliPlane {
    double noise, detail;  // 0 without an estimate
    FilterValues values;
};

std::vector<CliPlane> cli_choice(const std::vector<Planes>& frames, SampleFormat format,
                                 bool chroma) {
    const int bits = format.type == SampleType::f32 ? 16 : format.bits;
    const test::BytePlane& luma = frames.at(0)[0];
    char header[96];
    std::snprintf(header, sizeof header, "YUV4MPEG2 W%d H%d F25:1 Ip A1:1 C420%s\n", luma.width,
                  luma.height, bits == 8 ? "" : ("p" + std::to_string(bits)).c_str());
    std::vector<uint8_t> stream(header, header + std::strlen(header));
    for (const Planes& planes : frames) {
        for (const char c : std::string("FRAME\n")) stream.push_back(static_cast<uint8_t>(c));
        for (int p = 0; p < 3; ++p) {
            for (int y = 0; y < planes[p].height; ++y) {
                const uint8_t* row = planes[p].data + y * planes[p].pitch;
                if (format.type != SampleType::f32) {
                    stream.insert(stream.end(), row, row + planes[p].width * format.bytes());
                    continue;
                }
                for (int x = 0; x < planes[p].width; ++x) {
                    float f;
                    std::memcpy(&f, row + 4 * x, 4);
                    const uint16_t word = estimate_word(p == 0 ? f : f + 0.5f);
                    stream.insert(stream.end(), {static_cast<uint8_t>(word & 0xff),
                                                 static_cast<uint8_t>(word >> 8)});
                }
            }
        }
    }
    cli::MemorySource source(stream.data(), stream.size());
    const cli::NoiseSample sample = cli::sample_noise(source, cli::Y4mLimits{}, chroma);
    EXPECT_EQ(sample.frames, frames.size());
    EXPECT_EQ(sample.error, "");
    std::vector<CliPlane> planes;
    const auto add = [&](const NoiseEstimate& e, PlaneKind kind) {
        planes.push_back({e.valid ? e.sigma : 0.0, e.valid ? e.detail : 0.0,
                          settings_for_estimate(e, kind).values});
    };
    add(sample.estimate, PlaneKind::luma);
    EXPECT_EQ(sample.chroma_measured, chroma);
    if (chroma)
        for (const NoiseEstimate& e : sample.chroma) add(e, PlaneKind::chroma);
    return planes;
}

// The reference pass's output for a plane, compared with `out`; empty if equal.
std::string check_plane(const test::BytePlane& in, const test::BytePlane& out, SampleFormat format,
                        const FilterValues& v) {
    const FilterSettings settings(in.width, in.height, v.strength, v.threshold1, v.threshold2);
    return test::compare_samples(test::reference_result(in, format, settings), out, format);
}

struct Depth {
    const char* name;
    SampleFormat format;
    int vs_sample_type, avs_bits;
};
const Depth kDepths[] = {
    {"8-bit", SampleFormat::integer(8), vs::stInteger, avsc::AVS_CS_SAMPLE_BITS_8},
    {"10-bit", SampleFormat::integer(10), vs::stInteger, avsc::AVS_CS_SAMPLE_BITS_10},
    {"16-bit", SampleFormat::integer(16), vs::stInteger, avsc::AVS_CS_SAMPLE_BITS_16},
    {"float", SampleFormat::floating(), vs::stFloat, avsc::AVS_CS_SAMPLE_BITS_32},
};

using Properties = std::map<std::string, std::vector<double>>;

// One delivered frame: the source's planes, the output's planes and its properties.
struct Frame {
    Planes in, out;
    Properties props;
};

// What a front end did with a case; checked while the frames are still held.
struct FrontEndRun {
    std::string error;
    std::vector<Planes> measured;  // the source's frames auto measures
    std::vector<Frame> frames;     // auto's frames 0 and kFrames - 1
    std::vector<Frame> estimates;  // Estimate's frames 0 and kFrames - 1
    // Where the host takes messages (VapourSynth): those logged, as (kind, text).
    std::optional<std::vector<std::pair<int, std::string>>> messages;
};
using Check = std::function<void(const FrontEndRun&)>;

using Named = std::vector<std::pair<std::string, int>>;

// A source's planes: an 8-bit level and the amplitude of uniform noise around it.
using Levels = std::array<std::array<int, 2>, 3>;

// Gives a stand-in host's source those levels.
template <typename Source>
void set_levels(Source* source, const Levels& levels) {
    source->luma = levels[0][0];
    source->luma_noise = levels[0][1];
    for (int c = 0; c < 2; ++c) {
        source->chroma[c] = levels[1 + c][0];
        source->chroma_noise[c] = levels[1 + c][1];
    }
}

// VapourSynth: a YUV 4:2:0 source through velnor.Velnor(auto=True, planes, named...)
// and velnor.Estimate.
void run_vs(const Depth& depth, const Levels& levels, const std::vector<int64_t>& planes,
            const Named& named, const Check& check) {
    using namespace vs;
    FakeVs host;
    VapourSynthPluginInit2(&host.plugin, &FakeVs::plugin_api());
    VSNode* source = FakeVs::source(
        FakeVs::format(cfYUV, depth.vs_sample_type, depth.format.bits, 1, 1), kWidth, kHeight);
    set_levels(source, levels);
    FakeVs::Args args = {{"auto", {1}}, {"planes", planes}};
    for (const auto& [key, value] : named) args[key] = {value};
    const std::size_t logged = FakeVs::log.size();
    FrontEndRun run;
    VSNode* velnor = host.call_velnor(source, args, &run.error);
    run.messages.emplace(FakeVs::log.begin() + static_cast<std::ptrdiff_t>(logged),
                         FakeVs::log.end());
    std::string estimate_error;
    VSNode* estimate = host.call_estimate(source, &estimate_error);
    EXPECT_EQ(estimate_error, "");
    const SampleFormat f = depth.format;
    std::vector<const VSFrame*> held;
    const auto planes_of = [&](VSNode* node, int n, Planes* into) {
        const VSFrame* frame = FakeVs::get_frame(node, n);
        held.push_back(frame);
        if (!frame) return false;
        for (int p = 0; p < 3; ++p) (*into)[p] = plane_of(*frame->planes[p], f);
        return true;
    };
    const auto fetch = [&](VSNode* node, int n, std::vector<Frame>* into) {
        Frame frame;
        planes_of(source, n, &frame.in);
        if (!planes_of(node, n, &frame.out)) return;
        for (const auto& [key, values] : held.back()->props.entries) {
            if (key.rfind("Velnor", 0) != 0) continue;
            for (const VSMap::Value& v : values)
                frame.props[key].push_back(std::holds_alternative<double>(v)
                                               ? std::get<double>(v)
                                               : static_cast<double>(std::get<int64_t>(v)));
        }
        into->push_back(frame);
    };
    for (const int64_t n : spread_frames(kFrames, kWidth * kHeight))
        planes_of(source, static_cast<int>(n), &run.measured.emplace_back());
    for (int n : {0, kFrames - 1}) {
        if (velnor) fetch(velnor, n, &run.frames);
        if (estimate) fetch(estimate, n, &run.estimates);
    }
    check(run);
    for (const VSFrame* frame : held)
        if (frame) FakeVs::api().freeFrame(frame);
    FakeVs::api().freeNode(velnor);
    FakeVs::api().freeNode(estimate);
    FakeVs::api().freeNode(source);
}

// AviSynth+: a YUV 4:2:0 source through Velnor(auto=true, chroma, named...) and
// VelnorEstimate, in a host with `api` (with or without frame properties).
void run_avs(const Depth& depth, const Levels& levels, bool chroma, const Named& named,
             const avsc::AvsApi& api, const Check& check) {
    using namespace avsc;
    FakeAvs host;
    register_velnor(&host.env, api);
    auto* source = new SourceClip(video_info(
        (AVS_CS_YV12 & ~AVS_CS_SAMPLE_BITS_MASK) | depth.avs_bits, kWidth, kHeight, kFrames));
    set_levels(source, levels);
    std::vector<FakeAvs::Arg> args(5, FakeAvs::Arg{false, 0});
    args[3] = {true, chroma, kValueBool};
    args[4] = {true, 1, kValueBool};
    for (const auto& [key, value] : named)
        args[key == "strength" ? 0 : key == "threshold1" ? 1 : 2] = {true, value};
    FrontEndRun run;
    const AVS_Value velnor = host.call_velnor(source, args);
    if (velnor.type == kValueError) run.error = velnor.d.string;
    const AVS_Value estimate = api.get_frame_props_rw ? host.call_estimate(source) : AVS_Value{};
    const SampleFormat f = depth.format;
    std::vector<AVS_VideoFrame*> held;
    const auto planes_of = [&](const AVS_VideoFrame& frame) {
        Planes planes;
        for (int p = 0; p < 3; ++p) planes[p] = plane_of(frame.planes[p], f);
        return planes;
    };
    const auto fetch = [&](const AVS_Value& clip, int n, std::vector<Frame>* into) {
        if (clip.type != kValueClip) return;
        AVS_VideoFrame* out = static_cast<FakeClip*>(clip.d.clip)->get_frame(n);
        held.push_back(out);
        into->push_back({planes_of(source->original(n)), planes_of(*out), out->props.values});
    };
    for (const int64_t n : spread_frames(kFrames, kWidth * kHeight))
        run.measured.push_back(planes_of(source->original(static_cast<int>(n))));
    for (int n : {0, kFrames - 1}) {
        fetch(velnor, n, &run.frames);
        fetch(estimate, n, &run.estimates);
    }
    check(run);
    for (AVS_VideoFrame* frame : held) FakeAvs::kApi.release_video_frame(frame);
    FakeAvs::release_value(velnor);
    FakeAvs::release_value(estimate);
    source->release();
}

// Across depths, contents, planes and named values, each binding measures each
// filtered plane as the command line measures it on the same frames, filters it
// with that plane's settings (values named in the call win on every plane) and
// reports it; a plane not filtered is not measured and stays as it was.
TEST(AutoAcrossFrontEnds, SameFramesSameEstimateSameSettingsPlaneByPlane) {
    const struct {
        const char* content;
        Levels levels;  // luma, U, V; a negative level: random samples
        Named named;
    } contents[] = {
        {"noisy", {{{100, 12}, {128, 3}, {120, 20}}}, {}},
        {"lightly noisy luma, flat chroma", {{{60, 4}, {128, 0}, {128, 0}}}, {}},
        {"noisy, threshold2 named", {{{100, 12}, {110, 6}, {140, 16}}}, {{"threshold2", 3}}},
        {"noisy, all named",
         {{{140, 20}, {128, 8}, {128, 2}}},
         {{"strength", 7}, {"threshold1", 9}, {"threshold2", 5}}},
        {"flat grey: no noise", {{{128, 0}, {128, 0}, {128, 0}}}, {}},
        {"black luma: no estimate", {{{0, 0}, {128, 10}, {100, 4}}}, {}},
    };
    enum Planes3 : unsigned { kLuma = 1, kChroma = 6, kAll = 7 };
    for (const Depth& depth : kDepths) {
        for (const auto& c : contents) {
            const auto check = [&](const char* front_end, unsigned filtered, bool properties) {
                return [&, front_end, filtered, properties](const FrontEndRun& run) {
                    SCOPED_TRACE(testing::Message() << front_end << ", planes " << filtered << ", "
                                                    << depth.name << ", " << c.content);
                    ASSERT_EQ(run.error, "");
                    ASSERT_EQ(run.measured.size(), std::min<uint64_t>(kFrames, kNoiseSampleFrames));
                    const std::vector<CliPlane> cli =
                        cli_choice(run.measured, depth.format, filtered != kLuma);
                    Properties expected;
                    FilterValues used[3] = {};  // strength 0 leaves a plane as it is
                    for (int p = 0; p < 3; ++p) {
                        if (!(filtered & (1u << p))) continue;
                        FilterValues& v = used[p] = cli.at(p).values;
                        for (const auto& [key, value] : c.named)
                            (key == "strength"     ? v.strength
                             : key == "threshold1" ? v.threshold1
                                                   : v.threshold2) = value;
                        const std::pair<const char*, double> entries[] = {
                            {plugin::kPlanesProperty, p},
                            {plugin::kNoiseProperty, cli[p].noise},
                            {plugin::kDetailProperty, cli[p].detail},
                            {plugin::kStrengthProperty, v.strength},
                            {plugin::kThreshold1Property, v.threshold1},
                            {plugin::kThreshold2Property, v.threshold2}};
                        for (const auto& [key, value] : entries) expected[key].push_back(value);
                    }
                    ASSERT_EQ(run.frames.size(), 2u);
                    for (const Frame& frame : run.frames) {
                        for (int p = 0; p < 3; ++p)
                            EXPECT_EQ(check_plane(frame.in[p], frame.out[p], depth.format, used[p]),
                                      "")
                                << "plane " << p;
                        EXPECT_EQ(frame.props, properties ? expected : Properties{});
                    }
                    if (run.messages) {
                        // One information message (VapourSynth's kind 1), naming each plane.
                        ASSERT_EQ(run.messages->size(), 1u);
                        const auto& [kind, text] = run.messages->front();
                        EXPECT_EQ(kind, 1);
                        for (int p = 0; p < 3; ++p)
                            EXPECT_EQ(text.find("plane " + std::to_string(p)) != std::string::npos,
                                      (filtered & (1u << p)) != 0)
                                << text;
                    }
                    if (!properties) return;
                    // Estimate: each frame's own luma estimate, the picture untouched.
                    ASSERT_EQ(run.estimates.size(), 2u);
                    for (const Frame& frame : run.estimates) {
                        const CliPlane alone = cli_choice({frame.in}, depth.format, false).at(0);
                        EXPECT_EQ(frame.props,
                                  (Properties{{plugin::kNoiseProperty, {alone.noise}},
                                              {plugin::kDetailProperty, {alone.detail}}}));
                        for (int p = 0; p < 3; ++p)
                            EXPECT_EQ(
                                check_plane(frame.in[p], frame.out[p], depth.format, {0, 0, 0}),
                                "");
                    }
                };
            };
            run_vs(depth, c.levels, {0}, c.named, check("VapourSynth", kLuma, true));
            run_vs(depth, c.levels, {0, 1, 2}, c.named, check("VapourSynth", kAll, true));
            run_vs(depth, c.levels, {2, 1}, c.named, check("VapourSynth", kChroma, true));
            run_avs(depth, c.levels, false, c.named, avsc::FakeAvs::kApi,
                    check("AviSynth+", kLuma, true));
            run_avs(depth, c.levels, true, c.named, avsc::FakeAvs::kApi,
                    check("AviSynth+", kAll, true));
            run_avs(depth, c.levels, true, c.named, avsc::FakeAvs::kApiWithoutProperties,
                    check("AviSynth+ without frame properties", kAll, false));
        }
    }
}

// Clips auto cannot measure and arguments it cannot take are refused with a
// message that says what to do; those that need no frame are refused before any
// frame is requested.
TEST(AutoAcrossFrontEnds, RefusalsSayWhatToDo) {
    enum FrontEnd { kVs, kAvs, kAvsWithoutProperties };
    constexpr int kYuv420 = 1000;  // a clip Velnor takes, in either host's terms
    const int64_t failing = spread_frames(kFrames, kWidth * kHeight).at(4);
    const std::string undelivered = plugin::measure_failure(
        failing, ("source: frame " + std::to_string(failing) + " is unreadable").c_str());
    const struct {
        const char* name;
        FrontEnd front_end;
        int format;  // kYuv420, or a VapourSynth colour family / AviSynth+ pixel type
        int width, frames;
        int64_t strength;  // named when not 0
        int failing;       // the frame the source fails to deliver, or -1
        bool estimate;     // the estimate function instead of auto
        std::string message;
        bool measures;  // frames were requested before the refusal
    } cases[] = {
        {"RGB", kVs, vs::cfRGB, kWidth, kFrames, 0, -1, false, vs::kFormatRefusal, false},
        {"variable format", kVs, vs::cfUndefined, kWidth, kFrames, 0, -1, false, vs::kFormatRefusal,
         false},
        {"variable size", kVs, kYuv420, 0, kFrames, 0, -1, false, vs::kFormatRefusal, false},
        {"no frames", kVs, kYuv420, kWidth, 0, 0, -1, false, plugin::kNothingToMeasure, false},
        {"strength beyond 32 bits", kVs, kYuv420, kWidth, kFrames, int64_t{1} << 40, -1, false,
         plugin::kParameterRange, false},
        {"a frame undelivered", kVs, kYuv420, kWidth, kFrames, 0, static_cast<int>(failing), false,
         undelivered, true},
        {"estimate of RGB", kVs, vs::cfRGB, kWidth, kFrames, 0, -1, true, vs::kFormatRefusal,
         false},
        {"RGB32", kAvs, avsc::AVS_CS_BGR32, kWidth, kFrames, 0, -1, false, avsc::kFormatRefusal,
         false},
        {"no frames", kAvs, kYuv420, kWidth, 0, 0, -1, false, plugin::kNothingToMeasure, false},
        {"strength beyond 32 bits", kAvs, kYuv420, kWidth, kFrames, int64_t{1} << 40, -1, false,
         plugin::kParameterRange, false},
        {"a frame undelivered", kAvs, kYuv420, kWidth, kFrames, 0, static_cast<int>(failing), false,
         undelivered, true},
        {"estimate of YUY2", kAvs, avsc::AVS_CS_YUY2, kWidth, kFrames, 0, -1, true,
         avsc::kFormatRefusal, false},
        {"estimate without frame properties", kAvsWithoutProperties, kYuv420, kWidth, kFrames, 0,
         -1, true, avsc::kNoFrameProperties, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.message.rfind("Velnor: ", 0), 0u);
        std::string error;
        int requests = 0;
        if (c.front_end == kVs) {
            using namespace vs;
            FakeVs host;
            VapourSynthPluginInit2(&host.plugin, &FakeVs::plugin_api());
            const VSVideoFormat format = c.format == kYuv420
                                             ? FakeVs::format(cfYUV, stInteger, 8, 1, 1)
                                             : FakeVs::format(c.format, stInteger, 8, 0, 0);
            VSNode* source = FakeVs::source(format, c.width, c.width ? kHeight : 0);
            source->vi.numFrames = c.frames;
            source->failing = c.failing;
            FakeVs::Args args = {{"auto", {1}}};
            if (c.strength) args["strength"] = {c.strength};
            VSNode* node = c.estimate ? host.call_estimate(source, &error)
                                      : host.call_velnor(source, args, &error);
            EXPECT_EQ(node, nullptr);
            FakeVs::api().freeNode(node);
            requests = source->requests;
            FakeVs::api().freeNode(source);
        } else {
            using namespace avsc;
            FakeAvs host;
            register_velnor(&host.env,
                            c.front_end == kAvs ? FakeAvs::kApi : FakeAvs::kApiWithoutProperties);
            auto* source = new SourceClip(video_info(c.format == kYuv420 ? AVS_CS_YV12 : c.format,
                                                     c.width, kHeight, c.frames));
            source->failing = c.failing;
            std::vector<FakeAvs::Arg> args(5, FakeAvs::Arg{false, 0});
            args[4] = {true, 1, kValueBool};
            if (c.strength) args[0] = {true, c.strength, kValueLong};
            const AVS_Value result =
                c.estimate ? host.call_estimate(source) : host.call_velnor(source, args);
            EXPECT_EQ(result.type, kValueError);
            if (result.type == kValueError) error = result.d.string;
            FakeAvs::release_value(result);
            requests = source->requests;
            source->release();
        }
        EXPECT_EQ(error, c.message);
        EXPECT_EQ(requests > 0, c.measures) << requests << " frames requested";
    }
}

}  // namespace
}  // namespace velnor
