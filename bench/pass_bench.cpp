// Throughput of every pass level on 1080p luma.
// Content: "noisy" is a smooth gradient with strong noise (most samples take the
// detector path), "mild", "faint" and "clean" the same gradient with less noise
// (about 35%, 12% and 2% of the samples reach the detectors, against 70%). Parameters: the
// defaults, and "tuned" (strength 15, threshold2 30), which takes the vector
// passes' general single-precision paths instead of their shortcuts.
// bench/pass-ratios.sh turns a run into medians and ratios to the reference.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "bench/bench_planes.h"
#include "core/denoiser.h"

namespace {

using velnor::bench::kHeight;
using velnor::bench::kWidth;
using velnor::bench::make_plane;

struct Parameters {
    int32_t strength, threshold1, threshold2;
};

void run_pass(benchmark::State& state, velnor::SimdLevel level, int noise_amplitude,
              Parameters parameters) {
    if (level > velnor::best_supported_level()) {
        state.SkipWithError("level not supported on this CPU");
        return;
    }
    const std::vector<uint8_t> source = make_plane(noise_amplitude);
    std::vector<uint8_t> plane = source;
    const velnor::Denoiser denoiser(
        velnor::FilterSettings(kWidth, kHeight, parameters.strength, parameters.threshold1,
                               parameters.threshold2),
        level);
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
    for (velnor::SimdLevel level : velnor::kAllLevels) {
        if (level > velnor::best_supported_level()) continue;
        struct Variant {
            const char* name;
            int amplitude;
            Parameters parameters;
        };
        for (const Variant& v :
             {Variant{"noisy", 12, {20, 40, 10}}, Variant{"mild", 5, {20, 40, 10}},
              Variant{"faint", 3, {20, 40, 10}}, Variant{"clean", 2, {20, 40, 10}},
              Variant{"noisy-tuned", 12, {15, 40, 30}}}) {
            const std::string label =
                std::string("pass/") + v.name + "/" + velnor::level_name(level);
            benchmark::RegisterBenchmark(label.c_str(), run_pass, level, v.amplitude, v.parameters)
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
