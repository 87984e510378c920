// The vector pass for AVX2 (target flags set in core/CMakeLists.txt).
#include "core/x86/vector_avx2.h"
// The vector layer first: the pass body is written against it.
#include "core/simd/pass_body.h"

namespace velnor {
namespace {
struct Avx2Tuning {
    // Row-wise form up to this share (percent) of samples needing the detectors:
    // about where the two forms take equal time on the bench content.
    static constexpr int kRowWisePercent = 11;
    // The same for 32-bit lanes (16-bit words and floats): the wavefront's vectors
    // take two registers each there, and faint content (12%) measured faster
    // row-wise (16-bit words 6.5 ms instead of 8.5).
    static constexpr int kRowWisePercentWide = 16;
    // Box results and confidence thresholds computed in the wavefront's sweep
    // measured faster, most on noisy content.
    static constexpr bool kActivityInSweep = true;
};
}  // namespace
}  // namespace velnor

#if defined(VELNOR_HAVE_AVX2_PAIRS)
// The 8-bit pass is pass_avx2pairs.cpp's.
VELNOR_DEFINE_DEPTH_PASS(avx2, Avx2Tuning)
#else
VELNOR_DEFINE_VECTOR_PASS(avx2, Avx2Tuning)
#endif
