// Chooses among the pass implementations: the best the CPU supports, or a lower
// level on request so that every level can be tested and compared.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "core/luma_pass.h"

namespace velnor {

// Within one architecture, ordered from slowest to fastest.
enum class SimdLevel { reference, sse2, sse41, avx2, avx512, neon };

// The levels of this build's architecture, slowest first, with the names
// level_name gives and VELNOR_SIMD takes: the one list of them.
struct LevelName {
    SimdLevel level;
    const char* name;
};
inline constexpr LevelName kLevelNames[] = {
    {SimdLevel::reference, "reference"},
#if defined(__x86_64__) || defined(__i386__)
    {SimdLevel::sse2, "sse2"},           {SimdLevel::sse41, "sse4.1"},
    {SimdLevel::avx2, "avx2"},           {SimdLevel::avx512, "avx512"},
#elif defined(__aarch64__)
    {SimdLevel::neon, "neon"},
#endif
};
inline constexpr std::array<SimdLevel, std::size(kLevelNames)> kAllLevels = [] {
    std::array<SimdLevel, std::size(kLevelNames)> levels{};
    for (std::size_t i = 0; i < levels.size(); ++i) levels[i] = kLevelNames[i].level;
    return levels;
}();

// "unknown" for a level of another architecture.
const char* level_name(SimdLevel level);
// Accepts the names level_name gives; false for anything else.
bool parse_level(std::string_view name, SimdLevel* level);
// The names parse_level accepts, slowest level first, joined by separator.
std::string level_names(std::string_view separator);

// Highest level that this build contains and this CPU can run.
SimdLevel best_supported_level();

// `requested`, lowered to best_supported_level() if it is above it.
SimdLevel supported_level(SimdLevel requested);

// best_supported_level(), lowered by the environment variable VELNOR_SIMD when it
// names a level (a higher request than the CPU supports is lowered to the best).
// Any other value is ignored.
SimdLevel level_from_environment();

// The pass for `level`, lowered to the best supported level if necessary.
LumaPass pass_for_level(SimdLevel level);

// The same for 16-bit words and for floats: the fastest pass at or below `level`
// that this build has for the sample type (the reference pass if none).
WordPass word_pass_for_level(SimdLevel level);
FloatPass float_pass_for_level(SimdLevel level);

// The level of the pass word_pass_for_level / float_pass_for_level choose.
SimdLevel word_level(SimdLevel level);
SimdLevel float_level(SimdLevel level);

}  // namespace velnor
