// The reference passes for 16-bit words and floats: consistent with the 8-bit pass
// on the same content, exact with extreme parameters, safe on out-of-range samples,
// and reached through Denoiser for every format.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "core/denoiser.h"
#include "core/filter_settings.h"
#include "core/luma_pass.h"
#include "tests/float_edge_planes.h"
#include "tests/sample_plane.h"

namespace velnor {
namespace {

using test::SamplePlane;

constexpr int kWidth = 160, kHeight = 120;

int quantise(double v, int bits) {
    const double scaled = std::round(v * (1 << (bits - 8)));
    const double max = (1 << bits) - 1;
    return static_cast<int>(std::clamp(scaled, 0.0, max));
}

template <class Sample>
SamplePlane<Sample> plane_of(const std::vector<double>& scene, int bits) {
    SamplePlane<Sample> plane(kWidth, kHeight, kWidth + 3);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            plane.at(x, y) = static_cast<Sample>(quantise(scene[y * kWidth + x], bits));
    return plane;
}

FilterSettings settings(int32_t strength, int32_t threshold1, int32_t threshold2) {
    return FilterSettings(kWidth, kHeight, strength, threshold1, threshold2);
}

void filter_words(SamplePlane<uint16_t>& plane, int bits, const FilterSettings& s) {
    ASSERT_EQ(
        filter_words_reference(s, bits, plane.data(), plane.pitch, default_scratch_allocator()),
        PassStatus::ok);
}

struct Parameters {
    int32_t strength, threshold1, threshold2;
};
// The defaults and settings the suggestion table gives for light to heavy noise.
constexpr Parameters kParameterSets[] = {{20, 40, 10}, {8, 10, 12}, {14, 80, 20}, {17, 220, 50}};

// 8-bit content promoted to B bits and filtered there comes back, rounded to 8 bits,
// within 1 of the 8-bit result almost everywhere; at B = 8 the word pass is the byte pass.
TEST(DepthReference, PromotedContentMatchesTheBytePass) {
    for (double sigma : {3.0, 8.0})
        for (const Parameters& p : kParameterSets) {
            std::mt19937 rng(static_cast<unsigned>(sigma * 100 + p.threshold1));
            const std::vector<double> scene = test::noisy_scene(kWidth, kHeight, sigma, rng);
            SamplePlane<uint8_t> bytes = plane_of<uint8_t>(scene, 8);
            const SamplePlane<uint8_t> unfiltered = bytes;
            const FilterSettings s = settings(p.strength, p.threshold1, p.threshold2);
            ASSERT_EQ(
                filter_luma_reference(s, bytes.data(), bytes.pitch, default_scratch_allocator()),
                PassStatus::ok);
            for (int bits : {8, 9, 10, 12, 14, 16}) {
                SamplePlane<uint16_t> words(kWidth, kHeight, kWidth + 3);
                for (int y = 0; y < kHeight; ++y)
                    for (int x = 0; x < kWidth; ++x)
                        words.at(x, y) = static_cast<uint16_t>(unfiltered.at(x, y) << (bits - 8));
                filter_words(words, bits, s);
                int close = 0, exact = 0;
                for (int y = 0; y < kHeight; ++y)
                    for (int x = 0; x < kWidth; ++x) {
                        const int half = bits > 8 ? 1 << (bits - 9) : 0;
                        const int back = std::min((words.at(x, y) + half) >> (bits - 8), 255);
                        close += std::abs(back - bytes.at(x, y)) <= 1;
                        exact += back == bytes.at(x, y);
                    }
                const int total = kWidth * kHeight;
                SCOPED_TRACE(testing::Message()
                             << "B=" << bits << " sigma=" << sigma << " parameters " << p.strength
                             << "," << p.threshold1 << "," << p.threshold2);
                if (bits == 8)
                    EXPECT_EQ(exact, total);
                else
                    EXPECT_GE(close, total * 9 / 10);
            }
        }
}

double psnr(const std::vector<double>& clean, const SamplePlane<uint16_t>& plane, int bits) {
    double squares = 0;
    const double unit = 1 << (bits - 8);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const double e = plane.at(x, y) / unit - clean[y * kWidth + x];
            squares += e * e;
        }
    return 10 * std::log10(255.0 * 255.0 / (squares / (kWidth * kHeight)));
}

// A noisy scene quantised at 10 bits and filtered scores at least the PSNR of the
// same scene quantised and filtered at 8 bits (within 0.15 dB).
TEST(DepthReference, TenBitsLoseNoQualityToEight) {
    for (double sigma : {3.0, 6.0, 12.0})
        for (const Parameters& p : kParameterSets) {
            std::mt19937 rng(static_cast<unsigned>(sigma * 10));
            std::vector<double> clean = test::noisy_scene(kWidth, kHeight, 0.0, rng);
            std::vector<double> noisy = clean;
            std::normal_distribution<double> noise(0.0, sigma);
            for (double& v : noisy) v += noise(rng);
            double score[2];
            for (int i = 0; i < 2; ++i) {
                const int bits = i == 0 ? 8 : 10;
                SamplePlane<uint16_t> plane = plane_of<uint16_t>(noisy, bits);
                filter_words(plane, bits, settings(p.strength, p.threshold1, p.threshold2));
                score[i] = psnr(clean, plane, bits);
            }
            EXPECT_GE(score[1], score[0] - 0.15)
                << "sigma " << sigma << " parameters " << p.strength << "," << p.threshold1 << ","
                << p.threshold2;
        }
}

// Parameters scaled past 32 bits act as the bound of every difference that occurs:
// each pair must filter alike at 16 bits.
TEST(DepthReference, ExtremeParametersScaleExactly) {
    struct Pair {
        Parameters a, b;
    };
    const Pair pairs[] = {
        {{20, INT32_MAX, 10}, {20, 4096, 10}},  // every sample to the box mean
        {{20, 1 << 24, 10}, {20, 4096, 10}},    // 2^32 after scaling
        {{20, INT32_MIN, 10}, {20, 0, 10}},     // every sample to the detectors
        {{20, 0, INT32_MAX}, {20, 0, 256}},     // every difference unshaped
        {{20, 0, 1 << 24}, {20, 0, 256}},
        {{20, 0, INT32_MIN}, {20, 0, 0}},  // every difference shaped to 0
    };
    std::mt19937 rng(7);
    const std::vector<double> scene = test::noisy_scene(kWidth, kHeight, 10.0, rng);
    for (const Pair& pair : pairs) {
        SamplePlane<uint16_t> a = plane_of<uint16_t>(scene, 16), b = a;
        filter_words(a, 16, settings(pair.a.strength, pair.a.threshold1, pair.a.threshold2));
        filter_words(b, 16, settings(pair.b.strength, pair.b.threshold1, pair.b.threshold2));
        EXPECT_EQ(a.samples, b.samples) << pair.a.threshold1 << "," << pair.a.threshold2;
    }
}

// Any word, above the depth's maximum or not, with a knee near the largest
// difference: every written sample lands in 0..2^B - 1.
TEST(DepthReference, AnyWordGivesASampleInRange) {
    for (int bits : {9, 10, 12, 14, 16})
        for (int32_t strength : {20, -3000, 3000}) {
            std::mt19937 rng(static_cast<unsigned>(bits));
            std::uniform_int_distribution<int> any(0, 65535);
            SamplePlane<uint16_t> plane(kWidth, kHeight, kWidth);
            for (uint16_t& v : plane.samples) v = static_cast<uint16_t>(any(rng));
            filter_words(plane, bits, settings(strength, 40, 250));
            for (int y = 2; y < kHeight - 2; ++y)
                for (int x = 2; x < kWidth - 2; ++x)
                    ASSERT_LT(plane.at(x, y), 1 << bits) << "B=" << bits << " at " << x << "," << y;
        }
}

// Float samples at 1/255 scale follow the 8-bit result to within one step, the
// difference being the 8-bit pass's truncations.
TEST(DepthReference, FloatFollowsTheBytePass) {
    for (const Parameters& p : kParameterSets) {
        std::mt19937 rng(static_cast<unsigned>(p.threshold1));
        const std::vector<double> scene = test::noisy_scene(kWidth, kHeight, 6.0, rng);
        SamplePlane<uint8_t> bytes = plane_of<uint8_t>(scene, 8);
        SamplePlane<float> floats(kWidth, kHeight, kWidth + 1);
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) floats.at(x, y) = bytes.at(x, y) / 255.0f;
        const FilterSettings s = settings(p.strength, p.threshold1, p.threshold2);
        ASSERT_EQ(filter_luma_reference(s, bytes.data(), bytes.pitch, default_scratch_allocator()),
                  PassStatus::ok);
        ASSERT_EQ(
            filter_floats_reference(s, floats.data(), floats.pitch, default_scratch_allocator()),
            PassStatus::ok);
        int close = 0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                close += std::fabs(floats.at(x, y) * 255.0f - bytes.at(x, y)) <= 1.5f;
        EXPECT_GE(close, kWidth * kHeight * 9 / 10) << p.strength << "," << p.threshold1;
    }
}

