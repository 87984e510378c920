// Writes the Windows host's test clips: random frames of several sizes and contents,
// and the luma that the native reference pass makes of each under the call's
// parameters. Usage: make_cases OUTPUT_FILE
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "core/filter_settings.h"
#include "core/luma_pass.h"
#include "tests/msvc_host/case_format.h"

namespace {

using velnor_case_file::CaseHeader;

constexpr uint32_t kYV12 = 0xA0000008u;
constexpr uint32_t kI420 = 0xA0000010u;
// The script's defaults for strength, threshold1, threshold2.
constexpr int32_t kDefaults[3] = {20, 40, 10};

struct Argument {
    bool present;
    int32_t value;
};
constexpr Argument kOmitted{false, 0};
constexpr Argument arg(int32_t v) { return {true, v}; }

struct ClipRecipe {
    const char* name;
    uint32_t pixel_type;
    int width, height, luma_pitch;
    Argument strength, threshold1, threshold2;
    int frames;
};

// Frame n of every clip uses content style n % 4, so clips of four or more frames
// cover noise, flat areas, edges and lines, and a mix of all three.
constexpr ClipRecipe kCases[] = {
    {"defaults 64x48", kYV12, 64, 48, 80, kOmitted, kOmitted, kOmitted, 4},
    {"odd 37x29 strength 7", kYV12, 37, 29, 48, arg(7), arg(40), arg(10), 4},
    {"i420 41x23 threshold2 only", kI420, 41, 23, 64, kOmitted, kOmitted, arg(5), 4},
    {"wide 131x19 mixed", kYV12, 131, 19, 160, arg(13), arg(25), arg(30), 4},
    {"strength -13 thresholds -1 1", kYV12, 45, 21, 48, arg(-13), arg(-1), arg(1), 4},
    {"overshoot 33 2100 255", kI420, 38, 17, 40, arg(33), arg(2100), arg(255), 4},
    {"max strength min threshold1", kYV12, 35, 13, 36, arg(INT_MAX), arg(INT_MIN), arg(INT_MAX), 4},
    {"min strength zero threshold1", kYV12, 35, 13, 64, arg(INT_MIN), arg(0), arg(INT_MIN), 4},
    // Strength 7: w * 0.35 lands next to an integer for every multiple of 20, where a
    // product kept in x87 extended precision truncates differently. threshold1 above
    // 2040 sends every sample through the box mean, so all of w's range occurs.
    {"strength 7 box mean only", kYV12, 67, 31, 80, arg(7), arg(3000), arg(10), 4},
    {"strength -7 directional only", kI420, 53, 27, 64, arg(-7), arg(INT_MIN), arg(255), 4},
    {"strength 0", kYV12, 24, 12, 32, arg(0), arg(0), arg(128), 2},
    {"smallest 5x5", kYV12, 5, 5, 16, kOmitted, arg(0), kOmitted, 2},
    {"no interior 4x9", kI420, 4, 9, 8, kOmitted, arg(0), kOmitted, 1},
    {"threads 96x40", kYV12, 96, 40, 112, arg(7), arg(30), arg(12), 9},
};

int clamp_sample(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

int content_sample(int style, int x, int y, int width, int base, int other, std::mt19937& rng) {
    std::uniform_int_distribution<int> any(0, 255), small(-9, 9), coin(0, 3);
    switch (style) {
        case 0:  // noise
            return any(rng);
        case 1:  // flat with mild noise, a few single outliers
            return coin(rng) == 0 && any(rng) < 12 ? any(rng) : base + small(rng);
        case 2: {  // a vertical step, a diagonal step and thin lines, lightly noisy
            int v = x < width / 3 ? base : other;
            if (x + y > width) v = (base + other) / 2;
            if (y % 6 == 3) v = 255 - base;
            if (x % 9 == 4) v = other / 2;
            return v + (coin(rng) == 0 ? small(rng) : 0);
        }
        default:  // quadrants of the three
            return (x < width / 2) == (y % 8 < 4) ? content_sample(0, x, y, width, base, other, rng)
                   : x % 2                        ? content_sample(1, x, y, width, base, other, rng)
                           : content_sample(2, x, y, width, base, other, rng);
    }
}

bool write_all(std::FILE* out, const void* data, std::size_t bytes) {
    return std::fwrite(data, 1, bytes, out) == bytes;
}

bool write_case(std::FILE* out, const ClipRecipe& recipe, std::mt19937& rng) {
    CaseHeader header{};
    std::strncpy(header.name, recipe.name, sizeof header.name - 1);
    header.pixel_type = recipe.pixel_type;
    header.width = recipe.width;
    header.height = recipe.height;
    header.luma_pitch = recipe.luma_pitch;
    header.chroma_width = (recipe.width + 1) / 2;
    header.chroma_height = (recipe.height + 1) / 2;
    header.chroma_pitch = header.chroma_width + 5;
    const Argument args[3] = {recipe.strength, recipe.threshold1, recipe.threshold2};
    int32_t used[3];
    for (int i = 0; i < 3; ++i) {
        header.argument_present[i] = args[i].present ? 1 : 0;
        header.argument_value[i] = args[i].present ? args[i].value : 0;
        used[i] = args[i].present ? args[i].value : kDefaults[i];
    }
    header.frame_count = recipe.frames;
    if (!write_all(out, &header, sizeof header)) return false;

    const velnor::FilterSettings settings(recipe.width, recipe.height, used[0], used[1], used[2]);
    std::uniform_int_distribution<int> any(0, 255);
    for (int n = 0; n < recipe.frames; ++n) {
        // Padding and chroma are random too, so that any stray write shows.
        std::vector<uint8_t> luma(
            static_cast<std::size_t>(velnor_case_file::luma_plane_bytes(header)));
        for (uint8_t& b : luma) b = static_cast<uint8_t>(any(rng));
        const int base = any(rng), other = any(rng);
        for (int y = 0; y < recipe.height; ++y)
            for (int x = 0; x < recipe.width; ++x)
                luma[static_cast<std::size_t>(y * recipe.luma_pitch + x)] = static_cast<uint8_t>(
                    clamp_sample(content_sample(n % 4, x, y, recipe.width, base, other, rng)));
        std::vector<uint8_t> chroma(
            static_cast<std::size_t>(2 * velnor_case_file::chroma_plane_bytes(header)));
        for (uint8_t& b : chroma) b = static_cast<uint8_t>(any(rng));

        std::vector<uint8_t> expected = luma;
        if (velnor::filter_luma_reference(settings, expected.data(), recipe.luma_pitch,
                                          velnor::default_scratch_allocator()) !=
            velnor::PassStatus::ok) {
            std::fprintf(stderr, "make_cases: the reference pass failed on %s\n", recipe.name);
            return false;
        }
        if (!write_all(out, luma.data(), luma.size()) ||
            !write_all(out, chroma.data(), chroma.size()) ||
            !write_all(out, expected.data(), expected.size()))
            return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FILE\n", argv[0]);
        return 2;
    }
    std::FILE* out = std::fopen(argv[1], "wb");
    if (!out) {
        std::perror(argv[1]);
        return 1;
    }
    std::mt19937 rng(20240607);
    const int32_t file_header[3] = {velnor_case_file::kCaseFileMagic,
                                    velnor_case_file::kCaseFileVersion,
                                    static_cast<int32_t>(std::size(kCases))};
    bool ok = write_all(out, file_header, sizeof file_header);
    for (const ClipRecipe& recipe : kCases) ok = ok && write_case(out, recipe, rng);
    ok = std::fclose(out) == 0 && ok;
    if (!ok) {
        std::fprintf(stderr, "make_cases: could not write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
