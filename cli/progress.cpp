#include "cli/progress.h"

#include <algorithm>
#include <cmath>

namespace velnor::cli {

namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(250);
constexpr std::size_t kFrameLineBytes = 6;  // "FRAME\n"

// Whole seconds as m:ss, or h:mm:ss from an hour on.
std::string duration_text(double seconds) {
    const auto total = static_cast<uint64_t>(std::llround(std::max(seconds, 0.0)));
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%llu:%02u:%02u",
                      static_cast<unsigned long long>(total / 3600),
                      static_cast<unsigned>(total / 60 % 60), static_cast<unsigned>(total % 60));
    else
        std::snprintf(text, sizeof text, "%u:%02u", static_cast<unsigned>(total / 60),
                      static_cast<unsigned>(total % 60));
    return text;
}

}  // namespace

int64_t frames_in_stream(int64_t stream_bytes, std::size_t header_line_bytes,
                         std::size_t frame_bytes) {
    if (stream_bytes < 0 || static_cast<uint64_t>(stream_bytes) < header_line_bytes) return -1;
    const uint64_t rest = static_cast<uint64_t>(stream_bytes) - header_line_bytes;
    const uint64_t per_frame = uint64_t{frame_bytes} + kFrameLineBytes;
    if (rest % per_frame != 0) return -1;
    return static_cast<int64_t>(rest / per_frame);
}

std::string progress_text(uint64_t frames, int64_t total, double seconds, bool closing) {
    const double fps = seconds > 0 ? static_cast<double>(frames) / seconds : 0.0;
    const auto done = static_cast<unsigned long long>(frames);
    // A file that grew while it was read has no total any more.
    const bool known = total >= 0 && frames <= static_cast<uint64_t>(total);
    const auto all = static_cast<unsigned long long>(known ? total : 0);
    const char* noun = frames == 1 ? "frame" : "frames";
    // The closing line counts tenths of a second in a run shorter than a minute.
    char tenths[32];
    std::snprintf(tenths, sizeof tenths, "%.1f s", seconds);
    const std::string elapsed = closing && seconds < 59.95 ? tenths : duration_text(seconds);
    char text[160];
    if (closing && known && frames < all)
        std::snprintf(text, sizeof text, "velnor: filtered %llu of %llu frames in %s (%.1f fps)",
                      done, all, elapsed.c_str(), fps);
    else if (closing)
        std::snprintf(text, sizeof text, "velnor: filtered %llu %s in %s (%.1f fps)", done, noun,
                      elapsed.c_str(), fps);
    else if (!known)
        std::snprintf(text, sizeof text, "velnor: %llu %s, %.1f fps, %s elapsed", done, noun, fps,
                      elapsed.c_str());
    else {
        // Rounded, but 100% only once every frame is written.
        const double share = all > 0 ? static_cast<double>(done) / static_cast<double>(all) : 1;
        long percent = std::lround(100 * share);
        if (percent == 100 && done < all) percent = 99;
        const int length =
            std::snprintf(text, sizeof text, "velnor: %llu/%llu frames (%ld%%), %.1f fps", done,
                          all, percent, fps);
        if (fps > 0)
            std::snprintf(text + length, sizeof text - static_cast<std::size_t>(length),
                          ", %s left",
                          duration_text(static_cast<double>(all - done) / fps).c_str());
    }
    return text;
}

Progress::Progress(bool enabled, std::FILE* stream, int64_t total)
    : enabled_(enabled), stream_(stream), total_(total), start_(Clock::now()), last_draw_(start_) {}

void Progress::frame_written(Clock::time_point now) {
    ++frames_;
    // The first frame shows at once, so that even a short run shows where it stands.
    if (enabled_ && (!drawn_ || now - last_draw_ >= kRedrawInterval)) draw(now, false);
}

void Progress::finish(Clock::time_point now) {
    if (!enabled_ || finished_) return;
    finished_ = true;
    if (frames_ == 0 && !drawn_) return;
    draw(now, true);
    std::fputc('\n', stream_);
    std::fflush(stream_);
}

void Progress::draw(Clock::time_point now, bool closing) {
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const std::string text = progress_text(frames_, total_, seconds, closing);
    // A shorter line than the one on screen goes over blanks, so that it ends clean.
    if (text.size() < drawn_length_)
        std::fprintf(stream_, "\r%*s", static_cast<int>(drawn_length_), "");
    std::fprintf(stream_, "\r%s", text.c_str());
    std::fflush(stream_);
    drawn_length_ = text.size();
    last_draw_ = now;
    drawn_ = true;
}

}  // namespace velnor::cli