// NaN, infinities and huge floats: a sample that is not finite stays as it is (bit
// for bit) and does not spread, finite samples come out finite, a huge sample
// alone in a picture keeps its sign, and strength 0 changes no bit at all.
TEST(DepthReference, NonFiniteAndHugeFloatsStayPut) {
    std::mt19937 rng(37);
    for (const test::FloatEdgeCase& c : test::kFloatEdgeCases)
        for (const test::FloatEdgeSettings& p : test::kFloatEdgeSettings) {
            const SamplePlane<float> before = test::float_edge_plane(c, 61, 45, 63, rng);
            SamplePlane<float> after = before;
            const FilterSettings s(61, 45, p.strength, p.threshold1, p.threshold2);
            ASSERT_EQ(
                filter_floats_reference(s, after.data(), after.pitch, default_scratch_allocator()),
                PassStatus::ok);
            if (p.strength == 0) {
                ASSERT_EQ(std::memcmp(before.samples.data(), after.samples.data(),
                                      before.samples.size() * sizeof(float)),
                          0)
                    << test::describe(c, p);
                continue;
            }
            for (int y = 0; y < 45; ++y)
                for (int x = 0; x < 61; ++x) {
                    const float in = before.at(x, y), out = after.at(x, y);
                    const std::string where =
                        test::describe(c, p) + " at " + std::to_string(x) + "," + std::to_string(y);
                    if (!std::isfinite(in)) {
                        ASSERT_EQ(std::memcmp(&in, &out, sizeof in), 0) << where;
                        continue;
                    }
                    ASSERT_TRUE(std::isfinite(out)) << where << ": " << in << " became " << out;
                    bool alone = std::fabs(in) >= 1e37f;
                    for (int j = -1; j <= 1; ++j)
                        for (int i = -1; i <= 1; ++i)
                            if ((i || j) && x + i >= 0 && x + i < 61 && y + j >= 0 && y + j < 45)
                                alone = alone && std::fabs(before.at(x + i, y + j)) < 1.0f;
                    if (alone) {
                        ASSERT_EQ(std::signbit(in), std::signbit(out)) << where;
                    }
                }
        }
}

