// The platform layer on Windows: file handles, console control events and threads
// with a stack reservation of their own. Names are UTF-8 inside the program and
// UTF-16 towards the system, so no ANSI code page is involved; messages keep the
// wording of the POSIX build.
#include <windows.h>
// After windows.h.
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>

#include "cli/byte_stream.h"
#include "cli/platform.h"
#include "cli/stop_request.h"
#include "cli/test_events.h"
#include "cli/worker_thread.h"

namespace velnor::cli {

namespace {

HANDLE as_handle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

FileHandle as_file(HANDLE handle) {
    return handle == nullptr || handle == INVALID_HANDLE_VALUE
               ? kNoFile
               : reinterpret_cast<FileHandle>(handle);
}

std::string narrow(const wchar_t* text, int length) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(std::max(bytes, 0)), '\0');
    if (bytes > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, length, result.data(), bytes, nullptr, nullptr);
    return result;
}

// UTF-8 to UTF-16; false for bytes that are not UTF-8.
bool widen(const std::string& text, std::wstring* result) {
    result->clear();
    if (text.empty()) return true;
    const int length = static_cast<int>(std::min<std::size_t>(text.size(), INT_MAX));
    const int units =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
    if (units <= 0) return false;
    result->resize(static_cast<std::size_t>(units));
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, result->data(), units);
    return true;
}

// The errors the program can meet, worded as the C library on Linux words them, so
// that messages are the same on every system; the system's own text for the rest.
std::string error_text(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
        case ERROR_INVALID_DRIVE:
            return "No such file or directory";
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return "Permission denied";
        case ERROR_INVALID_HANDLE:
            return "Bad file descriptor";
        case ERROR_BROKEN_PIPE:
        case ERROR_NO_DATA:
        case ERROR_PIPE_NOT_CONNECTED:
            return "Broken pipe";
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return "No space left on device";
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return "Cannot allocate memory";
        case ERROR_FILENAME_EXCED_RANGE:
            return "File name too long";
        case ERROR_WRITE_PROTECT:
            return "Read-only file system";
        case ERROR_DIRECTORY:
            return "Is a directory";
        case ERROR_INVALID_NAME:
            return "Invalid argument";
        default:
            break;
    }
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = length > 0 ? narrow(text, static_cast<int>(length)) : std::string();
    if (text != nullptr) LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    if (message.find_first_of("\r\n") != std::string::npos || message.empty())
        message = "system error " + std::to_string(error);
    return message;
}

// A path as the system takes it: UTF-16, and past MAX_PATH in the \\?\ form, which
// lifts the length limit (\\?\UNC\ for \\server\share paths).
bool system_path(const std::string& path, std::wstring* result) {
    if (!widen(path, result)) return false;
    if (result->size() < MAX_PATH - 12 || result->starts_with(LR"(\\?\)") ||
        result->starts_with(LR"(\\.\)"))
        return true;
    const DWORD size = GetFullPathNameW(result->c_str(), 0, nullptr, nullptr);
    if (size == 0) return true;
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(result->c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size) return true;
    full.resize(length);
    if (full.starts_with(LR"(\\)"))
        *result = LR"(\\?\UNC\)" + full.substr(2);
    else
        *result = LR"(\\?\)" + full;
    return true;
}

HANDLE open_path(const std::string& path, DWORD access, DWORD creation, DWORD flags,
                 std::string* error) {
    std::wstring name;
    if (!system_path(path, &name)) {
        if (error) *error = "Invalid argument (the name is not UTF-8)";
        return INVALID_HANDLE_VALUE;
    }
    const HANDLE handle =
        CreateFileW(name.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, creation, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE && error) {
        const DWORD failure = GetLastError();
        const DWORD attributes = GetFileAttributesW(name.c_str());
        const bool directory =
            attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
        *error = directory ? "Is a directory" : error_text(failure);
    }
    return handle;
}

