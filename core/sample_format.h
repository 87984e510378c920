// How a plane's samples are stored: bytes (8 bits), 16-bit words holding 9 to 16
// bits, or 32-bit floats.
#pragma once

#include <cstdint>

namespace velnor {

enum class SampleType { u8, u16, f32 };

struct SampleFormat {
    SampleType type = SampleType::u8;
    int bits = 8;  // 8 for u8, 9..16 for u16, 32 for f32

    // 8 bits in bytes, 9..16 in words (other values give an invalid format).
    static constexpr SampleFormat integer(int bits) {
        return SampleFormat{bits <= 8 ? SampleType::u8 : SampleType::u16, bits};
    }
    static constexpr SampleFormat floating() { return SampleFormat{SampleType::f32, 32}; }

    constexpr int bytes() const {
        return type == SampleType::u8 ? 1 : type == SampleType::u16 ? 2 : 4;
    }
    constexpr bool valid() const {
        switch (type) {
            case SampleType::u8:
                return bits == 8;
            case SampleType::u16:
                return bits >= 9 && bits <= 16;
            case SampleType::f32:
                return bits == 32;
        }
        return false;
    }
    constexpr bool operator==(const SampleFormat& other) const {
        return type == other.type && bits == other.bits;
    }
};

}  // namespace velnor
