// The VapourSynth binding driven by a stand-in core.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "core/filter_settings.h"
#include "core/luma_pass.h"
#include "plugin/script_function.h"
#include "plugin/vapoursynth/velnor_vs.h"
#include "tests/plugin_vapoursynth/fake_vs.h"

namespace velnor::vs {
namespace {

// The luma the reference pass makes of `source`, laid out like `like` (stride and
// padding), with these parameters.
test::TestPlane expected_luma(const VSFrame* source, const test::TestPlane& like,
                              const int32_t (&params)[3]) {
    const test::TestPlane& in = *source->planes[0];
    test::TestPlane luma(in.width, in.height, like.pitch);
    for (int y = 0; y < in.height; ++y)
        for (int x = 0; x < in.width; ++x) luma.at(x, y) = in.at(x, y);
    const FilterSettings settings(in.width, in.height, params[0], params[1], params[2]);
    EXPECT_EQ(filter_luma_reference(settings, luma.data(), luma.pitch, default_scratch_allocator()),
              PassStatus::ok);
    return luma;
}

class VsBinding : public ::testing::Test {
protected:
    void SetUp() override { VapourSynthPluginInit2(&host.plugin, &FakeVs::plugin_api()); }
    void TearDown() override { EXPECT_EQ(FakeVs::live_frames.load(), 0); }

    // Frame n of `velnor` against the reference pass on the source's frame n:
    // luma filtered, chroma planes the source's own, properties copied.
    void expect_frame(VSNode* velnor, VSNode* source, int n, const int32_t (&params)[3]) {
        std::string error;
        const VSFrame* out = FakeVs::get_frame(velnor, n, &error);
        ASSERT_NE(out, nullptr) << error;
        const VSFrame* in = FakeVs::get_frame(source, n);
        EXPECT_EQ(*out->planes[0], expected_luma(in, *out->planes[0], params)) << "frame " << n;
        for (int p = 1; p < 3; ++p) EXPECT_EQ(out->planes[p], in->planes[p]) << "plane " << p;
        EXPECT_EQ(out->props, in->props);
        FakeVs::api().freeFrame(out);
        FakeVs::api().freeFrame(in);
    }

