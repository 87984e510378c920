#include "core/dispatch.h"

#include <cstdlib>

#include "core/simd/fast_passes.h"
#if defined(VELNOR_HAVE_AVX512)
#include "core/x86/avx512_support.h"
#endif

namespace velnor {

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

std::string level_names(std::string_view separator) {
    std::string names;
    for (const LevelName& entry : kLevelNames) {
        if (!names.empty()) names += separator;
        names += entry.name;
    }
    return names;
}

SimdLevel best_supported_level() {
#if defined(VELNOR_AVX512_EMULATED)
    // A test build whose AVX-512 pass is portable code: it runs on any CPU.
    return SimdLevel::avx512;
#endif
#if defined(VELNOR_HAVE_NEON)
    // Every AArch64 CPU has NEON.
    return SimdLevel::neon;
#endif
#if defined(VELNOR_HAVE_SSE2)
    // Also safe when called from a static constructor, before libgcc's own one ran.
    __builtin_cpu_init();
#endif
#if defined(VELNOR_HAVE_AVX512)
    if (cpu_runs_avx512()) return SimdLevel::avx512;
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

SimdLevel supported_level(SimdLevel requested) {
    const SimdLevel best = best_supported_level();
    return requested < best ? requested : best;
}

SimdLevel level_from_environment() {
    SimdLevel requested;
    const char* value = std::getenv("VELNOR_SIMD");
    if (value && parse_level(value, &requested)) return supported_level(requested);
    return best_supported_level();
}

namespace {

// The vector passes this build contains, fastest last. A level may lack the word
// or float pass (null), in which case a lower level's serves.
struct FastPass {
    SimdLevel level;
    LumaPass pass;
    FormPass form_pass;
    ShapeProbe probe;
    CorrectionProbe correction_probe;
    WordPass word_pass = nullptr;
    FloatPass float_pass = nullptr;
    WordShapeProbe word_probe = nullptr;
    WordFormPass word_form_pass = nullptr;
    FloatFormPass float_form_pass = nullptr;
    NarrowShapeProbe narrow_probe = nullptr;
};
// A level's entries for words and floats (64-bit builds only).
#if defined(VELNOR_HAVE_DEPTH_PASSES)
#define VELNOR_DEPTH_ENTRIES(isa)                                                                 \
    , filter_words_##isa, filter_floats_##isa, word_shape_probe_##isa, filter_words_##isa##_form, \
        filter_floats_##isa##_form, narrow_shape_probe_##isa
#else
#define VELNOR_DEPTH_ENTRIES(isa)
#endif
constexpr FastPass kFastPasses[] = {
#if defined(VELNOR_HAVE_SSE2)
    {SimdLevel::sse2, filter_luma_sse2, filter_luma_sse2_form, shape_probe_sse2,
     correction_probe_sse2 VELNOR_DEPTH_ENTRIES(sse2)},
#endif
#if defined(VELNOR_HAVE_SSE41)
    {SimdLevel::sse41, filter_luma_sse41, filter_luma_sse41_form, shape_probe_sse41,
     correction_probe_sse41 VELNOR_DEPTH_ENTRIES(sse41)},
#endif
#if defined(VELNOR_HAVE_AVX2_PAIRS)
    // 8-bit samples on 32 lanes as register pairs (28 of 32 rows filtered per band);
    // words and floats on 16 lanes, one register each (two for 32-bit lanes).
    {SimdLevel::avx2, filter_luma_avx2pairs, filter_luma_avx2pairs_form, shape_probe_avx2pairs,
     correction_probe_avx2pairs VELNOR_DEPTH_ENTRIES(avx2)},
#elif defined(VELNOR_HAVE_AVX2)
    {SimdLevel::avx2, filter_luma_avx2, filter_luma_avx2_form, shape_probe_avx2,
     correction_probe_avx2 VELNOR_DEPTH_ENTRIES(avx2)},
#endif
#if defined(VELNOR_HAVE_AVX512)
    {SimdLevel::avx512, filter_luma_avx512, filter_luma_avx512_form, shape_probe_avx512,
     correction_probe_avx512 VELNOR_DEPTH_ENTRIES(avx512)},
#endif
#if defined(VELNOR_HAVE_NEON)
    {SimdLevel::neon, filter_luma_neon, filter_luma_neon_form, shape_probe_neon,
     correction_probe_neon VELNOR_DEPTH_ENTRIES(neon)},
#endif
    {SimdLevel::reference, nullptr, nullptr, nullptr, nullptr},  // keeps the array non-empty
};

const FastPass* find_fast_pass(SimdLevel level) {
    for (const FastPass& entry : kFastPasses)
        if (entry.pass && entry.level == level) return &entry;
    return nullptr;
}

}  // namespace

LumaPass pass_for_level(SimdLevel level) {
    const FastPass* entry = find_fast_pass(supported_level(level));
    return entry ? entry->pass : filter_luma_reference;
}

namespace {

// The highest entry at or below `level` (lowered to what the CPU runs) whose
// `member` is set; null if none.
template <class Pass>
const FastPass* best_entry_with(SimdLevel level, Pass FastPass::*member) {
    const SimdLevel cap = supported_level(level);
    const FastPass* best = nullptr;
    for (const FastPass& entry : kFastPasses)
        if (entry.*member && entry.level <= cap) best = &entry;
    return best;
}

}  // namespace

WordPass word_pass_for_level(SimdLevel level) {
    const FastPass* entry = best_entry_with(level, &FastPass::word_pass);
    return entry ? entry->word_pass : filter_words_reference;
}

FloatPass float_pass_for_level(SimdLevel level) {
    const FastPass* entry = best_entry_with(level, &FastPass::float_pass);
    return entry ? entry->float_pass : filter_floats_reference;
}

SimdLevel word_level(SimdLevel level) {
    const FastPass* entry = best_entry_with(level, &FastPass::word_pass);
    return entry ? entry->level : SimdLevel::reference;
}

SimdLevel float_level(SimdLevel level) {
    const FastPass* entry = best_entry_with(level, &FastPass::float_pass);
    return entry ? entry->level : SimdLevel::reference;
}

namespace {

// `member` of `level`'s own entry; null for the reference, a level this build or
// CPU lacks, or an entry without it.
template <class Part>
Part own_part(SimdLevel level, Part FastPass::*member) {
    if (level > best_supported_level()) return nullptr;
    const FastPass* entry = find_fast_pass(level);
    return entry ? entry->*member : nullptr;
}

}  // namespace

FormPass form_pass_for_level(SimdLevel level) { return own_part(level, &FastPass::form_pass); }

WordFormPass word_form_pass_for_level(SimdLevel level) {
    return own_part(level, &FastPass::word_form_pass);
}

FloatFormPass float_form_pass_for_level(SimdLevel level) {
    return own_part(level, &FastPass::float_form_pass);
}

WordShapeProbe word_shape_probe_for_level(SimdLevel level) {
    return own_part(level, &FastPass::word_probe);
}

NarrowShapeProbe narrow_shape_probe_for_level(SimdLevel level) {
    return own_part(level, &FastPass::narrow_probe);
}

ShapeProbe shape_probe_for_level(SimdLevel level) { return own_part(level, &FastPass::probe); }

CorrectionProbe correction_probe_for_level(SimdLevel level) {
    return own_part(level, &FastPass::correction_probe);
}

}  // namespace velnor
