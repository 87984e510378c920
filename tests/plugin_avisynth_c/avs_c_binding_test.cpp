// The AviSynth+ binding driven through the C interface by a stand-in host.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/filter_settings.h"
#include "core/luma_pass.h"
#include "plugin/avisynth_c/velnor_avs_c.h"
#include "plugin/script_function.h"
#include "tests/plugin_avisynth_c/fake_avs.h"
#include "tests/sample_reference.h"

namespace velnor::avsc {
namespace {

using Arg = FakeAvs::Arg;

// Pixel types at any sample size.
int with_bits(int shape, int bits) { return (shape & ~AVS_CS_SAMPLE_BITS_MASK) | bits; }

test::BytePlane view(const test::TestPlane& plane, SampleFormat format) {
    return {plane.bytes.data(), plane.pitch, plane.width / format.bytes(), plane.height};
}

// Empty if `out` is the reference pass's result on `in` with these parameters.
std::string check_filtered(const test::TestPlane& in, const test::TestPlane& out,
                           SampleFormat format, const int32_t (&params)[3]) {
    const test::BytePlane source = view(in, format);
    const FilterSettings settings(source.width, source.height, params[0], params[1], params[2]);
    return test::compare_samples(test::reference_result(source, format, settings),
                                 view(out, format), format);
}

class AvsCBinding : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_STREQ(register_velnor(&host.env, FakeAvs::kApi), plugin::kAvsPlusVersionText);
        ASSERT_EQ(host.registrations.size(), 2u);
    }
    void TearDown() override { EXPECT_EQ(FakeAvs::live_frames.load(), 0); }

    // A Velnor clip over a new source; null (with the test failed) if refused.
    FakeClip* velnor_over(SourceClip* source, const std::vector<Arg>& params = {}) {
        AVS_Value result = host.call_velnor(source, params);
        source->release();  // the filter holds its own reference
        if (result.type != kValueClip) {
            ADD_FAILURE() << (result.type == kValueError ? result.d.string : "no clip");
            return nullptr;
        }
        return static_cast<FakeClip*>(result.d.clip);
    }

    // Frame n of `clip` against the source's frame n: luma (and chroma if asked) the
    // reference pass's result, every other plane and all padding untouched.
    void expect_frame(FakeClip* clip, SourceClip* source, int n, const int32_t (&params)[3],
                      bool chroma = false) {
        AVS_VideoFrame* out = clip->get_frame(n);
        ASSERT_NE(out, nullptr);
        const AVS_VideoFrame& in = source->original(n);
        PlanarLayout layout{};
        ASSERT_TRUE(planar_layout(source->vi.pixel_type, &layout));
        for (int p = 0; p < 4; ++p) {
            if (p == 0 || (chroma && p < 3 && layout.chroma))
                EXPECT_EQ(check_filtered(in.planes[p], out->planes[p], layout.sample, params), "")
                    << "frame " << n << ", plane " << p;
            else
                EXPECT_EQ(out->planes[p], in.planes[p]) << "frame " << n << ", plane " << p;
        }
        FakeAvs::kApi.release_video_frame(out);
    }

    FakeAvs host;
};

TEST_F(AvsCBinding, RegistersVelnorWithItsSignature) {
    EXPECT_EQ(host.registrations[0].name, "Velnor");
    EXPECT_EQ(host.registrations[0].params,
              "c[strength]i[threshold1]i[threshold2]i[chroma]b[auto]b");
    EXPECT_EQ(host.registrations[1].name, "VelnorEstimate");
    EXPECT_EQ(host.registrations[1].params, "c");
}

// Every accepted shape at every sample size, luma only by default: luma is the
// reference pass's, chroma, alpha and padding untouched, the source's frames unchanged.
TEST_F(AvsCBinding, FiltersLumaLikeTheReferenceInEveryFormatAndDepth) {
    const int shapes[] = {AVS_CS_YV12,
                          AVS_CS_I420,
                          AVS_CS_YV16,
                          AVS_CS_YV24,
                          AVS_CS_Y8,
                          AVS_CS_GENERIC_YUVA420,
                          AVS_CS_GENERIC_YUVA422,
                          AVS_CS_GENERIC_YUVA444};
    const int depths[] = {AVS_CS_SAMPLE_BITS_8,  AVS_CS_SAMPLE_BITS_10, AVS_CS_SAMPLE_BITS_12,
                          AVS_CS_SAMPLE_BITS_14, AVS_CS_SAMPLE_BITS_16, AVS_CS_SAMPLE_BITS_32};
    std::vector<int> pixel_types = {AVS_CS_YV411};  // 8 bits only
    for (int shape : shapes)
        for (int bits : depths) pixel_types.push_back(with_bits(shape, bits));
    for (int pixel_type : pixel_types) {
        SCOPED_TRACE(testing::Message() << "pixel type " << std::hex << pixel_type);
        auto* source = new SourceClip(video_info(pixel_type, 36, 18));
        source->add_ref();  // kept for comparisons
        FakeClip* velnor = velnor_over(source, {{true, 12}, {false, 0}, {true, 6}});
        ASSERT_NE(velnor, nullptr);
        expect_frame(velnor, source, 1, {12, 40, 6});
        velnor->release();
        source->release();
    }
}

