// Whether this CPU runs the AVX-512 pass (BW and VL). The compiler's CPU model
// counts AVX-512 only where the OS also saves the registers (XGETBV), as for AVX2.
// The dispatcher asks, and the build's configure step (whether to test the pass
// through portable code instead).
#pragma once

namespace velnor {

inline bool cpu_runs_avx512() {
    // Also safe when called from a static constructor, before libgcc's own one ran.
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl");
}

}  // namespace velnor
