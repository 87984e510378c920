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
                               std::ptrdiff_t pitch) {
    if (width <= 0 || height <= 0) return;
    const auto w = static_cast<std::size_t>(width);
    std::vector<uint16_t> words(w * static_cast<std::size_t>(height));
    for (int32_t y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const float*>(
            reinterpret_cast<const unsigned char*>(plane) + y * pitch);
        for (std::size_t x = 0; x < w; ++x)
            words[static_cast<std::size_t>(y) * w + x] = estimate_word(row[x]);
    }
    add_samples(words.data(), 16, width, height, static_cast<std::ptrdiff_t>(w * sizeof(uint16_t)));
}

void NoiseEstimator::add_plane(const void* plane, SampleFormat format, int32_t width,
                               int32_t height, std::ptrdiff_t pitch) {
    if (!format.valid()) return;
    switch (format.type) {
        case SampleType::u8:
            return add_plane(static_cast<const uint8_t*>(plane), width, height, pitch);
        case SampleType::u16:
            return add_plane(static_cast<const uint16_t*>(plane), format.bits, width, height,
                             pitch);
        case SampleType::f32:
            return add_plane(static_cast<const float*>(plane), width, height, pitch);
    }
}

template <typename Sample>
void NoiseEstimator::add_samples(const Sample* plane, int bits, int32_t width, int32_t height,
                                 std::ptrdiff_t pitch) {
    if (width <= 0 || height <= 0) return;
    // One 8-bit step in samples of this depth, and the clipped range's bounds there.
    const int shift = bits - 8;
    const double step = static_cast<double>(int64_t{1} << shift);
    const int32_t low = int32_t{1} << shift, high = int32_t{255} << shift;
    samples_ += static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    if (width < 3 || height < 3) return;
    // Mask positions are the samples with a full 3x3 window; a plane smaller than a
    // block in either direction is one block in that direction.
    const int32_t columns = width - 2, rows = height - 2;
    const int32_t blocks_x = std::max(1, columns / kBlock);
    const int32_t blocks_y = std::max(1, rows / kBlock);
    const int32_t block_w = std::min(columns, kBlock), block_h = std::min(rows, kBlock);

    // Per row: the horizontal second difference of each sample and whether its
    // three samples include one whose top 8 bits are 0 or 255.
    std::vector<int32_t> diff[3];
    std::vector<uint8_t> clipped[3];
    for (int k = 0; k < 3; ++k) {
        diff[k].resize(static_cast<std::size_t>(columns));
        clipped[k].resize(static_cast<std::size_t>(columns));
    }
    const auto fill_row = [&](int32_t y, int slot) {
        const auto* row = reinterpret_cast<const Sample*>(
            reinterpret_cast<const unsigned char*>(plane) + y * pitch);
        // Without branches, as below.
        const auto clipped_sample = [low, high](int32_t v) {
            return static_cast<uint8_t>((v < low) | (v >= high));
        };
        for (int32_t x = 0; x < columns; ++x) {
            const int32_t a = row[x], b = row[x + 1], c = row[x + 2];
            diff[slot][static_cast<std::size_t>(x)] = a - 2 * b + c;
            clipped[slot][static_cast<std::size_t>(x)] =
                clipped_sample(a) | clipped_sample(b) | clipped_sample(c);
        }
    };

    std::vector<BlockSum> sums(static_cast<std::size_t>(blocks_x));
    fill_row(0, 0);
    fill_row(1, 1);
    for (int32_t y = 0; y < blocks_y * block_h; ++y) {
        // Rows y, y+1, y+2 of the plane sit in slots y%3, (y+1)%3, (y+2)%3.
        fill_row(y + 2, (y + 2) % 3);
        const int top = y % 3, middle = (y + 1) % 3, bottom = (y + 2) % 3;
        for (int32_t bx = 0; bx < blocks_x; ++bx) {
            // Without branches, so that the compiler can vectorise the block's row:
            // a response next to a clipped sample adds nothing.
            uint32_t total = 0, count = 0;
            for (int32_t x = bx * block_w; x < (bx + 1) * block_w; ++x) {
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
        if ((y + 1) % block_h != 0) continue;
        // A block counts when at least half its responses are usable.
        const uint32_t needed = static_cast<uint32_t>(block_w * block_h) / 2;
        for (BlockSum& sum : sums) {
            if (sum.count > 0 && sum.count >= needed)
                block_means_.push_back(
                    static_cast<float>(static_cast<double>(sum.total) / sum.count / step));
            sum = BlockSum{};
        }
    }
    add_coarse_blocks(plane, low, high, step, width, height, pitch);
}

template <typename Sample>
void NoiseEstimator::add_coarse_blocks(const Sample* plane, int32_t low, int32_t high, double step,
                                       int32_t width, int32_t height, std::ptrdiff_t pitch) {
    // Responses at the even positions whose 5x5 window fits, in blocks of 8x8 of
    // them; rows and columns of responses are indexed by half the sample position.
    constexpr int kCoarse = kBlock / 2;
    const int32_t columns = (width - 3) / 2, rows = (height - 3) / 2;
    if (columns < kCoarse || rows < kCoarse) return;
    const int32_t blocks_x = columns / kCoarse;
    const auto used = static_cast<std::size_t>(blocks_x * kCoarse);

    // Per even row, as for the plain mask: the horizontal second difference two
    // samples apart at each even position, and whether its taps include a clipped one.
    std::vector<int32_t> diff[3];
    std::vector<uint8_t> clipped[3];
    for (int k = 0; k < 3; ++k) {
        diff[k].resize(used);
        clipped[k].resize(used);
    }
    const auto fill_row = [&](int32_t j, int slot) {
        const auto* row = reinterpret_cast<const Sample*>(
            reinterpret_cast<const unsigned char*>(plane) + 2 * j * pitch);
        const auto clipped_sample = [low, high](int32_t v) {
            return static_cast<uint8_t>((v < low) | (v >= high));
        };
        for (std::size_t i = 0; i < used; ++i) {
            const int32_t a = row[2 * i], b = row[2 * i + 2], c = row[2 * i + 4];
            diff[slot][i] = a - 2 * b + c;
            clipped[slot][i] = clipped_sample(a) | clipped_sample(b) | clipped_sample(c);
        }
    };

    std::vector<BlockSum> sums(static_cast<std::size_t>(blocks_x));
    const uint32_t needed = kCoarse * kCoarse / 2;
    fill_row(0, 0);
    fill_row(1, 1);
    for (int32_t j = 0; j < rows / kCoarse * kCoarse; ++j) {
        fill_row(j + 2, (j + 2) % 3);
        const int top = j % 3, middle = (j + 1) % 3, bottom = (j + 2) % 3;
        for (int32_t bx = 0; bx < blocks_x; ++bx) {
            uint32_t total = 0, count = 0;
            for (int32_t i = bx * kCoarse; i < (bx + 1) * kCoarse; ++i) {
                const auto k = static_cast<std::size_t>(i);
                const uint32_t usable =
                    1u - (clipped[top][k] | clipped[middle][k] | clipped[bottom][k]);
                const int32_t response = diff[top][k] - 2 * diff[middle][k] + diff[bottom][k];
                total += usable * static_cast<uint32_t>(std::abs(response));
                count += usable;
            }
            BlockSum& sum = sums[static_cast<std::size_t>(bx)];
            sum.total += total;
            sum.count += count;
        }
        if ((j + 1) % kCoarse != 0) continue;
        for (BlockSum& sum : sums) {
            if (sum.count > 0 && sum.count >= needed)
                coarse_means_.push_back(
                    static_cast<float>(static_cast<double>(sum.total) / sum.count / step));
            sum = BlockSum{};
        }
    }
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
