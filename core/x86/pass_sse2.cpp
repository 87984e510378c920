// The vector pass for SSE2 (target flags set in core/CMakeLists.txt).
#include "core/x86/vector_sse2.h"
// The vector layer first: the pass body is written against it.
#include "core/simd/pass_body.h"

namespace velnor {
namespace {
struct Sse2Tuning {
    // Row-wise form up to this share (percent) of samples needing the detectors:
    // about where the two forms take equal time on the bench content.
    static constexpr int kRowWisePercent = 12;
    // The same for 32-bit lanes (16-bit words and floats).
    static constexpr int kRowWisePercentWide = 12;
    static constexpr bool kActivityInSweep = false;
};
}  // namespace
}  // namespace velnor

VELNOR_DEFINE_VECTOR_PASS(sse2, Sse2Tuning)