bool is_console(HANDLE handle) {
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
           GetFileType(handle) == FILE_TYPE_CHAR && GetConsoleMode(handle, &mode);
}

bool is_disk_file(FileHandle file) {
    return file != kNoFile && GetFileType(as_handle(file)) == FILE_TYPE_DISK;
}

bool file_position(HANDLE handle, int64_t* position) {
    LARGE_INTEGER now{};
    if (!SetFilePointerEx(handle, LARGE_INTEGER{}, &now, FILE_CURRENT)) return false;
    *position = now.QuadPart;
    return true;
}

bool seek_to(HANDLE handle, int64_t position) {
    LARGE_INTEGER target{};
    target.QuadPart = position;
    return SetFilePointerEx(handle, target, nullptr, FILE_BEGIN) != 0;
}

}  // namespace

// --- stop requests -------------------------------------------------------------

namespace {

// The numbers of the signals that mean the same on POSIX systems (stop_request.h).
constexpr int kCtrlC = 2;       // SIGINT
constexpr int kCtrlBreak = 21;  // the C runtime's SIGBREAK
constexpr int kClose = 1;       // SIGHUP: the terminal went away
constexpr int kLogoff = 15;     // SIGTERM: the system asks programs to end

std::atomic<int> g_stop_request{0};
HANDLE g_stop_event = nullptr;  // manual reset: set by the first request, for good

BOOL WINAPI on_console_event(DWORD event) {
    int request = kLogoff;
    if (event == CTRL_C_EVENT) request = kCtrlC;
    if (event == CTRL_BREAK_EVENT) request = kCtrlBreak;
    if (event == CTRL_CLOSE_EVENT) request = kClose;
    int none = 0;
    g_stop_request.compare_exchange_strong(none, request);
    if (g_stop_event != nullptr) SetEvent(g_stop_event);
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
    // For the other events the process ends when this returns (or some seconds
    // later, as Windows decides): the main thread writes the frames it has read and
    // exits first.
    Sleep(INFINITE);
    return TRUE;
}

// For tests under wine, which delivers no console events to a program without a
// console window: VELNOR_TEST_CONSOLE_EVENT=EVENT:PATH, EVENT one of ctrl-c,
// ctrl-break, close, shutdown, raises that event the way Windows does (the handler
// runs on a thread of its own) once a file PATH exists.
DWORD WINAPI raise_test_event(void* parameter) {
    const auto* setting = static_cast<const std::string*>(parameter);
    const std::size_t colon = setting->find(':');
    const std::string kind = setting->substr(0, colon);
    std::wstring path;
    if (colon == std::string::npos || !widen(setting->substr(colon + 1), &path)) return 0;
    const DWORD event = kind == "ctrl-c"       ? CTRL_C_EVENT
                        : kind == "ctrl-break" ? CTRL_BREAK_EVENT
                        : kind == "close"      ? CTRL_CLOSE_EVENT
                                               : CTRL_SHUTDOWN_EVENT;
    while (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) Sleep(10);
    on_console_event(event);
    return 0;
}

void start_test_events() {
    const char* setting = std::getenv("VELNOR_TEST_CONSOLE_EVENT");
    if (setting == nullptr || *setting == '\0') return;
    static const std::string kept = setting;
    const HANDLE thread =
        CreateThread(nullptr, 64 << 10, raise_test_event, const_cast<std::string*>(&kept),
                     STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread != nullptr) CloseHandle(thread);
}

}  // namespace

void install_stop_handlers() {
    g_stop_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // A process started with Ctrl+C ignored (CREATE_NEW_PROCESS_GROUP, or a parent
    // that ignores it) keeps ignoring it: Windows does not call handlers for it then.
    SetConsoleCtrlHandler(on_console_event, TRUE);
    start_test_events();
}

int stop_signal() { return g_stop_request.load(); }

