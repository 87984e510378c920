// The frame pipeline: input order survives any processing order, the number of
// frame buffers stays bounded, and a failure stops output at the frame before it.
#include "cli/frame_pipeline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace velnor::cli {
namespace {

struct Recorder {
    uint64_t total = 0;
    uint64_t next_input = 0;
    std::vector<uint64_t> written;
    std::set<const Frame*> buffers;
};

// Frames carry their number in data[0..7]; processing takes a random time so that
// workers finish out of order.
PipelineStages numbered_stages(Recorder* recorder, uint64_t fail_at = UINT64_MAX) {
    PipelineStages stages;
    stages.read = [recorder](Frame& frame) {
        if (recorder->next_input == recorder->total) return ReadResult::end_of_stream;
        recorder->buffers.insert(&frame);
        frame.data.assign(8, 0);
        const uint64_t n = recorder->next_input++;
        std::memcpy(frame.data.data(), &n, sizeof n);
        return ReadResult::ok;
    };
    stages.process = [fail_at](Frame& frame) {
        uint64_t n;
        std::memcpy(&n, frame.data.data(), sizeof n);
        thread_local std::mt19937 rng(static_cast<unsigned>(n));
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 2000));
        return n != fail_at;
    };
    stages.write = [recorder](const Frame& frame) {
        uint64_t n;
        std::memcpy(&n, frame.data.data(), sizeof n);
        recorder->written.push_back(n);
        return true;
    };
    return stages;
}

TEST(FramePipeline, KeepsInputOrderWithBoundedBuffers) {
    for (int threads : {1, 2, 3, 8}) {
        Recorder recorder;
        recorder.total = 60;
        const std::size_t buffers = 2 * static_cast<std::size_t>(threads);
        const PipelineOutcome outcome = run_pipeline(threads, buffers, numbered_stages(&recorder));
        EXPECT_EQ(outcome.stop, PipelineOutcome::Stop::end_of_input);
        EXPECT_EQ(outcome.frames_written, 60u);
        ASSERT_EQ(recorder.written.size(), 60u);
        for (uint64_t i = 0; i < 60; ++i) EXPECT_EQ(recorder.written[i], i) << threads;
        EXPECT_LE(recorder.buffers.size(), buffers) << threads;
    }
}

TEST(FramePipeline, StopsAtTheFirstFailedFrame) {
    for (int threads : {1, 4}) {
        Recorder recorder;
        recorder.total = 40;
        const PipelineOutcome outcome =
            run_pipeline(threads, 2 * threads, numbered_stages(&recorder, 17));
        EXPECT_EQ(outcome.stop, PipelineOutcome::Stop::process_failed);
        EXPECT_EQ(outcome.failed_frame, 17u);
        EXPECT_EQ(outcome.frames_written, 17u);
        ASSERT_EQ(recorder.written.size(), 17u);
        for (uint64_t i = 0; i < 17; ++i) EXPECT_EQ(recorder.written[i], i);
    }
}

TEST(FramePipeline, ReadAndWriteFailuresStopIt) {
    Recorder reading;
    reading.total = 10;
    PipelineStages stages = numbered_stages(&reading);
    const auto read = stages.read;
    stages.read = [&reading, read](Frame& frame) {
        return reading.next_input == 6 ? ReadResult::error : read(frame);
    };
    PipelineOutcome outcome = run_pipeline(3, 6, stages);
    EXPECT_EQ(outcome.stop, PipelineOutcome::Stop::read_failed);
    EXPECT_EQ(reading.written, (std::vector<uint64_t>{0, 1, 2, 3, 4, 5}));

    Recorder writing;
    writing.total = 10;
    stages = numbered_stages(&writing);
    const auto write = stages.write;
    stages.write = [&writing, write](const Frame& frame) {
        return writing.written.size() < 4 && write(frame);
    };
    outcome = run_pipeline(3, 6, stages);
    EXPECT_EQ(outcome.stop, PipelineOutcome::Stop::write_failed);
    EXPECT_EQ(outcome.frames_written, 4u);
}

// Memory running out while frame k is read (its buffer made or filled): the frames
// before it are still processed and written, nothing after it.
TEST(FramePipeline, OutOfMemoryWhileReadingKeepsTheFramesBefore) {
    const struct {
        int threads;
        uint64_t failing_frame;
    } cases[] = {{1, 0}, {1, 1}, {2, 3}, {4, 9}};
    for (const auto& c : cases) {
        Recorder recorder;
        recorder.total = 20;
        PipelineStages stages = numbered_stages(&recorder);
        const auto read = stages.read;
        stages.read = [&recorder, read, c](Frame& frame) {
            if (recorder.next_input == c.failing_frame) throw std::bad_alloc();
            return read(frame);
        };
        const PipelineOutcome outcome = run_pipeline(c.threads, 2 * c.threads, stages);
        EXPECT_EQ(outcome.stop, PipelineOutcome::Stop::out_of_memory);
        EXPECT_EQ(outcome.failed_frame, c.failing_frame);
        ASSERT_EQ(recorder.written.size(), c.failing_frame) << c.threads;
        for (uint64_t i = 0; i < c.failing_frame; ++i) EXPECT_EQ(recorder.written[i], i);
    }
}

