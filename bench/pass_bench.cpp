// Throughput of every pass level on 1080p luma at the default parameters.
// Content: "noisy" is a smooth gradient with strong noise (about half the samples
// take the detector path), "clean" the same gradient with faint noise.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "core/denoiser.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

std::vector<uint8_t> make_plane(int noise_amplitude) {
    std::mt19937 rng(1234);
    std::normal_distribution<float> noise(0.0f, static_cast<float>(noise_amplitude));
    std::vector<uint8_t> plane(static_cast<size_t>(kWidth) * kHeight);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const float v = 40.0f + 160.0f * x / kWidth + 30.0f * y / kHeight + noise(rng);
            plane[static_cast<size_t>(y) * kWidth + x] =
                static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
        }
    return plane;
}

void run_pass(benchmark::State& state, velnor::SimdLevel level, int noise_amplitude) {
    if (level > velnor::best_supported_level()) {
        state.SkipWithError("level not supported on this CPU");
        return;
    }
    const std::vector<uint8_t> source = make_plane(noise_amplitude);
    std::vector<uint8_t> plane = source;
    const velnor::Denoiser denoiser(velnor::FilterSettings(kWidth, kHeight, 20, 40, 10), level);
    for (auto _ : state) {
        state.PauseTiming();
        plane = source;
        state.ResumeTiming();
        denoiser.filter(plane.data(), kWidth);
        benchmark::DoNotOptimize(plane.data());
    }
    state.counters["samples/s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kWidth * kHeight, benchmark::Counter::kIsRate);
}

void register_all() {
    const velnor::SimdLevel levels[] = {velnor::SimdLevel::reference, velnor::SimdLevel::sse2,
                                        velnor::SimdLevel::sse41, velnor::SimdLevel::avx2};
    for (velnor::SimdLevel level : levels) {
        if (level > velnor::best_supported_level()) continue;
        for (const auto& [name, amplitude] : {std::pair{"noisy", 12}, std::pair{"clean", 2}}) {
            const std::string label = std::string("pass/") + name + "/" + velnor::level_name(level);
            benchmark::RegisterBenchmark(label.c_str(), run_pass, level, amplitude)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    register_all();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
