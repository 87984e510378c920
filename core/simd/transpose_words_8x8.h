// The wavefront's transposes of 16-bit words for the two-halves layers of 128-bit
// halves (SSE, NEON), built on an 8 x 8 transpose that each such layer defines with
// its own intrinsics.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/simd/vector_common.h"
#include "core/simd/vector_two_halves.h"

namespace velnor {
namespace {

static_assert(kHalfLanes == 8, "one 128-bit register a half");

// 8 x 8 lanes of 16 bits, out[j][i] = in[i][j] with each row eight consecutive
// elements: each layer defines it with its own intrinsics.
VELNOR_INLINE void transpose8_words(const void* const in[8], void* const out[8]);

// 8 rows (row_step words apart) of 8 words to 8 steps of 8 lanes (kLanes words
// apart), and back.
constexpr int kWordTransposeSteps = 8;
VELNOR_INLINE void transpose_words_to_steps(const uint16_t* rows, std::ptrdiff_t row_step,
                                            int16_t* steps) {
    const void* in[8];
    void* out[8];
    for (int i = 0; i < 8; ++i) in[i] = rows + i * row_step, out[i] = steps + i * kLanes;
    transpose8_words(in, out);
}
VELNOR_INLINE void transpose_words_to_rows(const int16_t* steps, uint16_t* rows,
                                           std::ptrdiff_t row_step) {
    const void* in[8];
    void* out[8];
    for (int i = 0; i < 8; ++i) in[i] = steps + i * kLanes, out[i] = rows + i * row_step;
    transpose8_words(in, out);
}

}  // namespace
}  // namespace velnor
