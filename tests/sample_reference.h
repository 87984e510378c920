// Host-side planes of any sample format for the binding tests: random content at
// the format's scale, and the comparison of a binding's output with the core's
// reference pass (integer samples exactly, float within the float tolerance).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "core/filter_settings.h"
#include "core/luma_pass.h"
#include "core/sample_format.h"
#include "tests/test_plane.h"

namespace velnor::test {

// A plane as a host hands it over: `width` samples per row, rows `pitch` bytes apart.
struct BytePlane {
    const uint8_t* data;
    std::ptrdiff_t pitch;
    int width;
    int height;
};

// Float results may differ from the float reference where additions round
// differently: within kFloatNear on at least kFloatNearShare of the samples, and
// within kFloatFar everywhere; samples that are not finite, never.
inline constexpr double kFloatNear = 1e-4;
inline constexpr double kFloatNearShare = 0.999;
inline constexpr double kFloatFar = 0.05;

// A float result against the reference's: bit for bit where either is not finite
// (NaN and infinities stay where they are), else within kFloatFar; *near tells
// whether it is within kFloatNear too.
inline bool float_result_agrees(float expected, float actual, bool* near) {
    *near = true;
    if (!std::isfinite(expected) || !std::isfinite(actual))
        return std::memcmp(&expected, &actual, sizeof expected) == 0;
    const double d = std::fabs(static_cast<double>(expected) - actual);
    *near = d <= kFloatNear;
    return d <= kFloatFar;
}

// Fills `width` x `height` samples of `format` at `data` with fill_random's content
// at the format's scale: 8-bit values shifted up with random low bits, or divided by
// 255 for float (plus a little noise below 1/255).
inline void fill_samples(uint8_t* data, std::ptrdiff_t pitch, int width, int height,
                         SampleFormat format, std::mt19937& rng) {
    TestPlane base(width, height, width > 0 ? width : 1);
    fill_random(base, rng);
    std::uniform_int_distribution<int> low(0, (1 << (format.bits > 16 ? 8 : format.bits - 8)) - 1);
    std::uniform_real_distribution<float> fraction(0.0f, 1.0f);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = data + y * pitch;
        for (int x = 0; x < width; ++x) {
            const int v = base.at(x, y);
            if (format.type == SampleType::u8) {
                row[x] = static_cast<uint8_t>(v);
            } else if (format.type == SampleType::u16) {
                const auto word = static_cast<uint16_t>((v << (format.bits - 8)) | low(rng));
                std::memcpy(row + 2 * x, &word, 2);
            } else {
                const float f = (static_cast<float>(v) + fraction(rng)) / 255.0f;
                std::memcpy(row + 4 * x, &f, 4);
            }
        }
    }
}

// Every sample of the plane the 8-bit value `base` plus uniform noise of up to
// `amplitude` either way (clamped to 0..255), at the format's depth with random
// lower bits; `amplitude` 0 gives the value itself at every depth. Float samples
// are v / 255 plus `float_offset` (-0.5 for chroma centred on 0).
inline void fill_level(uint8_t* data, std::ptrdiff_t pitch, int width, int height,
                       SampleFormat format, int base, int amplitude, std::mt19937& rng,
                       float float_offset = 0.0f) {
    std::uniform_int_distribution<int> noise(-amplitude, amplitude);
    std::uniform_int_distribution<int> low(0, (1 << (format.bits > 16 ? 8 : format.bits - 8)) - 1);
    std::uniform_real_distribution<float> fraction(0.0f, 1.0f);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = data + y * pitch;
        for (int x = 0; x < width; ++x) {
            const int v = std::clamp(base + (amplitude ? noise(rng) : 0), 0, 255);
            if (format.type == SampleType::u8) {
                row[x] = static_cast<uint8_t>(v);
            } else if (format.type == SampleType::u16) {
                const auto word =
                    static_cast<uint16_t>((v << (format.bits - 8)) | (amplitude ? low(rng) : 0));
                std::memcpy(row + 2 * x, &word, 2);
            } else {
                const float f =
                    (static_cast<float>(v) + (amplitude ? fraction(rng) : 0.0f)) / 255.0f +
                    float_offset;
                std::memcpy(row + 4 * x, &f, 4);
            }
        }
    }
}

