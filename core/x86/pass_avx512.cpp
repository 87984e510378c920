// The vector pass for AVX-512 BW and VL (target flags set in core/CMakeLists.txt).
#include "core/x86/vector_avx512.h"
// The vector layer first: the pass body is written against it.
#include "core/simd/pass_body.h"

namespace velnor {
namespace {
struct Avx512Tuning {
    // Row-wise form up to this share (percent) of samples needing the detectors:
    // about where the two forms take equal time on the bench content.
    static constexpr int kRowWisePercent = 6;
    // The same for 32-bit lanes (16-bit words and floats).
    static constexpr int kRowWisePercentWide = 6;
    // Box results and confidence thresholds computed in the wavefront's sweep
    // measured faster, most on noisy content.
    static constexpr bool kActivityInSweep = true;
};
}  // namespace
}  // namespace velnor

VELNOR_DEFINE_VECTOR_PASS(avx512, Avx512Tuning)
