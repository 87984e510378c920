// The operating system under the filter: files and standard streams, the command
// line, processors and memory. One implementation per system: platform_posix.cpp
// (Linux and macOS, with platform_linux.cpp or platform_macos.cpp for the calls
// that differ) and platform_windows.cpp. Stop requests (cli/stop_request.h), file
// reading and writing (cli/byte_stream.h) and worker threads (cli/worker_thread.h)
// are implemented there too. Everything above this layer is one code path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velnor::cli {

// An open file, pipe or standard stream: a descriptor on POSIX systems, a HANDLE
// on Windows.
using FileHandle = std::intptr_t;
inline constexpr FileHandle kNoFile = -1;

// The command-line arguments after the program name, as UTF-8 (Windows: from the
// wide-character command line, whatever the ANSI code page).
std::vector<std::string> command_line_arguments(int argc, char** argv);

// Makes the standard streams safe to use before anything else. POSIX: descriptors
// 0-2 the parent left closed are taken by /dev/null, so that no file opened later
// takes their numbers. Windows: binary mode for the C streams and UTF-8 messages
// on a console. False when that fails.
bool prepare_standard_streams();

// Prepares a filter run, before any thread starts: stop requests are recorded
// (install_stop_handlers), a closed pipe or a file size limit becomes a write error
// instead of ending the process, and worker threads share the main heap.
void prepare_for_filtering();

FileHandle standard_input();
FileHandle standard_output();
bool standard_error_is_terminal();

// Opens a file for reading. A FIFO without a writer yet does not block the open;
// FileSource then waits for input where a stop request ends the wait. Returns
// kNoFile with the reason in `error`.
FileHandle open_input_file(const std::string& path, std::string* error);
// Opens or creates a file for writing, without truncating it. A FIFO without a
// reader yet is waited for in short steps while no stop request comes. Returns
// kNoFile with the reason in `error`.
FileHandle open_output_file(const std::string& path, std::string* error);
// Empties a regular file (others are left alone); false with the reason on failure.
bool truncate_output(FileHandle file, std::string* error);
// Closes a file this program opened; false with the reason when the close reports
// an error (a delayed write error, say).
bool close_file(FileHandle file, std::string* error);

// Why video must not be written to the open `output` (named `where` in messages),
// given the program's `input`, or an empty string: a terminal (console), or the
// input file itself.
std::string refuse_output(FileHandle output, const std::string& where, FileHandle input);
// The same refusals for an output named by path, before anything is opened for
// writing: an existing file that is the input, or a terminal.
std::string refuse_output_path(const std::string& path, const std::string& where, FileHandle input);

// The processors this process may run on: its CPU affinity, and on Linux a cgroup
// v2 CPU quota where one is set. At least 1.
int usable_processors();

// Memory straight from the system, in whole pages, returned with release_memory;
// null when there is none.
void* reserve_memory(std::size_t bytes);
void release_memory(void* block, std::size_t bytes);

}  // namespace velnor::cli
