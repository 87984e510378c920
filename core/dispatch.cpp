#include "core/dispatch.h"

#include <cstdlib>

#include "core/x86/fast_passes.h"

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

SimdLevel best_supported_level() {
#if defined(VELNOR_HAVE_SSE2)
    // Also safe when called from a static constructor, before libgcc's own one ran.
    __builtin_cpu_init();
#endif
#if defined(VELNOR_HAVE_AVX2)
    if (__builtin_cpu_supports("avx2")) return SimdLevel::avx2;
#endif
#if defined(VELNOR_HAVE_SSE41)
    if (__builtin_cpu_supports("sse4.1")) return SimdLevel::sse41;
#endif
#if defined(VELNOR_HAVE_SSE2)
    if (__builtin_cpu_supports("sse2")) return SimdLevel::sse2;
#endif
    return SimdLevel::reference;
}

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
#if defined(VELNOR_HAVE_AVX2)
        case SimdLevel::avx2:
            return filter_luma_avx2;
#endif
#if defined(VELNOR_HAVE_SSE41)
        case SimdLevel::sse41:
            return filter_luma_sse41;
#endif
#if defined(VELNOR_HAVE_SSE2)
        case SimdLevel::sse2:
            return filter_luma_sse2;
#endif
        default:
            return filter_luma_reference;
    }
}

ShapeProbe shape_probe_for_level(SimdLevel level) {
    if (level > best_supported_level()) return nullptr;
    switch (level) {
#if defined(VELNOR_HAVE_AVX2)
        case SimdLevel::avx2:
            return shape_probe_avx2;
#endif
#if defined(VELNOR_HAVE_SSE41)
        case SimdLevel::sse41:
            return shape_probe_sse41;
#endif
#if defined(VELNOR_HAVE_SSE2)
        case SimdLevel::sse2:
            return shape_probe_sse2;
#endif
        default:
            return nullptr;
    }
}

}  // namespace velnor
