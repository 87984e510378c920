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
        // Each row of the suggestion table against the defaults, on the gradient
        // with the row's noise level.
        for (const velnor::SettingsRow& row : velnor::suggested_settings_table()) {
            char sigma[16];
            std::snprintf(sigma, sizeof sigma, "s%d", static_cast<int>(row.sigma));
            const std::vector<uint8_t>& plane = noise_plane(static_cast<int>(row.sigma));
            add(std::string(sigma) + "-defaults", plane, kDefaults);
            add(std::string(sigma) + "-suggested", plane,
                {row.strength, row.threshold1, row.threshold2});
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
