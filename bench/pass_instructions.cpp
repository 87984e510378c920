// One pass of one level over a plane read from a file, and nothing else: the
// program bench/aarch64-instructions.sh counts the instructions of under qemu.
//   pass_instructions LEVEL BITS WIDTH HEIGHT FILE
// BITS 8: bytes; 9..16: 16-bit words; 32: floats (native byte order, no padding).
// Exit status 0 when the pass ran.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/dispatch.h"
#include "core/filter_settings.h"
#include "core/luma_pass.h"

namespace {

template <class Sample>
bool read_plane(const char* path, std::vector<Sample>& plane) {
    std::FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    const bool complete =
        std::fread(plane.data(), sizeof(Sample), plane.size(), file) == plane.size();
    std::fclose(file);
    return complete;
}

}  // namespace

int main(int argc, char** argv) {
    velnor::SimdLevel level;
    if (argc != 6 || !velnor::parse_level(argv[1], &level)) {
        std::fprintf(stderr, "usage: pass_instructions LEVEL BITS WIDTH HEIGHT FILE\n");
        return 2;
    }
    const int bits = std::atoi(argv[2]), width = std::atoi(argv[3]), height = std::atoi(argv[4]);
    if (width < 1 || height < 1 || !(bits == 8 || bits == 32 || (bits > 8 && bits <= 16))) return 2;
    const velnor::FilterSettings settings(width, height, 20, 40, 10);
    const std::size_t samples = static_cast<std::size_t>(width) * height;
    const velnor::ScratchAllocator& scratch = velnor::default_scratch_allocator();
    velnor::PassStatus status;
    if (bits == 8) {
        std::vector<uint8_t> plane(samples);
        if (!read_plane(argv[5], plane)) return 1;
        status = velnor::pass_for_level(level)(settings, plane.data(), width, scratch);
    } else if (bits == 32) {
        std::vector<float> plane(samples);
        if (!read_plane(argv[5], plane)) return 1;
        status = velnor::float_pass_for_level(level)(settings, plane.data(), width, scratch);
    } else {
        std::vector<uint16_t> plane(samples);
        if (!read_plane(argv[5], plane)) return 1;
        status = velnor::word_pass_for_level(level)(settings, bits, plane.data(), width, scratch);
    }
    return status == velnor::PassStatus::ok ? 0 : 1;
}
