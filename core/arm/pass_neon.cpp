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
    // Box results and confidence thresholds computed in the preparation: 2% fewer
    // instructions on noisy 8-bit content than in the sweep, which spills more.
    static constexpr bool kActivityInSweep = false;
};
}  // namespace
}  // namespace velnor

VELNOR_DEFINE_VECTOR_PASS(neon, NeonTuning)
