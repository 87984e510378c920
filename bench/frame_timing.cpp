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

#include "bench/bench_planes.h"
#include "core/denoiser.h"

namespace {

using velnor::bench::kHeight;
using velnor::bench::kWidth;
using velnor::bench::make_plane;

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
    std::printf("%-8s %-10s %10s %12s   (%d-bit build, median of %d)\n", "content", "level",
                "median ms", "x reference", static_cast<int>(8 * sizeof(void*)), repetitions);
    for (const Content& content : contents) {
        const std::vector<uint8_t> source = make_plane(content.amplitude);
        double reference_ms = 0;
        for (velnor::SimdLevel level : velnor::kAllLevels) {
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
