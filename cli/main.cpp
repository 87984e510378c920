// velnor: denoises the luma of a YUV4MPEG2 stream, from a file or standard input
// to a file or standard output.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "cli/byte_stream.h"
#include "cli/filter_stream.h"
#include "cli/options.h"
#include "cli/suggest.h"
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

// True when `path` names the file already open as `fd` (writing it would destroy
// the input before it is read).
bool same_file(int fd, const std::string& path) {
    struct stat open_file, named;
    if (fstat(fd, &open_file) != 0 || stat(path.c_str(), &named) != 0) return false;
    return S_ISREG(open_file.st_mode) && open_file.st_dev == named.st_dev &&
           open_file.st_ino == named.st_ino;
}

int default_threads() {
    const unsigned cores = std::thread::hardware_concurrency();
    if (cores == 0) return 1;
    return cores > static_cast<unsigned>(kMaxThreads) ? kMaxThreads : static_cast<int>(cores);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    Options options;
    const std::string problem = parse_options(args, &options);
    if (!problem.empty()) return usage_error(problem);
    if (options.help) {
        std::fputs(usage_text().c_str(), stdout);
        return kExitOk;
    }
    if (options.version) {
        std::printf("velnor %s (pass: %s)\n", VELNOR_VERSION,
                    velnor::level_name(velnor::level_from_environment()));
        return kExitOk;
    }
    if (options.threads == 0) options.threads = default_threads();

    // A closed pipe becomes a write error with a message instead of a silent kill.
    std::signal(SIGPIPE, SIG_IGN);

    const bool from_stdin = options.input == "-";
    const bool to_stdout = options.output == "-";
    int input_fd = STDIN_FILENO;
    if (!from_stdin) {
        input_fd = open(options.input.c_str(), O_RDONLY | O_CLOEXEC);
        if (input_fd < 0)
            return failure("cannot open input \"" + options.input + "\": " + std::strerror(errno));
    }
    if (options.suggest) {  // one line of options on standard output, no video
        FdSource source(input_fd);
        return print_suggestion(source, Y4mLimits{}, stdout, stderr);
    }
    if (to_stdout && isatty(STDOUT_FILENO))
        return usage_error("standard output is a terminal; redirect it or name a file with -o");
    if (!to_stdout && same_file(input_fd, options.output))
        return usage_error("input and output are the same file \"" + options.output + "\"");

    FdSource source(input_fd);
    int output_fd = -1;
    std::unique_ptr<FdSink> sink;
    StreamIo io;
    io.input = &source;
    io.messages = stderr;
    io.show_progress = !options.quiet && isatty(STDERR_FILENO);
    io.open_output = [&](std::string* error) -> ByteSink* {
        output_fd = to_stdout ? STDOUT_FILENO
                              : open(options.output.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (output_fd < 0) {
            *error = "cannot open output \"" + options.output + "\": " + std::strerror(errno);
            return nullptr;
        }
        sink = std::make_unique<FdSink>(output_fd);
        return sink.get();
    };

    int status =
        options.auto_settings ? filter_with_suggestion(options, io) : filter_stream(options, io);
    if (!to_stdout && output_fd >= 0 && close(output_fd) != 0 && status == kExitOk)
        status = failure(std::string("write error: ") + std::strerror(errno));
    if (!from_stdin) close(input_fd);
    return status;
}
