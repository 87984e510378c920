// velnor: denoises the luma of a YUV4MPEG2 stream, from a file or standard input
// to a file or standard output.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "cli/byte_stream.h"
#include "cli/exception_room.h"
#include "cli/filter_stream.h"
#include "cli/options.h"
#include "cli/platform.h"
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

// Prints --help or --version; output that cannot be written is a failure.
int print(const std::string& text) {
    if (std::fputs(text.c_str(), stdout) < 0 || std::fflush(stdout) != 0)
        return failure(std::string("write error: ") + std::strerror(errno));
    return kExitOk;
}

int default_threads() {
    const int processors = usable_processors();
    return processors > kMaxThreads ? kMaxThreads : processors;
}

int run(int argc, char** argv) {
    Options options;
    try {
        const std::vector<std::string> arguments = command_line_arguments(argc, argv);
        const std::vector<std::string_view> args(arguments.begin(), arguments.end());
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
    // instead of a silent end; a stop request ends the output on a whole frame.
    prepare_for_filtering();

    const bool from_stdin = options.input == "-";
    const bool to_stdout = options.output == "-";
    FileHandle input_file = standard_input();
    if (!from_stdin) {
        std::string reason;
        input_file = open_input_file(options.input, &reason);
        if (input_file == kNoFile)
            return failure("cannot open input " + quote_bytes(options.input, SIZE_MAX) + ": " +
                           reason);
    }
    if (options.suggest) {  // one line of options on standard output, no video
        FileSource source(input_file);
        return print_suggestion(source, Y4mLimits{}, options.chroma, stdout, stderr);
    }
    const std::string output_name =
        to_stdout ? "standard output" : "output " + quote_bytes(options.output, SIZE_MAX);
    // Refusals come before anything is read or measured.
    const std::string refusal = to_stdout
                                    ? refuse_output(standard_output(), output_name, input_file)
                                    : refuse_output_path(options.output, output_name, input_file);
    if (!refusal.empty()) return usage_error(refusal);

    FileSource source(input_file);
    FileHandle output_file = kNoFile;
    int refused_status = kExitOk;
    std::unique_ptr<FileSink> sink;
    StreamIo io;
    io.input = &source;
    io.messages = stderr;
    io.show_progress = !options.quiet && standard_error_is_terminal();
    io.open_output = [&](std::string* error) -> ByteSink* {
        if (!to_stdout) {
            // Truncated only after the checks, so that a refused file stays as it was.
            std::string reason;
            output_file = open_output_file(options.output, &reason);
            if (output_file == kNoFile) {
                *error = "cannot open " + output_name + ": " + reason;
                return nullptr;
            }
            *error = refuse_output(output_file, output_name, input_file);
            if (!error->empty()) {
                refused_status = kExitUsage;
                return nullptr;
            }
            if (!truncate_output(output_file, &reason)) {
                *error = "cannot truncate " + output_name + ": " + reason;
                return nullptr;
            }
        }
        sink = std::make_unique<FileSink>(to_stdout ? standard_output() : output_file);
        return sink.get();
    };

    int status =
        options.auto_settings ? filter_with_suggestion(options, io) : filter_stream(options, io);
    if (refused_status != kExitOk) status = refused_status;
    std::string reason;
    if (!to_stdout && output_file != kNoFile && !close_file(output_file, &reason) &&
        status == kExitOk)
        status = failure("write error: " + reason);
    if (!from_stdin) close_file(input_file, &reason);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    if (!prepare_standard_streams()) return kExitFailure;
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
