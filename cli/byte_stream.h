// Where the Y4M reader takes its bytes from and where the writer puts them: a file
// or standard stream for the program, memory for tests and the fuzzer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/platform.h"

namespace velnor::cli {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads up to `size` bytes; returns how many (0 at end of input), or -1 after a
    // read error, with its description in `error`.
    virtual std::ptrdiff_t read(void* buffer, std::size_t size, std::string* error) = 0;
    // Goes back to the first byte, where the source allows it (a regular file);
    // false where it does not (a pipe).
    virtual bool rewind() { return false; }
    // How many bytes there are from the first byte to the end, where that is known
    // (a regular file: its size now); -1 where it is not (a pipe).
    virtual int64_t size() const { return -1; }
};

class ByteSink {
public:
    virtual ~ByteSink() = default;
    // Writes all `size` bytes; false after a write error, with its description in `error`.
    virtual bool write(const void* data, std::size_t size, std::string* error) = 0;
    // Cuts the output back to the first `size` bytes written, where the destination
    // allows it; false where it does not (a pipe).
    virtual bool cut_back(std::size_t) { return false; }
};

// Reads a file or stream it does not own, waiting for input when there is none yet
// (also on a non-blocking descriptor or pipe). A stop request (cli/stop_request.h)
// ends the wait with the error "interrupted". Implemented in the platform files.
class FileSource final : public ByteSource {
public:
    explicit FileSource(FileHandle file);
    std::ptrdiff_t read(void* buffer, std::size_t size, std::string* error) override;
    bool rewind() override;  // to the file offset it started at
    int64_t size() const override;

private:
    FileHandle file_;
    int64_t start_ = -1;      // file offset of the first byte; -1: not a regular file
    int64_t bytes_read_ = 0;  // for the "input-wait" test event (cli/test_events.h)
};

// Writes to a file or stream it does not own, retrying short and interrupted writes
// and waiting while a non-blocking one is full. A regular file can be cut back to
// where this sink started plus a size, as long as its bytes end the file.
// Implemented in the platform files.
class FileSink final : public ByteSink {
public:
    explicit FileSink(FileHandle file);
    bool write(const void* data, std::size_t size, std::string* error) override;
    bool cut_back(std::size_t size) override;

private:
    FileHandle file_;
    bool regular_file_ = false;
    int64_t start_ = 0;  // file offset of the first byte this sink writes
};

// Hands out a block of memory, at most `chunk` bytes per call so that callers see
// the short reads pipes produce.
class MemorySource final : public ByteSource {
public:
    MemorySource(const uint8_t* data, std::size_t size, std::size_t chunk = SIZE_MAX)
        : data_(data), size_(size), chunk_(chunk == 0 ? 1 : chunk) {}
    std::ptrdiff_t read(void* buffer, std::size_t size, std::string* error) override;
    bool rewind() override {
        position_ = 0;
        return true;
    }
    int64_t size() const override { return static_cast<int64_t>(size_); }

private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t chunk_;
    std::size_t position_ = 0;
};

// Collects everything written; can be told to fail once `limit` bytes are held, after
// keeping what fits, as a full disk does.
class MemorySink final : public ByteSink {
public:
    explicit MemorySink(std::size_t limit = SIZE_MAX) : limit_(limit) {}
    bool write(const void* data, std::size_t size, std::string* error) override;
    bool cut_back(std::size_t size) override;
    const std::vector<uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    std::size_t limit_;
};

}  // namespace velnor::cli
