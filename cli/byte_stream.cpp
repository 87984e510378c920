#include "cli/byte_stream.h"

#include <algorithm>
#include <cstring>

namespace velnor::cli {

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
