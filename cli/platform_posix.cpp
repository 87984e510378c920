// The platform layer on POSIX systems (Linux and macOS): descriptors, signals,
// threads on mapped stacks. What differs between the two is in platform_linux.cpp
// and platform_macos.cpp.
#include "cli/platform_posix.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <initializer_list>

#include "cli/byte_stream.h"
#include "cli/platform.h"
#include "cli/stop_request.h"
#include "cli/test_events.h"
#include "cli/worker_thread.h"

namespace velnor::cli {

// --- stop requests -------------------------------------------------------------

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

volatile sig_atomic_t g_stop_signal = 0;
bool g_installed = false;
sigset_t g_stop_set;  // the stop signals this program handles
// Written by the handler, so that a wait that starts after a signal arrived ends at
// once: poll() with the signals unblocked around it cannot miss one. Never drained:
// a stop request stands.
int g_wake_pipe[2] = {-1, -1};

extern "C" void record_stop(int signal) {
    g_stop_signal = signal;
    if (g_wake_pipe[1] >= 0) {
        const int saved = errno;
        const char byte = 0;
        [[maybe_unused]] const ssize_t ignored = ::write(g_wake_pipe[1], &byte, 1);
        errno = saved;
    }
}

// Whether `pending` holds a stop signal this program handles.
bool has_stop_signal(const sigset_t& pending) {
    for (int signal : kStopSignals)
        if (sigismember(&g_stop_set, signal) == 1 && sigismember(&pending, signal) == 1)
            return true;
    return false;
}

bool set_flags(int fd, int status_flags) {
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | status_flags) == 0 &&
           fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

// poll() with the stop signals unblocked for its duration; with `interruptible`
// the wake pipe is watched too. Returns poll's result (the wake pipe counts as
// ready only through stop_signal()).
int poll_unblocked(pollfd* request, nfds_t count, int timeout, bool interruptible) {
    pollfd requests[2];
    nfds_t used = 0;
    if (count > 0) requests[used++] = *request;
    if (interruptible && g_wake_pipe[0] >= 0) requests[used++] = {g_wake_pipe[0], POLLIN, 0};
    if (interruptible && g_installed) pthread_sigmask(SIG_UNBLOCK, &g_stop_set, nullptr);
    const int ready = poll(requests, used, timeout);
    const int saved = errno;
    if (interruptible && g_installed) pthread_sigmask(SIG_BLOCK, &g_stop_set, nullptr);
    errno = saved;
    if (count > 0) *request = requests[0];
    return ready;
}

enum class WaitResult { ready, stopped, failed };

// Waits until `fd` is ready for `events` (POLLIN or POLLOUT). With `interruptible`,
// a stop request ends the wait. `failed` leaves the reason in errno.
WaitResult wait_ready(int fd, short events, bool interruptible) {
    for (;;) {
        if (interruptible && stop_signal() != 0) return WaitResult::stopped;
        pollfd request{fd, events, 0};
        const int ready = poll_unblocked(&request, 1, -1, interruptible);
        if (ready > 0 && request.revents != 0) return WaitResult::ready;  // errors show in the call
        if (ready < 0 && errno != EINTR && errno != EAGAIN) return WaitResult::failed;
    }
}

}  // namespace

void install_stop_handlers() {
    if (pipe(g_wake_pipe) != 0 || !set_flags(g_wake_pipe[0], O_NONBLOCK) ||
        !set_flags(g_wake_pipe[1], O_NONBLOCK)) {
        // Without the pipe a signal still interrupts poll(); only one that arrives just
        // before a wait would go unnoticed until input comes.
        g_wake_pipe[0] = g_wake_pipe[1] = -1;
    }
    sigemptyset(&g_stop_set);
    for (int signal : kStopSignals) {
        struct sigaction previous {};
        if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = record_stop;
        sigemptyset(&action.sa_mask);
        if (sigaction(signal, &action, nullptr) == 0) sigaddset(&g_stop_set, signal);
    }
    pthread_sigmask(SIG_BLOCK, &g_stop_set, nullptr);
    g_installed = true;
}

int stop_signal() {
    if (g_stop_signal == 0 && g_installed) {
        // A signal that arrived while blocked is taken now: unblocking runs its handler.
        sigset_t pending;
        if (sigpending(&pending) == 0 && has_stop_signal(pending)) {
            pthread_sigmask(SIG_UNBLOCK, &g_stop_set, nullptr);
            pthread_sigmask(SIG_BLOCK, &g_stop_set, nullptr);
        }
    }
    return g_stop_signal;
}

