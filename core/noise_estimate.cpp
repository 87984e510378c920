#include "core/noise_estimate.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace velnor {

namespace {

// The 5th percentile of the block means sits below their centre even on pure
// noise; measured with this code on Gaussian noise (sigma 2 to 30, 4096x4096
// planes of mid grey), the percentile is this fraction of the true mean.
constexpr double kPercentileBias = 0.864;

// Sums of |response| and usable responses over a rectangle of mask positions.
struct BlockSum {
    uint64_t total = 0;
    uint32_t count = 0;
};

// The element at `fraction` of the way through `values` in ascending order
// (rounded down); reorders them. `values` is not empty.
double percentile(std::vector<float>& values, double fraction) {
    const auto rank =
        static_cast<std::ptrdiff_t>(fraction * static_cast<double>(values.size() - 1));
    std::nth_element(values.begin(), values.begin() + rank, values.end());
    return values[static_cast<std::size_t>(rank)];
}

// Samples of one depth: an 8-bit step in them, and the clipped range's bounds.
struct Depth {
    double step;
    int32_t low, high;
};

// Blocks of mask responses: how many across and down, and their width and height.
struct Blocks {
    int32_t across, down, width, height;
};

// Appends to `means` the mean |response| (in 8-bit steps) of each block with at
// least half its responses usable, for the mask with its taps kStride samples
// apart, at every kStride-th row and column; response (x, y) is the mask at sample
// (kStride x, kStride y), its top left tap. A response whose taps include a sample
// whose top 8 bits are 0 or 255 is not usable.
template <int kStride, typename Sample>
void add_block_means(const Sample* plane, std::ptrdiff_t pitch, const Depth& depth,
                     const Blocks& blocks, std::vector<float>& means) {
    const auto columns = static_cast<std::size_t>(blocks.across * blocks.width);
    // Per row of responses: the horizontal second difference at each position and
    // whether its taps include a clipped sample; three rows, rolling.
    std::vector<int32_t> diff[3];
    std::vector<uint8_t> clipped[3];
    for (int k = 0; k < 3; ++k) {
        diff[k].resize(columns);
        clipped[k].resize(columns);
    }
    const auto fill_row = [&](int32_t y, int slot) {
        const auto* row = reinterpret_cast<const Sample*>(
            reinterpret_cast<const unsigned char*>(plane) + kStride * y * pitch);
        // Without branches, as below.
        const auto clipped_sample = [&depth](int32_t v) {
            return static_cast<uint8_t>((v < depth.low) | (v >= depth.high));
        };
        for (std::size_t x = 0; x < columns; ++x) {
            const int32_t a = row[kStride * x], b = row[kStride * (x + 1)],
                          c = row[kStride * (x + 2)];
            diff[slot][x] = a - 2 * b + c;
            clipped[slot][x] = clipped_sample(a) | clipped_sample(b) | clipped_sample(c);
        }
    };

    std::vector<BlockSum> sums(static_cast<std::size_t>(blocks.across));
    // A block counts when at least half its responses are usable.
    const auto needed = static_cast<uint32_t>(blocks.width * blocks.height) / 2;
    fill_row(0, 0);
    fill_row(1, 1);
    for (int32_t y = 0; y < blocks.down * blocks.height; ++y) {
        // Rows y, y+1, y+2 sit in slots y%3, (y+1)%3, (y+2)%3.
        fill_row(y + 2, (y + 2) % 3);
        const int top = y % 3, middle = (y + 1) % 3, bottom = (y + 2) % 3;
        for (int32_t bx = 0; bx < blocks.across; ++bx) {
            // Without branches, so that the compiler can vectorise the block's row:
            // a response next to a clipped sample adds nothing.
            uint32_t total = 0, count = 0;
            for (int32_t x = bx * blocks.width; x < (bx + 1) * blocks.width; ++x) {
                const auto i = static_cast<std::size_t>(x);
                const uint32_t usable =
                    1u - (clipped[top][i] | clipped[middle][i] | clipped[bottom][i]);
                const int32_t response = diff[top][i] - 2 * diff[middle][i] + diff[bottom][i];
                total += usable * static_cast<uint32_t>(std::abs(response));
                count += usable;
            }
            BlockSum& sum = sums[static_cast<std::size_t>(bx)];
            sum.total += total;
            sum.count += count;
        }
        if ((y + 1) % blocks.height != 0) continue;
        for (BlockSum& sum : sums) {
            if (sum.count > 0 && sum.count >= needed)
                means.push_back(
                    static_cast<float>(static_cast<double>(sum.total) / sum.count / depth.step));
            sum = BlockSum{};
        }
    }
}

}  // namespace