// chroma=true filters U and V with the same settings, each at its own size; alpha
// stays untouched, and greyscale has only luma to filter.
TEST_F(AvsCBinding, FiltersChromaWhenAsked) {
    struct Case {
        int pixel_type;
        int width, height;
        std::vector<Arg> args;
        int32_t used[3];
        bool chroma;
    };
    const Case cases[] = {
        {AVS_CS_YV12,
         64,
         48,
         {{false, 0}, {false, 0}, {false, 0}, {true, 1, kValueBool}},
         {20, 40, 10},
         true},
        {AVS_CS_I420,
         36,
         20,
         {{true, 12}, {false, 0}, {false, 0}, {true, 0, kValueBool}},
         {12, 40, 10},
         false},
        {with_bits(AVS_CS_YV16, AVS_CS_SAMPLE_BITS_10),
         40,
         17,
         {{false, 0}, {true, 25}, {false, 0}, {true, 1, kValueBool}},
         {20, 25, 10},
         true},
        {with_bits(AVS_CS_YV24, AVS_CS_SAMPLE_BITS_32),
         21,
         19,
         {{false, 0}, {false, 0}, {true, 3}, {true, 1, kValueBool}},
         {20, 40, 3},
         true},
        {with_bits(AVS_CS_GENERIC_YUVA420, AVS_CS_SAMPLE_BITS_16),
         30,
         10,
         {{true, 30}, {true, 60}, {true, 20}, {true, 1, kValueBool}},
         {30, 60, 20},
         true},
        {AVS_CS_YV411,
         48,
         9,
         {{false, 0}, {false, 0}, {false, 0}, {true, 1, kValueBool}},
         {20, 40, 10},
         true},
        {with_bits(AVS_CS_Y8, AVS_CS_SAMPLE_BITS_14),
         3,
         3,
         {{true, -5, kValueLong}, {false, 0}, {false, 0}, {true, 1, kValueBool}},
         {-5, 40, 10},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "pixel type " << std::hex << c.pixel_type);
        auto* source = new SourceClip(video_info(c.pixel_type, c.width, c.height));
        source->add_ref();
        FakeClip* velnor = velnor_over(source, c.args);
        ASSERT_NE(velnor, nullptr);
        for (int n = 0; n < 2; ++n) expect_frame(velnor, source, n, c.used, c.chroma);
        velnor->release();
        source->release();
    }
}