const char* stop_request_name(int request) {
    switch (request) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        case SIGHUP:
            return "SIGHUP";
        default:
            return "a signal";
    }
}

bool pause_unless_stopped(int milliseconds) {
    if (stop_signal() != 0) return false;
    poll_unblocked(nullptr, 0, milliseconds, true);
    return stop_signal() == 0;
}

// --- reading and writing --------------------------------------------------------

namespace {
bool would_block(int error) { return error == EAGAIN || error == EWOULDBLOCK; }
}  // namespace

FileSource::FileSource(FileHandle file) : file_(file) {
    struct stat status;
    if (fstat(static_cast<int>(file), &status) != 0 || !S_ISREG(status.st_mode)) return;
    start_ = lseek(static_cast<int>(file), 0, SEEK_CUR);
}

bool FileSource::rewind() {
    return start_ >= 0 && lseek(static_cast<int>(file_), start_, SEEK_SET) == start_;
}

int64_t FileSource::size() const {
    struct stat status;
    if (start_ < 0 || fstat(static_cast<int>(file_), &status) != 0) return -1;
    return std::max<int64_t>(0, static_cast<int64_t>(status.st_size) - start_);
}

std::ptrdiff_t FileSource::read(void* buffer, std::size_t size, std::string* error) {
    const int fd = static_cast<int>(file_);
    for (;;) {
        if (test_events_wanted()) {
            pollfd request{fd, POLLIN, 0};
            if (poll(&request, 1, 0) == 0) test_event("input-wait", bytes_read_);
        }
        // Waiting first keeps a stop request from being missed during a blocking read.
        const WaitResult wait = wait_ready(fd, POLLIN, true);
        if (wait == WaitResult::stopped) {
            *error = "interrupted";
            return -1;
        }
        if (wait == WaitResult::failed) {
            *error = std::strerror(errno);
            return -1;
        }
        const ssize_t got = ::read(fd, buffer, size);
        if (got >= 0) {
            bytes_read_ += got;
            return got;
        }
        if (errno == EINTR || would_block(errno)) continue;
        *error = std::strerror(errno);
        return -1;
    }
}

FileSink::FileSink(FileHandle file) : file_(file) {
    const int fd = static_cast<int>(file);
    struct stat status;
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return;
    const int flags = fcntl(fd, F_GETFL);
    const off_t start = flags >= 0 && (flags & O_APPEND) ? status.st_size : lseek(fd, 0, SEEK_CUR);
    if (flags < 0 || start < 0) return;
    regular_file_ = true;
    start_ = start;
}

bool FileSink::write(const void* data, std::size_t size, std::string* error) {
    const int fd = static_cast<int>(file_);
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t put = ::write(fd, bytes, size);
        if (put < 0) {
            if (errno == EINTR) continue;
            if (would_block(errno)) {
                test_event("output-wait");
                if (wait_ready(fd, POLLOUT, false) == WaitResult::ready) continue;
            }
            *error = std::strerror(errno);
            return false;
        }
        bytes += put;
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

bool FileSink::cut_back(std::size_t size) {
    if (!regular_file_) return false;
    const int fd = static_cast<int>(file_);
    // Only where this sink's bytes end the file, so nothing after them is lost.
    struct stat status;
    const off_t position = lseek(fd, 0, SEEK_CUR);
    if (position < 0 || fstat(fd, &status) != 0 || status.st_size != position) return false;
    const off_t end = static_cast<off_t>(start_ + static_cast<int64_t>(size));
    if (end > position) return false;
    return ftruncate(fd, end) == 0 && lseek(fd, end, SEEK_SET) == end;
}

// --- threads --------------------------------------------------------------------

int start_thread(WorkerThread* worker, void* (*entry)(void*), void* argument,
                 std::size_t stack_bytes) {
    const long page_size = sysconf(_SC_PAGESIZE);
    const std::size_t page = page_size > 0 ? static_cast<std::size_t>(page_size) : 4096;
    std::size_t size = std::max(stack_bytes, static_cast<std::size_t>(PTHREAD_STACK_MIN));
    size = (size + page - 1) / page * page;
#ifdef MAP_STACK
    constexpr int kStackFlag = MAP_STACK;
#else
    constexpr int kStackFlag = 0;
#endif
    // Stacks grow down: the guard page is the lowest.
    void* mapping = mmap(nullptr, size + page, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | kStackFlag, -1, 0);
    if (mapping == MAP_FAILED) return ENOMEM;
    mprotect(mapping, page, PROT_NONE);
    pthread_attr_t attributes;
    int error = pthread_attr_init(&attributes);
    if (error == 0) {
        error = pthread_attr_setstack(&attributes, static_cast<char*>(mapping) + page, size);
        if (error == 0) error = pthread_create(&worker->thread, &attributes, entry, argument);
        pthread_attr_destroy(&attributes);
    }
    if (error != 0) {
        munmap(mapping, size + page);
        return error;
    }
    worker->stack = mapping;
    worker->mapped = size + page;
    return 0;
}

void join_thread(WorkerThread* worker) {
    if (worker->stack == nullptr) return;
    pthread_join(worker->thread, nullptr);
    munmap(worker->stack, worker->mapped);
    worker->stack = nullptr;
}

// --- the process, files and memory ------------------------------------------------

std::vector<std::string> command_line_arguments(int argc, char** argv) {
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

bool prepare_standard_streams() {
    // Opened the other way round, so that using them fails as on a closed descriptor.
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        if (open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY) != fd) return false;
    }
    return true;
}

