// The vectorised passes, one per instruction set. Each gives exactly the output of
// filter_luma_reference; call one only on a CPU that has its instruction set.
#pragma once

#include "core/dispatch.h"
#include "core/luma_pass.h"

namespace velnor {

PassStatus filter_luma_sse2(const FilterSettings& settings, uint8_t* plane, std::ptrdiff_t pitch,
                            const ScratchAllocator& scratch);
PassStatus filter_luma_sse41(const FilterSettings& settings, uint8_t* plane, std::ptrdiff_t pitch,
                             const ScratchAllocator& scratch);
PassStatus filter_luma_avx2(const FilterSettings& settings, uint8_t* plane, std::ptrdiff_t pitch,
                            const ScratchAllocator& scratch);

// Each pass's vector form of the difference-shaping table: out[d + 255] for every
// d in -255..255. For tests; call only on a CPU with the instruction set.
using ShapeProbe = void (*)(int32_t threshold2, int32_t* out);
void shape_probe_sse2(int32_t threshold2, int32_t* out);
void shape_probe_sse41(int32_t threshold2, int32_t* out);
void shape_probe_avx2(int32_t threshold2, int32_t* out);

// The probe of `level`'s pass; null for the reference or a level not supported here.
ShapeProbe shape_probe_for_level(SimdLevel level);

}  // namespace velnor
