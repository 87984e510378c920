// The vector pass's entry points, instantiated once per instruction set: a pass
// file (pass_<isa>.cpp, built with that instruction set's flags) includes its
// vector layer and this file, then VELNOR_DEFINE_VECTOR_PASS(isa, Tuning).
//
// Everything these headers define has internal linkage, and the pass uses no
// inline function or template of a shared header: a copy compiled for one
// instruction set must never be picked by the linker for code that runs on a
// lesser CPU (scripts/checks/simd-objects.sh checks the objects).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/filter_settings.h"
#include "core/luma_pass.h"
#include "core/simd/band_layout.h"
#include "core/simd/fast_passes.h"
#include "core/simd/pass_arith_floats.h"
#include "core/simd/pass_arith_narrow_words.h"
#include "core/simd/pass_arith_vector.h"
#include "core/simd/pass_arith_words.h"
#include "core/simd/row_form.h"
#include "core/simd/wavefront_form.h"
#include "core/simd/word_bands.h"

namespace velnor {
namespace {

// Tuning: kRowWisePercent (share of samples needing the detectors up to which the
// row-wise form is chosen for a band; kRowWisePercentWide for 32-bit lanes) and
// kActivityInSweep (see prepare_band).
// L: the lane type's policy (ByteLanes, WordLanes, FloatLanes). pitch in samples;
// bits for WordLanes only.
template <class L, class Tuning>
PassStatus run_vector_pass(const FilterSettings& settings, int bits, typename L::Sample* plane,
                           std::ptrdiff_t pitch, const ScratchAllocator& allocator, PassForm form,
                           BandForms* forms) {
    using Sample = typename L::Sample;
    const int width = settings.width;
    const int height = settings.height;
    if (plane_stays(settings)) return PassStatus::ok;

    // The vector forms' scratch takes about 12 kLanes bytes per column (twice that
    // for 32-bit lanes); where that is refused, or the width is beyond what acquire
    // accepts (2^25 columns, 2^20 on 32-bit targets), the plain pass, which needs 12
    // bytes, filters the plane with the same result.
    Scratch<L> s;
    if (!acquire(&s, width, allocator))
        return L::reference(settings, bits, plane, pitch, allocator);
    const typename L::Constants c = L::constants(settings, bits);

    for (int top = 0; top + kFirstOut <= height - 1 - kEdge; top += kBandRows) {
        const Band<L> b{plane, pitch, width, height, top, width + kSpan};
        // The band's last filtered row, unfiltered, is the next band's row above;
        // its filtered values will be in the plane by then.
        const int last = top + kFirstOut + kBandRows - 1;
        if (last < height)
            std::memcpy(s.saving, plane + last * pitch,
                        static_cast<std::size_t>(width) * sizeof(Sample));
        const Sample* saved = top > 0 ? s.saved : nullptr;
        copy_band_rows(b, s);
        const bool row_wise = form == PassForm::automatic ? row_wise_suits < L,
                   sizeof(typename L::Element) == 4 ? Tuning::kRowWisePercentWide
                                                    : Tuning::kRowWisePercent > (b, s, c)
            : form == PassForm::row_wise;
        if (row_wise)
            filter_band_row_wise(b, s, c, saved);
        else
            filter_band_wavefront<L, Tuning::kActivityInSweep>(b, s, c, saved);
        if (forms) ++(row_wise ? forms->row_wise : forms->wavefront);
        Sample* swap = s.saved;
        s.saved = s.saving;
        s.saving = swap;
    }
    allocator.release(s.block);
    return PassStatus::ok;
}

// Every entry of the difference-shaping table as the pass computes it in vector
// lanes, out[d + 255] for d = -255..255.
[[maybe_unused]] void probe_shape(int32_t threshold2, int32_t* out) {
    const ByteConstants c = make_constants(FilterSettings(8, 8, 20, 40, threshold2));
    for (int first = -255; first <= 255; first += kLanes) {
        int16_t lanes[kLanes];
        for (int i = 0; i < kLanes; ++i)
            lanes[i] = static_cast<int16_t>(first + i < 255 ? first + i : 255);
        const Vec shaped =
            with_knee_tables(c, [&]<int kTables>() { return shape<kTables>(load(lanes), c); });
        store(lanes, shaped);
        for (int i = 0; i < kLanes && first + i <= 255; ++i) out[first + i + 255] = lanes[i];
    }
}

// The strength product as the pass computes it in vector lanes, out[w + 255] for
// w = -255..255.
[[maybe_unused]] void probe_correction(int32_t strength, int32_t* out) {
    const ByteConstants c = make_constants(FilterSettings(8, 8, strength, 40, 10));
    for (int first = -255; first <= 255; first += kLanes) {
        int16_t lanes[kLanes];
        for (int i = 0; i < kLanes; ++i)
            lanes[i] = static_cast<int16_t>(first + i < 255 ? first + i : 255);
        store(lanes, scaled(load(lanes), c));
        for (int i = 0; i < kLanes && first + i <= 255; ++i) out[first + i + 255] = lanes[i];
    }
}

#if defined(VELNOR_HAVE_DEPTH_PASSES)
// Every shaped difference as the word pass computes it in vector lanes, for the
// knee threshold2 at 8 bits (so the knee itself, clamped as the pass clamps it):
// out[d + 65535] for d = -65535..65535.
[[maybe_unused]] void probe_word_shape(int32_t knee, int32_t* out) {
    const WordConstants c = make_word_constants(FilterSettings(8, 8, 20, 40, knee), 8);
    for (int first = -65535; first <= 65535; first += kLanes) {
        int32_t lanes[kLanes];
        for (int i = 0; i < kLanes; ++i) lanes[i] = first + i < 65535 ? first + i : 65535;
        store_lanes(lanes, with_knee_tables(c, [&]<int kTables>() {
                        return shape<kTables>(load_lanes<Ints>(lanes), c);
                    }));
        for (int i = 0; i < kLanes && first + i <= 65535; ++i) out[first + i + 65535] = lanes[i];
    }
}

// Every shaped difference as the narrow word pass computes it in vector lanes, for
// the scaled knee `knee` (0..255, or above 4095) at 12 bits: out[d + 4095] for d =
// -4095..4095.
[[maybe_unused]] void probe_narrow_shape(int32_t knee, int32_t* out) {
    NarrowConstants c = make_narrow_constants(FilterSettings(8, 8, 20, 40, 10), 12);
    set_narrow_knee(&c, knee, 4095);
    for (int first = -4095; first <= 4095; first += kLanes) {
        int16_t lanes[kLanes];
        for (int i = 0; i < kLanes; ++i)
            lanes[i] = static_cast<int16_t>(first + i < 4095 ? first + i : 4095);
        const NarrowWords shaped = with_knee_tables(
            c, [&]<int kTables>() { return shape<kTables>(NarrowWordLanes::load(lanes), c); });
        NarrowWordLanes::store(lanes, shaped);
        for (int i = 0; i < kLanes && first + i <= 4095; ++i) out[first + i + 4095] = lanes[i];
    }
}
#endif

}  // namespace
}  // namespace velnor