// Denoiser takes byte pitches for every format, refuses what is not whole samples,
// and gives the reference result through whatever pass it chose.
TEST(DepthReference, DenoiserServesEveryFormat) {
    std::mt19937 rng(3);
    const std::vector<double> scene = test::noisy_scene(kWidth, kHeight, 8.0, rng);
    const FilterSettings s = settings(16, 80, 20);
    for (int bits : {8, 10, 16}) {
        SamplePlane<uint16_t> expected = plane_of<uint16_t>(scene, bits), actual = expected;
        filter_words(expected, bits, s);
        if (bits == 8) {
            SamplePlane<uint8_t> bytes = plane_of<uint8_t>(scene, 8);
            ASSERT_EQ(Denoiser(s).filter(bytes.data(), bytes.pitch_bytes()), PassStatus::ok);
            for (std::size_t i = 0; i < bytes.samples.size() - 1; ++i)
                ASSERT_EQ(bytes.samples[i], expected.samples[i] & 0xFF) << i;
            continue;
        }
        const Denoiser denoiser(s, SampleFormat::integer(bits));
        EXPECT_EQ(denoiser.filter(actual.data(), actual.pitch_bytes() + 1), PassStatus::misaligned);
        EXPECT_EQ(
            denoiser.filter(reinterpret_cast<uint8_t*>(actual.data()) + 1, actual.pitch_bytes()),
            PassStatus::misaligned);
        ASSERT_EQ(denoiser.filter(actual.data(), actual.pitch_bytes()), PassStatus::ok);
        EXPECT_EQ(actual.samples, expected.samples) << "B=" << bits;
    }
    SamplePlane<float> plane(kWidth, kHeight, kWidth + 2, 0.5f);
    EXPECT_EQ(Denoiser(s, SampleFormat{SampleType::u16, 17}).filter(plane.data(), 4),
              PassStatus::bad_format);
    EXPECT_EQ(Denoiser(s, SampleFormat::floating()).filter(plane.data(), plane.pitch_bytes()),
              PassStatus::ok);
}

}  // namespace
}  // namespace velnor