    FakeVs host;
};

TEST_F(VsBinding, RegistersVelnorForApi40) {
    EXPECT_EQ(host.plugin.plugin_namespace, "velnor");
    EXPECT_NE(host.plugin.identifier.find('.'), std::string::npos) << "a reverse-DNS identifier";
    EXPECT_EQ(host.plugin.api_version, 4 << 16);
    // The core reads the plug-in's version as major << 16 | minor.
    EXPECT_EQ(host.plugin.version >> 16, kVersionMajor);
    EXPECT_EQ(host.plugin.version & 0xffff, kVersionMinor);
    ASSERT_EQ(host.plugin.functions.size(), 1u);
    const VSPlugin::Function& f = host.plugin.functions[0];
    EXPECT_EQ(f.name, "Velnor");
    EXPECT_EQ(f.args, "clip:vnode;strength:int:opt;threshold1:int:opt;threshold2:int:opt;");
    EXPECT_EQ(f.return_type, "clip:vnode;");
}

// Every accepted format, default and given parameters, odd sizes.
TEST_F(VsBinding, FiltersLumaLikeTheReferencePassInEveryAcceptedFormat) {
    struct Case {
        const char* name;
        int family, ssw, ssh;
        int width, height;
        std::map<std::string, int64_t> args;
        int32_t used[3];
    };
    const Case cases[] = {
        {"GRAY8", cfGray, 0, 0, 33, 17, {}, {20, 40, 10}},
        {"YUV420P8", cfYUV, 1, 1, 64, 48, {{"strength", 11}}, {11, 40, 10}},
        {"YUV422P8", cfYUV, 1, 0, 30, 9, {{"threshold1", 70}}, {20, 70, 10}},
        {"YUV444P8", cfYUV, 0, 0, 5, 4, {{"threshold2", 2}}, {20, 40, 2}},
        {"YUV410P8", cfYUV, 2, 2, 40, 24, {{"strength", 15}, {"threshold2", 30}}, {15, 40, 30}},
        {"YUV411P8", cfYUV, 2, 0, 24, 8, {{"threshold1", 0}}, {20, 0, 10}},
        {"YUV440P8", cfYUV, 0, 1, 16, 16, {{"strength", 0}}, {0, 40, 10}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VSNode* source =
            FakeVs::source(FakeVs::format(c.family, stInteger, 8, c.ssw, c.ssh), c.width, c.height);
        std::string error;
        VSNode* velnor = host.call_velnor(source, c.args, &error);
        ASSERT_NE(velnor, nullptr) << error;
        EXPECT_EQ(velnor->mode, fmParallel);
        for (int n = 0; n < 3; ++n) expect_frame(velnor, source, n, c.used);
        FakeVs::api().freeNode(velnor);
        EXPECT_EQ(source->refs, 1) << "the filter gave its source back";
        FakeVs::api().freeNode(source);
    }
}

TEST_F(VsBinding, RefusesEveryOtherFormat) {
    const struct {
        const char* name;
        VSVideoFormat format;
        int width, height;
    } cases[] = {
        {"RGB24", FakeVs::format(cfRGB, stInteger, 8, 0, 0), 16, 16},
        {"GRAY16", FakeVs::format(cfGray, stInteger, 16, 0, 0), 16, 16},
        {"YUV420P10", FakeVs::format(cfYUV, stInteger, 10, 1, 1), 16, 16},
        {"YUV444PS", FakeVs::format(cfYUV, stFloat, 32, 0, 0), 16, 16},
        {"variable format", VSVideoFormat{}, 16, 16},
        {"variable size", FakeVs::format(cfYUV, stInteger, 8, 1, 1), 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        VSNode* source = FakeVs::source(c.format, c.width, c.height);
        std::string error;
        EXPECT_EQ(host.call_velnor(source, {}, &error), nullptr);
        EXPECT_NE(error.find("Velnor: "), std::string::npos) << error;
        EXPECT_EQ(source->refs, 1) << "the refused source was given back";
        FakeVs::api().freeNode(source);
    }
}

TEST_F(VsBinding, RefusesParametersBeyond32Bits) {
    VSNode* source = FakeVs::source(FakeVs::format(cfGray, stInteger, 8, 0, 0), 8, 8);
    std::string error;
    EXPECT_EQ(host.call_velnor(source, {{"threshold1", int64_t{1} << 40}}, &error), nullptr);
    EXPECT_NE(error.find("Velnor: "), std::string::npos) << error;
    FakeVs::api().freeNode(source);
}

// A frame that does not match its clip ends in an error, never in a write past a plane.
TEST_F(VsBinding, ReportsAFrameOfTheWrongSize) {
    VSNode* source = FakeVs::source(FakeVs::format(cfYUV, stInteger, 8, 1, 1), 32, 16);
    source->frame_shrink = 2;
    std::string error;
    VSNode* velnor = host.call_velnor(source, {}, &error);
    ASSERT_NE(velnor, nullptr) << error;
    EXPECT_EQ(FakeVs::get_frame(velnor, 0, &error), nullptr);
    EXPECT_EQ(error, plugin::kFrameSize);
    FakeVs::api().freeNode(velnor);
    FakeVs::api().freeNode(source);
}

TEST_F(VsBinding, TwoThreadsOnOneNodeGetTheReferenceFrames) {
    constexpr int kFrames = 10;
    VSNode* source = FakeVs::source(FakeVs::format(cfYUV, stInteger, 8, 1, 1), 80, 60);
    std::string error;
    VSNode* velnor = host.call_velnor(source, {}, &error);
    ASSERT_NE(velnor, nullptr) << error;
    std::vector<test::TestPlane> got[2];
    auto pull = [&](int t) {
        for (int i = 0; i < kFrames; ++i) {
            const VSFrame* f = FakeVs::get_frame(velnor, t == 0 ? i : kFrames - 1 - i);
            got[t].push_back(f ? *f->planes[0] : test::TestPlane(0, 0, 0));
            FakeVs::api().freeFrame(f);
        }
    };
    std::thread a(pull, 0), b(pull, 1);
    a.join();
    b.join();
    for (int n = 0; n < kFrames; ++n) {
        const VSFrame* in = FakeVs::get_frame(source, n);
        const test::TestPlane want = expected_luma(in, got[0][n], {20, 40, 10});
        EXPECT_EQ(got[0][n], want) << "thread 0, frame " << n;
        EXPECT_EQ(got[1][kFrames - 1 - n], want) << "thread 1, frame " << n;
        FakeVs::api().freeFrame(in);
    }
    FakeVs::api().freeNode(velnor);
    FakeVs::api().freeNode(source);
}

}  // namespace
}  // namespace velnor::vs
