// Median time of one 1080p luma pass per level and content, without Google
// Benchmark, so that the same program also runs as a 32-bit Windows executable
// under wine (bench/wine-levels.sh): that is how the plug-in's own code performs.
//   frame_timing [repetitions]
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "core/denoiser.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

// The gradient with Gaussian noise of pass_bench.cpp.
std::vector<uint8_t> make_plane(int noise_amplitude) {
    std::mt19937 rng(1234);
    std::normal_distribution<float> noise(0.0f, static_cast<float>(noise_amplitude));
    std::vector<uint8_t> plane(static_cast<size_t>(kWidth) * kHeight);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const float v = 40.0f + 160.0f * x / kWidth + 30.0f * y / kHeight + noise(rng);
            plane[static_cast<size_t>(y) * kWidth + x] = static_cast<uint8_t>(v < 0     ? 0
                                                                              : v > 255 ? 255
                                                                                        : v);
        }
    return plane;
}

double median_ms(const velnor::Denoiser& denoiser, const std::vector<uint8_t>& source,
                 int repetitions) {
    std::vector<double> times;
    std::vector<uint8_t> plane;
    for (int i = 0; i < repetitions; ++i) {
        plane = source;
        const auto start = std::chrono::steady_clock::now();
        denoiser.filter(plane.data(), kWidth);
        const auto end = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    std::nth_element(times.begin(), times.begin() + repetitions / 2, times.end());
    return times[static_cast<size_t>(repetitions / 2)];
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    struct Content {
        const char* name;
        int amplitude;
    };
    const Content contents[] = {{"noisy", 12}, {"mild", 5}, {"faint", 3}, {"clean", 2}};
    const velnor::SimdLevel levels[] = {velnor::SimdLevel::reference, velnor::SimdLevel::sse2,
                                        velnor::SimdLevel::sse41, velnor::SimdLevel::avx2};
    std::printf("%-8s %-10s %10s %12s   (%d-bit build, median of %d)\n", "content", "level",
                "median ms", "x reference", static_cast<int>(8 * sizeof(void*)), repetitions);
    for (const Content& content : contents) {
        const std::vector<uint8_t> source = make_plane(content.amplitude);
        double reference_ms = 0;
        for (velnor::SimdLevel level : levels) {
            if (level > velnor::best_supported_level()) continue;
            const velnor::Denoiser denoiser(velnor::FilterSettings(kWidth, kHeight, 20, 40, 10),
                                            level);
            const double ms = median_ms(denoiser, source, repetitions);
            if (level == velnor::SimdLevel::reference) reference_ms = ms;
            std::printf("%-8s %-10s %10.2f %12.2f\n", content.name, velnor::level_name(level), ms,
                        reference_ms / ms);
        }
    }
    return 0;
}
