#include "cli/replay_source.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "cli/platform.h"

namespace velnor::cli {

ReplaySource::~ReplaySource() {
    while (first_ < blocks_.size()) release_front();
}

std::size_t ReplaySource::held_bytes() const { return (blocks_.size() - first_) * kBlockBytes; }

void ReplaySource::release_front() {
    release_memory(blocks_[first_], kBlockBytes);
    blocks_[first_++] = nullptr;
}

void ReplaySource::keep(const uint8_t* bytes, std::size_t size) {
    while (size > 0) {
        if (kept_ == blocks_.size() * kBlockBytes) {
            blocks_.reserve(blocks_.size() + 1);  // may throw before anything is mapped
            void* block = reserve_memory(kBlockBytes);
            if (block == nullptr) throw std::bad_alloc();
            blocks_.push_back(static_cast<uint8_t*>(block));
        }
        const std::size_t offset = kept_ % kBlockBytes;
        const std::size_t take = std::min(size, kBlockBytes - offset);
        std::memcpy(blocks_.back() + offset, bytes, take);
        kept_ += take;
        bytes += take;
        size -= take;
    }
}

std::ptrdiff_t ReplaySource::read(void* buffer, std::size_t size, std::string* error) {
    if (replaying_ && position_ < kept_) {
        const std::size_t offset = position_ % kBlockBytes;
        const std::size_t count = std::min({size, kept_ - position_, kBlockBytes - offset});
        std::memcpy(buffer, blocks_[position_ / kBlockBytes] + offset, count);
        position_ += count;
        if (position_ % kBlockBytes == 0 || position_ == kept_) release_front();
        return static_cast<std::ptrdiff_t>(count);
    }
    if (ended_) {
        if (result_ < 0) *error = error_;
        return result_;
    }
    const std::ptrdiff_t got = inner_.read(buffer, size, error);
    if (!replaying_) {
        if (got > 0) {
            keep(static_cast<const uint8_t*>(buffer), static_cast<std::size_t>(got));
        } else {
            ended_ = true;  // an end or an error is not read twice from the source
            result_ = got;
            if (got < 0) error_ = *error;
        }
    }
    return got;
}

}  // namespace velnor::cli
