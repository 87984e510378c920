// The 1080p test content both bench programs time: a smooth gradient with
// Gaussian noise of a given amplitude, the same for every run (fixed seed).
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace velnor::bench {

inline constexpr int kWidth = 1920;
inline constexpr int kHeight = 1080;

inline std::vector<uint8_t> make_plane(int noise_amplitude) {
    std::mt19937 rng(1234);
    std::normal_distribution<float> noise(0.0f, static_cast<float>(noise_amplitude));
    std::vector<uint8_t> plane(static_cast<std::size_t>(kWidth) * kHeight);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const float v = 40.0f + 160.0f * x / kWidth + 30.0f * y / kHeight + noise(rng);
            plane[static_cast<std::size_t>(y) * kWidth + x] = static_cast<uint8_t>(v < 0     ? 0
                                                                                   : v > 255 ? 255
                                                                                             : v);
        }
    return plane;
}

}  // namespace velnor::bench
