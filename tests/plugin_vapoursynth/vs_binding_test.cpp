// The VapourSynth binding driven by a stand-in core.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "core/filter_settings.h"
#include "core/luma_pass.h"
#include "plugin/script_function.h"
#include "plugin/vapoursynth/velnor_vs.h"
#include "tests/plugin_vapoursynth/fake_vs.h"
#include "tests/sample_reference.h"

namespace velnor::vs {
namespace {

using Args = FakeVs::Args;

SampleFormat sample_format(const VSVideoFormat& f) {
    return f.sampleType == stFloat ? SampleFormat::floating()
                                   : SampleFormat::integer(f.bitsPerSample);
}

test::BytePlane view(const VSFrame* frame, int p) {
    const test::TestPlane& plane = *frame->planes[p];
    return {plane.bytes.data(), plane.pitch, plane.width / frame->format.bytesPerSample,
            plane.height};
}

// Empty if plane p of `out` is the reference pass's result on the source's plane p
// with these parameters.
std::string check_filtered(const VSFrame* in, const VSFrame* out, int p,
                           const int32_t (&params)[3]) {
    const test::BytePlane source = view(in, p);
    const FilterSettings settings(source.width, source.height, params[0], params[1], params[2]);
    return test::compare_samples(
        test::reference_result(source, sample_format(in->format), settings), view(out, p),
        sample_format(in->format));
}

class VsBinding : public ::testing::Test {
protected:
    void SetUp() override { VapourSynthPluginInit2(&host.plugin, &FakeVs::plugin_api()); }
    void TearDown() override { EXPECT_EQ(FakeVs::live_frames.load(), 0); }

