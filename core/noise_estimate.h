// Estimates the standard deviation of additive white noise in luma planes of 8 to
// 16 bits, in 8-bit steps.
//
// The basis is J. Immerkær, "Fast Noise Variance Estimation", Computer Vision and
// Image Understanding 64(2), 1996: the 3x3 mask
//     1 -2  1
//    -2  4 -2
//     1 -2  1
// is the difference of two Laplacians and cancels planes and straight ramps, so
// on a smooth picture its response is noise alone, of standard deviation 6 sigma;
// sigma = sqrt(pi/2) / 6 * mean |response|. Texture and edges raise the response
// as well, so the mean is taken per block of 16x16 responses and only the
// smoothest blocks count (the homogeneous-block selection of block-based
// estimators): sigma comes from the 5th percentile of the block means, scaled so
// that pure Gaussian noise gives its own sigma. Responses whose 3x3 window touches
// 0 or 255 are left out, because clipping hides noise.
//
// At B bits the responses are divided by 2^(B-8) and a sample counts as clipped
// when its top 8 bits are 0 or 255, so a plane promoted from 8 bits (each sample
// shifted left) gives the 8-bit estimate and the same suggested settings. Float
// samples (1.0 playing the role of 255) are measured as the 16-bit words
// estimate_word() makes of them, so a 16-bit copy of a float plane gives its
// estimate to the bit; float chroma, centred on 0, is shifted up by one half first.
//
// Detail is measured with the same mask spread over every other sample (taps two
// samples apart), at every other row and column: white noise answers it as it
// answers the plain mask, while smooth picture content answers it four times as
// strongly, so the detail of soft and upscaled pictures, hidden in the noise at the
// scale of one sample, shows. Its blocks cover the same 16x16 samples, with 8x8
// responses each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/sample_format.h"

namespace velnor {

struct NoiseEstimate {
    bool valid = false;  // false: no usable block (planes too small or saturated)
    double sigma = 0;    // estimated standard deviation in 8-bit steps
    // Detail against the noise: the upper quartile of the block means of the mask
    // spread over every other sample (see NoiseEstimator), over the noise's block
    // mean. About 1 on pure noise and flat pictures; photographs at their own size
    // read 2 to 5 at light noise, the same scaled up a few times 1.2 to 2.
    double detail = 0;
    std::size_t blocks = 0;  // usable blocks seen
    uint64_t samples = 0;    // luma samples seen
};

// Where float samples lie: 0..1 (luma), or centred on 0 as the hosts hold float
// chroma. Centred samples are measured shifted up by one half, so that 8-bit
// chroma and its float form give the same estimate and only the ends of the range
// count as clipped.
enum class FloatRange { unit, centred };

// The 16-bit word a float sample is measured as: sample x 255 x 256 rounded to
// the nearest, within 0..65535 (not a number: 0).
uint16_t estimate_word(float sample);

class NoiseEstimator {
public:
    static constexpr int kBlock = 16;  // block side, in mask responses
    static constexpr double kPercentile = 0.05;
    static constexpr double kDetailPercentile = 0.75;

    // Adds the blocks of one plane (rows `pitch` bytes apart). Planes of any size
    // are accepted; those smaller than a block count as one block.
    void add_plane(const uint8_t* plane, int32_t width, int32_t height, std::ptrdiff_t pitch);
    // The same for `bits` = 9..16: native 16-bit words, rows `pitch` bytes apart.
    void add_plane(const uint16_t* plane, int bits, int32_t width, int32_t height,
                   std::ptrdiff_t pitch);
    // The same for 32-bit float samples, each measured as estimate_word(sample), or
    // estimate_word(sample + 0.5) when `range` is centred.
    void add_plane(const float* plane, int32_t width, int32_t height, std::ptrdiff_t pitch,
                   FloatRange range = FloatRange::unit);

    // The plane in `format` (8 to 16-bit integer or float samples; `range` concerns
    // float samples only); an invalid format adds nothing.
    void add_plane(const void* plane, SampleFormat format, int32_t width, int32_t height,
                   std::ptrdiff_t pitch, FloatRange range = FloatRange::unit);

    NoiseEstimate estimate() const;

private:
    template <typename Sample>
    void add_samples(const Sample* plane, int bits, int32_t width, int32_t height,
                     std::ptrdiff_t pitch);

    // Mean |response| of each usable block, and the same for the spread mask; single
    // precision keeps a measured 8K frame's blocks within a few megabytes.
    std::vector<float> block_means_;
    std::vector<float> coarse_means_;
    uint64_t samples_ = 0;
};

}  // namespace velnor
