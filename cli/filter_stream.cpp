#include "cli/filter_stream.h"

#include <algorithm>
#include <new>

#include "cli/frame_filter.h"
#include "cli/frame_pipeline.h"
#include "cli/progress.h"
#include "cli/scratch_reserve.h"
#include "cli/stop_request.h"
#include "cli/test_events.h"
#include "cli/y4m_reader.h"
#include "cli/y4m_writer.h"

namespace velnor::cli {

namespace {

int report(std::FILE* messages, const std::string& message) {
    std::fprintf(messages, "velnor: %s\n", message.c_str());
    std::fflush(messages);
    return kExitFailure;
}

}  // namespace

int report_stopped(std::FILE* messages, int signal, uint64_t frames) {
    std::fprintf(messages, "velnor: stopped by %s after %llu frames\n", stop_request_name(signal),
                 static_cast<unsigned long long>(frames));
    std::fflush(messages);
    return kExitSignalBase + signal;
}

int report_out_of_memory(std::FILE* messages, const char* what, int64_t frame, std::size_t bytes) {
    std::fputs("velnor: ", messages);
    if (frame >= 0) std::fprintf(messages, "frame %lld: ", static_cast<long long>(frame));
    std::fprintf(messages, "out of memory %s", what);
    if (bytes > 0) std::fprintf(messages, " (%zu bytes)", bytes);
    std::fputc('\n', messages);
    std::fflush(messages);
    return kExitFailure;
}

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
    ReadResult header = ReadResult::error;
    try {
        header = reader.read_stream_header(&info);
    } catch (const std::bad_alloc&) {
        if (stop_signal() == 0) return report_out_of_memory(io.messages, "for the stream header");
    }
    // A stop request during the header shows up as a read error or a cut-short input.
    if (stop_signal() != 0) return report_stopped(io.messages, stop_signal(), 0);
    if (header != ReadResult::ok) return report(io.messages, reader.error());

    std::string reason;
    ByteSink* sink = nullptr;
    try {
        sink = io.open_output(&reason);
    } catch (const std::bad_alloc&) {
        if (stop_signal() == 0) return report_out_of_memory(io.messages, "for the output");
    }
    if (stop_signal() != 0) return report_stopped(io.messages, stop_signal(), 0);
    if (sink == nullptr) return report(io.messages, reason);
    Y4mWriter writer(*sink);
    if (!writer.write_stream_header(info)) {
        sink->cut_back(0);
        if (stop_signal() != 0) return report_stopped(io.messages, stop_signal(), 0);
        return report(io.messages, writer.error());
    }

    if (options.chroma && !info.layout.has_chroma && !options.quiet) {
        std::fputs("velnor: --chroma: the stream is monochrome; only its luma is filtered\n",
                   io.messages);
        std::fflush(io.messages);
    }
    const FrameFilter frame_filter(info, plane_values(options));
    const ScratchAllocator& scratch = io.scratch ? *io.scratch : default_scratch_allocator();
    const std::size_t frame_bytes = info.frame_bytes();
    Progress progress(io.show_progress, io.messages,
                      frames_in_stream(io.input->size(), info.header.size() + 1, frame_bytes));

    const PipelineSize size = pipeline_size(options.threads, frame_bytes);
    test_event("jobs", size.threads);
    PipelineOutcome outcome;
    try {
        // Each worker's room to filter is set aside before it starts.
        ScratchReserve reserve(scratch, frame_filter.least_scratch_bytes(),
                               static_cast<std::size_t>(size.threads));
        PipelineStages stages;
        stages.reserve = [&reserve] { return reserve.add(); };
        // Buffers get their size before the first read, so that one that does not fit
        // leaves the stream where it was and the pipeline goes on with fewer.
        stages.prepare = [frame_bytes](Frame& frame) { frame.data.resize(frame_bytes); };
        stages.read = [&reader](Frame& frame) { return reader.read_frame(&frame); };
        stages.process = [&frame_filter, &reserve](Frame& frame) {
            const ScratchReserve::Use use(reserve);
            return frame_filter.filter(frame, ScratchReserve::allocator()) == PassStatus::ok;
        };
        stages.write = [&writer, &progress](const Frame& frame) {
            if (!writer.write_frame(frame)) return false;
            progress.frame_written();
            return true;
        };
        outcome = run_pipeline(size.threads, size.buffers, stages);
    } catch (const std::bad_alloc&) {
        progress.finish();
        if (stop_signal() != 0) return report_stopped(io.messages, stop_signal(), 0);
        return report_out_of_memory(io.messages, "for the frame pipeline");
    }
    progress.finish();
    if (outcome.stop == PipelineOutcome::Stop::write_failed)
        sink->cut_back(writer.complete_bytes());  // a partial frame would spoil the stream
    // A stop request replaces whatever it caused (a read error, a cut-short input, a
    // closed pipe) and anything after it.
    if (stop_signal() != 0)
        return report_stopped(io.messages, stop_signal(), outcome.frames_written);
    const auto frame = static_cast<int64_t>(outcome.failed_frame);
    switch (outcome.stop) {
        case PipelineOutcome::Stop::end_of_input:
            return kExitOk;
        case PipelineOutcome::Stop::read_failed:
            return report(io.messages, reader.error());
        case PipelineOutcome::Stop::write_failed:
            return report(io.messages, writer.error());
        case PipelineOutcome::Stop::process_failed:
            return report_out_of_memory(io.messages, "while filtering", frame);
        case PipelineOutcome::Stop::out_of_memory:
            switch (outcome.shortage) {
                case PipelineOutcome::Shortage::frame_buffer:
                    return report_out_of_memory(io.messages, "for the frame buffer", frame,
                                                frame_bytes);
                case PipelineOutcome::Shortage::reading:
                    return report_out_of_memory(io.messages, "while reading the frame", frame);
                case PipelineOutcome::Shortage::writing:
                    return report_out_of_memory(io.messages, "while writing the frame", frame);
            }
    }
    return kExitFailure;
}

}  // namespace velnor::cli
