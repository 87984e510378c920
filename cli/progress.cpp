#include "cli/progress.h"

namespace velnor::cli {

namespace {
constexpr auto kRedrawInterval = std::chrono::milliseconds(250);
}

Progress::Progress(bool enabled, std::FILE* stream)
    : enabled_(enabled), stream_(stream), start_(Clock::now()), last_draw_(start_) {}

void Progress::frame_written(Clock::time_point now) {
    ++frames_;
    if (enabled_ && now - last_draw_ >= kRedrawInterval) draw(now);
}

void Progress::finish(Clock::time_point now) {
    if (!enabled_ || finished_) return;
    finished_ = true;
    if (frames_ == 0 && !drawn_) return;
    draw(now);
    std::fputc('\n', stream_);
    std::fflush(stream_);
}

void Progress::draw(Clock::time_point now) {
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double fps = seconds > 0 ? static_cast<double>(frames_) / seconds : 0.0;
    std::fprintf(stream_, "\rvelnor: %llu frames, %.1f fps   ",
                 static_cast<unsigned long long>(frames_), fps);
    std::fflush(stream_);
    last_draw_ = now;
    drawn_ = true;
}

}  // namespace velnor::cli