// Memory running short at each place the pipeline allocates or lets a stage
// allocate. Buffers that cannot be made and filtering that fails while other frames
// are in flight mean fewer frames in flight: every frame is still written, as with
// one thread. Only what fails with one frame in flight on one thread stops it.
TEST(FramePipeline, MemoryRunningShortKeepsEveryFrameWhileOneFits) {
    enum class Site { buffer, filtering, writing };
    const struct {
        Site site;
        int threads;
        uint64_t room;  // buffers that can be made, frames in flight that can be filtered,
                        // or frames written before writing fails
        PipelineOutcome::Stop stop;
        uint64_t written;
    } cases[] = {
        {Site::buffer, 4, 1, PipelineOutcome::Stop::end_of_input, 30},
        {Site::buffer, 4, 5, PipelineOutcome::Stop::end_of_input, 30},
        {Site::buffer, 1, 1, PipelineOutcome::Stop::end_of_input, 30},
        {Site::buffer, 4, 0, PipelineOutcome::Stop::out_of_memory, 0},
        {Site::filtering, 8, 1, PipelineOutcome::Stop::end_of_input, 30},
        {Site::filtering, 8, 3, PipelineOutcome::Stop::end_of_input, 30},
        {Site::filtering, 4, 0, PipelineOutcome::Stop::process_failed, 0},
        {Site::writing, 3, 7, PipelineOutcome::Stop::out_of_memory, 7},
    };
    for (const auto& c : cases) {
        const std::string name = "site " + std::to_string(static_cast<int>(c.site)) + ", " +
                                 std::to_string(c.threads) + " threads, room " +
                                 std::to_string(c.room);
        Recorder recorder;
        recorder.total = 30;
        PipelineStages stages = numbered_stages(&recorder);
        uint64_t buffers_made = 0;
        std::atomic<uint64_t> filtering{0};
        if (c.site == Site::buffer) {
            stages.prepare = [&](Frame&) {
                if (buffers_made == c.room) throw std::bad_alloc();
                ++buffers_made;
            };
        }
        if (c.site == Site::filtering) {
            const auto process = stages.process;
            stages.process = [&, process](Frame& frame) {
                const bool fits = filtering.fetch_add(1) < c.room;
                const bool ok = fits && process(frame);
                filtering.fetch_sub(1);
                return ok;
            };
        }
        if (c.site == Site::writing) {
            const auto write = stages.write;
            stages.write = [&, write](const Frame& frame) {
                if (recorder.written.size() == c.room) throw std::bad_alloc();
                return write(frame);
            };
        }
        const PipelineOutcome outcome = run_pipeline(c.threads, 2 * c.threads, stages);
        EXPECT_EQ(outcome.stop, c.stop) << name;
        EXPECT_EQ(outcome.frames_written, c.written) << name;
        ASSERT_EQ(recorder.written.size(), c.written) << name;
        for (uint64_t i = 0; i < c.written; ++i) EXPECT_EQ(recorder.written[i], i) << name;
        if (c.stop != PipelineOutcome::Stop::end_of_input) {
            EXPECT_EQ(outcome.failed_frame, c.written) << name;
        }
    }
}

// A live source: after the first frames the next read waits until the frames
// before it are written. Each frame must be written while that read waits; a
// pipeline that writes only after the next read would wait here until the
// deadline, which only a hang reaches.
TEST(FramePipeline, WritesEachFrameWhileTheNextReadWaits) {
    for (int threads : {1, 2, 4}) {
        Recorder recorder;
        recorder.total = 3;
        PipelineStages stages = numbered_stages(&recorder);
        std::mutex mutex;
        std::condition_variable written;
        uint64_t written_count = 0;
        bool hung = false;
        const auto read = stages.read;
        stages.read = [&, read](Frame& frame) {
            std::unique_lock lock(mutex);
            const uint64_t before = recorder.next_input;
            if (!hung && !written.wait_for(lock, std::chrono::seconds(60),
                                           [&] { return written_count == before; }))
                hung = true;
            return read(frame);
        };
        const auto write = stages.write;
        stages.write = [&, write](const Frame& frame) {
            const bool ok = write(frame);
            {
                std::lock_guard lock(mutex);
                ++written_count;
            }
            written.notify_all();
            return ok;
        };
        const PipelineOutcome outcome = run_pipeline(threads, 2 * threads, stages);
        EXPECT_FALSE(hung) << threads << " threads: a frame waited for the next read";
        EXPECT_EQ(outcome.frames_written, 3u) << threads;
    }
}

}  // namespace
}  // namespace velnor::cli
