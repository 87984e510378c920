// The vectorised passes, one per instruction set. Each gives exactly the output of
// filter_luma_reference; call one only on a CPU that has its instruction set.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/dispatch.h"
#include "core/luma_pass.h"

namespace velnor {

// The vector passes for 16-bit words and floats exist in 64-bit builds only: the
// 32-bit plug-in stays 8-bit (and its AVX2 object free of aligned stack moves).
#if UINTPTR_MAX > 0xFFFFFFFFu
#define VELNOR_HAVE_DEPTH_PASSES 1
#endif

// The two ways a vector pass filters a band of rows: the wavefront form (many
// samples reach the detectors) and the row-wise form (few do). automatic picks one
// per band from a sample of its rows.
enum class PassForm { automatic, wavefront, row_wise };

// How many bands took each form.
struct BandForms {
    int wavefront = 0;
    int row_wise = 0;
};

// A pass with its form chosen by the caller; counts the bands of each form into
// `forms` unless it is null.
using FormPass = PassStatus (*)(const FilterSettings& settings, uint8_t* plane,
                                std::ptrdiff_t pitch, const ScratchAllocator& scratch,
                                PassForm form, BandForms* forms);

// The same for 16-bit words and for floats (pitch in samples).
using WordFormPass = PassStatus (*)(const FilterSettings& settings, int bits, uint16_t* plane,
                                    std::ptrdiff_t pitch, const ScratchAllocator& scratch,
                                    PassForm form, BandForms* forms);
using FloatFormPass = PassStatus (*)(const FilterSettings& settings, float* plane,
                                     std::ptrdiff_t pitch, const ScratchAllocator& scratch,
                                     PassForm form, BandForms* forms);

// The vector form of the difference-shaping table: out[d + 255] for every d in
// -255..255.
using ShapeProbe = void (*)(int32_t threshold2, int32_t* out);

// The vector form of the strength product trunc(w * k): out[w + 255] for every w
// in -255..255.
using CorrectionProbe = void (*)(int32_t strength, int32_t* out);

// The word pass's difference shaping in vector lanes: out[d + 65535] for every d in
// -65535..65535 with knee `knee` (threshold2 at 8 bits).
using WordShapeProbe = void (*)(int32_t knee, int32_t* out);

// The narrow word pass's difference shaping in vector lanes at 12 bits: out[d + 4095]
// for every d in -4095..4095 with the scaled knee `knee` (0..255, or above 4095).
using NarrowShapeProbe = void (*)(int32_t knee, int32_t* out);

// filter_luma_<isa> (a LumaPass), filter_luma_<isa>_form (a FormPass),
// shape_probe_<isa> (a ShapeProbe) and correction_probe_<isa> (a CorrectionProbe):
// the 8-bit pass (pass_body.h's VELNOR_DEFINE_BYTE_PASS). VELNOR_DECLARE_VECTOR_PASS
// adds filter_words_<isa> (a WordPass), filter_words_<isa>_form (a WordFormPass),
// word_shape_probe_<isa> (a WordShapeProbe), narrow_shape_probe_<isa> (a
// NarrowShapeProbe), filter_floats_<isa> (a FloatPass) and filter_floats_<isa>_form (a
// FloatFormPass). Defined in core/<architecture>/pass_<isa>.cpp.
#define VELNOR_DECLARE_BYTE_PASS(isa)                                                          \
    PassStatus filter_luma_##isa(const FilterSettings& settings, uint8_t* plane,               \
                                 std::ptrdiff_t pitch, const ScratchAllocator& scratch);       \
    PassStatus filter_luma_##isa##_form(const FilterSettings& settings, uint8_t* plane,        \
                                        std::ptrdiff_t pitch, const ScratchAllocator& scratch, \
                                        PassForm form, BandForms* forms);                      \
    void shape_probe_##isa(int32_t threshold2, int32_t* out);                                  \
    void correction_probe_##isa(int32_t strength, int32_t* out);
#define VELNOR_DECLARE_VECTOR_PASS(isa)                                                          \
    VELNOR_DECLARE_BYTE_PASS(isa)                                                                \
    PassStatus filter_words_##isa(const FilterSettings& settings, int bits, uint16_t* plane,     \
                                  std::ptrdiff_t pitch, const ScratchAllocator& scratch);        \
    PassStatus filter_words_##isa##_form(                                                        \
        const FilterSettings& settings, int bits, uint16_t* plane, std::ptrdiff_t pitch,         \
        const ScratchAllocator& scratch, PassForm form, BandForms* forms);                       \
    void word_shape_probe_##isa(int32_t knee, int32_t* out);                                     \
    void narrow_shape_probe_##isa(int32_t knee, int32_t* out);                                   \
    PassStatus filter_floats_##isa(const FilterSettings& settings, float* plane,                 \
                                   std::ptrdiff_t pitch, const ScratchAllocator& scratch);       \
    PassStatus filter_floats_##isa##_form(const FilterSettings& settings, float* plane,          \
                                          std::ptrdiff_t pitch, const ScratchAllocator& scratch, \
                                          PassForm form, BandForms* forms);

VELNOR_DECLARE_VECTOR_PASS(sse2)
VELNOR_DECLARE_VECTOR_PASS(sse41)
VELNOR_DECLARE_VECTOR_PASS(avx2)
VELNOR_DECLARE_BYTE_PASS(avx2pairs)  // the AVX2 level's 8-bit pass in 64-bit builds
VELNOR_DECLARE_VECTOR_PASS(avx512)
VELNOR_DECLARE_VECTOR_PASS(neon)

// The parts of `level`'s vector pass, for tests and benchmarks; null for the
// reference or a level this build or CPU lacks.
FormPass form_pass_for_level(SimdLevel level);
WordFormPass word_form_pass_for_level(SimdLevel level);
FloatFormPass float_form_pass_for_level(SimdLevel level);
ShapeProbe shape_probe_for_level(SimdLevel level);
WordShapeProbe word_shape_probe_for_level(SimdLevel level);
NarrowShapeProbe narrow_shape_probe_for_level(SimdLevel level);
CorrectionProbe correction_probe_for_level(SimdLevel level);

}  // namespace velnor
