#include "cli/frame_pipeline.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <vector>

#include "cli/worker_thread.h"

namespace velnor::cli {

namespace {

struct Job {
    Frame frame;
    uint64_t index = 0;
    bool done = false;
    bool ok = false;
    int attempts = 0;  // failed processing attempts
};

// A first-in first-out queue of at most `capacity` jobs whose storage is allocated
// once, so that running the pipeline allocates nothing per frame.
class JobQueue {
public:
    explicit JobQueue(std::size_t capacity) : slots_(std::max<std::size_t>(capacity, 1)) {}
    bool empty() const { return count_ == 0; }
    std::size_t size() const { return count_; }
    Job* front() const { return slots_[head_]; }
    Job* at(std::size_t i) const { return slots_[(head_ + i) % slots_.size()]; }
    void push(Job* job) { slots_[(head_ + count_++) % slots_.size()] = job; }
    void pop() {
        head_ = (head_ + 1) % slots_.size();
        --count_;
    }
    void clear() { count_ = 0; }

private:
    std::vector<Job*> slots_;
    std::size_t head_ = 0;
    std::size_t count_ = 0;
};

// Worker threads taking jobs from a queue; joined on destruction, so no thread
// outlives the frames it works on, even when the calling thread unwinds.
class WorkerPool {
public:
    // Room for up to `threads` workers, started by add_thread; while not one has
    // started, each job is processed in the calling thread as it is submitted.
    WorkerPool(int threads, std::size_t capacity, const std::function<bool(Frame&)>& process)
        : process_(process), queue_(capacity) {
        threads_.reserve(static_cast<std::size_t>(threads));
    }

    // Starts one more worker; false when the system refuses it or the pool is full.
    bool add_thread() {
        if (threads_.size() == threads_.capacity()) return false;
        WorkerThread thread;
        if (start_thread(&thread, &WorkerPool::run, this, kWorkerStackBytes) != 0) return false;
        threads_.push_back(thread);  // within the reserved capacity
        return true;
    }
    ~WorkerPool() { stop(); }
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // At most `capacity` jobs are submitted and not yet done at a time.
    void submit(Job* job) {
        if (threads_.empty()) {
            job->ok = process_one(job->frame);
            job->done = true;
            return;
        }
        {
            std::lock_guard lock(mutex_);
            job->done = false;
            queue_.push(job);
        }
        queued_.notify_one();
    }

    void wait(const Job* job) {
        std::unique_lock lock(mutex_);
        finished_.wait(lock, [job] { return job->done; });
    }

    bool is_done(const Job* job) {
        std::lock_guard lock(mutex_);
        return job->done;
    }

    std::size_t threads() const { return threads_.size(); }

private:
    static void* run(void* pool) {
        static_cast<WorkerPool*>(pool)->work();
        return nullptr;
    }

    void work() {
        for (;;) {
            Job* job;
            {
                std::unique_lock lock(mutex_);
                queued_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
                if (stopping_) return;
                job = queue_.front();
                queue_.pop();
            }
            const bool ok = process_one(job->frame);
            {
                std::lock_guard lock(mutex_);
                job->ok = ok;
                job->done = true;
            }
            finished_.notify_all();
        }
    }

