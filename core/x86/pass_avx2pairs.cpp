// The AVX2 level's 8-bit pass in 64-bit builds: thirty-two lanes as register pairs
// (vector_avx2_pairs.h), bands of 32 rows with 28 filtered, against 12 of 16 with
// one register per vector; fewer instructions per sample (1080p noisy: 33.3 M
// against 38.1 M). Words and floats stay in pass_avx2.cpp. Target flags set in
// core/CMakeLists.txt.
#include "core/x86/vector_avx2_pairs.h"
// The vector layer first: the pass body is written against it.
#include "core/simd/pass_body.h"
#include "core/x86/avx2_tuning.h"

namespace velnor {
namespace {
// The level's tuning, but for the row-wise share: the pairs' wavefront gained more
// than their row-wise form, and the two forms take equal time at about 6% of
// samples needing the detectors (1080p gradients: row-wise 1.01x the wavefront's
// time at 6.4%, 1.10x at 7.8%, 1.31x at 12%).
struct Avx2PairsTuning : Avx2Tuning {
    static constexpr int kRowWisePercent = 6;
};
}  // namespace
}  // namespace velnor

VELNOR_DEFINE_BYTE_PASS(avx2pairs, Avx2PairsTuning)