// The samples of `in` after the reference pass for `format` with these settings,
// rows packed; empty if the pass failed.
inline std::vector<uint8_t> reference_result(const BytePlane& in, SampleFormat format,
                                             const FilterSettings& settings) {
    const std::size_t row = static_cast<std::size_t>(in.width) * format.bytes();
    std::vector<uint8_t> bytes(row * static_cast<std::size_t>(in.height) + 1);
    for (int y = 0; y < in.height; ++y)
        std::memcpy(bytes.data() + y * row, in.data + y * in.pitch, row);
    auto run = [&](auto* samples) {
        std::vector<std::remove_pointer_t<decltype(samples)>> typed(bytes.size() / format.bytes() +
                                                                    1);
        std::memcpy(typed.data(), bytes.data(), bytes.size() - 1);
        PassStatus status = PassStatus::out_of_memory;
        if constexpr (sizeof(*samples) == 1)
            status = filter_luma_reference(settings, typed.data(), in.width,
                                           default_scratch_allocator());
        else if constexpr (sizeof(*samples) == 2)
            status = filter_words_reference(settings, format.bits, typed.data(), in.width,
                                            default_scratch_allocator());
        else
            status = filter_floats_reference(settings, typed.data(), in.width,
                                             default_scratch_allocator());
        std::memcpy(bytes.data(), typed.data(), bytes.size() - 1);
        return status == PassStatus::ok;
    };
    bool ok = format.type == SampleType::u8    ? run(static_cast<uint8_t*>(nullptr))
              : format.type == SampleType::u16 ? run(static_cast<uint16_t*>(nullptr))
                                               : run(static_cast<float*>(nullptr));
    if (!ok) bytes.clear();
    bytes.resize(bytes.empty() ? 0 : row * static_cast<std::size_t>(in.height));
    return bytes;
}

// Empty if `actual` holds `expected` (packed rows of `format` samples) by the rule
// above, else the first difference.
inline std::string compare_samples(const std::vector<uint8_t>& expected, const BytePlane& actual,
                                   SampleFormat format) {
    const int bytes = format.bytes();
    const std::size_t row = static_cast<std::size_t>(actual.width) * bytes;
    if (expected.size() != row * static_cast<std::size_t>(actual.height))
        return "no reference result of that size";
    long near = 0, total = 0;
    for (int y = 0; y < actual.height; ++y) {
        const uint8_t* e = expected.data() + y * row;
        const uint8_t* a = actual.data + y * actual.pitch;
        for (int x = 0; x < actual.width; ++x) {
            const std::string where =
                "sample (" + std::to_string(x) + ", " + std::to_string(y) + ")";
            if (format.type == SampleType::f32) {
                float fe, fa;
                std::memcpy(&fe, e + 4 * x, 4);
                std::memcpy(&fa, a + 4 * x, 4);
                bool close = false;
                if (!float_result_agrees(fe, fa, &close))
                    return where + " is " + std::to_string(fa) + ", expected " + std::to_string(fe);
                near += close;
                ++total;
            } else if (std::memcmp(e + bytes * x, a + bytes * x, bytes) != 0) {
                uint16_t we = 0, wa = 0;
                std::memcpy(&we, e + bytes * x, bytes);
                std::memcpy(&wa, a + bytes * x, bytes);
                return where + " is " + std::to_string(wa) + ", expected " + std::to_string(we);
            }
        }
    }
    if (total > 0 && static_cast<double>(near) < kFloatNearShare * static_cast<double>(total))
        return std::to_string(total - near) + " of " + std::to_string(total) +
               " float samples differ by more than 1e-4";
    return {};
}

// Empty if `actual` holds the same bytes as `expected` in every row.
inline std::string compare_bytes(const BytePlane& expected, const BytePlane& actual, int bytes) {
    if (expected.width != actual.width || expected.height != actual.height)
        return "plane is " + std::to_string(actual.width) + "x" + std::to_string(actual.height) +
               ", expected " + std::to_string(expected.width) + "x" +
               std::to_string(expected.height);
    const std::size_t row = static_cast<std::size_t>(actual.width) * bytes;
    for (int y = 0; y < actual.height; ++y)
        if (std::memcmp(expected.data + y * expected.pitch, actual.data + y * actual.pitch, row))
            return "row " + std::to_string(y) + " differs";
    return {};
}

}  // namespace velnor::test
