// The vector levels the differential tests compare with the reference pass.
#pragma once

#include <vector>

#include "core/dispatch.h"

namespace velnor::test {

// Every vector level this build has and this CPU runs; only VELNOR_TESTED_LEVEL
// (a SimdLevel) in a test build of one level, such as the AVX-512 pass built over
// portable code.
inline std::vector<SimdLevel> tested_levels() {
    std::vector<SimdLevel> levels;
    for (SimdLevel level : kAllLevels) {
#if defined(VELNOR_TESTED_LEVEL)
        const bool tested = level == SimdLevel::VELNOR_TESTED_LEVEL;
#else
        const bool tested = level != SimdLevel::reference && level <= best_supported_level();
#endif
        if (tested) levels.push_back(level);
    }
    return levels;
}

}  // namespace velnor::test
