#include "cli/byte_stream.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace velnor::cli {

std::ptrdiff_t FdSource::read(void* buffer, std::size_t size, std::string* error) {
    for (;;) {
        const ssize_t got = ::read(fd_, buffer, size);
        if (got >= 0) return got;
        if (errno == EINTR) continue;
        *error = std::strerror(errno);
        return -1;
    }
}

bool FdSink::write(const void* data, std::size_t size, std::string* error) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t put = ::write(fd_, bytes, size);
        if (put < 0) {
            if (errno == EINTR) continue;
            *error = std::strerror(errno);
            return false;
        }
        bytes += put;
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

std::ptrdiff_t MemorySource::read(void* buffer, std::size_t size, std::string*) {
    const std::size_t count = std::min({size, chunk_, size_ - position_});
    if (count > 0) std::memcpy(buffer, data_ + position_, count);
    position_ += count;
    return static_cast<std::ptrdiff_t>(count);
}

bool MemorySink::write(const void* data, std::size_t size, std::string* error) {
    if (size > limit_ - std::min(limit_, bytes_.size())) {
        *error = "No space left on device";
        return false;
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    bytes_.insert(bytes_.end(), bytes, bytes + size);
    return true;
}

}  // namespace velnor::cli
