// Scratch memory set aside for the filter before frame buffers take the rest: one
// block per worker, each as large as the least a pass filters with, so that frames
// in flight never leave a worker without room to filter. Larger requests (the
// vector passes' scratch) go to the source allocator; where it refuses them the
// pass falls back to its plain form, with the same result.
#pragma once

#include <cstddef>
#include <mutex>
#include <vector>

#include "core/luma_pass.h"

namespace velnor::cli {

class ScratchReserve {
public:
    // Up to `capacity` blocks of `block_bytes` (0: the filter needs none); may throw
    // std::bad_alloc.
    ScratchReserve(const ScratchAllocator& source, std::size_t block_bytes, std::size_t capacity);
    ~ScratchReserve();
    ScratchReserve(const ScratchReserve&) = delete;
    ScratchReserve& operator=(const ScratchReserve&) = delete;

    // Sets aside one more block; false when the source refuses it or the capacity is
    // reached.
    bool add();
    std::size_t blocks() const { return count_; }

    // Makes allocator() serve this reserve on the calling thread while it exists.
    class Use {
    public:
        explicit Use(ScratchReserve& reserve);
        ~Use();
        Use(const Use&) = delete;
        Use& operator=(const Use&) = delete;

    private:
        ScratchReserve* previous_;
    };
    // Requests up to the block size take a free reserved block, others (and those
    // when none is free) go to the source. Only under a Use on the calling thread.
    static const ScratchAllocator& allocator();

private:
    void* take(std::size_t bytes);
    void give_back(void* block);
    static void* allocate_bound(std::size_t bytes);
    static void release_bound(void* block);

    const ScratchAllocator& source_;
    const std::size_t block_bytes_;
    std::size_t count_ = 0;
    std::mutex mutex_;
    // Both guarded by mutex_, their capacity reserved up front: nothing allocates later.
    std::vector<void*> blocks_;
    std::vector<void*> free_;
};

}  // namespace velnor::cli
