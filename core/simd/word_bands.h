// The band loop of the vector pass over words of up to 12 bits in the narrow form
// (pass_arith_narrow_words.h). Its bounds hold for words of 0..2^B - 1 only: a band
// holding a larger word runs in the int32 form instead, laid out in the same
// memory, so the result is the plain pass's for any words. Needs a vector layer,
// the pass arithmetic, band_layout.h and both forms first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/filter_settings.h"
#include "core/luma_pass.h"
#include "core/simd/fast_passes.h"

namespace velnor {
namespace {

// Copies count words and returns the largest.
VELNOR_INLINE uint16_t copy_words(uint16_t* __restrict to, const uint16_t* __restrict from,
                                  int count) {
    uint16_t largest = 0;
    for (int x = 0; x < count; ++x) {
        const uint16_t v = from[x];
        to[x] = v;
        largest = v > largest ? v : largest;
    }
    return largest;
}

// copy_band_rows for the narrow form; returns the band's largest word.
VELNOR_INLINE uint16_t copy_narrow_band_rows(const Band<NarrowWordLanes>& b,
                                             const Scratch<NarrowWordLanes>& s) {
    uint16_t largest = 0;
    for (int i = 0; i < kLanes; ++i) {
        const int y = b.top + i;
        uint16_t* row = padded_row(s, i);
        if (y < b.height) {
            const uint16_t row_largest = copy_words(row, b.plane + y * b.pitch, b.width);
            largest = row_largest > largest ? row_largest : largest;
        } else {
            std::memset(row, 0, static_cast<std::size_t>(b.width) * sizeof(uint16_t));
        }
    }
    return largest;
}

// Filters one band in the form asked for; automatic: row-wise where row_wise_suits
// with kPercent says so.
template <class L, int kPercent, bool kActivityInSweep>
VELNOR_INLINE void filter_word_band(const Band<L>& b, const Scratch<L>& s,
                                    const typename L::Constants& c, const uint16_t* saved,
                                    PassForm form, BandForms* forms) {
    const bool row_wise = form == PassForm::automatic ? row_wise_suits<L, kPercent>(b, s, c)
                                                      : form == PassForm::row_wise;
    if (row_wise)
        filter_band_row_wise(b, s, c, saved);
    else
        filter_band_wavefront<L, kActivityInSweep>(b, s, c, saved);
    if (forms) ++(row_wise ? forms->row_wise : forms->wavefront);
}

// The pass for settings narrow_words_suit accepts (Tuning as for run_vector_pass).
template <class Tuning>
PassStatus run_narrow_word_pass(const FilterSettings& settings, int bits, uint16_t* plane,
                                std::ptrdiff_t pitch, const ScratchAllocator& allocator,
                                PassForm form, BandForms* forms) {
    const int width = settings.width;
    const int height = settings.height;
    if (plane_stays(settings)) return PassStatus::ok;

    // One block holds either layout (the int32 one is the larger: what the word pass
    // always took), followed by the two unfiltered rows that pass from band to band
    // whichever form filters them. Where it is refused, the plain pass.
    Scratch<NarrowWordLanes> narrow;
    Scratch<WordLanes> wide;
    ScratchSizes narrow_sizes, wide_sizes;
    void* block = nullptr;
    const std::size_t row = round_up(static_cast<std::size_t>(width) * sizeof(uint16_t));
    std::size_t layout = 0;
    if (scratch_sizes(&narrow, width, &narrow_sizes) && scratch_sizes(&wide, width, &wide_sizes)) {
        layout =
            narrow_sizes.total() > wide_sizes.total() ? narrow_sizes.total() : wide_sizes.total();
        block = allocator.allocate(layout + 2 * row + 64);
    }
    if (!block) return filter_words_reference(settings, bits, plane, pitch, allocator);
    const uintptr_t base = (reinterpret_cast<uintptr_t>(block) + 63) & ~static_cast<uintptr_t>(63);
    uint16_t* saved_row = reinterpret_cast<uint16_t*>(base + layout);
    uint16_t* saving_row = reinterpret_cast<uint16_t*>(base + layout + row);

    const NarrowConstants c = make_narrow_constants(settings, bits);
    WordConstants wide_constants;
    bool wide_made = false, narrow_laid_out = false;
    const int max_sample = (1 << bits) - 1;
    uint16_t saved_largest = 0;
    for (int top = 0; top + kFirstOut <= height - 1 - kEdge; top += kBandRows) {
        // The band's last filtered row, unfiltered, is the next band's row above.
        const int last = top + kFirstOut + kBandRows - 1;
        const uint16_t saving_largest =
            last < height ? copy_words(saving_row, plane + last * pitch, width) : 0;
        const uint16_t* saved = top > 0 ? saved_row : nullptr;
        if (!narrow_laid_out) lay_out_scratch(&narrow, block, narrow_sizes);
        narrow_laid_out = true;
        const Band<NarrowWordLanes> b{plane, pitch, width, height, top, width + kSpan};
        const int largest = copy_narrow_band_rows(b, narrow);
        if (largest <= max_sample && (!saved || saved_largest <= max_sample)) {
            filter_word_band<NarrowWordLanes, Tuning::kRowWisePercent, Tuning::kActivityInSweep>(
                b, narrow, c, saved, form, forms);
        } else {
            lay_out_scratch(&wide, block, wide_sizes);
            narrow_laid_out = false;
            if (!wide_made) wide_constants = make_word_constants(settings, bits);
            wide_made = true;
            const Band<WordLanes> wide_band{plane, pitch, width, height, top, width + kSpan};
            copy_band_rows(wide_band, wide);
            filter_word_band<WordLanes, Tuning::kRowWisePercentWide, Tuning::kActivityInSweep>(
                wide_band, wide, wide_constants, saved, form, forms);
        }
        uint16_t* swap = saved_row;
        saved_row = saving_row;
        saving_row = swap;
        saved_largest = saving_largest;
    }
    allocator.release(block);
    return PassStatus::ok;
}

}  // namespace
}  // namespace velnor
