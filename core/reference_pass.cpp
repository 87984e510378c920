// The plain pass: one raster sweep, each result written back before the next
// sample is visited, so later samples see earlier results where the algorithm says.
#include <cstdlib>

#include "core/luma_pass.h"
#include "core/pass_arith.h"
#include "core/row_window.h"

namespace velnor {

namespace {

enum Kernel { kG1, kG2, kG3, kG4, kG5, kG6, kKernelCount };

// 3x3 detector kernels, rows top to bottom, columns left to right.
constexpr int kKernels[kKernelCount][3][3] = {
    {{1, 0, -1}, {2, 0, -2}, {1, 0, -1}},     // G1 vertical edge
    {{1, 2, 1}, {0, 0, 0}, {-1, -2, -1}},     // G2 horizontal edge
    {{2, 1, 0}, {1, 0, -1}, {0, -1, -2}},     // G3 lower left to upper right
    {{0, -1, -2}, {1, 0, -1}, {2, 1, 0}},     // G4 upper left to lower right
    {{-1, 2, -1}, {-2, 4, -2}, {-1, 2, -1}},  // G5 thin vertical line
    {{-1, -2, -1}, {2, 4, 2}, {-1, -2, -1}},  // G6 thin horizontal line
};

struct Offset {
    int dx, dy;
};

// The four smoothing neighbours along each kernel's orientation.
constexpr Offset kNeighbours[kKernelCount][4] = {
    {{0, -2}, {0, -1}, {0, 1}, {0, 2}},    // G1 vertical
    {{-2, 0}, {-1, 0}, {1, 0}, {2, 0}},    // G2 horizontal
    {{2, -2}, {1, -1}, {-1, 1}, {-2, 2}},  // G3
    {{-2, -2}, {-1, -1}, {1, 1}, {2, 2}},  // G4
    {{0, -2}, {0, -1}, {0, 1}, {0, 2}},    // G5 vertical
    {{-2, 0}, {-1, 0}, {1, 0}, {2, 0}},    // G6 horizontal
};

class PlaneView {
public:
    PlaneView(uint8_t* plane, std::ptrdiff_t pitch) : plane_(plane), pitch_(pitch) {}
    uint8_t& at(int x, int y) const { return plane_[y * pitch_ + x]; }

private:
    uint8_t* plane_;
    std::ptrdiff_t pitch_;
};

void fill_row_sums(const PlaneView& p, int y, int width, int32_t* sums) {
    for (int x = kBorder; x < width - kBorder; ++x)
        sums[x] = p.at(x - 1, y) + p.at(x, y) + p.at(x + 1, y);
}

int32_t response(const PlaneView& p, int x, int y, Kernel kernel) {
    int32_t sum = 0;
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 3; ++i) sum += kKernels[kernel][j][i] * p.at(x + i - 1, y + j - 1);
    return sum;
}

// The winning kernel and its magnitude; ties keep the lower-numbered kernel.
Kernel strongest_kernel(const PlaneView& p, int x, int y, int32_t* magnitude) {
    int32_t r[kKernelCount];
    for (int k = 0; k < kKernelCount; ++k) r[k] = response(p, x, y, static_cast<Kernel>(k));
    r[kG5] >>= 1;
    r[kG6] >>= 1;
    for (int32_t& v : r) v = std::abs(v);
    Kernel winner = kG1;
    for (int k = kG2; k < kKernelCount; ++k)
        if (r[k] > r[winner]) winner = static_cast<Kernel>(k);
    *magnitude = r[winner];
    return winner;
}

int32_t directional_average(const PlaneView& p, int x, int y, Kernel kernel,
                            const FilterSettings& settings) {
    const int centre = p.at(x, y);
    int32_t sum = 0;
    for (const Offset& n : kNeighbours[kernel])
        sum += settings.shape(centre - p.at(x + n.dx, y + n.dy));
    return sum >> 2;
}

}  // namespace

PassStatus filter_luma_reference(const FilterSettings& settings, uint8_t* plane,
                                 std::ptrdiff_t pitch, const ScratchAllocator& scratch) {
    const int width = settings.width;
    const int height = settings.height;
    if (width <= 2 * kBorder || height <= 2 * kBorder) return PassStatus::ok;

    const float k = strength_factor(settings.strength);
    RowWindow window(width, scratch);
    if (!window.valid()) return PassStatus::out_of_memory;

    const PlaneView p(plane, pitch);
    fill_row_sums(p, 1, width, window.upper());
    fill_row_sums(p, 2, width, window.middle());

    for (int y = kBorder; y < height - kBorder; ++y) {
        fill_row_sums(p, y + 1, width, window.lower());
        for (int x = kBorder; x < width - kBorder; ++x) {
            const int32_t centre = p.at(x, y);
            const int32_t activity =
                9 * centre - (window.upper()[x] + window.middle()[x] + window.lower()[x]);
            int32_t w;
            if (std::abs(activity) < settings.threshold1) {
                w = activity / 9;
            } else {
                int32_t magnitude;
                const Kernel kernel = strongest_kernel(p, x, y, &magnitude);
                if (magnitude < confidence_threshold(activity))
                    w = activity / 9;
                else
                    w = directional_average(p, x, y, kernel, settings);
            }
            p.at(x, y) = corrected_sample(centre, scaled_correction(w, k));
        }
        window.rotate();
    }
    return PassStatus::ok;
}

}  // namespace velnor