TEST_F(AvsCBinding, RefusesEveryOtherFormatWithAnErrorSayingWhatItAccepts) {
    const struct {
        const char* name;
        AVS_VideoInfo vi;
    } cases[] = {
        {"RGB24", video_info(AVS_CS_BGR24, 32, 32)},
        {"RGB32", video_info(AVS_CS_BGR32, 32, 32)},
        {"RGB48", video_info(with_bits(AVS_CS_BGR24, AVS_CS_SAMPLE_BITS_16), 32, 32)},
        {"YUY2", video_info(AVS_CS_YUY2, 32, 32)},
        {"planar RGB", video_info(AVS_CS_RGBP, 32, 32)},
        {"planar RGB float", video_info(with_bits(AVS_CS_RGBP, AVS_CS_SAMPLE_BITS_32), 32, 32)},
        {"planar RGBA 16-bit",
         video_info(with_bits(AVS_CS_PLANAR | AVS_CS_BGR | AVS_CS_RGBA_TYPE, AVS_CS_SAMPLE_BITS_16),
                    32, 32)},
        {"4:1:0", video_info(AVS_CS_YUV9, 32, 32)},
        {"4:1:1 at 10 bits", video_info(with_bits(AVS_CS_YV411, AVS_CS_SAMPLE_BITS_10), 32, 32)},
        {"unknown sample size", video_info(with_bits(AVS_CS_YV12, 3 << 16), 32, 32)},
        {"no video", video_info(0, 0, 0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto* source = new SourceClip(c.vi);
        AVS_Value result = host.call_velnor(source);
        ASSERT_EQ(result.type, kValueError);
        EXPECT_STREQ(result.d.string, kFormatRefusal);
        source->release();  // the last reference: the refused filter was freed
    }
}

// 64-bit values (what the host hands a plug-in with the second entry point) beyond
// 32 bits are refused in every parameter with the VapourSynth binding's message;
// the 32-bit extremes are taken in either form.
TEST_F(AvsCBinding, RefusesParametersBeyond32Bits) {
    const int64_t beyond[] = {int64_t{1} << 31, -(int64_t{1} << 31) - 1, (int64_t{1} << 32) + 20,
                              INT64_MAX, INT64_MIN};
    const Arg left_out{false, 0};
    for (int i = 0; i < 3; ++i) {
        auto args = [&](Arg arg) {
            std::vector<Arg> params(3, left_out);
            params[i] = arg;
            return params;
        };
        for (int64_t value : beyond) {
            auto* source = new SourceClip(video_info(AVS_CS_YV12, 16, 16));
            AVS_Value result = host.call_velnor(source, args({true, value, kValueLong}));
            EXPECT_EQ(result.type, kValueError) << "parameter " << i << " = " << value;
            if (result.type == kValueError) {
                EXPECT_STREQ(result.d.string, plugin::kParameterRange);
            }
            FakeAvs::release_value(result);
            source->release();
        }
        for (const Arg& arg : {Arg{true, INT32_MIN, kValueLong}, Arg{true, INT32_MAX, kValueLong},
                               Arg{true, INT32_MIN, kValueInt}}) {
            auto* source = new SourceClip(video_info(AVS_CS_YV12, 16, 16));
            FakeClip* clip = velnor_over(source, args(arg));
            if (clip) clip->release();
        }
    }
}

// Everything but the luma samples comes from the child: clip properties, parity
// and audio, and the multithreading mode is the most parallel one.
TEST_F(AvsCBinding, PassesClipPropertiesParityAndAudioThrough) {
    auto* source = new SourceClip(video_info(AVS_CS_YV12, 32, 16, 7));
    source->add_ref();
    FakeClip* velnor = velnor_over(source);
    ASSERT_NE(velnor, nullptr);
    EXPECT_EQ(std::memcmp(&velnor->vi, &source->vi, sizeof(AVS_VideoInfo)), 0);
    for (int n = 0; n < 7; ++n) EXPECT_EQ(velnor->get_parity(n), source->get_parity(n)) << n;
    std::vector<int16_t> got(2 * 100), want(2 * 100);
    velnor->get_audio(got.data(), 1234, 100);
    source->get_audio(want.data(), 1234, 100);
    EXPECT_EQ(got, want);
    EXPECT_EQ(velnor->set_cache_hints(AVS_CACHE_GET_MTMODE, 0), AVS_MT_NICE_FILTER);
    velnor->release();
    source->release();
}

// The host shuts an environment down before it frees the last clips (and joins
// their prefetch threads): a clip must go on working until it is freed.
TEST_F(AvsCBinding, ClipsOutliveTheirEnvironmentsShutdown) {
    auto* source = new SourceClip(video_info(AVS_CS_YV24, 24, 16));
    source->add_ref();
    FakeClip* velnor = velnor_over(source);
    ASSERT_NE(velnor, nullptr);
    host.shut_down();
    expect_frame(velnor, source, 0, {20, 40, 10});
    velnor->release();
    source->release();
}

TEST_F(AvsCBinding, TwoThreadsOnOneClipGetTheReferenceFrames) {
    constexpr int kFrames = 16;
    auto* source =
        new SourceClip(video_info(with_bits(AVS_CS_YV12, AVS_CS_SAMPLE_BITS_16), 96, 64, kFrames));
    source->add_ref();
    FakeClip* velnor = velnor_over(source);
    ASSERT_NE(velnor, nullptr);
    std::vector<test::TestPlane> got[2];
    auto pull = [&](int t) {
        for (int i = 0; i < kFrames; ++i) {
            const int n = t == 0 ? i : kFrames - 1 - i;
            AVS_VideoFrame* frame = velnor->get_frame(n);
            got[t].push_back(frame ? frame->planes[0] : test::TestPlane(0, 0, 0));
            if (frame) FakeAvs::kApi.release_video_frame(frame);
        }
    };
    std::thread a(pull, 0), b(pull, 1);
    a.join();
    b.join();
    const SampleFormat format = SampleFormat::integer(16);
    for (int n = 0; n < kFrames; ++n) {
        const test::TestPlane& in = source->original(n).planes[0];
        EXPECT_EQ(check_filtered(in, got[0][n], format, {20, 40, 10}), "") << "thread 0, " << n;
        EXPECT_EQ(check_filtered(in, got[1][kFrames - 1 - n], format, {20, 40, 10}), "")
            << "thread 1, " << n;
    }
    velnor->release();
    source->release();
}

// Faults on the host's side end in the host's error, never in a write past a plane.
TEST_F(AvsCBinding, ReportsFramesItCannotFilterAsErrors) {
    const struct {
        const char* name;
        int frame_shrink;
        bool make_writable_fails;
        const char* error;
    } cases[] = {
        {"frame smaller than the clip", 2, false, plugin::kFrameSize},
        {"MakeWritable fails", 0, true, "host: MakeWritable failed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        host.make_writable_fails = c.make_writable_fails;
        FakeClip* velnor =
            velnor_over(new SourceClip(video_info(AVS_CS_YV12, 32, 16), c.frame_shrink));
        ASSERT_NE(velnor, nullptr);
        EXPECT_EQ(velnor->get_frame(0), nullptr);
        EXPECT_STREQ(static_cast<FilterClip*>(velnor)->fi.error, c.error);
        velnor->release();
    }
}

}  // namespace
}  // namespace velnor::avsc
