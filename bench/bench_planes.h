// The 1080p content both bench programs time: a smooth gradient with Gaussian
// noise of a given amplitude, the same for every run (fixed seed), and the
// photograph planes bench/make_photo_clip.py writes, when there are any.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
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

struct Content {
    std::string name;
    std::vector<uint8_t> plane;
};

// The gradients: "noisy" (about 70% of the samples reach the detectors), "mild"
// (35%), "faint" (12%) and "clean" (2%). Then, when the environment variable
// VELNOR_BENCH_PHOTOS names a directory, the planes photo-s4.y and photo-s12.y in
// it (photographs with noise of sigma 4 and 12; bench/steady-state.sh makes them).
inline std::vector<Content> bench_contents() {
    std::vector<Content> contents = {{"noisy", make_plane(12)},
                                     {"mild", make_plane(5)},
                                     {"faint", make_plane(3)},
                                     {"clean", make_plane(2)}};
    const char* photos = std::getenv("VELNOR_BENCH_PHOTOS");
    if (!photos) return contents;
    for (const char* name : {"photo-s4", "photo-s12"}) {
        const std::string path = std::string(photos) + "/" + name + ".y";
        std::vector<uint8_t> plane(static_cast<std::size_t>(kWidth) * kHeight);
        std::FILE* file = std::fopen(path.c_str(), "rb");
        const bool complete =
            file && std::fread(plane.data(), 1, plane.size(), file) == plane.size();
        if (file) std::fclose(file);
        if (complete)
            contents.push_back({name, plane});
        else
            std::fprintf(stderr, "bench: %s missing or short, skipped\n", path.c_str());
    }
    return contents;
}

}  // namespace velnor::bench
