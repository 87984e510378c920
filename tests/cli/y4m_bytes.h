// Builds YUV4MPEG2 byte streams for tests, independently of the reader and writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace velnor::cli::test {

struct PlanarFrame {
    std::string header = "FRAME";
    std::vector<uint8_t> luma, cb, cr, alpha;  // stream bytes; empty planes are absent
};

// A plane's size in samples.
struct Size {
    int width, height;
};

// `count` random samples of `bits` bits as stream bytes (16-bit little-endian words
// above 8 bits).
inline std::vector<uint8_t> random_samples(std::size_t count, int bits, std::mt19937& rng) {
    std::uniform_int_distribution<uint32_t> sample(0, (uint32_t{1} << bits) - 1);
    std::vector<uint8_t> bytes;
    for (std::size_t i = 0; i < count; ++i) {
        const uint32_t v = sample(rng);
        bytes.push_back(static_cast<uint8_t>(v & 0xff));
        if (bits > 8) bytes.push_back(static_cast<uint8_t>(v >> 8));
    }
    return bytes;
}

// A frame with planes of the given sizes (luma, Cb, Cr, alpha; a zero size leaves
// the plane out) and random samples.
inline PlanarFrame random_layout_frame(const Size (&sizes)[4], int bits, std::mt19937& rng) {
    PlanarFrame frame;
    std::vector<uint8_t>* planes[] = {&frame.luma, &frame.cb, &frame.cr, &frame.alpha};
    for (int i = 0; i < 4; ++i)
        *planes[i] = random_samples(
            static_cast<std::size_t>(sizes[i].width) * static_cast<std::size_t>(sizes[i].height),
            bits, rng);
    return frame;
}

inline std::size_t chroma_size(int width, int height) {
    return static_cast<std::size_t>((width + 1) / 2) * static_cast<std::size_t>((height + 1) / 2);
}

// A frame of random samples: noisy luma with some structure, random chroma.
inline PlanarFrame random_frame(int width, int height, std::mt19937& rng) {
    PlanarFrame frame;
    std::uniform_int_distribution<int> byte(0, 255), noise(-20, 20);
    const int base = byte(rng);
    frame.luma.resize(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int v = ((x / 5 + y / 3) % 2 ? base : 255 - base) + noise(rng);
            frame.luma[static_cast<std::size_t>(y) * width + x] =
                static_cast<uint8_t>(v < 0     ? 0
                                     : v > 255 ? 255
                                               : v);
        }
    frame.cb.resize(chroma_size(width, height));
    frame.cr.resize(chroma_size(width, height));
    for (uint8_t& v : frame.cb) v = static_cast<uint8_t>(byte(rng));
    for (uint8_t& v : frame.cr) v = static_cast<uint8_t>(byte(rng));
    return frame;
}

inline void append(std::vector<uint8_t>* out, const std::string& text) {
    out->insert(out->end(), text.begin(), text.end());
}

inline std::vector<uint8_t> stream_bytes(const std::string& header,
                                         const std::vector<PlanarFrame>& frames) {
    std::vector<uint8_t> out;
    append(&out, header + "\n");
    for (const PlanarFrame& frame : frames) {
        append(&out, frame.header + "\n");
        out.insert(out.end(), frame.luma.begin(), frame.luma.end());
        out.insert(out.end(), frame.cb.begin(), frame.cb.end());
        out.insert(out.end(), frame.cr.begin(), frame.cr.end());
        out.insert(out.end(), frame.alpha.begin(), frame.alpha.end());
    }
    return out;
}

inline std::vector<uint8_t> bytes_of(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

}  // namespace velnor::cli::test