const char* stop_request_name(int request) {
    switch (request) {
        case kCtrlC:
            return "Ctrl+C";
        case kCtrlBreak:
            return "Ctrl+Break";
        case kClose:
            return "console close";
        case kLogoff:
            return "logoff or shutdown";
        default:
            return "a console event";
    }
}

bool pause_unless_stopped(int milliseconds) {
    if (stop_signal() != 0) return false;
    if (g_stop_event != nullptr)
        WaitForSingleObject(g_stop_event, static_cast<DWORD>(milliseconds));
    else
        Sleep(static_cast<DWORD>(milliseconds));
    return stop_signal() == 0;
}

// --- reading and writing --------------------------------------------------------

namespace {

// Reads a pipe or console on a thread of its own, so that the main thread waits for
// the data or a stop request, whichever comes first: a blocking ReadFile cannot be
// interrupted (CancelSynchronousIo does not reach every pipe). Bytes read after a
// stop request are never handed out; the reader ends with the process.
class WaitingReader {
public:
    // The reader for `handle`: one per process, for the first handle asked for;
    // null for another handle or when it cannot be made (reads then block).
    static WaitingReader* for_handle(HANDLE handle) {
        static WaitingReader* reader = make(handle);
        return reader != nullptr && reader->file_ == handle ? reader : nullptr;
    }

    // Bytes read (0 at the end), -1 after an error (its text in `error`), -2 when a
    // stop request came first. `bytes_before`: bytes of the input read so far, for
    // the "input-wait" test event.
    std::ptrdiff_t read(void* buffer, std::size_t size, std::string* error, int64_t bytes_before) {
        if (available_ == 0) {
            if (!pending_) {
                asked_ = static_cast<DWORD>(std::min(size, kBufferBytes));
                pending_ = true;
                SetEvent(wanted_);
            }
            DWORD woken = WAIT_TIMEOUT;
            if (test_events_wanted()) {
                // done_ resets as it is taken: a read already done counts as woken.
                woken = WaitForSingleObject(done_, 0);
                if (woken != WAIT_OBJECT_0) test_event("input-wait", bytes_before);
            }
            const HANDLE waits[] = {done_, g_stop_event};
            if (woken != WAIT_OBJECT_0)
                woken = WaitForMultipleObjects(g_stop_event ? 2 : 1, waits, FALSE, INFINITE);
            if (woken != WAIT_OBJECT_0) return -2;
            pending_ = false;
            if (failure_ != 0) {
                // The writer closing its end is the end of the input.
                if (failure_ == ERROR_BROKEN_PIPE || failure_ == ERROR_HANDLE_EOF) return 0;
                *error = error_text(failure_);
                return -1;
            }
            available_ = got_;
            offset_ = 0;
            if (available_ == 0) return 0;
        }
        const std::size_t count = std::min(size, available_);
        std::memcpy(buffer, buffer_ + offset_, count);
        offset_ += count;
        available_ -= count;
        return static_cast<std::ptrdiff_t>(count);
    }

private:
    static constexpr std::size_t kBufferBytes = std::size_t{256} << 10;

