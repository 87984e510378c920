// The in-place luma pass: its entry points and the scratch memory it borrows.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/filter_settings.h"

namespace velnor {

enum class PassStatus {
    ok,             // the plane was filtered
    out_of_memory,  // the row-sum window could not be acquired; the plane is unchanged
    misaligned,     // plane or pitch not a whole number of samples; the plane is unchanged
    bad_format,     // a sample format no pass handles; the plane is unchanged
};

// Where a pass takes its per-call scratch from. Both functions must be safe to call
// from several threads at once. allocate returns null on failure.
struct ScratchAllocator {
    void* (*allocate)(std::size_t bytes);
    void (*release)(void* block);
};

// malloc and free of the module that contains the core.
const ScratchAllocator& default_scratch_allocator();

// Filters settings.width x settings.height samples at `plane` (rows `pitch` bytes
// apart) in place. Samples outside that rectangle are never read or written.
using LumaPass = PassStatus (*)(const FilterSettings& settings, uint8_t* plane,
                                std::ptrdiff_t pitch, const ScratchAllocator& scratch);

// The same for samples of `bits` bits (9..16; 8 is accepted too) in 16-bit words,
// rows `pitch` words apart.
using WordPass = PassStatus (*)(const FilterSettings& settings, int bits, uint16_t* plane,
                                std::ptrdiff_t pitch, const ScratchAllocator& scratch);

// The same for 32-bit float samples, rows `pitch` floats apart.
using FloatPass = PassStatus (*)(const FilterSettings& settings, float* plane, std::ptrdiff_t pitch,
                                 const ScratchAllocator& scratch);

// The plain passes, written to follow the algorithm step by step. Every faster
// integer pass must produce exactly their output; a faster float pass may differ
// only where its additions round differently.
PassStatus filter_luma_reference(const FilterSettings& settings, uint8_t* plane,
                                 std::ptrdiff_t pitch, const ScratchAllocator& scratch);
PassStatus filter_words_reference(const FilterSettings& settings, int bits, uint16_t* plane,
                                  std::ptrdiff_t pitch, const ScratchAllocator& scratch);
PassStatus filter_floats_reference(const FilterSettings& settings, float* plane,
                                   std::ptrdiff_t pitch, const ScratchAllocator& scratch);

}  // namespace velnor
