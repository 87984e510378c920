// The AVX2 level's 8-bit pass in 64-bit builds: thirty-two lanes as register pairs
// (vector_avx2_pairs.h), bands of 32 rows with 28 filtered, against 12 of 16 with
// one register per vector; fewer instructions per sample (1080p noisy: 33.4 M
// against 38.1 M). Words and floats stay in pass_avx2.cpp. Target flags set in
// core/CMakeLists.txt.
#include "core/x86/vector_avx2_pairs.h"
// The vector layer first: the pass body is written against it.
#include "core/simd/pass_body.h"

namespace velnor {
namespace {
struct Avx2PairsTuning {
    // Row-wise form up to this share (percent) of samples needing the detectors:
    // the single-register pass's figures (the template asks for both; only bytes
    // run here).
    static constexpr int kRowWisePercent = 11;
    static constexpr int kRowWisePercentWide = 16;
    // Box results and confidence thresholds computed in the wavefront's sweep.
    static constexpr bool kActivityInSweep = true;
};
}  // namespace
}  // namespace velnor

VELNOR_DEFINE_BYTE_PASS(avx2pairs, Avx2PairsTuning)
