// A one-line progress display on standard error, drawn at the first frame and
// redrawn in place at most four times a second: frames written, out of the total when the stream's
// size tells it, the rate and the time left (or taken so far); a closing line says what was done
// and how long it took.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace velnor::cli {

// How many frames a stream of `stream_bytes` holds (its stream header line taking
// `header_line_bytes`, newline included), when every frame is a bare "FRAME" line
// and `frame_bytes` of data and the bytes come out even; otherwise -1 (not known:
// a pipe, frame headers with tags, a cut-short file).
int64_t frames_in_stream(int64_t stream_bytes, std::size_t header_line_bytes,
                         std::size_t frame_bytes);

// The progress line for `frames` written in `seconds`, out of `total` (-1: not
// known), without the "\r" it is drawn with. `closing`: the line that ends the run.
std::string progress_text(uint64_t frames, int64_t total, double seconds, bool closing);

class Progress {
public:
    using Clock = std::chrono::steady_clock;

    // Shows nothing unless `enabled`; output goes to `stream`. `total`: the frames
    // expected (frames_in_stream), -1 when not known.
    Progress(bool enabled, std::FILE* stream, int64_t total = -1);

    void frame_written(Clock::time_point now = Clock::now());
    // Draws the closing line; call before printing any message.
    void finish(Clock::time_point now = Clock::now());

private:
    void draw(Clock::time_point now, bool closing);

    bool enabled_;
    std::FILE* stream_;
    int64_t total_;
    Clock::time_point start_;
    Clock::time_point last_draw_;
    uint64_t frames_ = 0;
    std::size_t drawn_length_ = 0;  // of the line on screen, to blank what is left of it
    bool drawn_ = false;
    bool finished_ = false;
};

}  // namespace velnor::cli
