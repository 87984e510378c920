// Which frames a plug-in measures: within the measurement's limits, spread over
// the clip, and the same every time.
#include "core/measured_settings.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace velnor {
namespace {

TEST(MeasuredFrames, SpreadOverTheClipWithinTheLimits) {
    const struct {
        int64_t clip_frames;
        uint64_t frame_luma;
    } cases[] = {
        {0, 1920 * 1080}, {1, 1920 * 1080},   {3, 64 * 48},     {8, 64 * 48},
        {100, 64 * 48},   {100, 1920 * 1080}, {5, 1920 * 1080}, {2000000000, 3840 * 2160},
        {7, 8192 * 8192}, {1000, 0},          {9, 1},           {24, 720 * 576},
    };
    for (const auto& c : cases) {
        const std::vector<int64_t> frames = spread_frames(c.clip_frames, c.frame_luma);
        const auto count = static_cast<uint64_t>(frames.size());
        SCOPED_TRACE(testing::Message() << c.clip_frames << " frames of " << c.frame_luma);
        EXPECT_EQ(frames, spread_frames(c.clip_frames, c.frame_luma));
        EXPECT_EQ(count == 0, c.clip_frames == 0);
        if (count == 0) continue;
        EXPECT_LE(count, kNoiseSampleFrames);
        EXPECT_TRUE(count == 1 || count * c.frame_luma <= kNoiseSampleLuma);
        // As many as the limits allow: one more would break one of them.
        EXPECT_TRUE(count == static_cast<uint64_t>(c.clip_frames) || count == kNoiseSampleFrames ||
                    (count + 1) * c.frame_luma > kNoiseSampleLuma);
        EXPECT_TRUE(std::is_sorted(frames.begin(), frames.end()));
        EXPECT_EQ(std::adjacent_find(frames.begin(), frames.end()), frames.end());
        EXPECT_GE(frames.front(), 0);
        EXPECT_LT(frames.back(), c.clip_frames);
        // Each frame touches its own stretch of the clip, so neither end is favoured.
        const auto k = static_cast<int64_t>(count);
        for (std::size_t i = 0; i < frames.size(); ++i) {
            const auto stretch = static_cast<int64_t>(i);
            EXPECT_GT((frames[i] + 1) * k, stretch * c.clip_frames) << i;
            EXPECT_LT(frames[i] * k, (stretch + 1) * c.clip_frames) << i;
        }
    }
}

}  // namespace
}  // namespace velnor
