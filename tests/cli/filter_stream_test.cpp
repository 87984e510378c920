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

// One plane (stream bytes) through the reference pass at its own size and depth.
void filter_reference(std::vector<uint8_t>* plane, test::Size size, int bits,
                      const Options& options) {
    const FilterSettings settings(size.width, size.height, options.strength, options.threshold1,
                                  options.threshold2);
    if (bits == 8) {
        ASSERT_EQ(
            filter_luma_reference(settings, plane->data(), size.width, default_scratch_allocator()),
            PassStatus::ok);
        return;
    }
    std::vector<uint16_t> words(plane->size() / 2);
    for (std::size_t i = 0; i < words.size(); ++i)
        words[i] = static_cast<uint16_t>((*plane)[2 * i] | (*plane)[2 * i + 1] << 8);
    ASSERT_EQ(filter_words_reference(settings, bits, words.data(), size.width,
                                     default_scratch_allocator()),
              PassStatus::ok);
    for (std::size_t i = 0; i < words.size(); ++i) {
        (*plane)[2 * i] = static_cast<uint8_t>(words[i] & 0xff);
        (*plane)[2 * i + 1] = static_cast<uint8_t>(words[i] >> 8);
    }
}

// Every layout and depth: luma (and with --chroma Cb and Cr, each at its own size)
// equals the reference pass; the other planes and all headers are unchanged. A
// sample above the depth's maximum ends the output after the frames before it.
TEST(FilterStream, EveryLayoutAndDepthMatchesTheReference) {
    std::mt19937 rng(13);
    const struct {
        const char* colourspace;
        int bits;
        test::Size planes[4];
        bool chroma;
        int bad_frame;  // its Cb (or luma for mono) gets a sample above the maximum; -1: none
        const char* message;
    } cases[] = {
        {"420jpeg", 8, {{37, 21}, {19, 11}, {19, 11}, {}}, true, -1, ""},
        {"422", 8, {{37, 21}, {19, 21}, {19, 21}, {}}, true, -1, ""},
        {"444", 8, {{37, 21}, {37, 21}, {37, 21}, {}}, false, -1, ""},
        {"411", 8, {{37, 21}, {10, 21}, {10, 21}, {}}, true, -1, ""},
        {"mono",
         8,
         {{37, 21}, {}, {}, {}},
         true,
         -1,
         "velnor: --chroma: the stream is monochrome; only its luma is filtered\n"},
        {"444alpha", 8, {{37, 21}, {37, 21}, {37, 21}, {37, 21}}, true, -1, ""},
        {"420p9", 9, {{37, 21}, {19, 11}, {19, 11}, {}}, false, -1, ""},
        {"420p10", 10, {{37, 21}, {19, 11}, {19, 11}, {}}, true, -1, ""},
        {"422p10", 10, {{37, 21}, {19, 21}, {19, 21}, {}}, true, -1, ""},
        {"422p12", 12, {{37, 21}, {19, 21}, {19, 21}, {}}, false, -1, ""},
        {"444p14", 14, {{37, 21}, {37, 21}, {37, 21}, {}}, true, -1, ""},
        {"444p16", 16, {{37, 21}, {37, 21}, {37, 21}, {}}, true, -1, ""},
        {"mono16", 16, {{37, 21}, {}, {}, {}}, false, -1, ""},
        {"mono10",
         10,
         {{37, 21}, {}, {}, {}},
         false,
         2,
         "velnor: frame 2: Y plane: sample 1024 at (0, 0) is above the 10-bit maximum 1023\n"},
        {"422p10",
         10,
         {{37, 21}, {19, 21}, {19, 21}, {}},
         true,
         1,
         "velnor: frame 1: Cb plane: sample 1024 at (0, 0) is above the 10-bit maximum 1023 "
         "(ffmpeg 5.1 writes odd widths above 8 bits with chroma rows one byte short; give it an "
         "even width)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.colourspace) + (c.chroma ? " --chroma" : ""));
        const std::string header =
            "YUV4MPEG2 W37 H21 F25:1 Ip C" + std::string(c.colourspace) + " XCOLORRANGE=LIMITED";
        std::vector<PlanarFrame> frames;
        for (int i = 0; i < 4; ++i) {
            frames.push_back(test::random_layout_frame(c.planes, c.bits, rng));
            if (i == 1) frames.back().header = "FRAME Ib XTAG=1";
        }
        if (c.bad_frame >= 0) {
            std::vector<uint8_t>& plane =
                c.planes[1].width > 0 ? frames[c.bad_frame].cb : frames[c.bad_frame].luma;
            plane[0] = 0x00;
            plane[1] = 0x04;  // 1024
        }
        Options options;
        options.chroma = c.chroma;
        options.threads = 2;
        const RunResult result = run(test::stream_bytes(header, frames), options);
        EXPECT_EQ(result.status, c.bad_frame < 0 ? kExitOk : kExitFailure);
        EXPECT_EQ(result.messages, c.message);
        if (c.bad_frame >= 0) frames.resize(static_cast<std::size_t>(c.bad_frame));
        for (PlanarFrame& frame : frames) {
            filter_reference(&frame.luma, c.planes[0], c.bits, options);
            if (!c.chroma || c.planes[1].width == 0) continue;
            filter_reference(&frame.cb, c.planes[1], c.bits, options);
            filter_reference(&frame.cr, c.planes[2], c.bits, options);
        }
        EXPECT_TRUE(result.output == test::stream_bytes(header, frames));
    }
}

// Frame buffers stay within the budget (two frames when one pair is bigger), each
// thread gets two of them, and no thread is given up that the budget could afford.
TEST(FilterStream, FrameBuffersStayWithinTheBudget) {
    StreamInfo largest;  // the largest frame the reader accepts
    largest.width = Y4mLimits{}.max_side;
    largest.height = static_cast<int32_t>(Y4mLimits{}.max_luma_samples / largest.width);
    const std::size_t frame_sizes[] = {1,
                                       1920 * 1080 * 3 / 2,
                                       kFrameBufferBudget / 512,
                                       kFrameBufferBudget / 9 + 1,
                                       largest.frame_bytes(),
                                       kFrameBufferBudget / 2,
                                       kFrameBufferBudget / 2 + 1,
                                       kFrameBufferBudget + 7};
    for (std::size_t frame : frame_sizes) {
        for (int threads : {1, 2, 3, 16, 64, kMaxThreads}) {
            SCOPED_TRACE(std::to_string(frame) + " bytes, " + std::to_string(threads) + " threads");
            const PipelineSize size = pipeline_size(threads, frame);
            EXPECT_GE(size.threads, 1);
            EXPECT_LE(size.threads, threads);
            EXPECT_GE(size.buffers, 2 * static_cast<std::size_t>(size.threads));
            EXPECT_LE(size.buffers, 2 * static_cast<std::size_t>(threads));
            EXPECT_TRUE(size.buffers == 2 || size.buffers * frame <= kFrameBufferBudget);
            EXPECT_TRUE(size.threads == threads ||
                        2 * static_cast<std::size_t>(size.threads + 1) * frame >
                            kFrameBufferBudget);
        }
    }
    // Where it matters: the largest frames with many threads, and small ones.
    EXPECT_LE(pipeline_size(64, largest.frame_bytes()).buffers * largest.frame_bytes(),
              kFrameBufferBudget);
    EXPECT_GE(pipeline_size(64, largest.frame_bytes()).threads, 2);
    EXPECT_EQ(pipeline_size(64, 1920 * 1080 * 3 / 2).buffers, 128u);
    // The budget counts bytes: 16-bit frames get half the buffers of 8-bit ones.
    StreamInfo uhd;
    uhd.width = 3840;
    uhd.height = 2160;
    uhd.layout.chroma_shift_x = uhd.layout.chroma_shift_y = 0;
    const std::size_t eight = pipeline_size(64, uhd.frame_bytes()).buffers;
    uhd.layout.bits = 16;
    EXPECT_EQ(pipeline_size(64, uhd.frame_bytes()).buffers, eight / 2);
}

TEST(FilterStream, AStreamWithoutFramesGivesTheHeaderAlone) {
    const RunResult result = run(test::bytes_of("YUV4MPEG2 W8 H8 XA=1\n"), Options{});
    EXPECT_EQ(result.status, kExitOk);
    EXPECT_TRUE(result.output == test::bytes_of("YUV4MPEG2 W8 H8 XA=1\n"));
}

TEST(FilterStream, BadStreamHeaderOpensNoOutput) {
    const RunResult result = run(test::bytes_of("YUV4MPEG2 W8 H8 C440\n"), Options{});
    EXPECT_EQ(result.status, kExitFailure);
    EXPECT_FALSE(result.output_opened);
    EXPECT_EQ(result.messages,
              "velnor: stream header: colourspace \"C440\" (4:4:0) is not supported; convert "
              "with ffmpeg -pix_fmt yuv444p\n");
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

// Each worker's scratch is set aside before frames are taken in flight: once one
// block is, every frame is filtered, whatever the allocator refuses later (the
// vector passes fall back to the plain pass, same output); without it the first
// frame runs out while filtering.
TEST(FilterStream, ScratchSetAsideFirstFiltersEveryFrame) {
    std::mt19937 rng(9);
    const std::string header = "YUV4MPEG2 W24 H20";
    std::vector<PlanarFrame> frames;
    for (int i = 0; i < 6; ++i) frames.push_back(test::random_frame(24, 20, rng));
    const ScratchAllocator failing{allocate_until_exhausted, release};
    const struct {
        int threads;
        int requests;  // the allocator grants this many, then refuses every request
        std::size_t written;
    } cases[] = {{1, 0, 0}, {4, 0, 0}, {1, 1, 6}, {4, 1, 6}, {4, 3, 6}, {2, 9, 6}};
    for (const auto& c : cases) {
        Options options;
        options.threads = c.threads;
        g_requests_left = c.requests;
        const RunResult result = run(test::stream_bytes(header, frames), options, &failing);
        const std::string name = std::to_string(c.threads) + " threads, " +
                                 std::to_string(c.requests) + " requests granted";
        EXPECT_EQ(result.status, c.written == frames.size() ? kExitOk : kExitFailure) << name;
        EXPECT_EQ(result.messages, c.written == frames.size()
                                       ? ""
                                       : "velnor: frame 0: out of memory while filtering\n")
            << name;
        const std::vector<PlanarFrame> kept(frames.begin(), frames.begin() + c.written);
        EXPECT_TRUE(result.output == expected_stream(header, kept, 24, 20, options)) << name;
    }
}

// The sink keeps what fits, as a full disk does; the partial frame is cut off again.
TEST(FilterStream, WriteErrorNamesTheFrameAndLeavesOnlyCompleteFrames) {
    std::mt19937 rng(2);
    const std::vector<uint8_t> input = test::stream_bytes(
        "YUV4MPEG2 W16 H16", {test::random_frame(16, 16, rng), test::random_frame(16, 16, rng)});
    Options options;
    options.threads = 2;
    // Room for the stream header, the first frame and 3 bytes more.
    const RunResult result = run(input, options, nullptr, false, 18 + 6 + 384 + 3);
    EXPECT_EQ(result.status, kExitFailure);
    EXPECT_EQ(result.messages, "velnor: frame 1: write error: No space left on device\n");
    EXPECT_EQ(result.output.size(), 18u + 6 + 384);
}

// The total comes from the input's size (a memory source knows it, as a file does).
TEST(FilterStream, ProgressReportsFramesAndRateOnlyWhenAsked) {
    std::mt19937 rng(4);
    std::vector<PlanarFrame> frames;
    for (int i = 0; i < 3; ++i) frames.push_back(test::random_frame(16, 16, rng));
    const std::vector<uint8_t> input = test::stream_bytes("YUV4MPEG2 W16 H16", frames);
    const RunResult shown = run(input, Options{}, nullptr, true);
    EXPECT_TRUE(shown.messages.starts_with("\rvelnor: 1/3 frames (33%), ")) << shown.messages;
    EXPECT_NE(shown.messages.find("\rvelnor: filtered 3 frames in "), std::string::npos)
        << shown.messages;
    EXPECT_TRUE(shown.messages.ends_with(" fps)\n")) << shown.messages;
    EXPECT_EQ(run(input, Options{}, nullptr, false).messages, "");
}

}  // namespace
}  // namespace velnor::cli
