#include "cli/filter_stream.h"

#include <algorithm>
#include <new>
#include <system_error>

#include "cli/frame_pipeline.h"
#include "cli/progress.h"
#include "cli/y4m_reader.h"
#include "cli/y4m_writer.h"
#include "core/denoiser.h"

namespace velnor::cli {

namespace {

int report(std::FILE* messages, const std::string& message) {
    std::fprintf(messages, "velnor: %s\n", message.c_str());
    std::fflush(messages);
    return kExitFailure;
}

}  // namespace

int filter_stream(const Options& options, const StreamIo& io) {
    Y4mReader reader(*io.input, io.limits);
    StreamInfo info;
    if (reader.read_stream_header(&info) != ReadResult::ok)
        return report(io.messages, reader.error());

    std::string reason;
    ByteSink* sink = io.open_output(&reason);
    if (sink == nullptr) return report(io.messages, reason);
    Y4mWriter writer(*sink);
    if (!writer.write_stream_header(info)) return report(io.messages, writer.error());

    const Denoiser denoiser(FilterSettings(info.width, info.height, options.strength,
                                           options.threshold1, options.threshold2));
    const ScratchAllocator& scratch = io.scratch ? *io.scratch : default_scratch_allocator();
    Progress progress(io.show_progress, io.messages);

    PipelineStages stages;
    stages.read = [&reader](Frame& frame) { return reader.read_frame(&frame); };
    // The luma plane comes first in the frame, rows packed: pitch = width.
    stages.process = [&denoiser, &scratch, &info](Frame& frame) {
        return denoiser.filter(frame.data.data(), info.width, scratch) == PassStatus::ok;
    };
    stages.write = [&writer, &progress](const Frame& frame) {
        if (!writer.write_frame(frame)) return false;
        progress.frame_written();
        return true;
    };

    // Two buffers per thread keep every thread busy while finished frames wait for
    // their turn to be written; very large frames get fewer threads instead of
    // more than the buffer budget.
    const std::size_t affordable =
        std::max<std::size_t>(2, kFrameBufferBudget / info.frame_bytes());
    const std::size_t buffers =
        std::min(2 * static_cast<std::size_t>(std::max(options.threads, 1)), affordable);
    const int threads = static_cast<int>(std::max<std::size_t>(1, buffers / 2));
    PipelineOutcome outcome;
    try {
        outcome = run_pipeline(threads, buffers, stages);
    } catch (const std::bad_alloc&) {
        progress.finish();
        return report(io.messages, "frame " + std::to_string(reader.frames_read()) +
                                       ": out of memory for the frame buffer (" +
                                       std::to_string(info.frame_bytes()) + " bytes)");
    } catch (const std::system_error& error) {
        progress.finish();
        return report(io.messages, std::string("cannot start worker threads: ") + error.what());
    }
    progress.finish();
    switch (outcome.stop) {
        case PipelineOutcome::Stop::end_of_input:
            return kExitOk;
        case PipelineOutcome::Stop::read_failed:
            return report(io.messages, reader.error());
        case PipelineOutcome::Stop::write_failed:
            return report(io.messages, writer.error());
        case PipelineOutcome::Stop::process_failed:
            return report(io.messages, "frame " + std::to_string(outcome.failed_frame) +
                                           ": out of memory while filtering");
    }
    return kExitFailure;
}

}  // namespace velnor::cli
