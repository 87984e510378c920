#include "cli/filter_stream.h"

#include <algorithm>
#include <csignal>
#include <new>
#include <system_error>

#include "cli/frame_filter.h"
#include "cli/frame_pipeline.h"
#include "cli/progress.h"
#include "cli/stop_request.h"
#include "cli/y4m_reader.h"
#include "cli/y4m_writer.h"

namespace velnor::cli {

namespace {

int report(std::FILE* messages, const std::string& message) {
    std::fprintf(messages, "velnor: %s\n", message.c_str());
    std::fflush(messages);
    return kExitFailure;
}

std::string out_of_memory(uint64_t frame, const StreamInfo& info) {
    return "frame " + std::to_string(frame) + ": out of memory for the frame buffer (" +
           std::to_string(info.frame_bytes()) + " bytes)";
}

}  // namespace

// Two buffers per thread keep every thread busy while finished frames wait for their
// turn to be written; very large frames get fewer threads instead of more than the
// buffer budget.
PipelineSize pipeline_size(int threads, std::size_t frame_bytes) {
    const std::size_t affordable =
        std::max<std::size_t>(2, kFrameBufferBudget / std::max<std::size_t>(frame_bytes, 1));
    const std::size_t buffers =
        std::min(2 * static_cast<std::size_t>(std::max(threads, 1)), affordable);
    return {static_cast<int>(std::max<std::size_t>(1, buffers / 2)), buffers};
}

int filter_stream(const Options& options, const StreamIo& io) {
    Y4mReader reader(*io.input, io.limits);
    StreamInfo info;
    if (reader.read_stream_header(&info) != ReadResult::ok)
        return report(io.messages, reader.error());

    std::string reason;
    ByteSink* sink = io.open_output(&reason);
    if (sink == nullptr) return report(io.messages, reason);
    Y4mWriter writer(*sink);
    if (!writer.write_stream_header(info)) {
        sink->cut_back(0);
        return report(io.messages, writer.error());
    }

    const FrameFilter frame_filter(info, options.strength, options.threshold1, options.threshold2,
                                   options.chroma);
    const ScratchAllocator& scratch = io.scratch ? *io.scratch : default_scratch_allocator();
    Progress progress(io.show_progress, io.messages);

    PipelineStages stages;
    stages.read = [&reader](Frame& frame) { return reader.read_frame(&frame); };
    stages.process = [&frame_filter, &scratch](Frame& frame) {
        return frame_filter.filter(frame, scratch) == PassStatus::ok;
    };
    stages.write = [&writer, &progress](const Frame& frame) {
        if (!writer.write_frame(frame)) return false;
        progress.frame_written();
        return true;
    };

    const PipelineSize size = pipeline_size(options.threads, info.frame_bytes());
    PipelineOutcome outcome;
    try {
        outcome = run_pipeline(size.threads, size.buffers, stages);
    } catch (const std::bad_alloc&) {
        progress.finish();
        return report(io.messages, out_of_memory(reader.frames_read(), info));
    } catch (const std::system_error& error) {
        progress.finish();
        return report(io.messages, std::string("cannot start worker threads: ") + error.what());
    }
    progress.finish();
    // A stop request shows up as a read error ("interrupted"), which it replaces.
    const int signal = stop_signal();
    int status = kExitOk;
    switch (outcome.stop) {
        case PipelineOutcome::Stop::end_of_input:
            break;
        case PipelineOutcome::Stop::read_failed:
            if (signal == 0) status = report(io.messages, reader.error());
            break;
        case PipelineOutcome::Stop::write_failed:
            sink->cut_back(writer.complete_bytes());  // a partial frame would spoil the stream
            status = report(io.messages, writer.error());
            break;
        case PipelineOutcome::Stop::process_failed:
            status = report(io.messages, "frame " + std::to_string(outcome.failed_frame) +
                                             ": out of memory while filtering");
            break;
        case PipelineOutcome::Stop::out_of_memory:
            status = report(io.messages, out_of_memory(outcome.failed_frame, info));
            break;
    }
    if (signal == 0) return status;
    if (status == kExitOk || outcome.stop == PipelineOutcome::Stop::read_failed)
        report(io.messages, std::string("stopped by ") + (signal == SIGINT ? "SIGINT" : "SIGTERM") +
                                " after " + std::to_string(outcome.frames_written) + " frames");
    return kExitSignalBase + signal;
}

}  // namespace velnor::cli
