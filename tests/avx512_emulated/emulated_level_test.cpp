// The emulated build tests what it claims to: its dispatcher hands out its own
// AVX-512 pass for every sample type, whatever the CPU, so that the differential
// tests compiled into it compare that pass and not the reference with itself.
#include <gtest/gtest.h>

#include "core/dispatch.h"
#include "core/luma_pass.h"
#include "core/simd/fast_passes.h"

namespace velnor {
namespace {

TEST(EmulatedLevel, DispatchesTheAvx512PassForEverySampleType) {
    EXPECT_EQ(best_supported_level(), SimdLevel::avx512);
    EXPECT_EQ(pass_for_level(SimdLevel::avx512), &filter_luma_avx512);
    EXPECT_EQ(word_pass_for_level(SimdLevel::avx512), &filter_words_avx512);
    EXPECT_EQ(float_pass_for_level(SimdLevel::avx512), &filter_floats_avx512);
}

}  // namespace
}  // namespace velnor
