// Throughput of every pass level on 1080p luma, for each content of
// bench_planes.h (the gradients, and the photographs when VELNOR_BENCH_PHOTOS is
// set) at the defaults, and the noisy gradient "tuned" (strength 15, threshold2
// 30), and each row of the suggestion table ("s<sigma>-suggested") against the defaults
// ("s<sigma>-defaults") on the gradient with that row's noise level. Times are the thread's CPU
// time (Google Benchmark's default), which other processes on a shared machine disturb less than
// the clock. bench/pass-ratios.sh turns a run into medians and ratios to the reference.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench/bench_planes.h"
#include "core/denoiser.h"
#include "core/suggested_settings.h"

namespace {

using velnor::bench::kHeight;
using velnor::bench::kWidth;

// The gradient with noise of the given amplitude, made once.
const std::vector<uint8_t>& noise_plane(int amplitude) {
    static std::map<int, std::vector<uint8_t>> planes;
    auto found = planes.find(amplitude);
    if (found == planes.end())
        found = planes.emplace(amplitude, velnor::bench::make_plane(amplitude)).first;
    return found->second;
}

struct Parameters {
    int32_t strength, threshold1, threshold2;
};

void run_pass(benchmark::State& state, velnor::SimdLevel level, const std::vector<uint8_t>* source,
              Parameters parameters) {
    if (level > velnor::best_supported_level()) {
        state.SkipWithError("level not supported on this CPU");
        return;
    }
    std::vector<uint8_t> plane = *source;
    const velnor::Denoiser denoiser(
        velnor::FilterSettings(kWidth, kHeight, parameters.strength, parameters.threshold1,
                               parameters.threshold2),
        level);
    for (auto _ : state) {
        state.PauseTiming();
        plane = *source;
        state.ResumeTiming();
        denoiser.filter(plane.data(), kWidth);
        benchmark::DoNotOptimize(plane.data());
    }
    state.counters["samples/s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kWidth * kHeight, benchmark::Counter::kIsRate);
}

void register_all(const std::vector<velnor::bench::Content>& contents) {
    constexpr Parameters kDefaults{velnor::kDefaultStrength, velnor::kDefaultThreshold1,
                                   velnor::kDefaultThreshold2};
    for (velnor::SimdLevel level : velnor::kAllLevels) {
        if (level > velnor::best_supported_level()) continue;
        auto add = [level](const std::string& name, const std::vector<uint8_t>& plane,
                           Parameters parameters) {
            const std::string label = "pass/" + name + "/" + velnor::level_name(level);
            benchmark::RegisterBenchmark(label.c_str(), run_pass, level, &plane, parameters)
                ->Unit(benchmark::kMillisecond);
        };
        for (const velnor::bench::Content& content : contents)
            add(content.name, content.plane, kDefaults);
        add("noisy-tuned", contents.front().plane, {15, 40, 30});
        // The measured settings for each noise level of the table against the
        // defaults, on the gradient with that noise (a smooth picture: little detail).
        for (const int sigma : {2, 4, 8, 12, 20}) {
            const std::vector<uint8_t>& plane = noise_plane(sigma);
            const velnor::FilterValues v =
                velnor::suggested_settings(velnor::PlaneKind::luma, sigma, 1.0);
            char name[16];
            std::snprintf(name, sizeof name, "s%d", sigma);
            add(std::string(name) + "-defaults", plane, kDefaults);
            add(std::string(name) + "-suggested", plane, {v.strength, v.threshold1, v.threshold2});
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<velnor::bench::Content> contents = velnor::bench::bench_contents();
    register_all(contents);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