    // Frame n of `velnor` against the reference pass on the source's frame n: the
    // planes in `filtered` filtered, every other plane the source's own (shared, not
    // copied), properties copied.
    void expect_frame(VSNode* velnor, VSNode* source, int n, const int32_t (&params)[3],
                      const std::vector<int>& filtered = {0}) {
        std::string error;
        const VSFrame* out = FakeVs::get_frame(velnor, n, &error);
        ASSERT_NE(out, nullptr) << error;
        const VSFrame* in = FakeVs::get_frame(source, n);
        for (int p = 0; p < in->format.numPlanes; ++p) {
            if (std::find(filtered.begin(), filtered.end(), p) != filtered.end())
                EXPECT_EQ(check_filtered(in, out, p, params), "")
                    << "frame " << n << ", plane " << p;
            else
                EXPECT_EQ(out->planes[p], in->planes[p]) << "frame " << n << ", plane " << p;
        }
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
    ASSERT_EQ(host.plugin.functions.size(), 2u);
    const VSPlugin::Function& f = host.plugin.functions[0];
    EXPECT_EQ(f.name, "Velnor");
    EXPECT_EQ(f.args,
              "clip:vnode;strength:int:opt;threshold1:int:opt;threshold2:int:opt;"
              "planes:int[]:opt:empty;auto:int:opt;");
    EXPECT_EQ(f.return_type, "clip:vnode;");
    const VSPlugin::Function& estimate = host.plugin.functions[1];
    EXPECT_EQ(estimate.name, "Estimate");
    EXPECT_EQ(estimate.args, "clip:vnode;");
    EXPECT_EQ(estimate.return_type, "clip:vnode;");
}

// Every subsampling and GRAY at every depth, all planes filtered: each plane is the
// reference pass's result for its own size.
TEST_F(VsBinding, FiltersEveryPlaneLikeTheReferenceInEveryFormatAndDepth) {
    const struct {
        const char* name;
        int family, ssw, ssh;
    } layouts[] = {
        {"GRAY", cfGray, 0, 0}, {"4:2:0", cfYUV, 1, 1}, {"4:2:2", cfYUV, 1, 0},
        {"4:4:4", cfYUV, 0, 0}, {"4:1:0", cfYUV, 2, 2}, {"4:1:1", cfYUV, 2, 0},
        {"4:4:0", cfYUV, 0, 1},
    };
    const struct {
        int sample_type, bits;
    } depths[] = {{stInteger, 8},  {stInteger, 9},  {stInteger, 10}, {stInteger, 12},
                  {stInteger, 14}, {stInteger, 16}, {stFloat, 32}};
    for (const auto& layout : layouts)
        for (const auto& depth : depths) {
            SCOPED_TRACE(testing::Message() << layout.name << ", " << depth.bits << " bits"
                                            << (depth.sample_type == stFloat ? " float" : ""));
            VSNode* source = FakeVs::source(FakeVs::format(layout.family, depth.sample_type,
                                                           depth.bits, layout.ssw, layout.ssh),
                                            44, 20);
            const bool gray = layout.family == cfGray;
            const Args args = {
                {"planes", gray ? std::vector<int64_t>{0} : std::vector<int64_t>{0, 1, 2}},
                {"threshold1", {30}}};
            std::string error;
            VSNode* velnor = host.call_velnor(source, args, &error);
            ASSERT_NE(velnor, nullptr) << error;
            EXPECT_EQ(velnor->mode, fmParallel);
            expect_frame(velnor, source, 1, {20, 30, 10},
                         gray ? std::vector<int>{0} : std::vector<int>{0, 1, 2});
            FakeVs::api().freeNode(velnor);
            EXPECT_EQ(source->refs, 1) << "the filter gave its source back";
            FakeVs::api().freeNode(source);
        }
}

// Only the planes listed are filtered; the others are the source's, uncopied. An
// empty list passes the clip through, with auto too.
TEST_F(VsBinding, FiltersTheListedPlanesOnly) {
    struct Case {
        const char* name;
        VSVideoFormat format;
        int width, height;
        Args args;
        int32_t used[3];
        std::vector<int> filtered;
    };
    const Case cases[] = {
        {"default", FakeVs::format(cfYUV, stInteger, 10, 1, 1), 30, 18, {}, {20, 40, 10}, {0}},
        {"chroma only",
         FakeVs::format(cfYUV, stInteger, 16, 1, 0),
         30,
         9,
         {{"planes", {1, 2}}, {"strength", {11}}},
         {11, 40, 10},
         {1, 2}},
        {"one chroma plane",
         FakeVs::format(cfYUV, stFloat, 32, 0, 0),
         13,
         7,
         {{"planes", {2}}, {"threshold2", {3}}},
         {20, 40, 3},
         {2}},
        {"out of order",
         FakeVs::format(cfYUV, stInteger, 8, 2, 2),
         40,
         24,
         {{"planes", {2, 0}}, {"strength", {15}}, {"threshold2", {30}}},
         {15, 40, 30},
         {0, 2}},
        {"none",
         FakeVs::format(cfYUV, stInteger, 12, 1, 1),
         16,
         16,
         {{"planes", {}}},
         {20, 40, 10},
         {}},
        {"none, auto: nothing measured",
         FakeVs::format(cfYUV, stInteger, 8, 1, 1),
         16,
         16,
         {{"planes", {}}, {"auto", {1}}},
         {20, 40, 10},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VSNode* source = FakeVs::source(c.format, c.width, c.height);
        std::string error;
        VSNode* velnor = host.call_velnor(source, c.args, &error);
        ASSERT_NE(velnor, nullptr) << error;
        if (c.filtered.empty()) {
            EXPECT_EQ(velnor, source) << "planes=[] returns the clip itself";
            EXPECT_EQ(source->requests, 0) << "planes=[] measures nothing";
        }
        for (int n = 0; n < 2; ++n) expect_frame(velnor, source, n, c.used, c.filtered);
        FakeVs::api().freeNode(velnor);
        FakeVs::api().freeNode(source);
    }
}

TEST_F(VsBinding, RefusesOtherFormatsAndBadPlaneListsSayingWhatItTakes) {
    const struct {
        const char* name;
        VSVideoFormat format;
        int width, height;
        Args args;
        const char* error;
    } cases[] = {
        {"RGB24", FakeVs::format(cfRGB, stInteger, 8, 0, 0), 16, 16, {}, kFormatRefusal},
        {"RGB48", FakeVs::format(cfRGB, stInteger, 16, 0, 0), 16, 16, {}, kFormatRefusal},
        {"RGBS", FakeVs::format(cfRGB, stFloat, 32, 0, 0), 16, 16, {}, kFormatRefusal},
        {"YUV444PH", FakeVs::format(cfYUV, stFloat, 16, 0, 0), 16, 16, {}, kFormatRefusal},
        {"GRAYH", FakeVs::format(cfGray, stFloat, 16, 0, 0), 16, 16, {}, kFormatRefusal},
        {"variable format", VSVideoFormat{}, 16, 16, {}, kFormatRefusal},
        {"variable size", FakeVs::format(cfYUV, stInteger, 10, 1, 1), 0, 0, {}, kFormatRefusal},
        {"plane 3 of YUV",
         FakeVs::format(cfYUV, stInteger, 8, 1, 1),
         16,
         16,
         {{"planes", {0, 3}}},
         kPlanesRefusal},
        {"plane 1 of GRAY",
         FakeVs::format(cfGray, stFloat, 32, 0, 0),
         16,
         16,
         {{"planes", {1}}},
         kPlanesRefusal},
        {"negative plane",
         FakeVs::format(cfYUV, stInteger, 16, 0, 0),
         16,
         16,
         {{"planes", {-1}}},
         kPlanesRefusal},
        {"plane twice",
         FakeVs::format(cfYUV, stInteger, 8, 0, 0),
         16,
         16,
         {{"planes", {1, 0, 1}}},
         kPlanesRefusal},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        VSNode* source = FakeVs::source(c.format, c.width, c.height);
        std::string error;
        EXPECT_EQ(host.call_velnor(source, c.args, &error), nullptr);
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(source->refs, 1) << "the refused source was given back";
        FakeVs::api().freeNode(source);
    }
}

// Every parameter refuses values beyond 32 bits with the message the AviSynth+
// binding gives, and takes the 32-bit extremes.
TEST_F(VsBinding, RefusesParametersBeyond32Bits) {
    const int64_t beyond[] = {int64_t{1} << 31, -(int64_t{1} << 31) - 1, (int64_t{1} << 32) + 20,
                              INT64_MAX, INT64_MIN};
    for (const char* key : {"strength", "threshold1", "threshold2"}) {
        for (int64_t value : beyond) {
            VSNode* source = FakeVs::source(FakeVs::format(cfGray, stInteger, 8, 0, 0), 8, 8);
            std::string error;
            EXPECT_EQ(host.call_velnor(source, {{key, {value}}}, &error), nullptr)
                << key << "=" << value;
            EXPECT_EQ(error, plugin::kParameterRange) << key << "=" << value;
            FakeVs::api().freeNode(source);
        }
        for (int64_t value : {int64_t{INT32_MIN}, int64_t{INT32_MAX}}) {
            VSNode* source = FakeVs::source(FakeVs::format(cfGray, stInteger, 8, 0, 0), 8, 8);
            std::string error;
            VSNode* velnor = host.call_velnor(source, {{key, {value}}}, &error);
            EXPECT_NE(velnor, nullptr) << key << "=" << value << ": " << error;
            if (velnor) FakeVs::api().freeNode(velnor);
            FakeVs::api().freeNode(source);
        }
    }
}

// A frame that does not match its clip ends in an error, never in a write past a plane.
TEST_F(VsBinding, ReportsAFrameOfTheWrongSize) {
    VSNode* source = FakeVs::source(FakeVs::format(cfYUV, stInteger, 16, 1, 1), 32, 16);
    source->frame_shrink = 2;
    std::string error;
    VSNode* velnor = host.call_velnor(source, {{"planes", {1}}}, &error);
    ASSERT_NE(velnor, nullptr) << error;
    EXPECT_EQ(FakeVs::get_frame(velnor, 0, &error), nullptr);
    EXPECT_EQ(error, plugin::kFrameSize);
    FakeVs::api().freeNode(velnor);
    FakeVs::api().freeNode(source);
}

TEST_F(VsBinding, TwoThreadsOnOneNodeGetTheReferenceFrames) {
    constexpr int kFrames = 10;
    VSNode* source = FakeVs::source(FakeVs::format(cfYUV, stInteger, 10, 1, 1), 80, 60);
    std::string error;
    VSNode* velnor = host.call_velnor(source, {{"planes", {0, 1}}}, &error);
    ASSERT_NE(velnor, nullptr) << error;
    std::vector<const VSFrame*> got[2];
    auto pull = [&](int t) {
        for (int i = 0; i < kFrames; ++i)
            got[t].push_back(FakeVs::get_frame(velnor, t == 0 ? i : kFrames - 1 - i));
    };
    std::thread a(pull, 0), b(pull, 1);
    a.join();
    b.join();
    for (int n = 0; n < kFrames; ++n) {
        const VSFrame* in = FakeVs::get_frame(source, n);
        for (const VSFrame* out : {got[0][n], got[1][kFrames - 1 - n]}) {
            ASSERT_NE(out, nullptr);
            for (int p : {0, 1}) EXPECT_EQ(check_filtered(in, out, p, {20, 40, 10}), "") << n;
        }
        FakeVs::api().freeFrame(in);
    }
    for (auto& frames : got)
        for (const VSFrame* f : frames) FakeVs::api().freeFrame(f);
    FakeVs::api().freeNode(velnor);
    FakeVs::api().freeNode(source);
}

}  // namespace
}  // namespace velnor::vs
