#include "cli/scratch_reserve.h"

#include <algorithm>

namespace velnor::cli {

namespace {
thread_local ScratchReserve* bound_reserve = nullptr;
}  // namespace

ScratchReserve::ScratchReserve(const ScratchAllocator& source, std::size_t block_bytes,
                               std::size_t capacity)
    : source_(source), block_bytes_(block_bytes) {
    blocks_.reserve(capacity);
    free_.reserve(capacity);
}

ScratchReserve::~ScratchReserve() {
    for (void* block : blocks_) source_.release(block);
}

bool ScratchReserve::add() {
    if (count_ == blocks_.capacity()) return false;
    if (block_bytes_ > 0) {
        void* block = source_.allocate(block_bytes_);
        if (block == nullptr) return false;
        // Workers may be giving blocks back meanwhile, reading blocks_.
        std::lock_guard lock(mutex_);
        blocks_.push_back(block);  // within the reserved capacity
        free_.push_back(block);
    }
    ++count_;
    return true;
}

ScratchReserve::Use::Use(ScratchReserve& reserve) : previous_(bound_reserve) {
    bound_reserve = &reserve;
}

ScratchReserve::Use::~Use() { bound_reserve = previous_; }

const ScratchAllocator& ScratchReserve::allocator() {
    static const ScratchAllocator bound{allocate_bound, release_bound};
    return bound;
}

void* ScratchReserve::allocate_bound(std::size_t bytes) { return bound_reserve->take(bytes); }

void ScratchReserve::release_bound(void* block) { bound_reserve->give_back(block); }

void* ScratchReserve::take(std::size_t bytes) {
    if (bytes <= block_bytes_) {
        std::lock_guard lock(mutex_);
        if (!free_.empty()) {
            void* block = free_.back();
            free_.pop_back();
            return block;
        }
    }
    return source_.allocate(bytes);
}

void ScratchReserve::give_back(void* block) {
    {
        std::lock_guard lock(mutex_);
        if (std::find(blocks_.begin(), blocks_.end(), block) != blocks_.end()) {
            free_.push_back(block);  // within the reserved capacity
            return;
        }
    }
    source_.release(block);
}

}  // namespace velnor::cli
