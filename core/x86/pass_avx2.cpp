// The vector pass for AVX2 (target flags set in core/CMakeLists.txt).
#include "core/x86/vector_avx2.h"
// The vector layer first: the pass body is written against it.
#include "core/x86/pass_body.h"

namespace velnor {
namespace {
struct Avx2Tuning {
    // Row-wise form up to this share (percent) of samples needing the detectors:
    // about where the two forms take equal time on the bench content.
    static constexpr int kRowWisePercent = 11;
    // Box results and confidence thresholds computed in the wavefront's sweep
    // measured faster, most on noisy content.
    static constexpr bool kActivityInSweep = true;
};
}  // namespace
}  // namespace velnor

VELNOR_DEFINE_VECTOR_PASS(avx2, Avx2Tuning)
