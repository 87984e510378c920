// The AVX2 level's tuning, shared by its two pass files (pass_avx2.cpp: words and
// floats, and bytes in 32-bit builds; pass_avx2pairs.cpp: bytes in 64-bit builds).
#pragma once

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
