// The noise estimate on synthetic planes with known Gaussian noise: within 20% of
// the true standard deviation on smooth, sloped, partly textured and partly
// saturated pictures, and no estimate where nothing is usable.
#include "core/noise_estimate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <vector>

namespace velnor {
namespace {

constexpr int kSide = 256;

// Clean pictures, sample value at (x, y).
using Picture = std::function<double(int x, int y)>;

const Picture kFlat = [](int, int) { return 128.0; };
const Picture kRamp = [](int x, int y) { return 30.0 + 0.6 * x + 0.2 * y; };
// Left half: fine checkerboard with stripes, which a plain Laplacian takes for noise.
const Picture kTextured = [](int x, int y) {
    if (x < kSide / 2) return 128.0 + ((x + y) % 2 ? 25.0 : -25.0) + (y % 4 < 2 ? 15.0 : 0.0);
    return 60.0 + 0.5 * y;
};
// Top third black, the rest mid grey: noise there is clipped at 0.
const Picture kDark = [](int, int y) { return y < kSide / 3 ? 0.0 : 128.0; };

std::vector<uint8_t> noisy_plane(const Picture& picture, double sigma, int width, int height,
                                 unsigned seed) {
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, sigma);
    std::vector<uint8_t> plane(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            plane[static_cast<std::size_t>(y) * width + x] = static_cast<uint8_t>(
                std::clamp(std::nearbyint(picture(x, y) + noise(random)), 0.0, 255.0));
    return plane;
}

TEST(NoiseEstimate, WithinTwentyPercentOfTheTrueSigma) {
    const struct {
        const char* name;
        const Picture* picture;
    } pictures[] = {{"flat", &kFlat}, {"ramp", &kRamp}, {"textured", &kTextured}, {"dark", &kDark}};
    for (const auto& p : pictures) {
        for (const double sigma : {3.0, 8.0, 20.0}) {
            const auto plane = noisy_plane(*p.picture, sigma, kSide, kSide, 7);
            NoiseEstimator estimator;
            estimator.add_plane(plane.data(), kSide, kSide, kSide);
            const NoiseEstimate estimate = estimator.estimate();
            ASSERT_TRUE(estimate.valid) << p.name << " sigma " << sigma;
            EXPECT_NEAR(estimate.sigma / sigma, 1.0, 0.2) << p.name << " sigma " << sigma;
        }
    }
}

TEST(NoiseEstimate, NoEstimateWithoutUsableSamples) {
    const struct {
        const char* name;
        int width, height;
        uint8_t value;
    } cases[] = {
        {"white", 64, 64, 255},   {"black", 64, 64, 0}, {"two columns", 2, 64, 100},
        {"two rows", 64, 2, 100}, {"empty", 0, 0, 100},
    };
    for (const auto& c : cases) {
        const std::vector<uint8_t> plane(static_cast<std::size_t>(c.width) * c.height, c.value);
        NoiseEstimator estimator;
        estimator.add_plane(plane.data(), c.width, c.height, c.width);
        EXPECT_FALSE(estimator.estimate().valid) << c.name;
    }
}

// Deeper planes are measured in 8-bit steps: a noisy 8-bit plane promoted to B bits
// (each sample shifted left) or to float (divided by 255, and as chroma then
// centred on 0) gives the 8-bit estimate, clipped parts included.
TEST(NoiseEstimate, PromotedPlanesGiveTheEightBitEstimate) {
    const Picture* pictures[] = {&kRamp, &kDark};
    for (const Picture* picture : pictures) {
        const auto plane = noisy_plane(*picture, 6.0, kSide, kSide, 3);
        NoiseEstimator eight;
        eight.add_plane(plane.data(), kSide, kSide, kSide);
        for (int bits : {9, 10, 12, 14, 16}) {
            std::vector<uint16_t> words(plane.size());
            for (std::size_t i = 0; i < plane.size(); ++i)
                words[i] = static_cast<uint16_t>(plane[i] << (bits - 8));
            NoiseEstimator deep;
            deep.add_plane(words.data(), bits, kSide, kSide, 2 * kSide);
            ASSERT_TRUE(deep.estimate().valid) << bits;
            EXPECT_EQ(deep.estimate().blocks, eight.estimate().blocks) << bits;
            EXPECT_NEAR(deep.estimate().sigma, eight.estimate().sigma, 1e-9) << bits;
            EXPECT_NEAR(deep.estimate().detail, eight.estimate().detail, 1e-9) << bits;
        }
        for (const FloatRange range : {FloatRange::unit, FloatRange::centred}) {
            const float centre = range == FloatRange::centred ? 0.5f : 0.0f;
            std::vector<float> floats(plane.size());
            for (std::size_t i = 0; i < plane.size(); ++i) floats[i] = plane[i] / 255.0f - centre;
            NoiseEstimator floating;
            floating.add_plane(floats.data(), SampleFormat::floating(), kSide, kSide, 4 * kSide,
                               range);
            SCOPED_TRACE(range == FloatRange::centred ? "float centred on 0" : "float");
            EXPECT_EQ(floating.estimate().blocks, eight.estimate().blocks);
            EXPECT_EQ(floating.estimate().sigma, eight.estimate().sigma);
            EXPECT_EQ(floating.estimate().detail, eight.estimate().detail);
        }
    }
}

// Detail reads about 1 where the picture adds nothing the masks see (flat, ramps,
// clipped areas), more where soft waves fill the picture, and most where fine
// texture does: waves too smooth for the plain mask to tell from the noise show.
TEST(NoiseEstimate, DetailRanksThePictures) {
    const Picture waves = [](int x, int y) {
        return 128.0 + 40.0 * std::sin(x / 2.0) * std::sin(y / 2.0);
    };
    const Picture fine = [](int x, int y) {
        return 128.0 + 40.0 * std::sin(x * 1.3) * std::sin(y * 0.9);
    };
    const struct {
        const char* name;
        const Picture* picture;
        double sigma, low, high;
    } cases[] = {
        {"flat", &kFlat, 4, 0.9, 1.2},   {"flat", &kFlat, 15, 0.9, 1.2},
        {"ramp", &kRamp, 4, 0.9, 1.2},   {"dark", &kDark, 4, 0.9, 1.2},
        {"waves", &waves, 4, 1.25, 1.6}, {"fine", &fine, 4, 5.0, 1e3},
    };
    for (const auto& c : cases) {
        const auto plane = noisy_plane(*c.picture, c.sigma, kSide, kSide, 5);
        NoiseEstimator estimator;
        estimator.add_plane(plane.data(), kSide, kSide, kSide);
        const NoiseEstimate estimate = estimator.estimate();
        EXPECT_GE(estimate.detail, c.low) << c.name << " sigma " << c.sigma;
        EXPECT_LE(estimate.detail, c.high) << c.name << " sigma " << c.sigma;
    }
}

}  // namespace
}  // namespace velnor
