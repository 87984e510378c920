#include "core/row_window.h"

#include <cstdlib>

namespace velnor {

namespace {
void* malloc_block(std::size_t bytes) { return std::malloc(bytes); }
void free_block(void* block) { std::free(block); }
}  // namespace

const ScratchAllocator& default_scratch_allocator() {
    static const ScratchAllocator allocator{malloc_block, free_block};
    return allocator;
}

void* acquire_row_sums(int32_t width, const ScratchAllocator& scratch, std::size_t* stride) {
    if (width <= 0) return nullptr;
    const std::size_t entries = static_cast<std::size_t>(width);
    // Slack so that vector passes may read a little past the end.
    constexpr std::size_t kSlack = 16;
    // On 32-bit targets a wide plane would overflow the byte count: treat as no memory.
    if (entries > (SIZE_MAX / 4 - 3 * kSlack) / 3) return nullptr;
    *stride = entries + kSlack;
    return scratch.allocate(3 * *stride * 4);
}

}  // namespace velnor
