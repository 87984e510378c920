// Test helper: the output velnor must produce for a YUV4MPEG2 stream of known size,
// computed with the reference passes and the simplest possible stream handling.
//   expected_y4m WIDTH HEIGHT STRENGTH THRESHOLD1 THRESHOLD2
//                [BITS CHROMA_WIDTH CHROMA_HEIGHT PLANES [chroma [CB CR]]] < input > expected
// Header lines are copied; luma is filtered; chroma (and alpha, the fourth plane)
// is copied, unless "chroma" asks to filter Cb and Cr too: with the luma's values,
// or with CB and CR, each "STRENGTH,THRESHOLD1,THRESHOLD2". Without the layout
// arguments the stream is 8-bit 4:2:0. Above 8 bits samples are little-endian words.
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

bool filter_plane(uint8_t* bytes, int width, int height, int bits, const int (&values)[3]) {
    const velnor::FilterSettings settings(width, height, values[0], values[1], values[2]);
    const velnor::ScratchAllocator& scratch = velnor::default_scratch_allocator();
    if (bits == 8)
        return velnor::filter_luma_reference(settings, bytes, width, scratch) ==
               velnor::PassStatus::ok;
    std::vector<uint16_t> words(static_cast<std::size_t>(width) * height);
    for (std::size_t i = 0; i < words.size(); ++i)
        words[i] = static_cast<uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    if (velnor::filter_words_reference(settings, bits, words.data(), width, scratch) !=
        velnor::PassStatus::ok)
        return false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        bytes[2 * i] = static_cast<uint8_t>(words[i] & 0xff);
        bytes[2 * i + 1] = static_cast<uint8_t>(words[i] >> 8);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int values[3][3];  // luma, Cb, Cr
    for (int i = 0; i < 3; ++i) values[0][i] = std::atoi(argv[3 + i]);
    for (int p = 1; p < 3; ++p) {
        if (argc == 13 &&
            std::sscanf(argv[10 + p], "%d,%d,%d", &values[p][0], &values[p][1], &values[p][2]) != 3)
            argc = 0;  // malformed
        if (argc != 13)
            for (int i = 0; i < 3; ++i) values[p][i] = values[0][i];
    }
    if (argc != 6 && argc != 10 && argc != 11 && argc != 13) {
        std::fprintf(stderr,
                     "usage: expected_y4m W H STRENGTH THRESHOLD1 THRESHOLD2 "
                     "[BITS CHROMA_W CHROMA_H PLANES [chroma [CB CR]]]\n");
        return 2;
    }
    const int width = std::atoi(argv[1]), height = std::atoi(argv[2]);
    const bool layout = argc >= 10;
    const int bits = layout ? std::atoi(argv[6]) : 8;
    const int chroma_width = layout ? std::atoi(argv[7]) : (width + 1) / 2;
    const int chroma_height = layout ? std::atoi(argv[8]) : (height + 1) / 2;
    const int planes = layout ? std::atoi(argv[9]) : 3;
    const bool chroma = argc >= 11 && std::strcmp(argv[10], "chroma") == 0;
    const std::size_t sample = bits > 8 ? 2 : 1;
    const std::size_t luma = static_cast<std::size_t>(width) * height * sample;
    const std::size_t chroma_plane =
        static_cast<std::size_t>(chroma_width) * chroma_height * sample;
    const std::size_t size = luma + (planes >= 3 ? 2 * chroma_plane : 0) + (planes == 4 ? luma : 0);
    std::vector<uint8_t> frame(size);
    copy_line(stdin, stdout);
    while (copy_line(stdin, stdout)) {
        if (std::fread(frame.data(), 1, frame.size(), stdin) != frame.size()) {
            std::fprintf(stderr, "expected_y4m: truncated frame\n");
            return 1;
        }
        bool ok = filter_plane(frame.data(), width, height, bits, values[0]);
        if (chroma && planes >= 3)
            for (int i = 0; i < 2; ++i)
                ok = ok && filter_plane(frame.data() + luma + i * chroma_plane, chroma_width,
                                        chroma_height, bits, values[1 + i]);
        if (!ok) return 1;
        std::fwrite(frame.data(), 1, frame.size(), stdout);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
