// What measuring the noise costs beside filtering: the estimate of one 1080p luma
// plane at 8 and 16 bits and in float (what the estimate functions add per frame),
// the measurement an auto filter makes while it is created (the frames
// frames_to_measure allows at 1080p, with the settings lookup), and one 8-bit
// filter pass at the suggested settings for comparison. Times are the thread's CPU
// time.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "bench/bench_planes.h"
#include "core/denoiser.h"
#include "core/measured_settings.h"
#include "core/noise_estimate.h"

namespace {

using velnor::bench::kHeight;
using velnor::bench::kWidth;

const std::vector<uint8_t>& noisy_plane() {
    static const std::vector<uint8_t> plane = velnor::bench::make_plane(8);
    return plane;
}

void estimate_8bit(benchmark::State& state) {
    const std::vector<uint8_t>& plane = noisy_plane();
    for (auto _ : state) {
        velnor::NoiseEstimator estimator;
        estimator.add_plane(plane.data(), kWidth, kHeight, kWidth);
        benchmark::DoNotOptimize(estimator.estimate());
    }
}

void estimate_16bit(benchmark::State& state) {
    std::vector<uint16_t> words(noisy_plane().size());
    for (std::size_t i = 0; i < words.size(); ++i)
        words[i] = static_cast<uint16_t>(noisy_plane()[i] << 8 | (i * 37 & 0xff));
    for (auto _ : state) {
        velnor::NoiseEstimator estimator;
        estimator.add_plane(words.data(), 16, kWidth, kHeight, 2 * kWidth);
        benchmark::DoNotOptimize(estimator.estimate());
    }
}

void estimate_float(benchmark::State& state) {
    std::vector<float> floats(noisy_plane().size());
    for (std::size_t i = 0; i < floats.size(); ++i) floats[i] = noisy_plane()[i] / 255.0f;
    for (auto _ : state) {
        velnor::NoiseEstimator estimator;
        estimator.add_plane(floats.data(), kWidth, kHeight, 4 * kWidth);
        benchmark::DoNotOptimize(estimator.estimate());
    }
}

// An auto filter's measurement at creation: the frames the limits allow at 1080p.
void auto_measurement_8bit(benchmark::State& state) {
    const std::vector<uint8_t>& plane = noisy_plane();
    const uint64_t frames = velnor::frames_to_measure(uint64_t{kWidth} * kHeight);
    for (auto _ : state) {
        velnor::NoiseEstimator estimator;
        for (uint64_t i = 0; i < frames; ++i)
            estimator.add_plane(plane.data(), kWidth, kHeight, kWidth);
        benchmark::DoNotOptimize(
            velnor::settings_for_estimate(estimator.estimate(), velnor::PlaneKind::luma));
    }
    state.counters["frames"] = static_cast<double>(frames);
}

void filter_8bit(benchmark::State& state) {
    velnor::NoiseEstimator estimator;
    estimator.add_plane(noisy_plane().data(), kWidth, kHeight, kWidth);
    const velnor::FilterValues v =
        velnor::settings_for_estimate(estimator.estimate(), velnor::PlaneKind::luma).values;
    const velnor::Denoiser denoiser(
        velnor::FilterSettings(kWidth, kHeight, v.strength, v.threshold1, v.threshold2));
    std::vector<uint8_t> work = noisy_plane();
    for (auto _ : state) {
        state.PauseTiming();
        work = noisy_plane();
        state.ResumeTiming();
        benchmark::DoNotOptimize(denoiser.filter(work.data(), kWidth));
    }
}

BENCHMARK(estimate_8bit)->Unit(benchmark::kMillisecond);
BENCHMARK(estimate_16bit)->Unit(benchmark::kMillisecond);
BENCHMARK(estimate_float)->Unit(benchmark::kMillisecond);
BENCHMARK(auto_measurement_8bit)->Unit(benchmark::kMillisecond);
BENCHMARK(filter_8bit)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
