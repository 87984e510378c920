#include "cli/frame_pipeline.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace velnor::cli {

namespace {

struct Job {
    Frame frame;
    uint64_t index = 0;
    bool done = false;
    bool ok = false;
};

// Worker threads taking jobs from a queue; joined on destruction, so no thread
// outlives the frames it works on, even when the calling thread unwinds.
class WorkerPool {
public:
    WorkerPool(int threads, const std::function<bool(Frame&)>& process) : process_(process) {
        try {
            for (int i = 0; i < threads; ++i) threads_.emplace_back([this] { work(); });
        } catch (...) {
            stop();
            throw;
        }
    }
    ~WorkerPool() { stop(); }
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    void submit(Job* job) {
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(job);
        }
        queued_.notify_one();
    }

    // Waits until `job` has been processed; returns whether processing succeeded.
    bool wait(const Job* job) {
        std::unique_lock lock(mutex_);
        finished_.wait(lock, [job] { return job->done; });
        return job->ok;
    }

    bool is_done(const Job* job) {
        std::lock_guard lock(mutex_);
        return job->done;
    }

private:
    void work() {
        for (;;) {
            Job* job;
            {
                std::unique_lock lock(mutex_);
                queued_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
                if (stopping_) return;
                job = queue_.front();
                queue_.pop_front();
            }
            const bool ok = process_(job->frame);
            {
                std::lock_guard lock(mutex_);
                job->ok = ok;
                job->done = true;
            }
            finished_.notify_all();
        }
    }

    // Jobs still queued are dropped; jobs being processed finish first.
    void stop() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
            queue_.clear();
        }
        queued_.notify_all();
        for (std::thread& thread : threads_) thread.join();
        threads_.clear();
    }

    const std::function<bool(Frame&)>& process_;
    std::mutex mutex_;
    std::condition_variable queued_;
    std::condition_variable finished_;
    std::deque<Job*> queue_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace

PipelineOutcome run_pipeline(int threads, std::size_t buffers, const PipelineStages& stages) {
    threads = std::max(threads, 1);
    buffers = std::max(buffers, static_cast<std::size_t>(threads));
    std::vector<std::unique_ptr<Job>> storage;
    std::vector<Job*> idle;
    std::deque<Job*> in_flight;  // submitted, oldest first
    PipelineOutcome outcome;
    bool reading = true;
    uint64_t next_index = 0;

    WorkerPool pool(threads, stages.process);
    for (;;) {
        // Write finished frames first, so buffers return to the reader soonest.
        if (!in_flight.empty() && pool.is_done(in_flight.front())) {
            Job* job = in_flight.front();
            if (!job->ok) {
                outcome.stop = PipelineOutcome::Stop::process_failed;
                outcome.failed_frame = job->index;
                return outcome;
            }
            if (!stages.write(job->frame)) {
                outcome.stop = PipelineOutcome::Stop::write_failed;
                return outcome;
            }
            ++outcome.frames_written;
            in_flight.pop_front();
            idle.push_back(job);
            continue;
        }
        if (reading && (!idle.empty() || storage.size() < buffers)) {
            if (idle.empty()) {
                storage.push_back(std::make_unique<Job>());
                idle.push_back(storage.back().get());
            }
            Job* job = idle.back();
            const ReadResult result = stages.read(job->frame);
            if (result == ReadResult::ok) {
                idle.pop_back();
                job->index = next_index++;
                job->done = false;
                in_flight.push_back(job);
                pool.submit(job);
            } else {
                reading = false;
                if (result == ReadResult::error) outcome.stop = PipelineOutcome::Stop::read_failed;
            }
            continue;
        }
        if (in_flight.empty()) return outcome;
        pool.wait(in_flight.front());
    }
}

}  // namespace velnor::cli
