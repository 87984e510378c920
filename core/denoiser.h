// A filter instance's core: immutable settings, the sample format, and the pass
// chosen for them at construction.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/dispatch.h"
#include "core/filter_settings.h"
#include "core/luma_pass.h"
#include "core/sample_format.h"

namespace velnor {

class Denoiser {
public:
    // 8-bit samples.
    explicit Denoiser(const FilterSettings& settings, SimdLevel level = level_from_environment())
        : Denoiser(settings, SampleFormat{}, level) {}

    Denoiser(const FilterSettings& settings, SampleFormat format,
             SimdLevel level = level_from_environment());

    // Filters the settings' width x height samples of format() at `plane` in place;
    // rows are `pitch` bytes apart for every format. The plane must be aligned to the
    // sample size and the pitch a multiple of it (else misaligned, nothing touched).
    PassStatus filter(void* plane, std::ptrdiff_t pitch,
                      const ScratchAllocator& scratch = default_scratch_allocator()) const;

    const FilterSettings& settings() const { return settings_; }
    SampleFormat format() const { return format_; }
    // The level of the pass chosen for this format.
    SimdLevel level() const { return level_; }

private:
    FilterSettings settings_;
    SampleFormat format_;
    SimdLevel level_;
    LumaPass byte_pass_ = nullptr;
    WordPass word_pass_ = nullptr;
    FloatPass float_pass_ = nullptr;
};

}  // namespace velnor
