// Registration, argument defaults and the input check of the create callback.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "core/dispatch.h"
#include "core/test_events.h"
#include "plugin/avisynth25/velnor_filter.h"
#include "tests/plugin/binding_fixture.h"

namespace velnor::test {
namespace {

using host::AVSValue;

TEST(PluginEntry, RegistersVelnorWithItsParametersAndReturnsVersionText) {
    LoadedModule module;
    EXPECT_STREQ(module.init_text, "Velnor ver 0.1");
    ASSERT_EQ(module.env.registrations.size(), 1u);
    const auto& r = module.env.registrations[0];
    EXPECT_EQ(r.name, "Velnor");
    EXPECT_EQ(r.params, "c[strength]i[threshold1]i[threshold2]i");
    EXPECT_NE(r.apply, nullptr);
    EXPECT_EQ(r.user_data, nullptr);
}

struct ArgumentCase {
    const char* name;
    std::optional<AVSValue> strength, threshold1, threshold2;
    int32_t expected_strength, expected_threshold1, expected_threshold2;
};
void PrintTo(const ArgumentCase& c, std::ostream* os) { *os << c.name; }

class CreateArguments : public ::testing::TestWithParam<ArgumentCase> {};

TEST_P(CreateArguments, SettingsAndFramesFollowArgumentsOrDefaults) {
    const ArgumentCase& c = GetParam();
    LoadedModule module;
    SourceClip source(module.pool, yv12_info(40, 24), SourceClip::Sharing::kept, 11);
    const int64_t references = module.pool.total_references();

    AVSValue value = module.create(&source, c.strength.value_or(undefined_arg()),
                                   c.threshold1.value_or(undefined_arg()),
                                   c.threshold2.value_or(undefined_arg()));
    ASSERT_EQ(value.type, host::kValueClip);
    EXPECT_EQ(value.clip->refcount, 1);
    EXPECT_EQ(source.refcount, 2);  // ours and the filter's

    const FilterSettings expected(40, 24, c.expected_strength, c.expected_threshold1,
                                  c.expected_threshold2);
    const auto& settings = static_cast<plugin::VelnorFilter*>(value.clip)->settings();
    EXPECT_EQ(settings.width, 40);
    EXPECT_EQ(settings.height, 24);
    EXPECT_EQ(settings.strength, c.expected_strength);
    EXPECT_EQ(settings.threshold1, c.expected_threshold1);
    EXPECT_EQ(settings.threshold2, c.expected_threshold2);

    for (int n = 0; n < source.vi.num_frames; ++n) {
        host::VideoFrame* frame = request_frame(value.clip, n, &module.env);
        EXPECT_EQ(buffer_bytes(frame), expected_output(source.frame(n), expected)) << "frame " << n;
        release_frame(frame);
    }
    release_value(value);
    EXPECT_EQ(source.refcount, 1);
    EXPECT_EQ(module.pool.total_references(), references);
    EXPECT_TRUE(module.env.errors.empty());
}

AVSValue float_arg(float f) {
    AVSValue v{};
    v.type = host::kValueFloat;
    v.floating = f;
    return v;
}

INSTANTIATE_TEST_SUITE_P(
    Binding, CreateArguments,
    ::testing::Values(ArgumentCase{"ClipAlone", {}, {}, {}, 20, 40, 10},
                      ArgumentCase{"OnlyThreshold2", {}, {}, int_arg(5), 20, 40, 5},
                      ArgumentCase{"OnlyStrength", int_arg(7), {}, {}, 7, 40, 10},
                      ArgumentCase{"AllThree", int_arg(13), int_arg(25), int_arg(3), 13, 25, 3},
                      ArgumentCase{"NoRangeChecks", int_arg(-3), int_arg(0), int_arg(1000), -3, 0,
                                   1000},
                      ArgumentCase{"NonIntegerTakesDefault", {}, float_arg(2.5f), {}, 20, 40, 10}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CreateInput, AcceptsBothPlanarOrders) {
    for (uint32_t type : {host::kPixelTypeYV12, host::kPixelTypeI420}) {
        LoadedModule module;
        SourceClip source(module.pool, yv12_info(16, 8, type), SourceClip::Sharing::kept, 1);
        AVSValue value = module.create(&source);
        EXPECT_EQ(value.type, host::kValueClip) << std::hex << type;
        EXPECT_TRUE(module.env.errors.empty());
        release_value(value);
    }
}

struct RejectedCase {
    const char* name;
    uint32_t pixel_type;
};
void PrintTo(const RejectedCase& c, std::ostream* os) { *os << c.name; }

class CreateRejects : public ::testing::TestWithParam<RejectedCase> {};

// The error comes before anything is allocated and with no reference of the
// callback's own on the clip: the host's error unwinds without our destructors.
TEST_P(CreateRejects, NonPlanarInputRaisesErrorAndHoldsNothing) {
    for (bool error_returns : {false, true}) {
        SCOPED_TRACE(error_returns ? "ThrowError returns" : "ThrowError raises");
        LoadedModule module;
        module.env.error_returns = error_returns;
        SourceClip source(module.pool, yv12_info(32, 16, GetParam().pixel_type),
                          SourceClip::Sharing::kept, 5);
        int32_t refcount_at_error = -1;
        module.env.on_error = [&] { refcount_at_error = source.refcount; };

        if (error_returns) {
            const AVSValue value = module.create(&source, int_arg(20));
            EXPECT_EQ(value.type, host::kValueInt);
            EXPECT_EQ(value.integer, 0);
        } else {
            try {
                module.create(&source, int_arg(20));
                ADD_FAILURE() << "no error raised";
            } catch (const HostError& e) {
                EXPECT_EQ(e.message, "Velnor: Requires YV12 input");
            }
        }
        ASSERT_EQ(module.env.errors.size(), 1u);
        EXPECT_EQ(module.env.errors[0], "Velnor: Requires YV12 input");
        EXPECT_EQ(refcount_at_error, 2);  // ours and the argument array's
        EXPECT_EQ(source.refcount, 1);
        EXPECT_EQ(source.destroyed, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Binding, CreateRejects,
                         ::testing::Values(RejectedCase{"RGB24", host::kPixelTypeBGR24},
                                           RejectedCase{"RGB32", host::kPixelTypeBGR32},
                                           RejectedCase{"YUY2", host::kPixelTypeYUY2}),
                         [](const auto& info) { return std::string(info.param.name); });

// The events file's text after one filter is made with VELNOR_SIMD=`simd` (unset
// when null) and the events file set or not.
std::string level_report(const char* simd, bool events_wanted) {
    const std::string path =
        ::testing::TempDir() + "velnor_level_events_" + std::to_string(::getpid());
    std::remove(path.c_str());
    if (simd) ::setenv("VELNOR_SIMD", simd, 1);
    if (events_wanted) ::setenv(kTestEventsVariable, path.c_str(), 1);
    {
        LoadedModule module;
        SourceClip source(module.pool, yv12_info(16, 8), SourceClip::Sharing::kept, 1);
        AVSValue value = module.create(&source);
        EXPECT_EQ(value.type, host::kValueClip);
        release_value(value);
    }
    ::unsetenv("VELNOR_SIMD");
    ::unsetenv(kTestEventsVariable);
    std::ifstream file(path, std::ios::binary);
    if (!file) return "(no file)";
    const std::string text{std::istreambuf_iterator<char>(file), {}};
    std::remove(path.c_str());
    return text;
}

// The level a filter reports is the one its pass runs at: the request lowered to
// what the CPU runs, the best one without a request.
TEST(CreateReport, EachFilterReportsItsLevelOnlyWhenAsked) {
    for (const LevelName& entry : kLevelNames) {
        const std::string expected =
            std::string("level ") + level_name(supported_level(entry.level)) + "\n";
        EXPECT_EQ(level_report(entry.name, true), expected) << entry.name;
    }
    EXPECT_EQ(level_report(nullptr, true),
              std::string("level ") + level_name(best_supported_level()) + "\n");
    EXPECT_EQ(level_report("reference", false), "(no file)");
}

}  // namespace
}  // namespace velnor::test
