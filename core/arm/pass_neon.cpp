// The vector pass for NEON (AArch64's baseline: no target flags).
#include "core/arm/vector_neon.h"
// The vector layer first: the pass body is written against it.
#include "core/simd/pass_body.h"

namespace velnor {
namespace {
struct NeonTuning {
    // Row-wise form up to this share (percent) of samples needing the detectors,
    // as on SSE, whose vectors have the same shape.
    static constexpr int kRowWisePercent = 12;
    // The same for 32-bit lanes (16-bit words and floats).
    static constexpr int kRowWisePercentWide = 12;
    // Thirty-two vector registers leave room for the box results and confidence
    // thresholds in the wavefront's sweep.
    static constexpr bool kActivityInSweep = true;
};
}  // namespace
}  // namespace velnor

VELNOR_DEFINE_VECTOR_PASS(neon, NeonTuning)
