// auto and the estimate function in both plug-in bindings: for the same frames the
// command line's measurement (a YUV4MPEG2 stream of the frames a binding measures)
// gives the same estimate and the same settings, the frames carry them as
// properties, and the output is the reference pass's with those settings. Refused
// clips are refused before anything is measured.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
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

// A luma plane as the stand-in hosts hold it.
test::BytePlane luma_of(const test::TestPlane& plane, SampleFormat format) {
    return {plane.bytes.data(), plane.pitch, plane.width / format.bytes(), plane.height};
}

// What the command line measures on a stream of these luma planes (greyscale,
// float samples as the 16-bit words the estimate reads them as).
struct CliChoice {
    double noise;  // 0 without an estimate
    FilterValues values;
};

CliChoice cli_choice(const std::vector<test::BytePlane>& planes, SampleFormat format) {
    const int bits = format.type == SampleType::f32 ? 16 : format.bits;
    char header[96];
    std::snprintf(header, sizeof header, "YUV4MPEG2 W%d H%d F25:1 Ip A1:1 Cmono%s\n", kWidth,
                  kHeight, bits == 8 ? "" : std::to_string(bits).c_str());
    std::vector<uint8_t> stream(header, header + std::strlen(header));
    for (const test::BytePlane& plane : planes) {
        for (const char c : std::string("FRAME\n")) stream.push_back(static_cast<uint8_t>(c));
        for (int y = 0; y < plane.height; ++y) {
            const uint8_t* row = plane.data + y * plane.pitch;
            for (int x = 0; x < plane.width; ++x) {
                if (format.type == SampleType::u8) {
                    stream.push_back(row[x]);
                    continue;
                }
                uint16_t word;
                if (format.type == SampleType::u16) {
                    std::memcpy(&word, row + 2 * x, 2);
                } else {
                    float f;
                    std::memcpy(&f, row + 4 * x, 4);
                    word = estimate_word(f);
                }
                stream.push_back(static_cast<uint8_t>(word & 0xff));
                stream.push_back(static_cast<uint8_t>(word >> 8));
            }
        }
    }
    cli::MemorySource source(stream.data(), stream.size());
    const cli::NoiseSample sample = cli::sample_noise(source, cli::Y4mLimits{});
    EXPECT_EQ(sample.frames, planes.size());
    EXPECT_EQ(sample.error, "");
    return {sample.estimate.valid ? sample.estimate.sigma : 0.0,
            settings_for_estimate(sample.estimate, PlaneKind::luma).values};
}

