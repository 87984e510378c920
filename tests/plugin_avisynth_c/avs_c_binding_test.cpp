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

namespace velnor::avsc {
namespace {

using Arg = FakeAvs::Arg;

// The luma the reference pass makes of `frame` with these parameters.
test::TestPlane expected_luma(const AVS_VideoFrame& frame, int32_t strength, int32_t threshold1,
                              int32_t threshold2) {
    test::TestPlane luma = frame.planes[0];
    const FilterSettings settings(luma.width, luma.height, strength, threshold1, threshold2);
    EXPECT_EQ(filter_luma_reference(settings, luma.data(), luma.pitch, default_scratch_allocator()),
              PassStatus::ok);
    return luma;
}

class AvsCBinding : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_STREQ(register_velnor(&host.env, FakeAvs::kApi), plugin::kAvsPlusVersionText);
        ASSERT_EQ(host.registrations.size(), 1u);
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

    // Frame n of `clip` matches the reference pass on the source's frame n.
    void expect_frame(FakeClip* clip, SourceClip* source, int n, const int32_t (&params)[3]) {
        AVS_VideoFrame* out = clip->get_frame(n);
        ASSERT_NE(out, nullptr);
        const AVS_VideoFrame& in = source->original(n);
        EXPECT_EQ(out->planes[0], expected_luma(in, params[0], params[1], params[2]))
            << "frame " << n;
        EXPECT_EQ(out->planes[1], in.planes[1]);
        EXPECT_EQ(out->planes[2], in.planes[2]);
        FakeAvs::kApi.release_video_frame(out);
    }

    FakeAvs host;
};

TEST_F(AvsCBinding, RegistersVelnorWithItsSignature) {
    EXPECT_EQ(host.registrations[0].name, "Velnor");
    EXPECT_EQ(host.registrations[0].params, "c[strength]i[threshold1]i[threshold2]i");
}

// Every accepted format, odd and even sizes, default and given parameters: the
// luma is the reference pass's, chroma and padding untouched, the source's own
// frames unchanged.
TEST_F(AvsCBinding, FiltersLumaLikeTheReferencePassInEveryAcceptedFormat) {
    struct Case {
        int pixel_type;
        int width, height;
        std::vector<Arg> args;
        int32_t used[3];
    };
    const Case cases[] = {
        {AVS_CS_YV12, 64, 48, {}, {20, 40, 10}},
        {AVS_CS_I420, 36, 20, {{true, 12}}, {12, 40, 10}},
        {AVS_CS_YV16, 40, 17, {{false, 0}, {true, 25}}, {20, 25, 10}},
        {AVS_CS_YV24, 21, 19, {{false, 0}, {false, 0}, {true, 3}}, {20, 40, 3}},
        {AVS_CS_YV411, 48, 9, {{true, 30}, {true, 60}, {true, 20}}, {30, 60, 20}},
        {AVS_CS_Y8, 3, 3, {{true, -5, kValueLong}}, {-5, 40, 10}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "pixel type " << std::hex << c.pixel_type);
        auto* source = new SourceClip(video_info(c.pixel_type, c.width, c.height));
        source->add_ref();  // kept for comparisons
        FakeClip* velnor = velnor_over(source, c.args);
        ASSERT_NE(velnor, nullptr);
        for (int n = 0; n < 3; ++n) expect_frame(velnor, source, n, c.used);
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
        {"YUY2", video_info(AVS_CS_YUY2, 32, 32)},
        {"planar RGB", video_info(AVS_CS_RGBP, 32, 32)},
        {"10-bit", video_info(AVS_CS_YUV420P10, 32, 32)},
        {"16-bit grey", video_info(AVS_CS_Y16, 32, 32)},
        {"float", video_info(AVS_CS_YUV420PS, 32, 32)},
        {"with alpha", video_info(AVS_CS_YUVA420, 32, 32)},
        {"4:1:0", video_info(AVS_CS_YUV9, 32, 32)},
        {"no video", video_info(0, 0, 0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto* source = new SourceClip(c.vi);
        AVS_Value result = host.call_velnor(source);
        ASSERT_EQ(result.type, kValueError);
        const std::string message = result.d.string;
        EXPECT_EQ(message.rfind("Velnor: ", 0), 0u) << message;
        EXPECT_NE(message.find("YV12"), std::string::npos) << message;
        EXPECT_NE(message.find("Y8"), std::string::npos) << message;
        source->release();  // the last reference: the refused filter was freed
    }
}

TEST_F(AvsCBinding, RefusesParametersBeyond32Bits) {
    auto* source = new SourceClip(video_info(AVS_CS_YV12, 16, 16));
    AVS_Value result = host.call_velnor(source, {{true, int64_t{1} << 33, kValueLong}});
    EXPECT_EQ(result.type, kValueError);
    FakeAvs::release_value(result);
    source->release();
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
    auto* source = new SourceClip(video_info(AVS_CS_YV12, 96, 64, kFrames));
    source->add_ref();
    FakeClip* velnor = velnor_over(source);
    ASSERT_NE(velnor, nullptr);
    std::vector<test::TestPlane> expected;
    for (int n = 0; n < kFrames; ++n)
        expected.push_back(expected_luma(source->original(n), 20, 40, 10));
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
    for (int i = 0; i < kFrames; ++i) {
        EXPECT_EQ(got[0][i], expected[i]) << "thread 0, frame " << i;
        EXPECT_EQ(got[1][i], expected[kFrames - 1 - i]) << "thread 1, frame " << kFrames - 1 - i;
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
