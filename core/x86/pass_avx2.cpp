// The vector pass for AVX2 (target flags set in core/CMakeLists.txt).
#include "core/x86/vector_avx2.h"
// The vector layer first: the pass body is written against it.
#include "core/simd/pass_body.h"
#include "core/x86/avx2_tuning.h"

#if defined(VELNOR_HAVE_AVX2_PAIRS)
// The 8-bit pass is pass_avx2pairs.cpp's.
VELNOR_DEFINE_DEPTH_PASS(avx2, Avx2Tuning)
#else
VELNOR_DEFINE_VECTOR_PASS(avx2, Avx2Tuning)
#endif
