#include "cli/suggest.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#include "cli/replay_source.h"
#include "cli/stop_request.h"
#include "cli/y4m_reader.h"
#include "core/measured_settings.h"

namespace velnor::cli {

namespace {

// "luma noise sigma 2.84, estimated from ...", or for an estimate below the
// settings table, "no noise measurable: luma noise sigma 0.40, below ...".
std::string describe(const NoiseSample& sample) {
    const bool clean =
        settings_for_estimate(sample.estimate, PlaneKind::luma).basis == SettingsBasis::no_noise;
    char line[320];
    std::snprintf(line, sizeof line,
                  "%s%sluma noise sigma %.2f%s, estimated from %llu frame%s of %dx%d (Immerkaer's "
                  "mask on the smoothest 5%% of %zu blocks)",
                  clean ? basis_reason(SettingsBasis::no_noise) : "", clean ? ": " : "",
                  sample.estimate.sigma,
                  clean ? ", below the lightest level of the settings table" : "",
                  static_cast<unsigned long long>(sample.frames), sample.frames == 1 ? "" : "s",
                  sample.info.width, sample.info.height, sample.estimate.blocks);
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
    const auto pitch = static_cast<std::ptrdiff_t>(info.row_bytes(Plane::luma));
    if (info.sample_bytes() == 1)
        estimator.add_plane(frame.data.data(), info.width, info.height, pitch);
    else
        estimator.add_plane(reinterpret_cast<const uint16_t*>(frame.data.data()), info.layout.bits,
                            info.width, info.height, pitch);
}

}  // namespace

NoiseSample sample_noise(ByteSource& source, const Y4mLimits& limits, const char* copy_shortage) {
    NoiseSample sample;
    Y4mReader reader(source, limits);
    const char* shortage = "for the stream header";
    int64_t frame_index = -1;
    std::size_t bytes = 0;
    try {
        if (reader.read_stream_header(&sample.info) != ReadResult::ok) {
            sample.error = reader.error();
            return sample;
        }
        NoiseEstimator estimator;
        Frame frame;
        // No frame past the measurement's limits is read (a copy of the measured
        // frames never holds more).
        const uint64_t frames = frames_to_measure(static_cast<uint64_t>(sample.info.width) *
                                                  static_cast<uint64_t>(sample.info.height));
        while (sample.frames < frames && stop_signal() == 0) {
            frame_index = static_cast<int64_t>(sample.frames);
            shortage = "for the frame buffer";
            bytes = sample.info.frame_bytes();
            frame.data.resize(bytes);
            shortage = copy_shortage;
            bytes = 0;
            const ReadResult result = reader.read_frame(&frame);
            if (result == ReadResult::error) sample.error = reader.error();
            if (result != ReadResult::ok) break;
            shortage = "for the noise estimate";
            add_luma(estimator, sample.info, frame);
            ++sample.frames;
            sample.estimate = estimator.estimate();
        }
    } catch (const std::bad_alloc&) {
        sample.shortage = {shortage, frame_index, bytes};
    }
    return sample;
}

int print_suggestion(ByteSource& input, const Y4mLimits& limits, std::FILE* out,
                     std::FILE* messages) {
    const NoiseSample sample = sample_noise(input, limits);
    // An interrupted measurement prints no suggestion, whatever it read so far.
    if (stop_signal() != 0) return report_stopped(messages, stop_signal(), sample.frames);
    if (sample.shortage.what != nullptr)
        return report_out_of_memory(messages, sample.shortage.what, sample.shortage.frame,
                                    sample.shortage.bytes);
    if (!sample.error.empty()) return report(messages, sample.error);
    if (sample.frames == 0) return report(messages, "no frames to estimate the noise from");
    if (!sample.estimate.valid)
        return report(messages, "no noise estimate: the frames are too small or saturated");
    std::fprintf(messages, "velnor: %s\n", describe(sample).c_str());
    std::fflush(messages);
    if (stop_signal() != 0) return report_stopped(messages, stop_signal(), sample.frames);
    std::fprintf(
        out, "%s\n",
        as_options(settings_for_estimate(sample.estimate, PlaneKind::luma).values).c_str());
    if (std::fflush(out) != 0)
        return report(messages, std::string("write error: ") + std::strerror(errno));
    return kExitOk;
}

int filter_with_suggestion(Options options, const StreamIo& io) {
    // A file is read again from the start; anything else (a pipe) is replayed from a
    // copy of what the measurement read.
    ReplaySource replay(*io.input);
    const bool rereads = io.input->rewind();
    const NoiseSample sample =
        rereads ? sample_noise(*io.input, io.limits)
                : sample_noise(replay, io.limits, "for the copy of the measured frames");
    // Interrupted while measuring: nothing is filtered with a partial estimate.
    if (stop_signal() != 0) return report_stopped(io.messages, stop_signal(), 0);
    if (sample.shortage.what != nullptr)
        return report_out_of_memory(io.messages, sample.shortage.what, sample.shortage.frame,
                                    sample.shortage.bytes);
    replay.replay();
    if (rereads && !io.input->rewind())
        return report(io.messages,
                      std::string("cannot read the input again: ") + std::strerror(errno));
    // Problems with the input are left to the filter run, which reports them after
    // writing every complete frame before them.
    if (sample.frames > 0) {
        const MeasuredSettings chosen = settings_for_estimate(sample.estimate, PlaneKind::luma);
        const FilterValues& values = chosen.values;
        if (!options.strength_given) options.strength = values.strength;
        if (!options.threshold1_given) options.threshold1 = values.threshold1;
        if (!options.threshold2_given) options.threshold2 = values.threshold2;
        if (!options.quiet) {
            const std::string basis =
                sample.estimate.valid ? describe(sample) : basis_reason(chosen.basis);
            std::fprintf(
                io.messages, "velnor: %s; filtering with %s\n", basis.c_str(),
                as_options({options.strength, options.threshold1, options.threshold2}).c_str());
        }
    }
    StreamIo replayed = io;
    if (!rereads) replayed.input = &replay;
    return filter_stream(options, replayed);
}

}  // namespace velnor::cli
