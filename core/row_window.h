// The three rotating arrays of horizontal 3-sums a pass keeps: rows y-1, y, y+1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "core/luma_pass.h"

namespace velnor {

class RowWindow {
public:
    // Acquires three arrays of `width` entries; valid() tells whether it worked.
    RowWindow(int32_t width, const ScratchAllocator& scratch);
    ~RowWindow();
    RowWindow(const RowWindow&) = delete;
    RowWindow& operator=(const RowWindow&) = delete;

    bool valid() const { return block_ != nullptr; }
    int32_t* upper() const { return upper_; }
    int32_t* middle() const { return middle_; }
    int32_t* lower() const { return lower_; }

    // Upper takes middle's array, middle takes lower's, lower gets the old upper.
    void rotate() {
        std::swap(upper_, middle_);
        std::swap(middle_, lower_);
    }

private:
    const ScratchAllocator& scratch_;
    void* block_ = nullptr;
    int32_t* upper_ = nullptr;
    int32_t* middle_ = nullptr;
    int32_t* lower_ = nullptr;
};

}  // namespace velnor
