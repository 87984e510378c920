// The three rotating arrays of horizontal 3-sums a pass keeps: rows y-1, y, y+1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "core/luma_pass.h"

namespace velnor {

// Acquires three arrays of `entries` 4-byte entries from `scratch` (plus slack a
// vector pass may read past the end); null when the count overflows or the
// allocation fails.
void* acquire_row_sums(int32_t entries, const ScratchAllocator& scratch, std::size_t* stride);

// Sum is int32_t for integer samples, float for float samples.
template <class Sum>
class RowWindow {
    static_assert(sizeof(Sum) == 4, "the window's arrays hold 4-byte entries");

public:
    RowWindow(int32_t width, const ScratchAllocator& scratch) : scratch_(scratch) {
        std::size_t stride = 0;
        block_ = acquire_row_sums(width, scratch, &stride);
        if (!block_) return;
        upper_ = static_cast<Sum*>(block_);
        middle_ = upper_ + stride;
        lower_ = middle_ + stride;
    }
    ~RowWindow() {
        if (block_) scratch_.release(block_);
    }
    RowWindow(const RowWindow&) = delete;
    RowWindow& operator=(const RowWindow&) = delete;

    bool valid() const { return block_ != nullptr; }
    Sum* upper() const { return upper_; }
    Sum* middle() const { return middle_; }
    Sum* lower() const { return lower_; }

    // Upper takes middle's array, middle takes lower's, lower gets the old upper.
    void rotate() {
        std::swap(upper_, middle_);
        std::swap(middle_, lower_);
    }

private:
    const ScratchAllocator& scratch_;
    void* block_ = nullptr;
    Sum* upper_ = nullptr;
    Sum* middle_ = nullptr;
    Sum* lower_ = nullptr;
};

}  // namespace velnor
