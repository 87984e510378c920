// What the x86 vector layers share beyond core/simd/vector_common.h: the
// intrinsics, and the types through which the pass arithmetic hands them a 16-byte
// table and a shift count.
#pragma once

#include <immintrin.h>

#include "core/simd/vector_common.h"

namespace velnor {
namespace {

// 16 bytes for look_up(); the shift count for unsigned_shift_right(), held in the
// low quadword.
typedef __m128i ByteTable;
typedef __m128i ShiftCount;
VELNOR_INLINE ByteTable load_byte_table(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
VELNOR_INLINE ShiftCount shift_count(int n) { return _mm_cvtsi32_si128(n); }

}  // namespace
}  // namespace velnor
