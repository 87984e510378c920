// Throughput of the pass at each sample depth on the same 1080p content: the 8-bit
// gradients of bench_planes.h, promoted to B bits (each sample shifted left by
// B - 8) and to float (divided by 255), at the defaults, one thread, for every
// vector level. bench/depth-ratios.sh turns a run into medians and the ratios of
// each depth to 8 bits at the same level and content.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bench/bench_planes.h"
#include "core/denoiser.h"

namespace {

using velnor::bench::kHeight;
using velnor::bench::kWidth;

struct Format {
    const char* name;
    velnor::SampleFormat format;
};
const Format kFormats[] = {{"u8", velnor::SampleFormat::integer(8)},
                           {"u10", velnor::SampleFormat::integer(10)},
                           {"u12", velnor::SampleFormat::integer(12)},
                           {"u16", velnor::SampleFormat::integer(16)},
                           {"f32", velnor::SampleFormat::floating()}};

// The 8-bit plane in `format`, as raw bytes.
std::vector<uint8_t> promoted(const std::vector<uint8_t>& plane, velnor::SampleFormat format) {
    std::vector<uint8_t> out(plane.size() * static_cast<std::size_t>(format.bytes()));
    for (std::size_t i = 0; i < plane.size(); ++i) {
        if (format.type == velnor::SampleType::u8) {
            out[i] = plane[i];
        } else if (format.type == velnor::SampleType::u16) {
            reinterpret_cast<uint16_t*>(out.data())[i] =
                static_cast<uint16_t>(plane[i] << (format.bits - 8));
        } else {
            reinterpret_cast<float*>(out.data())[i] = plane[i] / 255.0f;
        }
    }
    return out;
}

void run_pass(benchmark::State& state, velnor::SimdLevel level, velnor::SampleFormat format,
              const std::vector<uint8_t>* source) {
    const velnor::Denoiser denoiser(
        velnor::FilterSettings(kWidth, kHeight, velnor::kDefaultStrength,
                               velnor::kDefaultThreshold1, velnor::kDefaultThreshold2),
        format, level);
    if (denoiser.level() != level) {
        state.SkipWithError("no pass of this level for the format");
        return;
    }
    std::vector<uint8_t> plane = *source;
    for (auto _ : state) {
        state.PauseTiming();
        plane = *source;
        state.ResumeTiming();
        denoiser.filter(plane.data(), static_cast<std::ptrdiff_t>(kWidth) * format.bytes());
        benchmark::DoNotOptimize(plane.data());
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<velnor::bench::Content> contents = velnor::bench::bench_contents();
    std::vector<std::vector<uint8_t>> planes;
    planes.reserve(contents.size() * std::size(kFormats));
    for (const velnor::bench::Content& content : contents)
        for (const Format& format : kFormats) {
            planes.push_back(promoted(content.plane, format.format));
            for (velnor::SimdLevel level : velnor::kAllLevels) {
                if (level == velnor::SimdLevel::reference || level > velnor::best_supported_level())
                    continue;
                const std::string label =
                    "depth/" + content.name + "/" + velnor::level_name(level) + "/" + format.name;
                benchmark::RegisterBenchmark(label.c_str(), run_pass, level, format.format,
                                             &planes.back())
                    ->Unit(benchmark::kMillisecond);
            }
        }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
