// The vectorised passes, one per instruction set. Each gives exactly the output of
// filter_luma_reference; call one only on a CPU that has its instruction set.
#pragma once

#include "core/luma_pass.h"

namespace velnor {

PassStatus filter_luma_sse2(const FilterSettings& settings, uint8_t* plane, std::ptrdiff_t pitch,
                            const ScratchAllocator& scratch);
PassStatus filter_luma_sse41(const FilterSettings& settings, uint8_t* plane, std::ptrdiff_t pitch,
                             const ScratchAllocator& scratch);
PassStatus filter_luma_avx2(const FilterSettings& settings, uint8_t* plane, std::ptrdiff_t pitch,
                            const ScratchAllocator& scratch);

}  // namespace velnor
