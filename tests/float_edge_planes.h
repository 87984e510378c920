// Float planes holding what broken sources and expressions give: NaN, infinities
// and finite samples so large that nine of them overflow, alone, in lines, at the
// border or scattered, in a picture of gauss(0.5, 0.02), and settings that send
// every sample to the detectors or none. For the reference pass's promises about
// such input and the vector passes' agreement with it.
#pragma once

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "tests/sample_plane.h"

namespace velnor::test {

inline constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
inline constexpr float kInf = std::numeric_limits<float>::infinity();

struct FloatEdgeCase {
    const char* name;
    // Where the special values go in a width x height plane.
    void (*place)(SamplePlane<float>& plane, std::mt19937& rng);
};

inline const FloatEdgeCase kFloatEdgeCases[] = {
    {"one NaN", [](SamplePlane<float>& p, std::mt19937&) { p.at(30, 20) = kNaN; }},
    {"one +inf", [](SamplePlane<float>& p, std::mt19937&) { p.at(30, 20) = kInf; }},
    {"one -inf", [](SamplePlane<float>& p, std::mt19937&) { p.at(17, 33) = -kInf; }},
    {"NaN on the border and next to it",
     [](SamplePlane<float>& p, std::mt19937&) {
         p.at(1, 1) = kNaN;
         p.at(2, 14) = kNaN;
         p.at(p.width - 3, 13) = kInf;
     }},
    {"one 5e37", [](SamplePlane<float>& p, std::mt19937&) { p.at(30, 20) = 5e37f; }},
    {"one -6e37 and one FLT_MAX",
     [](SamplePlane<float>& p, std::mt19937&) {
         p.at(30, 20) = -6e37f;
         p.at(12, 8) = FLT_MAX;
     }},
    {"+-4e37 in every 7th sample",
     [](SamplePlane<float>& p, std::mt19937&) {
         for (int y = 0; y < p.height; ++y)
             for (int x = 0; x < p.width; ++x)
                 if ((x + y * p.width) % 7 == 0) p.at(x, y) = (x + y) % 2 ? 4e37f : -4e37f;
     }},
    {"a row of NaN and a column of -inf",
     [](SamplePlane<float>& p, std::mt19937&) {
         for (int x = 0; x < p.width; ++x) p.at(x, 13) = kNaN;
         for (int y = 0; y < p.height; ++y) p.at(25, y) = -kInf;
     }},
    {"scattered specials",
     [](SamplePlane<float>& p, std::mt19937& rng) {
         const float specials[] = {kNaN, kInf, -kInf, 5e37f, -6e37f, FLT_MAX, -FLT_MAX, -0.0f};
         std::uniform_int_distribution<int> pick(0, 39);
         for (float& s : p.samples)
             if (const int i = pick(rng); i < 8) s = specials[i];
     }},
    {"huge values everywhere",
     [](SamplePlane<float>& p, std::mt19937& rng) {
         std::uniform_real_distribution<float> huge(0.0f, FLT_MAX);
         std::bernoulli_distribution negative;
         for (float& s : p.samples) s = negative(rng) ? -huge(rng) : huge(rng);
     }},
};

// The case's plane: width x height samples of gauss(0.5, 0.02), a -0.0 among them,
// with the case's special values; rows pitch samples apart, the padding -7.
inline SamplePlane<float> float_edge_plane(const FloatEdgeCase& c, int width, int height,
                                           std::ptrdiff_t pitch, std::mt19937& rng) {
    SamplePlane<float> plane(width, height, width, 0.0f);
    std::normal_distribution<float> gauss(0.5f, 0.02f);
    for (float& s : plane.samples) s = gauss(rng);
    plane.at(5, 5) = -0.0f;
    c.place(plane, rng);
    SamplePlane<float> padded(width, height, pitch, -7.0f);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) padded.at(x, y) = plane.at(x, y);
    return padded;
}

// Settings the edge planes are filtered with: the defaults, every sample through
// the detectors, none, and strengths from zero to far beyond any sensible value.
struct FloatEdgeSettings {
    int32_t strength, threshold1, threshold2;
};
inline constexpr FloatEdgeSettings kFloatEdgeSettings[] = {
    {20, 40, 10}, {0, 40, 10},        {20, 0, 10},       {20, INT32_MAX, 10},
    {-7, 0, 255}, {2000000000, 0, 1}, {0, INT32_MIN, 0}, {1, 12, INT32_MAX},
};

inline std::string describe(const FloatEdgeCase& c, const FloatEdgeSettings& s) {
    return std::string(c.name) + ", strength " + std::to_string(s.strength) + " threshold1 " +
           std::to_string(s.threshold1) + " threshold2 " + std::to_string(s.threshold2);
}

}  // namespace velnor::test
