// Test helper: the output velnor must produce for a YUV4MPEG2 stream of known size,
// computed with the reference pass and the simplest possible stream handling.
//   expected_y4m WIDTH HEIGHT STRENGTH THRESHOLD1 THRESHOLD2 < input > expected
// Header lines are copied; luma is filtered; chroma is copied.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/filter_settings.h"
#include "core/luma_pass.h"

namespace {

// Copies one line including its newline; false at the end of input.
bool copy_line(std::FILE* in, std::FILE* out) {
    int c;
    bool any = false;
    while ((c = std::fgetc(in)) != EOF) {
        any = true;
        std::fputc(c, out);
        if (c == '\n') return true;
    }
    return any;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: expected_y4m W H STRENGTH THRESHOLD1 THRESHOLD2\n");
        return 2;
    }
    const int width = std::atoi(argv[1]), height = std::atoi(argv[2]);
    const velnor::FilterSettings settings(width, height, std::atoi(argv[3]), std::atoi(argv[4]),
                                          std::atoi(argv[5]));
    const std::size_t luma = static_cast<std::size_t>(width) * height;
    const std::size_t chroma = 2 * static_cast<std::size_t>((width + 1) / 2) * ((height + 1) / 2);
    std::vector<uint8_t> frame(luma + chroma);
    copy_line(stdin, stdout);
    while (copy_line(stdin, stdout)) {
        if (std::fread(frame.data(), 1, frame.size(), stdin) != frame.size()) {
            std::fprintf(stderr, "expected_y4m: truncated frame\n");
            return 1;
        }
        if (velnor::filter_luma_reference(settings, frame.data(), width,
                                          velnor::default_scratch_allocator()) !=
            velnor::PassStatus::ok)
            return 1;
        std::fwrite(frame.data(), 1, frame.size(), stdout);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
