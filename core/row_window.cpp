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

RowWindow::RowWindow(int32_t width, const ScratchAllocator& scratch) : scratch_(scratch) {
    if (width <= 0) return;
    const std::size_t entries = static_cast<std::size_t>(width);
    // Three arrays plus slack so that vector passes may read a little past the end.
    constexpr std::size_t kSlack = 16;
    // On 32-bit targets a wide plane would overflow the byte count: treat as no memory.
    if (entries > (SIZE_MAX / sizeof(int32_t) - 3 * kSlack) / 3) return;
    const std::size_t stride = entries + kSlack;
    block_ = scratch_.allocate(3 * stride * sizeof(int32_t));
    if (!block_) return;
    upper_ = static_cast<int32_t*>(block_);
    middle_ = upper_ + stride;
    lower_ = middle_ + stride;
}

RowWindow::~RowWindow() {
    if (block_) scratch_.release(block_);
}

}  // namespace velnor
