// An experimental vector pass for AVX2 with thirty-two lanes as register pairs
// (vector_avx2_pairs.h): bands of 32 rows, 28 filtered, against 12 of 16 at avx2.
// Target flags set in core/CMakeLists.txt; the dispatcher offers only its 8-bit
// pass (level avx2pairs), so words and floats take the avx2 pass's lower levels.
#include "core/x86/vector_avx2_pairs.h"
// The vector layer first: the pass body is written against it.
#include "core/simd/pass_body.h"

namespace velnor {
namespace {
struct Avx2PairsTuning {
    // Row-wise form up to this share (percent) of samples needing the detectors:
    // avx2's figures, not tuned for the pairs.
    static constexpr int kRowWisePercent = 11;
    static constexpr int kRowWisePercentWide = 16;
    // Box results and confidence thresholds in the sweep, or (VELNOR_PAIRS_PREPARED)
    // in the preparation, as the SSE pairs do for want of registers.
#if defined(VELNOR_PAIRS_PREPARED)
    static constexpr bool kActivityInSweep = false;
#else
    static constexpr bool kActivityInSweep = true;
#endif
};
}  // namespace
}  // namespace velnor

VELNOR_DEFINE_VECTOR_PASS(avx2pairs, Avx2PairsTuning)