// The entry points fast_passes.h declares for `isa` (those for words and floats in
// 64-bit builds). A level whose 8-bit pass is built on another vector layer defines
// the two parts in two files: VELNOR_DEFINE_BYTE_PASS and VELNOR_DEFINE_DEPTH_PASS.
#define VELNOR_DEFINE_BYTE_PASS(isa, Tuning)                                                   \
    namespace velnor {                                                                         \
    PassStatus filter_luma_##isa(const FilterSettings& settings, uint8_t* plane,               \
                                 std::ptrdiff_t pitch, const ScratchAllocator& scratch) {      \
        return run_vector_pass<ByteLanes, Tuning>(settings, 8, plane, pitch, scratch,          \
                                                  PassForm::automatic, nullptr);               \
    }                                                                                          \
    PassStatus filter_luma_##isa##_form(const FilterSettings& settings, uint8_t* plane,        \
                                        std::ptrdiff_t pitch, const ScratchAllocator& scratch, \
                                        PassForm form, BandForms* forms) {                     \
        return run_vector_pass<ByteLanes, Tuning>(settings, 8, plane, pitch, scratch, form,    \
                                                  forms);                                      \
    }                                                                                          \
    void shape_probe_##isa(int32_t threshold2, int32_t* out) { probe_shape(threshold2, out); } \
    void correction_probe_##isa(int32_t strength, int32_t* out) {                              \
        probe_correction(strength, out);                                                       \
    }                                                                                          \
    }
#define VELNOR_DEFINE_DEPTH_PASS(isa, Tuning) \
    namespace velnor {                        \
    VELNOR_DEFINE_DEPTH_PASSES(isa, Tuning)   \
    }
#define VELNOR_DEFINE_VECTOR_PASS(isa, Tuning) \
    VELNOR_DEFINE_BYTE_PASS(isa, Tuning)       \
    VELNOR_DEFINE_DEPTH_PASS(isa, Tuning)

#if defined(VELNOR_HAVE_DEPTH_PASSES)
#define VELNOR_DEFINE_DEPTH_PASSES(isa, Tuning)                                                  \
    PassStatus filter_words_##isa##_form(                                                        \
        const FilterSettings& settings, int bits, uint16_t* plane, std::ptrdiff_t pitch,         \
        const ScratchAllocator& scratch, PassForm form, BandForms* forms) {                      \
        if (bits < 8 || bits > 16) return PassStatus::bad_format;                                \
        if (narrow_words_suit(settings, bits))                                                   \
            return run_narrow_word_pass<Tuning>(settings, bits, plane, pitch, scratch, form,     \
                                                forms);                                          \
        return run_vector_pass<WordLanes, Tuning>(settings, bits, plane, pitch, scratch, form,   \
                                                  forms);                                        \
    }                                                                                            \
    PassStatus filter_words_##isa(const FilterSettings& settings, int bits, uint16_t* plane,     \
                                  std::ptrdiff_t pitch, const ScratchAllocator& scratch) {       \
        return filter_words_##isa##_form(settings, bits, plane, pitch, scratch,                  \
                                         PassForm::automatic, nullptr);                          \
    }                                                                                            \
    void word_shape_probe_##isa(int32_t knee, int32_t* out) { probe_word_shape(knee, out); }     \
    void narrow_shape_probe_##isa(int32_t knee, int32_t* out) { probe_narrow_shape(knee, out); } \
    PassStatus filter_floats_##isa##_form(const FilterSettings& settings, float* plane,          \
                                          std::ptrdiff_t pitch, const ScratchAllocator& scratch, \
                                          PassForm form, BandForms* forms) {                     \
        return run_vector_pass<FloatLanes, Tuning>(settings, 32, plane, pitch, scratch, form,    \
                                                   forms);                                       \
    }                                                                                            \
    PassStatus filter_floats_##isa(const FilterSettings& settings, float* plane,                 \
                                   std::ptrdiff_t pitch, const ScratchAllocator& scratch) {      \
        return filter_floats_##isa##_form(settings, plane, pitch, scratch, PassForm::automatic,  \
                                          nullptr);                                              \
    }
#else
#define VELNOR_DEFINE_DEPTH_PASSES(isa, Tuning)
#endif
