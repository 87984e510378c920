#include "cli/suggest.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "cli/suggested_settings.h"
#include "cli/y4m_reader.h"

namespace velnor::cli {

namespace {

// Keeps a copy of everything read from `inner` until replay() is called; from then
// on hands out the copy first and continues with `inner` where it stopped (or
// repeats how it ended), so the stream can be read twice from the start.
class ReplaySource final : public ByteSource {
public:
    explicit ReplaySource(ByteSource& inner) : inner_(inner) {}

    std::ptrdiff_t read(void* buffer, std::size_t size, std::string* error) override {
        if (replaying_ && position_ < kept_.size()) {
            const std::size_t count = std::min(size, kept_.size() - position_);
            std::memcpy(buffer, kept_.data() + position_, count);
            position_ += count;
            return static_cast<std::ptrdiff_t>(count);
        }
        if (ended_) {
            if (result_ < 0) *error = error_;
            return result_;
        }
        const std::ptrdiff_t got = inner_.read(buffer, size, error);
        if (!replaying_) {
            if (got > 0) {
                const auto* bytes = static_cast<const uint8_t*>(buffer);
                kept_.insert(kept_.end(), bytes, bytes + got);
            } else {
                ended_ = true;  // an end or an error is not read twice from the source
                result_ = got;
                if (got < 0) error_ = *error;
            }
        }
        return got;
    }

    void replay() { replaying_ = true; }

private:
    ByteSource& inner_;
    std::vector<uint8_t> kept_;
    std::size_t position_ = 0;
    bool replaying_ = false;
    bool ended_ = false;
    std::ptrdiff_t result_ = 0;
    std::string error_;
};

std::string describe(const NoiseSample& sample) {
    char line[256];
    std::snprintf(line, sizeof line,
                  "luma noise sigma %.2f, estimated from %llu frame%s of %dx%d (Immerkaer's "
                  "mask on the smoothest 5%% of %zu blocks)",
                  sample.estimate.sigma, static_cast<unsigned long long>(sample.frames),
                  sample.frames == 1 ? "" : "s", sample.info.width, sample.info.height,
                  sample.estimate.blocks);
    return line;
}

std::string as_options(const FilterValues& values) {
    return "--strength " + std::to_string(values.strength) + " --threshold1 " +
           std::to_string(values.threshold1) + " --threshold2 " + std::to_string(values.threshold2);
}

int report(std::FILE* messages, const std::string& message) {
    std::fprintf(messages, "velnor: %s\n", message.c_str());
    std::fflush(messages);
    return kExitFailure;
}

// The luma plane comes first in the frame, rows packed.
void add_luma(NoiseEstimator& estimator, const StreamInfo& info, const Frame& frame) {
    const std::ptrdiff_t pitch = info.width * static_cast<std::ptrdiff_t>(info.sample_bytes());
    if (info.sample_bytes() == 1)
        estimator.add_plane(frame.data.data(), info.width, info.height, pitch);
    else
        estimator.add_plane(reinterpret_cast<const uint16_t*>(frame.data.data()), info.layout.bits,
                            info.width, info.height, pitch);
}

}  // namespace

NoiseSample sample_noise(ByteSource& source, const Y4mLimits& limits) {
    NoiseSample sample;
    Y4mReader reader(source, limits);
    if (reader.read_stream_header(&sample.info) != ReadResult::ok) {
        sample.error = reader.error();
        return sample;
    }
    NoiseEstimator estimator;
    Frame frame;
    while (sample.frames < kNoiseSampleFrames && sample.estimate.samples < kNoiseSampleLuma) {
        const ReadResult result = reader.read_frame(&frame);
        if (result == ReadResult::error) sample.error = reader.error();
        if (result != ReadResult::ok) break;
        add_luma(estimator, sample.info, frame);
        ++sample.frames;
        sample.estimate = estimator.estimate();
    }
    return sample;
}

int print_suggestion(ByteSource& input, const Y4mLimits& limits, std::FILE* out,
                     std::FILE* messages) {
    const NoiseSample sample = sample_noise(input, limits);
    if (!sample.error.empty()) return report(messages, sample.error);
    if (sample.frames == 0) return report(messages, "no frames to estimate the noise from");
    if (!sample.estimate.valid)
        return report(messages, "no noise estimate: the frames are too small or saturated");
    std::fprintf(messages, "velnor: %s\n", describe(sample).c_str());
    std::fflush(messages);
    std::fprintf(out, "%s\n", as_options(suggested_settings(sample.estimate.sigma)).c_str());
    if (std::fflush(out) != 0)
        return report(messages, std::string("write error: ") + std::strerror(errno));
    return kExitOk;
}

int filter_with_suggestion(Options options, const StreamIo& io) {
    ReplaySource replay(*io.input);
    const NoiseSample sample = sample_noise(replay, io.limits);
    replay.replay();
    // Problems with the input are left to the filter run, which reports them after
    // writing every complete frame before them.
    if (sample.frames > 0) {
        const FilterValues values =
            sample.estimate.valid
                ? suggested_settings(sample.estimate.sigma)
                : FilterValues{options.strength, options.threshold1, options.threshold2};
        if (!options.strength_given) options.strength = values.strength;
        if (!options.threshold1_given) options.threshold1 = values.threshold1;
        if (!options.threshold2_given) options.threshold2 = values.threshold2;
        if (!options.quiet) {
            const std::string basis = sample.estimate.valid
                                          ? describe(sample)
                                          : "no noise estimate (frames too small or saturated)";
            std::fprintf(
                io.messages, "velnor: %s; filtering with %s\n", basis.c_str(),
                as_options({options.strength, options.threshold1, options.threshold2}).c_str());
        }
    }
    StreamIo replayed = io;
    replayed.input = &replay;
    return filter_stream(options, replayed);
}

}  // namespace velnor::cli
