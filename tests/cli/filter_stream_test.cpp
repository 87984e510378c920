// The whole filter run in memory: luma equals the reference pass, everything else
// is unchanged, output order holds with any thread count, and failures stop the
// output after the last complete frame.
#include "cli/filter_stream.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "core/filter_settings.h"
#include "core/luma_pass.h"
#include "tests/cli/y4m_bytes.h"

namespace velnor::cli {
namespace {

using test::PlanarFrame;

struct RunResult {
    int status = -1;
    std::vector<uint8_t> output;
    std::string messages;
    bool output_opened = false;
};

RunResult run(const std::vector<uint8_t>& input, const Options& options,
              const ScratchAllocator* scratch = nullptr, bool progress = false,
              std::size_t output_limit = SIZE_MAX) {
    MemorySource source(input.data(), input.size(), 65536 + 13);
    MemorySink sink(output_limit);
    std::FILE* messages = std::tmpfile();
    RunResult result;
    StreamIo io;
    io.input = &source;
    io.open_output = [&](std::string*) -> ByteSink* {
        result.output_opened = true;
        return &sink;
    };
    io.messages = messages;
    io.show_progress = progress;
    io.scratch = scratch;
    result.status = filter_stream(options, io);
    result.output = sink.bytes();
    std::rewind(messages);
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, messages)) > 0)
        result.messages.append(buffer, got);
    std::fclose(messages);
    return result;
}

// The expected output, computed from the planes with the reference pass directly.
std::vector<uint8_t> expected_stream(const std::string& header, std::vector<PlanarFrame> frames,
                                     int width, int height, const Options& options) {
    const FilterSettings settings(width, height, options.strength, options.threshold1,
                                  options.threshold2);
    for (PlanarFrame& frame : frames)
        EXPECT_EQ(
            filter_luma_reference(settings, frame.luma.data(), width, default_scratch_allocator()),
            PassStatus::ok);
    return test::stream_bytes(header, frames);
}

TEST(FilterStream, LumaMatchesTheReferencePassAndTheRestPassesThrough) {
    std::mt19937 rng(11);
    const struct {
        int width, height;
        int32_t strength, threshold1, threshold2;
        int threads;
    } cases[] = {
        {64, 48, 20, 40, 10, 1},   {64, 48, 20, 40, 10, 4},
        {33, 17, 13, 0, 25, 3},    {7, 5, 20, 40, 10, 2},
        {5, 9, -40, -1, 300, 2},   {3, 3, 20, 40, 10, 1},
        {640, 360, 20, 40, 10, 2}, {101, 57, 2000000000, INT32_MIN, INT32_MAX, 5},
    };
    for (const auto& c : cases) {
        const std::string header = "YUV4MPEG2 W" + std::to_string(c.width) + " H" +
                                   std::to_string(c.height) +
                                   " F25:1 Ip A1:1 C420jpeg XYSCSS=420JPEG";
        std::vector<PlanarFrame> frames;
        for (int i = 0; i < 9; ++i) {
            frames.push_back(test::random_frame(c.width, c.height, rng));
            if (i % 4 == 1) frames.back().header = "FRAME Ib XTAG=" + std::to_string(i);
        }
        Options options;
        options.strength = c.strength;
        options.threshold1 = c.threshold1;
        options.threshold2 = c.threshold2;
        options.threads = c.threads;
        const RunResult result = run(test::stream_bytes(header, frames), options);
        EXPECT_EQ(result.status, kExitOk) << result.messages;
        EXPECT_EQ(result.messages, "");
        EXPECT_TRUE(result.output == expected_stream(header, frames, c.width, c.height, options))
            << c.width << "x" << c.height << " with " << c.threads << " threads";
    }
}

TEST(FilterStream, AStreamWithoutFramesGivesTheHeaderAlone) {
    const RunResult result = run(test::bytes_of("YUV4MPEG2 W8 H8 XA=1\n"), Options{});
    EXPECT_EQ(result.status, kExitOk);
    EXPECT_TRUE(result.output == test::bytes_of("YUV4MPEG2 W8 H8 XA=1\n"));
}