    bool process_one(Frame& frame) {
        try {
            return process_(frame);
        } catch (...) {  // a failure like any other; nothing may leave a worker
            return false;
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
        for (WorkerThread& thread : threads_) join_thread(&thread);
        threads_.clear();
    }

    const std::function<bool(Frame&)>& process_;
    std::mutex mutex_;
    std::condition_variable queued_;
    std::condition_variable finished_;
    JobQueue queue_;
    bool stopping_ = false;
    std::vector<WorkerThread> threads_;
};

}  // namespace

PipelineOutcome run_pipeline(int threads, std::size_t buffers, const PipelineStages& stages) {
    threads = std::max(threads, 1);
    buffers = std::max(buffers, static_cast<std::size_t>(threads));
    std::vector<std::unique_ptr<Job>> storage;
    std::vector<Job*> idle;
    storage.reserve(buffers);
    idle.reserve(buffers);
    JobQueue in_flight(buffers);  // submitted, oldest first
    std::size_t limit = buffers;  // frames in flight at most; lowered when memory runs short
    PipelineOutcome outcome;
    bool reading = true;
    uint64_t next_index = 0;
    const auto stop_reading = [&](PipelineOutcome::Shortage shortage) {
        reading = false;
        outcome.stop = PipelineOutcome::Stop::out_of_memory;
        outcome.shortage = shortage;
        outcome.failed_frame = next_index;
    };

    std::optional<WorkerPool> pool;
    pool.emplace(threads, buffers, stages.process);
    // Workers start one at a time, each before the buffer of the frame it will take
    // and after what it needs to process one is set aside, so that frames in flight
    // never crowd out the room to process them. The first starts even without that.
    bool adding = true;
    const auto add_worker = [&] {
        if (!adding || pool->threads() == static_cast<std::size_t>(threads)) return;
        const bool room = !stages.reserve || stages.reserve();
        adding = (room || pool->threads() == 0) && pool->add_thread() && room;
    };
    // With nothing processing: one worker instead of several, whose stacks and
    // scratch may be what left too little memory. False when there is one already.
    const auto one_thread = [&] {
        if (pool->threads() <= 1) return false;
        pool.reset();
        pool.emplace(1, buffers, stages.process);
        pool->add_thread();
        adding = false;
        return true;
    };
    for (;;) {
        // Write finished frames first, so buffers return to the reader soonest.
        if (!in_flight.empty() && pool->is_done(in_flight.front())) {
            Job* job = in_flight.front();
            if (!job->ok) {
                // It may have lacked memory the other frames or threads held: once the
                // others are done it is tried again alone, then on a single thread,
                // with fewer frames in flight from now on.
                for (std::size_t i = 1; i < in_flight.size(); ++i) pool->wait(in_flight.at(i));
                const bool again = ++job->attempts == 1 || one_thread();
                if (!again) {
                    outcome.stop = PipelineOutcome::Stop::process_failed;
                    outcome.failed_frame = job->index;
                    return outcome;
                }
                limit = std::max<std::size_t>(1, in_flight.size() - 1);
                while (storage.size() > limit && !idle.empty()) {
                    const Job* spare = idle.back();
                    idle.pop_back();
                    std::erase_if(storage,
                                  [spare](const auto& held) { return held.get() == spare; });
                }
                pool->submit(job);
                pool->wait(job);
                continue;
            }
            bool written = false;
            try {
                written = stages.write(job->frame);
            } catch (const std::bad_alloc&) {
                outcome.stop = PipelineOutcome::Stop::out_of_memory;
                outcome.shortage = PipelineOutcome::Shortage::writing;
                outcome.failed_frame = job->index;
                return outcome;
            }
            if (!written) {
                outcome.stop = PipelineOutcome::Stop::write_failed;
                return outcome;
            }
            ++outcome.frames_written;
            in_flight.pop();
            idle.push_back(job);
            continue;
        }
        if (reading && in_flight.size() < limit) {
            if (idle.empty()) {
                add_worker();
                try {
                    auto fresh = std::make_unique<Job>();
                    if (stages.prepare) stages.prepare(fresh->frame);
                    storage.push_back(std::move(fresh));  // within the reserved capacity
                    idle.push_back(storage.back().get());
                } catch (const std::bad_alloc&) {
                    if (!storage.empty()) {
                        limit = storage.size();  // go on with the buffers there are
                    } else if (!one_thread()) {
                        stop_reading(PipelineOutcome::Shortage::frame_buffer);
                    }
                    continue;
                }
            }
            Job* job = idle.back();
            ReadResult result = ReadResult::error;
            try {
                result = stages.read(job->frame);
            } catch (const std::bad_alloc&) {
                // The frames read so far are still filtered and written.
                stop_reading(PipelineOutcome::Shortage::reading);
                continue;
            }
            if (result == ReadResult::ok) {
                idle.pop_back();
                job->index = next_index++;
                job->attempts = 0;
                in_flight.push(job);
                pool->submit(job);
            } else {
                reading = false;
                if (result == ReadResult::error) outcome.stop = PipelineOutcome::Stop::read_failed;
            }
            continue;
        }
        if (in_flight.empty()) return outcome;
        pool->wait(in_flight.front());
    }
}

}  // namespace velnor::cli
