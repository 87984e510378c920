// An owned 8-bit plane for tests: rows `pitch` bytes apart, padding after each row
// filled with a marker so that stray writes show.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <random>
#include <vector>

namespace velnor::test {

inline constexpr uint8_t kPaddingMarker = 0xA5;

struct TestPlane {
    int width = 0;
    int height = 0;
    std::ptrdiff_t pitch = 0;
    std::vector<uint8_t> bytes;

    TestPlane(int w, int h, std::ptrdiff_t p, uint8_t fill = 0)
        : width(w),
          height(h),
          pitch(p),
          bytes(static_cast<std::size_t>(p) * static_cast<std::size_t>(h > 0 ? h : 0) + 1,
                kPaddingMarker) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) at(x, y) = fill;
    }

    // Rows of samples, pitch equal to the width.
    static TestPlane from_rows(std::initializer_list<std::initializer_list<int>> rows) {
        const int h = static_cast<int>(rows.size());
        const int w = static_cast<int>(rows.begin()->size());
        TestPlane plane(w, h, w);
        int y = 0;
        for (const auto& row : rows) {
            int x = 0;
            for (int v : row) plane.at(x++, y) = static_cast<uint8_t>(v);
            ++y;
        }
        return plane;
    }

    uint8_t* data() { return bytes.data(); }
    uint8_t& at(int x, int y) { return bytes[static_cast<std::size_t>(y * pitch + x)]; }
    uint8_t at(int x, int y) const { return bytes[static_cast<std::size_t>(y * pitch + x)]; }
    bool operator==(const TestPlane& other) const { return bytes == other.bytes; }
};

// Random content of the kinds that exercise every path: noise, flat areas, hard
// edges and thin lines.
inline void fill_random(TestPlane& plane, std::mt19937& rng) {
    std::uniform_int_distribution<int> pick(0, 3);
    std::uniform_int_distribution<int> sample(0, 255);
    std::uniform_int_distribution<int> small(-12, 12);
    const int style = pick(rng);
    const int base = sample(rng), other = sample(rng);
    const int split = plane.width > 0 ? sample(rng) % (plane.width + 1) : 0;
    for (int y = 0; y < plane.height; ++y) {
        for (int x = 0; x < plane.width; ++x) {
            int v;
            switch (style) {
                case 0:
                    v = sample(rng);
                    break;  // pure noise
                case 1:
                    v = base + small(rng);
                    break;  // flat with noise
                case 2:
                    v = (x < split ? base : other) + small(rng);
                    break;  // vertical edge
                default:
                    v = ((x + y) % 7 == 0 ? other : base) + (pick(rng) == 0 ? small(rng) : 0);
            }
            plane.at(x, y) = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
        }
    }
}

}  // namespace velnor::test
