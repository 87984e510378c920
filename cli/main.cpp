// velnor: denoises the luma of a YUV4MPEG2 stream, from a file or standard input
// to a file or standard output.
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "cli/byte_stream.h"
#include "cli/exception_room.h"
#include "cli/filter_stream.h"
#include "cli/options.h"
#include "cli/simd_request.h"
#include "cli/stop_request.h"
#include "cli/suggest.h"
#include "cli/y4m_format.h"
#include "core/dispatch.h"

namespace {

using namespace velnor::cli;

int usage_error(const std::string& message) {
    std::fprintf(stderr, "velnor: %s\n", message.c_str());
    return kExitUsage;
}

int failure(const std::string& message) {
    std::fprintf(stderr, "velnor: %s\n", message.c_str());
    return kExitFailure;
}

// Descriptors 0-2 that the parent left closed are taken by /dev/null, opened the
// other way round: files opened later cannot take their numbers (messages would land
// in the output), and using them fails as on a closed descriptor.
bool fill_closed_standard_descriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        if (open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY) != fd) return false;
    }
    return true;
}

// Prints --help or --version; output that cannot be written is a failure.
int print(const std::string& text) {
    if (std::fputs(text.c_str(), stdout) < 0 || std::fflush(stdout) != 0)
        return failure(std::string("write error: ") + std::strerror(errno));
    return kExitOk;
}

// Why video must not be written to the open descriptor `output` (named `where`),
// or an empty string.
std::string refuse_output(int output, const std::string& where, const struct stat& input) {
    if (isatty(output)) return where + " is a terminal; write the video to a file or a pipe";
    struct stat file;
    if (fstat(output, &file) == 0 && S_ISREG(file.st_mode) && S_ISREG(input.st_mode) &&
        file.st_dev == input.st_dev && file.st_ino == input.st_ino)
        return "input and output are the same file (" + where + ")";
    return {};
}

// The same refusals for an output file named with -o, before anything is opened for
// writing or measured: an existing file that is the input, or a terminal.
std::string refuse_output_path(const std::string& path, const std::string& where,
                               const struct stat& input) {
    struct stat file;
    if (stat(path.c_str(), &file) != 0) return {};
    if (S_ISCHR(file.st_mode)) {
        const int fd = open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return {};
        std::string refusal = refuse_output(fd, where, input);
        close(fd);
        return refusal;
    }
    if (S_ISREG(file.st_mode) && S_ISREG(input.st_mode) && file.st_dev == input.st_dev &&
        file.st_ino == input.st_ino)
        return "input and output are the same file (" + where + ")";
    return {};
}

// Opens the output file. A FIFO without a reader yet is waited for in short steps,
// so that a stop request still ends the wait (a blocking open would not notice it).
int open_output_file(const std::string& path) {
    struct stat file;
    const bool fifo = stat(path.c_str(), &file) == 0 && S_ISFIFO(file.st_mode);
    for (;;) {
        const int fd =
            open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
        if (fd >= 0) {
            const int flags = fcntl(fd, F_GETFL);
            if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
            return fd;
        }
        if (!fifo || errno != ENXIO) return -1;
        if (!pause_unless_stopped(20)) {
            errno = EINTR;
            return -1;
        }
    }
}

int default_threads() {
    const unsigned cores = std::thread::hardware_concurrency();
    if (cores == 0) return 1;
    return cores > static_cast<unsigned>(kMaxThreads) ? kMaxThreads : static_cast<int>(cores);
}

int run(int argc, char** argv) {
    Options options;
    try {
        std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + argc);
        const std::string problem = parse_options(args, &options);
        if (!problem.empty()) return usage_error(problem);
    } catch (const std::bad_alloc&) {
        return report_out_of_memory(stderr, "for the command line");
    }
    if (options.help) return print(usage_text());
    try {
        const std::string simd = unknown_simd_request();
        if (!simd.empty()) std::fprintf(stderr, "velnor: %s\n", simd.c_str());
    } catch (const std::bad_alloc&) {  // the warning is left out; nothing depends on it
    }
    if (options.version)
        return print(std::string("velnor ") + VELNOR_VERSION +
                     " (pass: " + velnor::level_name(velnor::level_from_environment()) + ")\n");
    if (options.threads == 0) options.threads = default_threads();

    // A closed pipe or the file size limit becomes a write error with a message
    // instead of a silent kill; SIGINT and SIGTERM end the output on a whole frame.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    install_stop_handlers();
    // Workers allocate only their small per-frame scratch: sharing the main heap keeps
    // each thread from reserving an arena of its own (64 MiB of address space each).
#ifdef M_ARENA_MAX
    mallopt(M_ARENA_MAX, 1);
#endif

    const bool from_stdin = options.input == "-";
    const bool to_stdout = options.output == "-";
    int input_fd = STDIN_FILENO;
    if (!from_stdin) {
        // Non-blocking, so that a FIFO without a writer yet is waited for where a stop
        // request ends the wait (FdSource waits for input on any descriptor).
        input_fd = open(options.input.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (input_fd < 0)
            return failure("cannot open input " + quote_bytes(options.input, SIZE_MAX) + ": " +
                           std::strerror(errno));
    }
    if (options.suggest) {  // one line of options on standard output, no video
        FdSource source(input_fd);
        return print_suggestion(source, Y4mLimits{}, stdout, stderr);
    }
    struct stat input {};
    fstat(input_fd, &input);
    const std::string output_name =
        to_stdout ? "standard output" : "output " + quote_bytes(options.output, SIZE_MAX);
    // Refusals come before anything is read or measured.
    const std::string refusal = to_stdout ? refuse_output(STDOUT_FILENO, output_name, input)
                                          : refuse_output_path(options.output, output_name, input);
    if (!refusal.empty()) return usage_error(refusal);

    FdSource source(input_fd);
    int output_fd = -1;
    int refused_status = kExitOk;
    std::unique_ptr<FdSink> sink;
    StreamIo io;
    io.input = &source;
    io.messages = stderr;
    io.show_progress = !options.quiet && isatty(STDERR_FILENO);
    io.open_output = [&](std::string* error) -> ByteSink* {
        if (!to_stdout) {
            // Truncated only after the checks, so that a refused file stays as it was.
            output_fd = open_output_file(options.output);
            if (output_fd < 0) {
                *error = "cannot open " + output_name + ": " + std::strerror(errno);
                return nullptr;
            }
            *error = refuse_output(output_fd, output_name, input);
            if (!error->empty()) {
                refused_status = kExitUsage;
                return nullptr;
            }
            struct stat file;
            if (fstat(output_fd, &file) == 0 && S_ISREG(file.st_mode) &&
                ftruncate(output_fd, 0) != 0) {
                *error = "cannot truncate " + output_name + ": " + std::strerror(errno);
                return nullptr;
            }
        }
        sink = std::make_unique<FdSink>(to_stdout ? STDOUT_FILENO : output_fd);
        return sink.get();
    };

    int status =
        options.auto_settings ? filter_with_suggestion(options, io) : filter_stream(options, io);
    if (refused_status != kExitOk) status = refused_status;
    if (!to_stdout && output_fd >= 0 && close(output_fd) != 0 && status == kExitOk)
        status = failure(std::string("write error: ") + std::strerror(errno));
    if (!from_stdin) close(input_fd);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    if (!fill_closed_standard_descriptors()) return kExitFailure;
    if (!reserve_exception_room()) {
        std::fputs("velnor: out of memory\n", stderr);
        return kExitFailure;
    }
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        // Every allocation site that can be named reports itself; this is the rest.
        std::fputs("velnor: out of memory\n", stderr);
        return kExitFailure;
    }
}