void NoiseEstimator::add_plane(const uint8_t* plane, int32_t width, int32_t height,
                               std::ptrdiff_t pitch) {
    add_samples(plane, 8, width, height, pitch);
}

void NoiseEstimator::add_plane(const uint16_t* plane, int bits, int32_t width, int32_t height,
                               std::ptrdiff_t pitch) {
    add_samples(plane, bits, width, height, pitch);
}

uint16_t estimate_word(float sample) {
    const double word = static_cast<double>(sample) * (255.0 * 256.0);
    if (!(word > 0)) return 0;  // also not a number
    if (word >= 65535.0) return 65535;
    return static_cast<uint16_t>(word + 0.5);  // positive: rounds halves up, as lround
}

void NoiseEstimator::add_plane(const float* plane, int32_t width, int32_t height,
                               std::ptrdiff_t pitch, FloatRange range) {
    if (width <= 0 || height <= 0) return;
    const float offset = range == FloatRange::centred ? 0.5f : 0.0f;
    const auto w = static_cast<std::size_t>(width);
    std::vector<uint16_t> words(w * static_cast<std::size_t>(height));
    for (int32_t y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const float*>(
            reinterpret_cast<const unsigned char*>(plane) + y * pitch);
        for (std::size_t x = 0; x < w; ++x)
            words[static_cast<std::size_t>(y) * w + x] = estimate_word(row[x] + offset);
    }
    add_samples(words.data(), 16, width, height, static_cast<std::ptrdiff_t>(w * sizeof(uint16_t)));
}

void NoiseEstimator::add_plane(const void* plane, SampleFormat format, int32_t width,
                               int32_t height, std::ptrdiff_t pitch, FloatRange range) {
    if (!format.valid()) return;
    switch (format.type) {
        case SampleType::u8:
            return add_plane(static_cast<const uint8_t*>(plane), width, height, pitch);
        case SampleType::u16:
            return add_plane(static_cast<const uint16_t*>(plane), format.bits, width, height,
                             pitch);
        case SampleType::f32:
            return add_plane(static_cast<const float*>(plane), width, height, pitch, range);
    }
}

template <typename Sample>
void NoiseEstimator::add_samples(const Sample* plane, int bits, int32_t width, int32_t height,
                                 std::ptrdiff_t pitch) {
    if (width <= 0 || height <= 0) return;
    // One 8-bit step in samples of this depth, and the clipped range's bounds there.
    const int shift = bits - 8;
    const Depth depth{static_cast<double>(int64_t{1} << shift), int32_t{1} << shift,
                      int32_t{255} << shift};
    samples_ += static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    if (width < 3 || height < 3) return;
    // Mask positions are the samples with a full 3x3 window; a plane smaller than a
    // block in either direction is one block in that direction.
    const int32_t columns = width - 2, rows = height - 2;
    add_block_means<1>(plane, pitch, depth,
                       {std::max(1, columns / kBlock), std::max(1, rows / kBlock),
                        std::min(columns, kBlock), std::min(rows, kBlock)},
                       block_means_);
    // The spread mask at the even positions whose 5x5 window fits, in blocks of 8x8
    // of them (16x16 samples).
    constexpr int kCoarse = kBlock / 2;
    const int32_t coarse_columns = (width - 3) / 2, coarse_rows = (height - 3) / 2;
    if (coarse_columns >= kCoarse && coarse_rows >= kCoarse)
        add_block_means<2>(plane, pitch, depth,
                           {coarse_columns / kCoarse, coarse_rows / kCoarse, kCoarse, kCoarse},
                           coarse_means_);
}

NoiseEstimate NoiseEstimator::estimate() const {
    NoiseEstimate result;
    result.samples = samples_;
    result.blocks = block_means_.size();
    if (block_means_.empty()) return result;
    // One working copy serves both percentiles.
    std::vector<float> work = block_means_;
    const double smoothest = percentile(work, kPercentile);
    if (!coarse_means_.empty() && smoothest > 0) {
        work.assign(coarse_means_.begin(), coarse_means_.end());
        result.detail = percentile(work, kDetailPercentile) / smoothest * kPercentileBias;
    } else {
        result.detail = 1.0;  // too small or too flat to tell: as pure noise reads
    }
    // Gaussian noise of sigma s gives responses of standard deviation 6 s, whose
    // mean magnitude is 6 s sqrt(2 / pi).
    result.sigma = smoothest * std::sqrt(std::numbers::pi / 2) / 6 / kPercentileBias;
    result.valid = true;
    return result;
}

}  // namespace velnor