    static WaitingReader* make(HANDLE handle) {
        auto* reader = new (std::nothrow) WaitingReader;
        if (reader == nullptr) return nullptr;
        reader->file_ = handle;
        reader->buffer_ = static_cast<uint8_t*>(reserve_memory(kBufferBytes));
        reader->wanted_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        reader->done_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (reader->buffer_ == nullptr || reader->wanted_ == nullptr || reader->done_ == nullptr)
            return nullptr;
        const HANDLE thread = CreateThread(nullptr, 64 << 10, &WaitingReader::run, reader,
                                           STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
        if (thread == nullptr) return nullptr;
        CloseHandle(thread);
        return reader;
    }

    static DWORD WINAPI run(void* self) {
        auto* reader = static_cast<WaitingReader*>(self);
        for (;;) {
            WaitForSingleObject(reader->wanted_, INFINITE);
            for (;;) {
                DWORD got = 0;
                const BOOL ok =
                    ReadFile(reader->file_, reader->buffer_, reader->asked_, &got, nullptr);
                reader->failure_ = ok ? 0 : GetLastError();
                reader->got_ = got;
                // A non-blocking pipe without data yet is waited on.
                if (reader->failure_ != ERROR_NO_DATA) break;
                Sleep(1);
            }
            SetEvent(reader->done_);
        }
    }

    HANDLE file_ = nullptr;
    uint8_t* buffer_ = nullptr;
    HANDLE wanted_ = nullptr;  // the main thread asks for a read
    HANDLE done_ = nullptr;    // the reader thread has finished one
    DWORD asked_ = 0;
    DWORD got_ = 0;
    DWORD failure_ = 0;
    bool pending_ = false;  // asked for and not yet taken
    std::size_t available_ = 0;
    std::size_t offset_ = 0;
};

}  // namespace

FileSource::FileSource(FileHandle file) : file_(file) {
    int64_t position = 0;
    if (is_disk_file(file) && file_position(as_handle(file), &position)) start_ = position;
}

bool FileSource::rewind() { return start_ >= 0 && seek_to(as_handle(file_), start_); }

int64_t FileSource::size() const {
    LARGE_INTEGER length{};
    if (start_ < 0 || !GetFileSizeEx(as_handle(file_), &length)) return -1;
    return std::max<int64_t>(0, static_cast<int64_t>(length.QuadPart) - start_);
}

std::ptrdiff_t FileSource::read(void* buffer, std::size_t size, std::string* error) {
    if (stop_signal() != 0) {
        *error = "interrupted";
        return -1;
    }
    const HANDLE handle = as_handle(file_);
    if (file_ == kNoFile) {
        *error = error_text(ERROR_INVALID_HANDLE);
        return -1;
    }
    if (!is_disk_file(file_)) {
        if (WaitingReader* reader = WaitingReader::for_handle(handle)) {
            const std::ptrdiff_t got = reader->read(buffer, size, error, bytes_read_);
            if (got == -2) *error = "interrupted";
            if (got > 0) bytes_read_ += got;
            return got < 0 ? -1 : got;
        }
    }
    DWORD got = 0;
    const DWORD asked = static_cast<DWORD>(std::min<std::size_t>(size, DWORD{1} << 30));
    if (ReadFile(handle, buffer, asked, &got, nullptr)) {
        bytes_read_ += got;
        return got;
    }
    const DWORD failure = GetLastError();
    if (failure == ERROR_BROKEN_PIPE || failure == ERROR_HANDLE_EOF) return 0;
    *error = error_text(failure);
    return -1;
}

FileSink::FileSink(FileHandle file) : file_(file) {
    int64_t position = 0;
    if (!is_disk_file(file) || !file_position(as_handle(file), &position)) return;
    regular_file_ = true;
    start_ = position;
}

bool FileSink::write(const void* data, std::size_t size, std::string* error) {
    if (file_ == kNoFile) {
        *error = error_text(ERROR_INVALID_HANDLE);
        return false;
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    bool waited = false;
    while (size > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, DWORD{1} << 30));
        DWORD put = 0;
        if (!WriteFile(as_handle(file_), bytes, chunk, &put, nullptr)) {
            *error = error_text(GetLastError());
            return false;
        }
        if (put == 0) {  // a full non-blocking pipe: wait, never cut short
            if (!waited) test_event("output-wait");
            waited = true;
            Sleep(1);
        }
        bytes += put;
        size -= put;
    }
    return true;
}

bool FileSink::cut_back(std::size_t size) {
    if (!regular_file_) return false;
    const HANDLE handle = as_handle(file_);
    // Only where this sink's bytes end the file, so nothing after them is lost.
    int64_t position = 0;
    LARGE_INTEGER length{};
    if (!file_position(handle, &position) || !GetFileSizeEx(handle, &length) ||
        length.QuadPart != position)
        return false;
    const int64_t end = start_ + static_cast<int64_t>(size);
    if (end > position) return false;
    return seek_to(handle, end) && SetEndOfFile(handle);
}

