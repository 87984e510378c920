#include "core/denoiser.h"

#include <cstdint>

namespace velnor {

Denoiser::Denoiser(const FilterSettings& settings, SampleFormat format, SimdLevel level)
    : settings_(settings), format_(format), level_(SimdLevel::reference) {
    if (!format.valid()) return;
    switch (format.type) {
        case SampleType::u8:
            level_ = supported_level(level);
            byte_pass_ = pass_for_level(level_);
            break;
        case SampleType::u16:
            level_ = word_level(level);
            word_pass_ = word_pass_for_level(level_);
            break;
        case SampleType::f32:
            level_ = float_level(level);
            float_pass_ = float_pass_for_level(level_);
            break;
    }
}

PassStatus Denoiser::filter(void* plane, std::ptrdiff_t pitch,
                            const ScratchAllocator& scratch) const {
    if (!format_.valid()) return PassStatus::bad_format;
    const std::ptrdiff_t size = format_.bytes();
    if (reinterpret_cast<std::uintptr_t>(plane) % static_cast<std::uintptr_t>(size) != 0 ||
        pitch % size != 0)
        return PassStatus::misaligned;
    const std::ptrdiff_t samples = pitch / size;
    switch (format_.type) {
        case SampleType::u8:
            return byte_pass_(settings_, static_cast<uint8_t*>(plane), samples, scratch);
        case SampleType::u16:
            return word_pass_(settings_, format_.bits, static_cast<uint16_t*>(plane), samples,
                              scratch);
        case SampleType::f32:
            return float_pass_(settings_, static_cast<float*>(plane), samples, scratch);
    }
    return PassStatus::bad_format;
}

}  // namespace velnor
