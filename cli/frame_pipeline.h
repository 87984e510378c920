// Filters frames on several threads while reading and writing them on the calling
// thread, in input order, with a fixed number of frame buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "cli/y4m_reader.h"

namespace velnor::cli {

struct PipelineStages {
    // Fills the frame with the next input frame (calling thread).
    std::function<ReadResult(Frame&)> read;
    // Works on one frame; false stops the pipeline (worker threads, concurrently).
    std::function<bool(Frame&)> process;
    // Writes one processed frame; false stops the pipeline (calling thread, in order).
    std::function<bool(const Frame&)> write;
};

struct PipelineOutcome {
    // out_of_memory: reading a frame (or making its buffer) ran out of memory.
    enum class Stop { end_of_input, read_failed, process_failed, write_failed, out_of_memory };
    Stop stop = Stop::end_of_input;
    uint64_t frames_written = 0;
    uint64_t failed_frame = 0;  // index of the frame that failed: process_failed, out_of_memory
};

// Runs the stages until the input ends or a stage fails. Every frame before the one
// that failed is processed and written; nothing after it is written. At most
// `buffers` frames (at least one per thread) exist at a time. When fewer threads can
// be started than asked for, runs on those that started (std::system_error if none).
PipelineOutcome run_pipeline(int threads, std::size_t buffers, const PipelineStages& stages);

}  // namespace velnor::cli
