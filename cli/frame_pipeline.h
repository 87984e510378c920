// Filters frames on several threads, reads them on a thread of its own and writes
// them on the calling thread, in input order, with a bounded number of frame
// buffers. Each frame is written as soon as it and every frame before it are
// processed, whether or not the next one has arrived.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "cli/y4m_reader.h"

namespace velnor::cli {

struct PipelineStages {
    // Makes a new frame buffer ready before its first read (sizes it, say); may throw
    // std::bad_alloc. Optional (calling thread).
    std::function<void(Frame&)> prepare;
    // Sets aside what one more worker needs to process a frame (calling thread),
    // before that worker starts and the buffer of its first frame is made. false:
    // it does not fit, and no more workers start. Optional.
    std::function<bool()> reserve;
    // Fills the frame with the next input frame (one read at a time, on the reading
    // thread; on the calling thread when that cannot start).
    std::function<ReadResult(Frame&)> read;
    // Works on one frame (worker threads, concurrently). false: it could not (out of
    // memory), leaving the frame as it was. The frame is then tried again once the
    // others in flight are done, with fewer frames in flight from then on, and if
    // that fails too on a single thread; a failure there stops the pipeline.
    std::function<bool(Frame&)> process;
    // Writes one processed frame; false stops the pipeline (calling thread, in order).
    std::function<bool(const Frame&)> write;
};

struct PipelineOutcome {
    // out_of_memory: what `shortage` names ran out of memory for frame `failed_frame`.
    enum class Stop { end_of_input, read_failed, process_failed, write_failed, out_of_memory };
    enum class Shortage { frame_buffer, reading, writing };
    Stop stop = Stop::end_of_input;
    Shortage shortage = Shortage::frame_buffer;
    uint64_t frames_written = 0;
    uint64_t failed_frame = 0;  // index of the frame that failed: process_failed, out_of_memory
};

// Runs the stages until the input ends or a stage fails. Every frame before the one
// that failed is processed and written; nothing after it is written. At most
// `buffers` frames (at least one per thread) exist at a time. When a new buffer
// cannot be made (prepare or the buffer itself throws std::bad_alloc), goes on with
// the buffers it has; without any, tries again on a single thread before an
// out_of_memory stop. std::bad_alloc from read or write is an out_of_memory stop
// at that frame. Starts a worker before each of the first `threads` buffers (see
// reserve); when the system refuses more, runs on those that started, and in the
// calling thread when none starts. A read under way when a stage fails is waited
// for before returning. Throws std::bad_alloc when its own bookkeeping cannot be
// allocated.
PipelineOutcome run_pipeline(int threads, std::size_t buffers, const PipelineStages& stages);

}  // namespace velnor::cli
