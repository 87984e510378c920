// The progress line: what it says with and without a known total, while running
// and at the end, and when a stream's size tells the total.
#include "cli/progress.h"

#include <gtest/gtest.h>

#include <string>

namespace velnor::cli {
namespace {

TEST(Progress, Text) {
    const struct {
        uint64_t frames;
        int64_t total;
        double seconds;
        bool closing;
        const char* text;
    } cases[] = {
        {37, 60, 1.95, false, "velnor: 37/60 frames (62%), 19.0 fps, 0:01 left"},
        {199, 200, 10.0, false, "velnor: 199/200 frames (99%), 19.9 fps, 0:00 left"},
        {0, 60, 0.3, false, "velnor: 0/60 frames (0%), 0.0 fps"},
        {25, 90025, 1.0, false, "velnor: 25/90025 frames (0%), 25.0 fps, 1:00:00 left"},
        {37, -1, 125.4, false, "velnor: 37 frames, 0.3 fps, 2:05 elapsed"},
        {1, -1, 0.5, false, "velnor: 1 frame, 2.0 fps, 0:01 elapsed"},
        {61, 60, 3.0, false, "velnor: 61 frames, 20.3 fps, 0:03 elapsed"},  // the file grew
        {60, 60, 3.2, true, "velnor: filtered 60 frames in 3.2 s (18.8 fps)"},
        {37, 60, 2.0, true, "velnor: filtered 37 of 60 frames in 2.0 s (18.5 fps)"},
        {37, -1, 3725.0, true, "velnor: filtered 37 frames in 1:02:05 (0.0 fps)"},
        {1, -1, 59.96, true, "velnor: filtered 1 frame in 1:00 (0.0 fps)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(progress_text(c.frames, c.total, c.seconds, c.closing), c.text)
            << c.frames << "/" << c.total;
}

TEST(Progress, FramesInStream) {
    constexpr std::size_t kHeader = 30, kFrame = 72;  // 78 bytes a frame with "FRAME\n"
    const struct {
        int64_t stream_bytes;
        int64_t frames;
    } cases[] = {
        {30 + 40 * 78, 40},
        {30, 0},
        {-1, -1},                // a pipe
        {30 + 40 * 78 - 1, -1},  // cut short or tagged frame headers
        {30 + 40 * 78 + 9, -1},  // "FRAME Ip\n" somewhere
        {10, -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(frames_in_stream(c.stream_bytes, kHeader, kFrame), c.frames) << c.stream_bytes;
}

}  // namespace
}  // namespace velnor::cli
