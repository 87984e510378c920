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

// What the calling thread waits on: a frame processed or a frame read. One lock
// for the worker pool and the read-ahead thread, so that one wait sees both.
struct Progression {
    std::mutex mutex;
    std::condition_variable changed;
};

// Worker threads taking jobs from a queue; joined on destruction, so no thread
// outlives the frames it works on, even when the calling thread unwinds.
class WorkerPool {
public:
    // Room for up to `threads` workers, started by add_thread; while not one has
    // started, each job is processed in the calling thread as it is submitted.
    WorkerPool(int threads, std::size_t capacity, const std::function<bool(Frame&)>& process,
               Progression& progression)
        : process_(process),
          mutex_(progression.mutex),
          finished_(progression.changed),
          queue_(capacity) {
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
    std::mutex& mutex_;
    std::condition_variable& finished_;
    std::condition_variable queued_;
    JobQueue queue_;
    bool stopping_ = false;
    std::vector<WorkerThread> threads_;
};

// Reads one frame at a time on a thread of its own, so that the calling thread
// writes each frame as soon as it is processed, while the next read still waits
// for input. Joined on destruction, after the read under way ends.
class ReadAhead {
public:
    ReadAhead(const std::function<ReadResult(Frame&)>& read, Progression& progression)
        : read_(read), mutex_(progression.mutex), done_(progression.changed) {}
    ~ReadAhead() {
        if (!started_) return;
        {
            std::lock_guard lock(mutex_);
            quitting_ = true;
        }
        wanted_.notify_one();
        join_thread(&thread_);
    }
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // Starts the thread unless it runs already; false when the system refuses it.
    bool start() {
        if (!started_)
            started_ = start_thread(&thread_, &ReadAhead::run, this, kWorkerStackBytes) == 0;
        return started_;
    }

    // Reads into `job` (the thread must have started, and no read be under way).
    void request(Job* job) {
        {
            std::lock_guard lock(mutex_);
            job_ = job;
            state_ = State::reading;
        }
        requested_ = true;
        wanted_.notify_one();
    }

    // A read was requested and its result not yet taken.
    bool busy() const { return requested_; }
    // The requested read has ended (the caller holds the lock).
    bool finished_locked() const { return state_ == State::finished; }
    bool finished() {
        std::lock_guard lock(mutex_);
        return finished_locked();
    }

    // The finished read: its job and result; out of memory when it threw std::bad_alloc.
    Job* take(ReadResult* result, bool* out_of_memory) {
        std::lock_guard lock(mutex_);
        state_ = State::idle;
        requested_ = false;
        *result = result_;
        *out_of_memory = out_of_memory_;
        return job_;
    }

private:
    enum class State { idle, reading, finished };

    static void* run(void* self) {
        static_cast<ReadAhead*>(self)->work();
        return nullptr;
    }

    void work() {
        for (;;) {
            Job* job;
            {
                std::unique_lock lock(mutex_);
                wanted_.wait(lock, [this] { return quitting_ || state_ == State::reading; });
                if (quitting_) return;
                job = job_;
            }
            ReadResult result = ReadResult::error;
            bool out_of_memory = false;
            try {
                result = read_(job->frame);
            } catch (const std::bad_alloc&) {
                out_of_memory = true;
            }
            {
                std::lock_guard lock(mutex_);
                result_ = result;
                out_of_memory_ = out_of_memory;
                state_ = State::finished;
            }
            done_.notify_all();
        }
    }

    const std::function<ReadResult(Frame&)>& read_;
    std::mutex& mutex_;
    std::condition_variable& done_;
    std::condition_variable wanted_;
    WorkerThread thread_;
    bool started_ = false;
    bool quitting_ = false;
    bool requested_ = false;  // only the thread that requests reads uses it
    State state_ = State::idle;
    Job* job_ = nullptr;
    ReadResult result_ = ReadResult::error;
    bool out_of_memory_ = false;
};

}  // namespace

PipelineOutcome run_pipeline(int threads, std::size_t buffers, const PipelineStages& stages) {
    threads = std::max(threads, 1);
    buffers = std::max(buffers, static_cast<std::size_t>(threads));
    Progression progression;
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
    pool.emplace(threads, buffers, stages.process, progression);
    // Declared after the frame buffers, so that a read under way ends before they go.
    ReadAhead read_ahead(stages.read, progression);
    // A read's outcome: the frame goes to the workers, or reading ends.
    const auto read_ended = [&](Job* job, ReadResult result, bool out_of_memory) {
        if (out_of_memory) {
            // The frames read so far are still filtered and written.
            idle.push_back(job);
            stop_reading(PipelineOutcome::Shortage::reading);
        } else if (result == ReadResult::ok) {
            job->index = next_index++;
            job->attempts = 0;
            in_flight.push(job);
            pool->submit(job);
        } else {
            idle.push_back(job);
            reading = false;
            if (result == ReadResult::error) outcome.stop = PipelineOutcome::Stop::read_failed;
        }
    };
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
        pool.emplace(1, buffers, stages.process, progression);
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
        if (read_ahead.busy() && read_ahead.finished()) {
            ReadResult result = ReadResult::error;
            bool out_of_memory = false;
            Job* job = read_ahead.take(&result, &out_of_memory);
            read_ended(job, result, out_of_memory);
            continue;
        }
        // The frame being read counts as in flight.
        if (reading && !read_ahead.busy() && in_flight.size() < limit) {
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
            idle.pop_back();
            if (read_ahead.start()) {
                read_ahead.request(job);
                continue;
            }
            // Without a thread of its own the read happens here, as the frames before
            // it wait.
            ReadResult result = ReadResult::error;
            bool out_of_memory = false;
            try {
                result = stages.read(job->frame);
            } catch (const std::bad_alloc&) {
                out_of_memory = true;
            }
            read_ended(job, result, out_of_memory);
            continue;
        }
        if (in_flight.empty() && !read_ahead.busy()) return outcome;
        // Until the oldest frame is processed or the read under way ends.
        std::unique_lock lock(progression.mutex);
        progression.changed.wait(lock, [&] {
            return (!in_flight.empty() && in_flight.front()->done) ||
                   (read_ahead.busy() && read_ahead.finished_locked());
        });
    }
}

}  // namespace velnor::cli
