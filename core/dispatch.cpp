#include "core/dispatch.h"

#include <cstdlib>

namespace velnor {

namespace {
struct LevelName {
    SimdLevel level;
    const char* name;
};
constexpr LevelName kLevelNames[] = {
    {SimdLevel::reference, "reference"},
    {SimdLevel::sse2, "sse2"},
    {SimdLevel::sse41, "sse4.1"},
    {SimdLevel::avx2, "avx2"},
};
}  // namespace

const char* level_name(SimdLevel level) {
    for (const LevelName& entry : kLevelNames)
        if (entry.level == level) return entry.name;
    return "unknown";
}

bool parse_level(std::string_view name, SimdLevel* level) {
    for (const LevelName& entry : kLevelNames) {
        if (name == entry.name) {
            *level = entry.level;
            return true;
        }
    }
    return false;
}

SimdLevel best_supported_level() { return SimdLevel::reference; }

SimdLevel level_from_environment() {
    SimdLevel level = best_supported_level();
    SimdLevel requested;
    const char* value = std::getenv("VELNOR_SIMD");
    if (value && parse_level(value, &requested) && requested < level) level = requested;
    return level;
}

LumaPass pass_for_level(SimdLevel level) {
    if (level > best_supported_level()) level = best_supported_level();
    switch (level) {
        default:
            return filter_luma_reference;
    }
}

}  // namespace velnor
