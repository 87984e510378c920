#include "cli/byte_stream.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "cli/stop_request.h"

namespace velnor::cli {

namespace {
bool would_block(int error) { return error == EAGAIN || error == EWOULDBLOCK; }
}  // namespace

FdSource::FdSource(int fd) : fd_(fd) {
    struct stat file;
    if (fstat(fd, &file) != 0 || !S_ISREG(file.st_mode)) return;
    start_ = lseek(fd, 0, SEEK_CUR);
}

bool FdSource::rewind() { return start_ >= 0 && lseek(fd_, start_, SEEK_SET) == start_; }

std::ptrdiff_t FdSource::read(void* buffer, std::size_t size, std::string* error) {
    for (;;) {
        // Waiting first keeps a stop request from being missed during a blocking read.
        const WaitResult wait = wait_ready(fd_, POLLIN, true);
        if (wait == WaitResult::stopped) {
            *error = "interrupted";
            return -1;
        }
        if (wait == WaitResult::failed) {
            *error = std::strerror(errno);
            return -1;
        }
        const ssize_t got = ::read(fd_, buffer, size);
        if (got >= 0) return got;
        if (errno == EINTR || would_block(errno)) continue;
        *error = std::strerror(errno);
        return -1;
    }
}

FdSink::FdSink(int fd) : fd_(fd) {
    struct stat file;
    if (fstat(fd, &file) != 0 || !S_ISREG(file.st_mode)) return;
    const int flags = fcntl(fd, F_GETFL);
    const off_t start = flags >= 0 && (flags & O_APPEND) ? file.st_size : lseek(fd, 0, SEEK_CUR);
    if (flags < 0 || start < 0) return;
    regular_file_ = true;
    start_ = start;
}

bool FdSink::write(const void* data, std::size_t size, std::string* error) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t put = ::write(fd_, bytes, size);
        if (put < 0) {
            if (errno == EINTR) continue;
            if (would_block(errno) && wait_ready(fd_, POLLOUT, false) == WaitResult::ready)
                continue;
            *error = std::strerror(errno);
            return false;
        }
        bytes += put;
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

bool FdSink::cut_back(std::size_t size) {
    if (!regular_file_) return false;
    // Only where this sink's bytes end the file, so nothing after them is lost.
    struct stat file;
    const off_t position = lseek(fd_, 0, SEEK_CUR);
    if (position < 0 || fstat(fd_, &file) != 0 || file.st_size != position) return false;
    const off_t end = static_cast<off_t>(start_ + static_cast<int64_t>(size));
    if (end > position) return false;
    return ftruncate(fd_, end) == 0 && lseek(fd_, end, SEEK_SET) == end;
}

std::ptrdiff_t MemorySource::read(void* buffer, std::size_t size, std::string*) {
    const std::size_t count = std::min({size, chunk_, size_ - position_});
    if (count > 0) std::memcpy(buffer, data_ + position_, count);
    position_ += count;
    return static_cast<std::ptrdiff_t>(count);
}

bool MemorySink::write(const void* data, std::size_t size, std::string* error) {
    const std::size_t room = limit_ - std::min(limit_, bytes_.size());
    const auto* bytes = static_cast<const uint8_t*>(data);
    bytes_.insert(bytes_.end(), bytes, bytes + std::min(size, room));
    if (size <= room) return true;
    *error = "No space left on device";
    return false;
}

bool MemorySink::cut_back(std::size_t size) {
    if (size < bytes_.size()) bytes_.resize(size);
    return true;
}

}  // namespace velnor::cli
