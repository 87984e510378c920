// The pass dispatcher: levels forced by name or explicitly, lowered to what the CPU
// runs, and each vector level a pass of its own.
#include "core/dispatch.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "core/denoiser.h"
#include "core/filter_settings.h"
#include "core/luma_pass.h"
#include "tests/tested_levels.h"

namespace velnor {
namespace {

class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            had_old_ = true;
            old_ = old;
        }
        setenv(name, value, 1);
    }
    ~ScopedEnvironment() {
        if (had_old_)
            setenv(name_, old_.c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char* name_;
    bool had_old_ = false;
    std::string old_;
};

// Each level can be forced, by name in the environment or explicitly; a request
// above what the CPU supports comes back lowered, and nonsense is ignored.
TEST(Dispatch, LevelsCanBeForced) {
    const SimdLevel best = best_supported_level();
    const FilterSettings settings(16, 16, 20, 40, 10);
    for (SimdLevel level : kAllLevels) {
        const SimdLevel expected = level < best ? level : best;
        {
            const ScopedEnvironment env("VELNOR_SIMD", level_name(level));
            EXPECT_EQ(level_from_environment(), expected) << level_name(level);
            EXPECT_EQ(Denoiser(settings).level(), expected) << level_name(level);
        }
        EXPECT_EQ(Denoiser(settings, level).level(), expected) << level_name(level);
        EXPECT_EQ(pass_for_level(level), pass_for_level(expected)) << level_name(level);
    }
    EXPECT_EQ(pass_for_level(SimdLevel::reference), &filter_luma_reference);
    for (const char* junk : {"", "SSE2", "avx512", "fastest"}) {
        const ScopedEnvironment env("VELNOR_SIMD", junk);
        EXPECT_EQ(level_from_environment(), best) << junk;
    }
}

// The AVX-512 level is chosen wherever the CPU (and OS) support it; elsewhere the
// native pass goes untested here, and the notice says so (the tests prefixed
// avx512_emulated run it as portable code where the build has them).
TEST(Dispatch, Avx512WhereTheCpuHasIt) {
#if defined(__x86_64__)
    __builtin_cpu_init();
    if (!__builtin_cpu_supports("avx512bw") || !__builtin_cpu_supports("avx512vl"))
        GTEST_SKIP() << "NOTICE: this CPU lacks AVX-512BW/VL; the native avx512 level was "
                        "not tested";
    EXPECT_EQ(best_supported_level(), SimdLevel::avx512);
#else
    GTEST_SKIP() << "the avx512 level exists in x86-64 builds only";
#endif
}

// Distinct levels are distinct implementations, so the differential tests compare
// something; on an x86-64 build at least SSE2 is always there.
TEST(Dispatch, VectorLevelsAreSeparatePasses) {
#if defined(__x86_64__)
    ASSERT_GE(best_supported_level(), SimdLevel::sse2);
#endif
    for (SimdLevel level : test::tested_levels())
        EXPECT_NE(pass_for_level(level), &filter_luma_reference) << level_name(level);
}

}  // namespace
}  // namespace velnor
