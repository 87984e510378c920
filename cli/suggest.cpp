#include "cli/suggest.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <optional>
#include <vector>

#include "cli/replay_source.h"
#include "cli/stop_request.h"
#include "cli/y4m_reader.h"
#include "core/measured_settings.h"

namespace velnor::cli {

namespace {

// One measured plane: its name in messages, its estimate and its kind.
struct MeasuredPlane {
    const char* name;
    const NoiseEstimate& estimate;
    PlaneKind kind;
};

std::vector<MeasuredPlane> measured_planes(const NoiseSample& sample) {
    std::vector<MeasuredPlane> planes = {{"luma", sample.estimate, PlaneKind::luma}};
    if (sample.chroma_measured) {
        planes.push_back({"Cb", sample.chroma[0], PlaneKind::chroma});
        planes.push_back({"Cr", sample.chroma[1], PlaneKind::chroma});
    }
    return planes;
}

// "luma noise sigma 2.84, detail 1.31", for an estimate below the settings table
// "no noise measurable: luma noise sigma 0.40, detail 1.02, below ...", without
// one "Cb: no noise estimate (...)".
std::string describe_plane(const MeasuredPlane& plane) {
    const SettingsBasis basis = settings_for_estimate(plane.estimate, plane.kind).basis;
    char text[240];
    if (!plane.estimate.valid) {
        std::snprintf(text, sizeof text, "%s: %s", plane.name, basis_reason(basis));
        return text;
    }
    const bool clean = basis == SettingsBasis::no_noise;
    std::snprintf(text, sizeof text, "%s%s%s noise sigma %.2f, detail %.2f%s",
                  clean ? basis_reason(basis) : "", clean ? ": " : "", plane.name,
                  plane.estimate.sigma, plane.estimate.detail,
                  clean ? ", below the lightest level of the settings table" : "");
    return text;
}

// Each plane's estimate, then the frames they rest on: "luma noise sigma 2.84,
// detail 1.31, estimated from 6 frames of 320x240 (Immerkaer's mask on the
// smoothest 5% of 300 blocks)"; planes are joined with "; " and their block counts
// listed in the same order.
std::string describe(const NoiseSample& sample) {
    std::string text, blocks;
    const std::vector<MeasuredPlane> planes = measured_planes(sample);
    for (std::size_t i = 0; i < planes.size(); ++i) {
        text += (i ? "; " : "") + describe_plane(planes[i]);
        blocks += (i == 0                   ? ""
                   : i + 1 == planes.size() ? " and "
                                            : ", ") +
                  std::to_string(planes[i].estimate.blocks);
    }
    char frames[200];
    std::snprintf(frames, sizeof frames,
                  ", estimated from %llu frame%s of %dx%d (Immerkaer's mask on the smoothest 5%% "
                  "of %s blocks)",
                  static_cast<unsigned long long>(sample.frames), sample.frames == 1 ? "" : "s",
                  sample.info.width, sample.info.height, blocks.c_str());
    return text + frames;
}

std::string as_options(const std::vector<FilterValues>& planes) {
    const FilterValues& luma = planes.at(0);
    std::string text = "--strength " + std::to_string(luma.strength) + " --threshold1 " +
                       std::to_string(luma.threshold1) + " --threshold2 " +
                       std::to_string(luma.threshold2);
    if (planes.size() < 3) return text;
    const auto values = [](const FilterValues& v) {
        return std::to_string(v.strength) + "," + std::to_string(v.threshold1) + "," +
               std::to_string(v.threshold2);
    };
    return text + " --chroma --cb " + values(planes[1]) + " --cr " + values(planes[2]);
}

int report(std::FILE* messages, const std::string& message) {
    std::fprintf(messages, "velnor: %s\n", message.c_str());
    std::fflush(messages);
    return kExitFailure;
}

// Adds one plane of a frame (planes follow each other, rows packed).
void add_plane(NoiseEstimator& estimator, const StreamInfo& info, const Frame& frame, Plane plane) {
    const PlaneSize size = info.plane_size(plane);
    estimator.add_plane(frame.data.data() + info.plane_offset(plane),
                        SampleFormat::integer(info.layout.bits), size.width, size.height,
                        static_cast<std::ptrdiff_t>(info.row_bytes(plane)));
}

}  // namespace

NoiseSample sample_noise(ByteSource& source, const Y4mLimits& limits, bool chroma,
                         const char* copy_shortage) {
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
        sample.chroma_measured = chroma && sample.info.layout.has_chroma;
        NoiseEstimator estimator, chroma_estimators[2];
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
            add_plane(estimator, sample.info, frame, Plane::luma);
            if (sample.chroma_measured) {
                add_plane(chroma_estimators[0], sample.info, frame, Plane::cb);
                add_plane(chroma_estimators[1], sample.info, frame, Plane::cr);
            }
            ++sample.frames;
            sample.estimate = estimator.estimate();
            if (sample.chroma_measured)
                for (int i = 0; i < 2; ++i) sample.chroma[i] = chroma_estimators[i].estimate();
        }
    } catch (const std::bad_alloc&) {
        sample.shortage = {shortage, frame_index, bytes};
    }
    return sample;
}