TEST(FilterStream, BadStreamHeaderOpensNoOutput) {
    const RunResult result = run(test::bytes_of("YUV4MPEG2 W8 H8 C444\n"), Options{});
    EXPECT_EQ(result.status, kExitFailure);
    EXPECT_FALSE(result.output_opened);
    EXPECT_EQ(
        result.messages,
        "velnor: stream header: colourspace \"C444\" (4:4:4) is not supported; velnor filters "
        "8-bit 4:2:0 only\n");
}

TEST(FilterStream, TruncatedInputKeepsEveryCompleteFrameBeforeIt) {
    std::mt19937 rng(5);
    const std::string header = "YUV4MPEG2 W40 H30";
    std::vector<PlanarFrame> frames;
    for (int i = 0; i < 5; ++i) frames.push_back(test::random_frame(40, 30, rng));
    std::vector<uint8_t> input = test::stream_bytes(header, frames);
    input.resize(input.size() - 100);  // the fifth frame loses its last 100 bytes
    const std::vector<PlanarFrame> complete(frames.begin(), frames.begin() + 4);
    const std::vector<uint8_t> expected = expected_stream(header, complete, 40, 30, Options{});
    for (int threads : {1, 2, 8}) {
        Options options;
        options.threads = threads;
        const RunResult result = run(input, options);
        EXPECT_EQ(result.status, kExitFailure);
        EXPECT_EQ(result.messages,
                  "velnor: frame 4: input ends inside the frame data (1700 of 1800 bytes)\n");
        EXPECT_TRUE(result.output == expected) << threads;
    }
}

// Scratch that fails on its n-th request (counted from 0) and succeeds otherwise.
std::atomic<int> g_requests_left{0};
void* allocate_until_exhausted(std::size_t bytes) {
    return g_requests_left.fetch_sub(1) > 0 ? std::malloc(bytes) : nullptr;
}
void release(void* block) { std::free(block); }

TEST(FilterStream, OutOfMemoryInTheCoreEndsWithAnErrorAfterTheLastGoodFrame) {
    std::mt19937 rng(9);
    const std::string header = "YUV4MPEG2 W24 H20";
    std::vector<PlanarFrame> frames;
    for (int i = 0; i < 6; ++i) frames.push_back(test::random_frame(24, 20, rng));
    const ScratchAllocator failing{allocate_until_exhausted, release};
    Options options;
    options.threads = 1;
    g_requests_left = 3;
    const RunResult result = run(test::stream_bytes(header, frames), options, &failing);
    EXPECT_EQ(result.status, kExitFailure);
    EXPECT_EQ(result.messages, "velnor: frame 3: out of memory while filtering\n");
    frames.resize(3);
    EXPECT_TRUE(result.output == expected_stream(header, frames, 24, 20, options));
}

TEST(FilterStream, WriteErrorIsReported) {
    std::mt19937 rng(2);
    const std::vector<uint8_t> input = test::stream_bytes(
        "YUV4MPEG2 W16 H16", {test::random_frame(16, 16, rng), test::random_frame(16, 16, rng)});
    Options options;
    options.threads = 2;
    // Room for the stream header, the first frame and 3 bytes more.
    const RunResult result = run(input, options, nullptr, false, 18 + 6 + 384 + 3);
    EXPECT_EQ(result.status, kExitFailure);
    EXPECT_EQ(result.messages, "velnor: write error: No space left on device\n");
    EXPECT_EQ(result.output.size(), 18u + 6 + 384);
}

TEST(FilterStream, ProgressReportsFramesAndRateOnlyWhenAsked) {
    std::mt19937 rng(4);
    std::vector<PlanarFrame> frames;
    for (int i = 0; i < 3; ++i) frames.push_back(test::random_frame(16, 16, rng));
    const std::vector<uint8_t> input = test::stream_bytes("YUV4MPEG2 W16 H16", frames);
    const RunResult shown = run(input, Options{}, nullptr, true);
    EXPECT_NE(shown.messages.find("velnor: 3 frames, "), std::string::npos) << shown.messages;
    EXPECT_NE(shown.messages.find(" fps"), std::string::npos) << shown.messages;
    EXPECT_TRUE(shown.messages.ends_with("\n"));
    EXPECT_EQ(run(input, Options{}, nullptr, false).messages, "");
}

}  // namespace
}  // namespace velnor::cli