// --- threads --------------------------------------------------------------------

namespace {

struct ThreadStart {
    void* (*entry)(void*);
    void* argument;
};

unsigned __stdcall run_thread(void* parameter) {
    const ThreadStart start = *static_cast<ThreadStart*>(parameter);
    delete static_cast<ThreadStart*>(parameter);
    start.entry(start.argument);
    return 0;
}

}  // namespace

int start_thread(WorkerThread* worker, void* (*entry)(void*), void* argument,
                 std::size_t stack_bytes) {
    auto* start = new (std::nothrow) ThreadStart{entry, argument};
    if (start == nullptr) return ENOMEM;
    // The stack reservation is the size asked for (the system's minimum is 64 KiB).
    const unsigned stack = static_cast<unsigned>(std::max<std::size_t>(stack_bytes, 64 << 10));
    const uintptr_t thread = _beginthreadex(nullptr, stack, run_thread, start,
                                            STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread == 0) {
        delete start;
        return errno != 0 ? errno : EAGAIN;
    }
    worker->handle = reinterpret_cast<void*>(thread);
    return 0;
}

void join_thread(WorkerThread* worker) {
    if (worker->handle == nullptr) return;
    WaitForSingleObject(static_cast<HANDLE>(worker->handle), INFINITE);
    CloseHandle(static_cast<HANDLE>(worker->handle));
    worker->handle = nullptr;
}

// --- the process, files and memory ------------------------------------------------

std::vector<std::string> command_line_arguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
    std::vector<std::string> arguments;
    for (int i = 1; i < count; ++i)
        arguments.push_back(narrow(wide[i], static_cast<int>(wcslen(wide[i]))));
    LocalFree(wide);
    return arguments;
}

namespace {
UINT g_console_code_page = 0;  // the console's output code page before ours, to restore
void restore_console_code_page() { SetConsoleOutputCP(g_console_code_page); }
}  // namespace

bool prepare_standard_streams() {
    // The C streams carry --help, --version, --suggest and the messages: no CR
    // before each LF, as on every other system.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    // Messages are UTF-8 (file names): a console shows them as such while velnor runs.
    if (is_console(GetStdHandle(STD_ERROR_HANDLE))) {
        g_console_code_page = GetConsoleOutputCP();
        if (g_console_code_page != CP_UTF8 && SetConsoleOutputCP(CP_UTF8))
            std::atexit(restore_console_code_page);
    }
    return true;
}

void prepare_for_filtering() { install_stop_handlers(); }

FileHandle standard_input() { return as_file(GetStdHandle(STD_INPUT_HANDLE)); }
FileHandle standard_output() { return as_file(GetStdHandle(STD_OUTPUT_HANDLE)); }
bool standard_error_is_terminal() { return is_console(GetStdHandle(STD_ERROR_HANDLE)); }

FileHandle open_input_file(const std::string& path, std::string* error) {
    return as_file(open_path(path, GENERIC_READ, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, error));
}

FileHandle open_output_file(const std::string& path, std::string* error) {
    return as_file(open_path(path, GENERIC_WRITE | FILE_READ_ATTRIBUTES, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, error));
}

bool truncate_output(FileHandle file, std::string* error) {
    if (!is_disk_file(file)) return true;
    if (seek_to(as_handle(file), 0) && SetEndOfFile(as_handle(file))) return true;
    *error = error_text(GetLastError());
    return false;
}

bool close_file(FileHandle file, std::string* error) {
    if (CloseHandle(as_handle(file))) return true;
    *error = error_text(GetLastError());
    return false;
}

