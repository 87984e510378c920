// Filters one noisy 8-bit plane with every setting of a grid and prints the PSNR
// of each result against the clean plane, after the plane's noise estimate: the
// measurement behind demo/measure_settings.py, in one process instead of one velnor
// run per setting.
//
//   velnor_settings_grid PLANES SETTINGS
//
// PLANES holds two little-endian int32 (width, height), then the clean and the
// noisy plane, rows packed. SETTINGS has one "strength threshold1 threshold2" a
// line. Output: "estimate SIGMA DETAIL BLOCKS", then one PSNR (dB) a line in the
// order of SETTINGS.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "core/denoiser.h"
#include "core/noise_estimate.h"

namespace {

int fail(const char* message) {
    std::fprintf(stderr, "velnor_settings_grid: %s\n", message);
    return 1;
}

double psnr(const std::vector<uint8_t>& a, const uint8_t* b) {
    uint64_t squares = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const int d = a[i] - b[i];
        squares += static_cast<uint64_t>(d * d);
    }
    if (squares == 0) return 99.0;
    const double mse = static_cast<double>(squares) / static_cast<double>(a.size());
    return 10.0 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return fail("usage: velnor_settings_grid PLANES SETTINGS");
    std::ifstream planes(argv[1], std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(planes), {}};
    int32_t size[2] = {};
    if (bytes.size() < sizeof size) return fail("PLANES is too short");
    std::copy(bytes.begin(), bytes.begin() + sizeof size, reinterpret_cast<char*>(size));
    const int32_t width = size[0], height = size[1];
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384)
        return fail("PLANES has no sensible size");
    const auto samples = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    if (bytes.size() != sizeof size + 2 * samples) return fail("PLANES does not hold two planes");
    const auto* clean = reinterpret_cast<const uint8_t*>(bytes.data() + sizeof size);
    const std::vector<uint8_t> noisy(clean + samples, clean + 2 * samples);

    velnor::NoiseEstimator estimator;
    estimator.add_plane(noisy.data(), width, height, width);
    const velnor::NoiseEstimate estimate = estimator.estimate();
    std::printf("estimate %.4f %.4f %zu\n", estimate.sigma, estimate.detail, estimate.blocks);

    std::ifstream settings(argv[2]);
    int32_t strength = 0, threshold1 = 0, threshold2 = 0;
    std::vector<uint8_t> plane;
    while (settings >> strength >> threshold1 >> threshold2) {
        plane = noisy;
        const velnor::Denoiser denoiser(
            velnor::FilterSettings(width, height, strength, threshold1, threshold2));
        if (denoiser.filter(plane.data(), width) != velnor::PassStatus::ok)
            return fail("the pass failed");
        std::printf("%.4f\n", psnr(plane, clean));
    }
    return 0;
}
