// Runs the 8-bit pass on one 1080p plane a given number of times, for instruction
// counts (valgrind --tool=callgrind) and profiles (perf record), which want one
// plain process rather than a timing harness.
//   velnor_pass_once CONTENT LEVEL [strength threshold1 threshold2] [repetitions]
// CONTENT is a gradient of bench_planes.h (noisy, mild, faint, clean, or gradientN:
// the gradient with noise N, as the suggestion rows are timed) or the path of a
// 1920 x 1080 plane of bytes; LEVEL a name VELNOR_SIMD accepts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench_planes.h"
#include "core/denoiser.h"
#include "core/dispatch.h"

int main(int argc, char** argv) {
    using velnor::bench::kHeight;
    using velnor::bench::kWidth;
    if (argc != 3 && argc != 6 && argc != 7) {
        std::fprintf(stderr, "usage: %s CONTENT LEVEL [strength threshold1 threshold2] [reps]\n",
                     argv[0]);
        return 2;
    }
    const std::string content = argv[1];
    std::vector<uint8_t> source(static_cast<std::size_t>(kWidth) * kHeight);
    std::FILE* file = std::fopen(content.c_str(), "rb");
    const bool complete =
        file && std::fread(source.data(), 1, source.size(), file) == source.size();
    if (file) std::fclose(file);
    if (!complete) source.clear();
    if (source.empty() && content.rfind("gradient", 0) == 0)
        source = velnor::bench::make_plane(std::atoi(argv[1] + 8));
    if (source.empty())
        for (const velnor::bench::Content& c : velnor::bench::bench_contents())
            if (c.name == content) source = c.plane;
    if (source.empty()) {
        std::fprintf(stderr, "%s: no such content or 1080p plane\n", content.c_str());
        return 2;
    }
    velnor::SimdLevel level;
    if (!velnor::parse_level(argv[2], &level) || level > velnor::best_supported_level()) {
        std::fprintf(stderr, "%s: unknown or unsupported level\n", argv[2]);
        return 2;
    }
    const bool tuned = argc >= 6;
    const velnor::FilterSettings settings(kWidth, kHeight,
                                          tuned ? std::atoi(argv[3]) : velnor::kDefaultStrength,
                                          tuned ? std::atoi(argv[4]) : velnor::kDefaultThreshold1,
                                          tuned ? std::atoi(argv[5]) : velnor::kDefaultThreshold2);
    const int repetitions = argc == 7 ? std::atoi(argv[6]) : 1;
    const velnor::Denoiser denoiser(settings, level);
    std::vector<uint8_t> plane;
    unsigned checksum = 0;
    for (int i = 0; i < repetitions; ++i) {
        plane = source;
        denoiser.filter(plane.data(), kWidth);
        for (uint8_t v : plane) checksum = checksum * 31 + v;
    }
    std::printf("%08x\n", checksum);
    return 0;
}