// The reference pass's output for a luma plane, compared with `out`; empty if equal.
std::string check_luma(const test::BytePlane& in, const test::BytePlane& out, SampleFormat format,
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

// One delivered frame: the source's luma, the output's luma and its properties.
struct Frame {
    test::BytePlane in, out;
    std::map<std::string, double> props;
};

// What a front end did with a case; checked while the frames are still held.
struct FrontEndRun {
    std::string error;
    std::vector<test::BytePlane> measured;  // the source's luma of the frames auto measures
    std::vector<Frame> frames;              // auto's frames 0 and kFrames - 1
    std::vector<Frame> estimates;           // Estimate's frames 0 and kFrames - 1
    int messages = -1;                      // information messages logged (VapourSynth)
};
using Check = std::function<void(const FrontEndRun&)>;

using Named = std::vector<std::pair<std::string, int>>;

// VapourSynth: a GRAY source through velnor.Velnor(auto=True, named...) and
// velnor.Estimate.
void run_vs(const Depth& depth, const int (&luma)[2], const Named& named, const Check& check) {
    using namespace vs;
    FakeVs host;
    VapourSynthPluginInit2(&host.plugin, &FakeVs::plugin_api());
    VSNode* source = FakeVs::source(
        FakeVs::format(cfGray, depth.vs_sample_type, depth.format.bits, 0, 0), kWidth, kHeight);
    source->luma = luma[0];
    source->luma_noise = luma[1];
    FakeVs::Args args = {{"auto", {1}}};
    for (const auto& [key, value] : named) args[key] = {value};
    const std::size_t logged = FakeVs::log.size();
    FrontEndRun run;
    VSNode* velnor = host.call_velnor(source, args, &run.error);
    run.messages = 0;
    for (std::size_t i = logged; i < FakeVs::log.size(); ++i)
        run.messages += FakeVs::log[i].first == 1 ? 1 : 100;  // 1: information
    std::string estimate_error;
    VSNode* estimate = host.call_estimate(source, &estimate_error);
    EXPECT_EQ(estimate_error, "");
    const SampleFormat f = depth.format;
    std::vector<const VSFrame*> held;
    const auto luma_plane = [&](VSNode* node, int n) {
        const VSFrame* frame = FakeVs::get_frame(node, n);
        held.push_back(frame);
        return frame;
    };
    const auto fetch = [&](VSNode* node, int n, std::vector<Frame>* into) {
        const VSFrame* in = luma_plane(source, n);
        const VSFrame* out = luma_plane(node, n);
        if (!out) return;
        Frame frame{luma_of(*in->planes[0], f), luma_of(*out->planes[0], f), {}};
        for (const auto& [key, values] : out->props.entries) {
            if (key.rfind("Velnor", 0) != 0) continue;
            const VSMap::Value& v = values.at(0);
            frame.props[key] = std::holds_alternative<double>(v)
                                   ? std::get<double>(v)
                                   : static_cast<double>(std::get<int64_t>(v));
        }
        into->push_back(frame);
    };
    for (const int64_t n : spread_frames(kFrames, kWidth * kHeight))
        run.measured.push_back(luma_of(*luma_plane(source, static_cast<int>(n))->planes[0], f));
    for (int n : {0, kFrames - 1}) {
        if (velnor) fetch(velnor, n, &run.frames);
        if (estimate) fetch(estimate, n, &run.estimates);
    }
    check(run);
    for (const VSFrame* frame : held) FakeVs::api().freeFrame(frame);
    FakeVs::api().freeNode(velnor);
    FakeVs::api().freeNode(estimate);
    FakeVs::api().freeNode(source);
}

// AviSynth+: a greyscale source through Velnor(auto=true, named...) and
// VelnorEstimate, in a host with `api` (with or without frame properties).
void run_avs(const Depth& depth, const int (&luma)[2], const Named& named, const avsc::AvsApi& api,
             const Check& check) {
    using namespace avsc;
    FakeAvs host;
    register_velnor(&host.env, api);
    auto* source = new SourceClip(video_info(
        (AVS_CS_Y8 & ~AVS_CS_SAMPLE_BITS_MASK) | depth.avs_bits, kWidth, kHeight, kFrames));
    source->luma = luma[0];
    source->luma_noise = luma[1];
    std::vector<FakeAvs::Arg> args(5, FakeAvs::Arg{false, 0});
    args[4] = {true, 1, kValueBool};
    for (const auto& [key, value] : named)
        args[key == "strength" ? 0 : key == "threshold1" ? 1 : 2] = {true, value};
    FrontEndRun run;
    const AVS_Value velnor = host.call_velnor(source, args);
    if (velnor.type == kValueError) run.error = velnor.d.string;
    const AVS_Value estimate = api.get_frame_props_rw ? host.call_estimate(source) : AVS_Value{};
    const SampleFormat f = depth.format;
    std::vector<AVS_VideoFrame*> held;
    const auto fetch = [&](const AVS_Value& clip, int n, std::vector<Frame>* into) {
        if (clip.type != kValueClip) return;
        AVS_VideoFrame* out = static_cast<FakeClip*>(clip.d.clip)->get_frame(n);
        held.push_back(out);
        into->push_back({luma_of(source->original(n).planes[0], f), luma_of(out->planes[0], f),
                         out->props.values});
    };
    for (const int64_t n : spread_frames(kFrames, kWidth * kHeight))
        run.measured.push_back(luma_of(source->original(static_cast<int>(n)).planes[0], f));
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

// Across depths, contents and named values, each binding measures what the
// command line measures on the same frames and reports and filters with it.
TEST(AutoAcrossFrontEnds, SameFramesSameEstimateSameSettings) {
    const struct {
        const char* content;
        int luma[2];  // an 8-bit level and the amplitude of uniform noise around it
        Named named;
    } contents[] = {
        {"noisy", {100, 12}, {}},
        {"lightly noisy", {60, 4}, {}},
        {"noisy, threshold2 named", {100, 12}, {{"threshold2", 3}}},
        {"noisy, all named", {140, 20}, {{"strength", 7}, {"threshold1", 9}, {"threshold2", 5}}},
        {"flat grey: no noise", {128, 0}, {}},
        {"black: no estimate", {0, 0}, {}},
    };
    for (const Depth& depth : kDepths) {
        for (const auto& c : contents) {
            const auto check = [&](const char* front_end, bool properties) {
                return [&, front_end, properties](const FrontEndRun& run) {
                    SCOPED_TRACE(testing::Message()
                                 << front_end << ", " << depth.name << ", " << c.content);
                    ASSERT_EQ(run.error, "");
                    ASSERT_EQ(run.measured.size(), std::min<uint64_t>(kFrames, kNoiseSampleFrames));
                    const CliChoice cli = cli_choice(run.measured, depth.format);
                    FilterValues used = cli.values;
                    for (const auto& [key, value] : c.named)
                        (key == "strength"     ? used.strength
                         : key == "threshold1" ? used.threshold1
                                               : used.threshold2) = value;
                    ASSERT_EQ(run.frames.size(), 2u);
                    for (const Frame& frame : run.frames) {
                        EXPECT_EQ(check_luma(frame.in, frame.out, depth.format, used), "");
                        if (!properties) {
                            EXPECT_TRUE(frame.props.empty());
                            continue;
                        }
                        const std::map<std::string, double> expected = {
                            {plugin::kNoiseProperty, cli.noise},
                            {plugin::kStrengthProperty, used.strength},
                            {plugin::kThreshold1Property, used.threshold1},
                            {plugin::kThreshold2Property, used.threshold2}};
                        EXPECT_EQ(frame.props, expected);
                    }
                    if (run.messages >= 0) {
                        EXPECT_EQ(run.messages, 1);
                    }
                    if (!properties) return;
                    // Estimate: each frame's own estimate, the picture untouched.
                    ASSERT_EQ(run.estimates.size(), 2u);
                    for (const Frame& frame : run.estimates) {
                        EXPECT_EQ(frame.props, (std::map<std::string, double>{
                                                   {plugin::kNoiseProperty,
                                                    cli_choice({frame.in}, depth.format).noise}}));
                        EXPECT_EQ(check_luma(frame.in, frame.out, depth.format, {0, 0, 0}), "");
                    }
                };
            };
            run_vs(depth, c.luma, c.named, check("VapourSynth", true));
            run_avs(depth, c.luma, c.named, avsc::FakeAvs::kApi, check("AviSynth+", true));
            run_avs(depth, c.luma, c.named, avsc::FakeAvs::kApiWithoutProperties,
                    check("AviSynth+ without frame properties", false));
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