namespace {

struct FileIdentity {
    bool known = false;
    uint64_t volume = 0;
    uint8_t id[16] = {};
};

// The volume and the file's number on it (128 bits on ReFS); the older 64-bit
// query where the newer one is missing.
FileIdentity identity_of(FileHandle file) {
    FileIdentity identity;
    if (!is_disk_file(file)) return identity;
    const HANDLE handle = as_handle(file);
    FILE_ID_INFO id{};
    BY_HANDLE_FILE_INFORMATION information{};
    if (GetFileInformationByHandleEx(handle, FileIdInfo, &id, sizeof id)) {
        identity.known = true;
        identity.volume = id.VolumeSerialNumber;
        std::memcpy(identity.id, id.FileId.Identifier, sizeof identity.id);
    } else if (GetFileInformationByHandle(handle, &information)) {
        identity.known = true;
        identity.volume = information.dwVolumeSerialNumber;
        const uint64_t index =
            (uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow;
        std::memcpy(identity.id, &index, sizeof index);
    }
    return identity;
}

bool same_file(FileHandle a, FileHandle b) {
    const FileIdentity first = identity_of(a), second = identity_of(b);
    // wine reports volume 0 for standard handles it made from POSIX descriptors:
    // 0 counts as any volume.
    return first.known && second.known && std::memcmp(first.id, second.id, sizeof first.id) == 0 &&
           (first.volume == second.volume || first.volume == 0 || second.volume == 0);
}

}  // namespace

std::string refuse_output(FileHandle output, const std::string& where, FileHandle input) {
    if (output != kNoFile && is_console(as_handle(output)))
        return where + " is a terminal; write the video to a file or a pipe";
    if (same_file(output, input)) return "input and output are the same file (" + where + ")";
    return {};
}

std::string refuse_output_path(const std::string& path, const std::string& where,
                               FileHandle input) {
    // Looked at without writing: attributes only, or for a device (CON, say) read
    // and write access without creating anything.
    HANDLE handle =
        open_path(path, FILE_READ_ATTRIBUTES, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return {};
    if (GetFileType(handle) == FILE_TYPE_CHAR) {
        CloseHandle(handle);
        handle = open_path(path, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING, 0, nullptr);
        if (handle == INVALID_HANDLE_VALUE) return {};
    }
    std::string refusal = refuse_output(as_file(handle), where, input);
    CloseHandle(handle);
    return refusal;
}

int usable_processors() {
    DWORD_PTR process_mask = 0, system_mask = 0;
    int processors = 0;
    // An affinity narrower than the system (start /affinity, a job) counts; otherwise
    // every processor group does.
    if (GetProcessAffinityMask(GetCurrentProcess(), &process_mask, &system_mask) &&
        process_mask != 0 && process_mask != system_mask)
        processors = std::popcount(static_cast<std::uint64_t>(process_mask));
    else
        processors = static_cast<int>(GetActiveProcessorCount(ALL_PROCESSOR_GROUPS));
    // A job object's hard cap on CPU time, in hundredths of a percent of the system.
    JOBOBJECT_CPU_RATE_CONTROL_INFORMATION rate{};
    if (QueryInformationJobObject(nullptr, JobObjectCpuRateControlInformation, &rate, sizeof rate,
                                  nullptr) &&
        (rate.ControlFlags & JOB_OBJECT_CPU_RATE_CONTROL_ENABLE) &&
        (rate.ControlFlags & JOB_OBJECT_CPU_RATE_CONTROL_HARD_CAP)) {
        const auto all = static_cast<uint64_t>(GetActiveProcessorCount(ALL_PROCESSOR_GROUPS));
        const uint64_t capped = (static_cast<uint64_t>(rate.CpuRate) * all + 9999) / 10000;
        if (capped > 0 && capped < static_cast<uint64_t>(processors))
            processors = static_cast<int>(capped);
    }
    return std::max(processors, 1);
}

void* reserve_memory(std::size_t bytes) {
    return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void release_memory(void* block, std::size_t) { VirtualFree(block, 0, MEM_RELEASE); }

}  // namespace velnor::cli
