// Median time of one 1080p luma pass per level and content, without Google
// Benchmark, so that the same program also runs as a 32-bit Windows executable
// under wine (bench/wine-levels.sh): that is how the plug-in's own code performs.
//   frame_timing [repetitions]
// The levels take turns within each repetition, so that a burst of load from
// other processes hits them alike; on POSIX systems the time is the thread's CPU
// time, which other processes on a shared machine disturb far less than the clock.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/bench_planes.h"
#include "core/denoiser.h"

namespace {

using velnor::bench::kHeight;
using velnor::bench::kWidth;

double now_ms() {
#if defined(CLOCK_THREAD_CPUTIME_ID) && !defined(_WIN32)
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
#else
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
#endif
}

double median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    std::printf("%-10s %-10s %10s %12s   (%d-bit build, median of %d)\n", "content", "level",
                "median ms", "x reference", static_cast<int>(8 * sizeof(void*)), repetitions);
    for (const velnor::bench::Content& content : velnor::bench::bench_contents()) {
        std::vector<velnor::Denoiser> denoisers;
        for (velnor::SimdLevel level : velnor::kAllLevels)
            if (level <= velnor::best_supported_level())
                denoisers.emplace_back(velnor::FilterSettings(kWidth, kHeight, 20, 40, 10), level);
        std::vector<std::vector<double>> times(denoisers.size());
        std::vector<uint8_t> plane;
        for (int i = 0; i < repetitions; ++i)
            for (std::size_t d = 0; d < denoisers.size(); ++d) {
                plane = content.plane;
                const double start = now_ms();
                denoisers[d].filter(plane.data(), kWidth);
                times[d].push_back(now_ms() - start);
            }
        const double reference_ms = median(times[0]);
        for (std::size_t d = 0; d < denoisers.size(); ++d) {
            const double ms = median(times[d]);
            std::printf("%-10s %-10s %10.2f %12.2f\n", content.name.c_str(),
                        velnor::level_name(denoisers[d].level()), ms, reference_ms / ms);
        }
    }
    return 0;
}