int print_suggestion(ByteSource& input, const Y4mLimits& limits, bool chroma, std::FILE* out,
                     std::FILE* messages) {
    const NoiseSample sample = sample_noise(input, limits, chroma);
    // An interrupted measurement prints no suggestion, whatever it read so far.
    if (stop_signal() != 0) return report_stopped(messages, stop_signal(), sample.frames);
    if (sample.shortage.what != nullptr)
        return report_out_of_memory(messages, sample.shortage.what, sample.shortage.frame,
                                    sample.shortage.bytes);
    if (!sample.error.empty()) return report(messages, sample.error);
    if (sample.frames == 0) return report(messages, "no frames to estimate the noise from");
    if (!sample.estimate.valid)
        return report(messages, "no noise estimate: the frames are too small or saturated");
    if (chroma && !sample.chroma_measured)
        std::fputs("velnor: --chroma: the stream is monochrome; only its luma is measured\n",
                   messages);
    std::fprintf(messages, "velnor: %s\n", describe(sample).c_str());
    std::fflush(messages);
    if (stop_signal() != 0) return report_stopped(messages, stop_signal(), sample.frames);
    std::vector<FilterValues> planes;
    for (const MeasuredPlane& plane : measured_planes(sample))
        planes.push_back(settings_for_estimate(plane.estimate, plane.kind).values);
    std::fprintf(out, "%s\n", as_options(planes).c_str());
    if (std::fflush(out) != 0)
        return report(messages, std::string("write error: ") + std::strerror(errno));
    return kExitOk;
}

int filter_with_suggestion(Options options, const StreamIo& io) {
    // A file is read again from the start; anything else (a pipe) is replayed from a
    // copy of what the measurement read.
    ReplaySource replay(*io.input);
    const bool rereads = io.input->rewind();
    const NoiseSample sample = rereads ? sample_noise(*io.input, io.limits, options.chroma)
                                       : sample_noise(replay, io.limits, options.chroma,
                                                      "for the copy of the measured frames");
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
        // The values named for every plane win over a plane's measurement.
        const auto named_over = [&options](FilterValues v) {
            if (options.strength_given) v.strength = options.strength;
            if (options.threshold1_given) v.threshold1 = options.threshold1;
            if (options.threshold2_given) v.threshold2 = options.threshold2;
            return v;
        };
        const MeasuredSettings chosen = settings_for_estimate(sample.estimate, PlaneKind::luma);
        const FilterValues luma = named_over(chosen.values);
        options.strength = luma.strength;
        options.threshold1 = luma.threshold1;
        options.threshold2 = luma.threshold2;
        // A chroma plane without --cb / --cr: its own measurement, under the same
        // named values.
        for (int i = 0; i < 2 && sample.chroma_measured; ++i) {
            std::optional<FilterValues>& plane = i == 0 ? options.cb : options.cr;
            if (!plane)
                plane =
                    named_over(settings_for_estimate(sample.chroma[i], PlaneKind::chroma).values);
        }
        if (!options.quiet) {
            const std::string basis = sample.estimate.valid || sample.chroma_measured
                                          ? describe(sample)
                                          : basis_reason(chosen.basis);
            std::vector<FilterValues> used = plane_values(options);
            if (!sample.chroma_measured) used.resize(1);
            std::fprintf(io.messages, "velnor: %s; filtering with %s\n", basis.c_str(),
                         as_options(used).c_str());
        }
    }
    StreamIo replayed = io;
    if (!rereads) replayed.input = &replay;
    return filter_stream(options, replayed);
}

}  // namespace velnor::cli
