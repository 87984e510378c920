// An owned plane of any sample type for tests: rows `pitch` samples apart, the
// padding after each row filled with a marker so that stray writes show.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace velnor::test {

template <class Sample>
struct SamplePlane {
    int width = 0;
    int height = 0;
    std::ptrdiff_t pitch = 0;  // in samples
    std::vector<Sample> samples;

    SamplePlane(int w, int h, std::ptrdiff_t p, Sample marker = Sample(0xA5A5))
        : width(w), height(h), pitch(p), samples(static_cast<std::size_t>(p * h) + 1, marker) {}

    Sample* data() { return samples.data(); }
    std::ptrdiff_t pitch_bytes() const {
        return pitch * static_cast<std::ptrdiff_t>(sizeof(Sample));
    }
    Sample& at(int x, int y) { return samples[static_cast<std::size_t>(y * pitch + x)]; }
    Sample at(int x, int y) const { return samples[static_cast<std::size_t>(y * pitch + x)]; }
};

// A photograph stand-in at 8-bit scale: smooth shading, a few hard-edged shapes and
// thin lines, plus Gaussian noise of deviation `sigma`; values unrounded.
inline std::vector<double> noisy_scene(int width, int height, double sigma, std::mt19937& rng) {
    std::normal_distribution<double> noise(0.0, sigma);
    std::vector<double> scene(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            double v = 60.0 + 100.0 * x / width + 40.0 * std::sin(y * 0.05);
            if ((x - width / 3) * (x - width / 3) + (y - height / 2) * (y - height / 2) <
                height * height / 16)
                v = 200.0;                      // a disc
            if (x % 37 == 0) v = 30.0;          // thin vertical lines
            if (y > height * 3 / 4) v = x + y;  // diagonal ramp
            v = std::fmod(v, 256.0);
            scene[static_cast<std::size_t>(y) * width + x] = v + noise(rng);
        }
    return scene;
}

}  // namespace velnor::test
