// Command-line parsing: every accepted spelling and every rejected one with its message.
#include "cli/options.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace velnor::cli {
namespace {

std::string parse(std::vector<std::string_view> args, Options* options) {
    return parse_options(args, options);
}

TEST(Options, DefaultsReadStdinAndWriteStdout) {
    Options options;
    ASSERT_EQ(parse({}, &options), "");
    EXPECT_EQ(options.strength, 20);
    EXPECT_EQ(options.threshold1, 40);
    EXPECT_EQ(options.threshold2, 10);
    EXPECT_EQ(options.threads, 0);
    EXPECT_FALSE(options.quiet);
    EXPECT_EQ(options.input, "-");
    EXPECT_EQ(options.output, "-");
}

TEST(Options, AcceptsEverySpelling) {
    const struct {
        std::vector<std::string_view> args;
        int32_t strength, threshold1, threshold2;
        int threads;
        const char* input;
        const char* output;
    } cases[] = {
        {{"--strength", "5", "--threshold1", "6", "--threshold2", "7"}, 5, 6, 7, 0, "-", "-"},
        {{"--strength=5", "--threshold1=-6", "--threshold2=+7"}, 5, -6, 7, 0, "-", "-"},
        {{"--strength=-2147483648", "--threshold2=2147483647"},
         INT32_MIN,
         40,
         INT32_MAX,
         0,
         "-",
         "-"},
        {{"in.y4m", "-o", "out.y4m"}, 20, 40, 10, 0, "in.y4m", "out.y4m"},
        {{"-oout.y4m", "in.y4m", "-j3"}, 20, 40, 10, 3, "in.y4m", "out.y4m"},
        {{"-j", "1", "--output=out.y4m", "-"}, 20, 40, 10, 1, "-", "out.y4m"},
        {{"--jobs=256", "-o", "-"}, 20, 40, 10, 256, "-", "-"},
        {{"--", "-odd-name.y4m"}, 20, 40, 10, 0, "-odd-name.y4m", "-"},
        {{"--strength", "0", "--strength", "9"}, 9, 40, 10, 0, "-", "-"},  // the last one wins
    };
    for (const auto& c : cases) {
        Options options;
        ASSERT_EQ(parse(c.args, &options), "") << c.args.front();
        EXPECT_EQ(options.strength, c.strength) << c.args.front();
        EXPECT_EQ(options.threshold1, c.threshold1) << c.args.front();
        EXPECT_EQ(options.threshold2, c.threshold2) << c.args.front();
        EXPECT_EQ(options.threads, c.threads) << c.args.front();
        EXPECT_EQ(options.input, c.input) << c.args.front();
        EXPECT_EQ(options.output, c.output) << c.args.front();
    }
    Options flags;
    ASSERT_EQ(parse({"-q", "--help", "-V"}, &flags), "");
    EXPECT_TRUE(flags.quiet && flags.help && flags.version);
}

TEST(Options, RejectsBadArgumentsWithAMessage) {
    const struct {
        std::vector<std::string_view> args;
        const char* message;
    } cases[] = {
        {{"--strength", "abc"}, "--strength: \"abc\" is not a whole number"},
        {{"--strength", "1.5"}, "--strength: \"1.5\" is not a whole number"},
        {{"--strength", "1e3"}, "not a whole number"},
        {{"--strength", " 5"}, "not a whole number"},
        {{"--strength", "5 "}, "not a whole number"},
        {{"--strength", "0x10"}, "not a whole number"},
        {{"--strength", ""}, "not a whole number"},
        {{"--strength", "+-5"}, "not a whole number"},
        {{"--threshold1", "2147483648"},
         "--threshold1: \"2147483648\" is outside the 32-bit range"},
        {{"--threshold2=-2147483649"}, "--threshold2: \"-2147483649\" is outside the 32-bit range"},
        {{"--strength", "99999999999999999999999"}, "outside the 32-bit range"},
        {{"--strength"}, "--strength needs a value"},
        {{"-o"}, "-o needs a value"},
        {{"-o", ""}, "-o needs a file name"},
        {{"--output="}, "--output needs a file name"},
        {{"-j", "0"}, "-j: the number of threads must be 1 to 256"},
        {{"-j257"}, "the number of threads must be 1 to 256"},
        {{"--jobs=-1"}, "the number of threads must be 1 to 256"},
        {{"-j", "many"}, "-j: \"many\" is not a whole number"},
        {{"a.y4m", "b.y4m"}, "more than one input given"},
        {{"-o", "a", "-o", "b"}, "more than one output given"},
        {{"--strenght", "5"}, "unknown option \"--strenght\""},
        {{"-x"}, "unknown option \"-x\""},
        {{"--quiet=yes"}, "unknown option \"--quiet=yes\""},
        {{"--suggest", "--auto"}, "--suggest only measures the noise; it takes no --auto"},
        {{"--strength=3", "--suggest"}, "--suggest only measures the noise"},
        {{"--suggest", "--threshold1", "9"}, "--suggest only measures the noise"},
        {{"--suggest", "--threshold2=9"}, "--suggest only measures the noise"},
        {{"--suggest", "-j2"}, "--suggest only measures the noise"},
        {{"--suggest", "--chroma", "--cb", "1,2,3"}, "--suggest only measures the noise"},
        {{"--cb", "1,2,3"}, "--cb sets a chroma plane's values; it needs --chroma"},
        {{"--cr=1,2,3"}, "--cr sets a chroma plane's values; it needs --chroma"},
        {{"--chroma", "--cb", "1,2"}, "--cb: \"1,2\" is not three whole numbers"},
        {{"--chroma", "--cr=1,2,3,4"}, "--cr: \"1,2,3,4\" is not three whole numbers"},
        {{"--chroma", "--cb", "1,2,x"}, "not three whole numbers"},
        {{"--chroma", "--cb", "1,2147483648,3"},
         "--cb: \"1,2147483648,3\" holds a number outside the 32-bit range"},
    };
    for (const auto& c : cases) {
        Options options;
        const std::string error = parse(c.args, &options);
        EXPECT_NE(error.find(c.message), std::string::npos) << c.args.front() << ": " << error;
    }
}

// Which values each filtered plane gets: --cb / --cr over the values named for
// every plane over the defaults; the chroma planes only with --chroma.
TEST(Options, PlaneValuesFollowThePrecedence) {
    const FilterValues kDefaults{kDefaultStrength, kDefaultThreshold1, kDefaultThreshold2};
    const struct {
        std::vector<std::string_view> args;
        std::vector<FilterValues> planes;
    } cases[] = {
        {{"--strength", "5"}, {{5, kDefaultThreshold1, kDefaultThreshold2}}},
        {{"--chroma", "--threshold2=3"},
         {{kDefaultStrength, kDefaultThreshold1, 3},
          {kDefaultStrength, kDefaultThreshold1, 3},
          {kDefaultStrength, kDefaultThreshold1, 3}}},
        {{"--cb", "1,-2,+3", "--chroma", "--strength", "9"},
         {{9, kDefaultThreshold1, kDefaultThreshold2},
          {1, -2, 3},
          {9, kDefaultThreshold1, kDefaultThreshold2}}},
        {{"--chroma", "--cr=-2147483648,0,2147483647", "--cb=4,5,6"},
         {kDefaults, {4, 5, 6}, {INT32_MIN, 0, INT32_MAX}}},
        {{"--chroma", "--cb", "1,1,1", "--cb", "2,2,2"}, {kDefaults, {2, 2, 2}, kDefaults}},
    };
    for (const auto& c : cases) {
        Options options;
        ASSERT_EQ(parse(c.args, &options), "") << testing::PrintToString(c.args);
        const std::vector<FilterValues> got = plane_values(options);
        ASSERT_EQ(got.size(), c.planes.size()) << testing::PrintToString(c.args);
        for (std::size_t p = 0; p < got.size(); ++p) {
            SCOPED_TRACE(testing::Message() << testing::PrintToString(c.args) << ", plane " << p);
            EXPECT_EQ(got[p].strength, c.planes[p].strength);
            EXPECT_EQ(got[p].threshold1, c.planes[p].threshold1);
            EXPECT_EQ(got[p].threshold2, c.planes[p].threshold2);
        }
    }
}

TEST(Options, HelpNamesTheFiltersDefaults) {
    const std::string help = usage_text();
    const struct {
        const char* option;
        int32_t value;
    } cases[] = {
        {"--strength N", kDefaultStrength},
        {"--threshold1 N", kDefaultThreshold1},
        {"--threshold2 N", kDefaultThreshold2},
    };
    for (const auto& c : cases) {
        const std::size_t start = help.find(c.option);
        ASSERT_NE(start, std::string::npos) << c.option;
        const std::size_t end = help.find("\n  -", start + 1);
        const std::string entry = help.substr(start, end - start);
        EXPECT_NE(entry.find("(default " + std::to_string(c.value) + ")"), std::string::npos)
            << entry;
    }
}

TEST(Options, ParsesExactlyTheInt32Range) {
    const struct {
        const char* text;
        bool ok;
        int32_t value;
    } cases[] = {
        {"0", true, 0},
        {"-0", true, 0},
        {"+17", true, 17},
        {"007", true, 7},
        {"2147483647", true, INT32_MAX},
        {"-2147483648", true, INT32_MIN},
        {"2147483648", false, 0},
        {"-2147483649", false, 0},
        {"-", false, 0},
        {"+", false, 0},
        {"--1", false, 0},
        {"1-", false, 0},
    };
    for (const auto& c : cases) {
        int32_t value = 12345;
        EXPECT_EQ(parse_int32(c.text, &value), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
}

}  // namespace
}  // namespace velnor::cli
