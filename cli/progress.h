// A one-line progress display on standard error: frames written and frames per
// second, redrawn at most four times a second.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>

namespace velnor::cli {

class Progress {
public:
    using Clock = std::chrono::steady_clock;

    // Shows nothing unless `enabled`; output goes to `stream`.
    Progress(bool enabled, std::FILE* stream);

    void frame_written(Clock::time_point now = Clock::now());
    // Draws the final count and ends the line; call before printing any message.
    void finish(Clock::time_point now = Clock::now());

private:
    void draw(Clock::time_point now);

    bool enabled_;
    std::FILE* stream_;
    Clock::time_point start_;
    Clock::time_point last_draw_;
    uint64_t frames_ = 0;
    bool drawn_ = false;
    bool finished_ = false;
};

}  // namespace velnor::cli
