// The whole filter run: stream header in, header out, every frame's luma (and with
// --chroma its Cb and Cr) through the denoiser on worker threads, frames out in
// order, errors as one line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "cli/byte_stream.h"
#include "cli/options.h"
#include "cli/y4m_format.h"
#include "core/luma_pass.h"

namespace velnor::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // bad input, I/O error, out of memory
inline constexpr int kExitUsage = 2;    // bad command line
// Stopped by a signal: this plus the signal number (130 for SIGINT, 143 for SIGTERM,
// 129 for SIGHUP; on Windows the signal that means the same, cli/stop_request.h).
inline constexpr int kExitSignalBase = 128;

// Frame buffers in flight stay below this many bytes (or two frames if one is bigger).
inline constexpr std::size_t kFrameBufferBudget = std::size_t{1} << 30;

struct StreamIo {
    ByteSource* input = nullptr;
    // Called once the stream header has been read and found acceptable, so that a
    // bad input leaves no output file behind. Returns null with a reason on failure.
    std::function<ByteSink*(std::string* error)> open_output;
    std::FILE* messages = stderr;  // error lines and progress
    bool show_progress = false;
    const ScratchAllocator* scratch = nullptr;  // null: the core's default
    Y4mLimits limits;
};

struct PipelineSize {
    int threads;
    std::size_t buffers;
};

// Two frame buffers per thread, as long as they fit the buffer budget; otherwise as
// many threads as the budget allows, at least one with two buffers.
PipelineSize pipeline_size(int threads, std::size_t frame_bytes);

// Ends a run that a stop request (cli/stop_request.h) interrupted, in place of any
// other message: "velnor: stopped by SIGINT after N frames" (the name from
// stop_request_name). Returns
// kExitSignalBase + signal.
int report_stopped(std::FILE* messages, int signal, uint64_t frames);

// "velnor: [frame N: ]out of memory WHAT[ (B bytes)]", WHAT being "for the frame
// buffer", "while filtering" and the like; written without allocating. frame < 0
// names no frame, bytes 0 no size. Returns kExitFailure.
int report_out_of_memory(std::FILE* messages, const char* what, int64_t frame = -1,
                         std::size_t bytes = 0);

// Runs the filter with options.threads worker threads (at least one; fewer when
// 2 x threads frames would exceed the buffer budget) and returns the exit status.
// Error lines start with "velnor: ". After a failed write the output is cut back to
// its last complete frame where the sink allows it. Memory running out ends it with
// one line naming what could not be allocated, after the frames before it; frame
// buffers that do not fit mean fewer frames in flight, not an error. After a stop
// request (cli/stop_request.h), at any stage, the frames read so far are written
// and report_stopped ends the run.
int filter_stream(const Options& options, const StreamIo& io);

}  // namespace velnor::cli
