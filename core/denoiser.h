// A filter instance's core: immutable settings plus the pass chosen at construction.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/dispatch.h"
#include "core/filter_settings.h"
#include "core/luma_pass.h"

namespace velnor {

class Denoiser {
public:
    explicit Denoiser(const FilterSettings& settings, SimdLevel level = level_from_environment())
        : settings_(settings), level_(supported_level(level)), pass_(pass_for_level(level_)) {}

    // Filters the settings' width x height luma samples at `plane` in place.
    PassStatus filter(uint8_t* plane, std::ptrdiff_t pitch,
                      const ScratchAllocator& scratch = default_scratch_allocator()) const {
        return pass_(settings_, plane, pitch, scratch);
    }

    const FilterSettings& settings() const { return settings_; }
    SimdLevel level() const { return level_; }

private:
    FilterSettings settings_;
    SimdLevel level_;
    LumaPass pass_;
};

}  // namespace velnor