void prepare_for_filtering() {
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    install_stop_handlers();
    share_heap_between_threads();
}

FileHandle standard_input() { return STDIN_FILENO; }
FileHandle standard_output() { return STDOUT_FILENO; }
bool standard_error_is_terminal() { return isatty(STDERR_FILENO); }

FileHandle open_input_file(const std::string& path, std::string* error) {
    // Non-blocking, so that a FIFO without a writer yet is waited for where a stop
    // request ends the wait (FileSource waits for input on any descriptor).
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) *error = std::strerror(errno);
    return fd < 0 ? kNoFile : fd;
}

FileHandle open_output_file(const std::string& path, std::string* error) {
    struct stat status;
    const bool fifo = stat(path.c_str(), &status) == 0 && S_ISFIFO(status.st_mode);
    bool waited = false;
    for (;;) {
        const int fd =
            open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
        if (fd >= 0) {
            const int flags = fcntl(fd, F_GETFL);
            if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
            return fd;
        }
        if (!fifo || errno != ENXIO) break;
        if (!waited) test_event("output-wait");
        waited = true;
        if (!pause_unless_stopped(20)) {
            errno = EINTR;
            break;
        }
    }
    *error = std::strerror(errno);
    return kNoFile;
}

bool truncate_output(FileHandle file, std::string* error) {
    struct stat status;
    if (fstat(static_cast<int>(file), &status) != 0 || !S_ISREG(status.st_mode)) return true;
    if (ftruncate(static_cast<int>(file), 0) == 0) return true;
    *error = std::strerror(errno);
    return false;
}

bool close_file(FileHandle file, std::string* error) {
    if (close(static_cast<int>(file)) == 0) return true;
    *error = std::strerror(errno);
    return false;
}

namespace {

bool same_regular_file(const struct stat& a, const struct stat& b) {
    return S_ISREG(a.st_mode) && S_ISREG(b.st_mode) && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

struct stat status_of(FileHandle file) {
    struct stat status {};
    fstat(static_cast<int>(file), &status);
    return status;
}

}  // namespace

std::string refuse_output(FileHandle output, const std::string& where, FileHandle input) {
    if (isatty(static_cast<int>(output)))
        return where + " is a terminal; write the video to a file or a pipe";
    struct stat status;
    if (fstat(static_cast<int>(output), &status) == 0 &&
        same_regular_file(status, status_of(input)))
        return "input and output are the same file (" + where + ")";
    return {};
}

std::string refuse_output_path(const std::string& path, const std::string& where,
                               FileHandle input) {
    struct stat status;
    if (stat(path.c_str(), &status) != 0) return {};
    if (S_ISCHR(status.st_mode)) {
        const int fd = open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return {};
        std::string refusal = refuse_output(fd, where, input);
        close(fd);
        return refusal;
    }
    if (same_regular_file(status, status_of(input)))
        return "input and output are the same file (" + where + ")";
    return {};
}

void* reserve_memory(std::size_t bytes) {
    void* block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return block == MAP_FAILED ? nullptr : block;
}

void release_memory(void* block, std::size_t bytes) { munmap(block, bytes); }

}  // namespace velnor::cli
