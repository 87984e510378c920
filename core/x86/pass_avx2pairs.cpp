// The AVX2 level's 8-bit pass in 64-bit builds: thirty-two lanes as register pairs
// (vector_avx2_pairs.h), bands of 32 rows with 28 filtered, against 12 of 16 with
// one register per vector; fewer instructions per sample (1080p noisy: 33.4 M
// against 38.1 M). Words and floats stay in pass_avx2.cpp; both take the level's
// tuning (its row-wise share measured on the single-register pass). Target flags
// set in core/CMakeLists.txt.
#include "core/x86/vector_avx2_pairs.h"
// The vector layer first: the pass body is written against it.
#include "core/simd/pass_body.h"
#include "core/x86/avx2_tuning.h"

VELNOR_DEFINE_BYTE_PASS(avx2pairs, Avx2Tuning)
