// Where the Y4M reader takes its bytes from and where the writer puts them: a file
// descriptor for the program, memory for tests and the fuzzer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velnor::cli {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads up to `size` bytes; returns how many (0 at end of input), or -1 after a
    // read error, with its description in `error`.
    virtual std::ptrdiff_t read(void* buffer, std::size_t size, std::string* error) = 0;
};

class ByteSink {
public:
    virtual ~ByteSink() = default;
    // Writes all `size` bytes; false after a write error, with its description in `error`.
    virtual bool write(const void* data, std::size_t size, std::string* error) = 0;
};

// Reads a file descriptor it does not own, retrying interrupted calls.
class FdSource final : public ByteSource {
public:
    explicit FdSource(int fd) : fd_(fd) {}
    std::ptrdiff_t read(void* buffer, std::size_t size, std::string* error) override;

private:
    int fd_;
};

// Writes to a file descriptor it does not own, retrying short and interrupted writes.
class FdSink final : public ByteSink {
public:
    explicit FdSink(int fd) : fd_(fd) {}
    bool write(const void* data, std::size_t size, std::string* error) override;

private:
    int fd_;
};

// Hands out a block of memory, at most `chunk` bytes per call so that callers see
// the short reads pipes produce.
class MemorySource final : public ByteSource {
public:
    MemorySource(const uint8_t* data, std::size_t size, std::size_t chunk = SIZE_MAX)
        : data_(data), size_(size), chunk_(chunk == 0 ? 1 : chunk) {}
    std::ptrdiff_t read(void* buffer, std::size_t size, std::string* error) override;

private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t chunk_;
    std::size_t position_ = 0;
};

// Collects everything written; can be told to fail once `limit` bytes are held.
class MemorySink final : public ByteSink {
public:
    explicit MemorySink(std::size_t limit = SIZE_MAX) : limit_(limit) {}
    bool write(const void* data, std::size_t size, std::string* error) override;
    const std::vector<uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    std::size_t limit_;
};

}  // namespace velnor::cli
