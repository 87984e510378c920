// YUV4MPEG2 header lines: what velnor accepts and how big a frame is.
//
// A stream starts with one header line, "YUV4MPEG2" followed by space-separated
// tags, each a letter and a value: W width, H height, F rate n:d, I interlacing,
// A aspect n:d, C colourspace, X free-form. Every frame is a line "FRAME" with
// optional tags of its own, then the planes, rows without padding: luma (W x H),
// then Cb and Cr (ceil(W / 2^x) x ceil(H / 2^y) for the colourspace's subsampling;
// none for mono), then alpha (W x H, C444alpha only). Colourspaces with a depth
// suffix (C420p10, Cmono16) hold each sample in a 16-bit little-endian word.
//
// velnor reads only W, H and C; it checks the syntax of every tag and passes the
// header lines through unchanged, so tags it does not know survive, whatever bytes
// they hold (only NUL is refused).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velnor::cli {

inline constexpr std::string_view kStreamMagic = "YUV4MPEG2";
inline constexpr std::string_view kFrameMagic = "FRAME";

// Bounds that keep a hostile header from requesting absurd allocations.
struct Y4mLimits {
    int32_t max_side = 16384;                     // samples per row and rows per frame
    int64_t max_luma_samples = int64_t{1} << 26;  // 64 Mi, above 8K UHD (7680 x 4320)
    std::size_t max_header_bytes = 4096;          // a stream or frame header line
};

// How the C tag lays out the planes of a frame. The default is 8-bit 4:2:0, what a
// stream without a C tag holds.
struct FrameLayout {
    int bits = 8;            // 8, or 9..16 in 16-bit little-endian words
    int chroma_shift_x = 1;  // chroma planes are ceil(W / 2^x) x ceil(H / 2^y)
    int chroma_shift_y = 1;
    bool has_chroma = true;  // false: luma only (mono)
    bool has_alpha = false;  // a W x H alpha plane after Cr
};

// Planes in the order a frame holds them.
enum class Plane { luma, cb, cr, alpha };
const char* plane_name(Plane plane);  // "Y", "Cb", "Cr", "alpha"

struct PlaneSize {
    int32_t width = 0;
    int32_t height = 0;
};

// What the stream header says about the frames.
struct StreamInfo {
    std::string header;  // the whole line without its newline, written back as is
    int32_t width = 0;
    int32_t height = 0;
    std::string colourspace;  // value of the C tag; empty when the tag is absent (4:2:0)
    FrameLayout layout;

    int plane_count() const;  // 1 (mono), 3, or 4 (with alpha)
    static Plane plane(int index) { return static_cast<Plane>(index); }
    PlaneSize plane_size(Plane plane) const;
    std::size_t sample_bytes() const;          // 1 or 2
    std::size_t row_bytes(Plane plane) const;  // rows are packed: the pitch
    std::size_t plane_bytes(Plane plane) const;
    std::size_t plane_offset(Plane plane) const;  // where the plane starts in the frame data
    std::size_t frame_bytes() const;              // every plane
    uint32_t max_sample() const;                  // 2^bits - 1
};

// Parses a stream header line (without its newline). On success fills `info` and
// returns an empty string; otherwise returns what is wrong, in a few words.
std::string parse_stream_header(std::string_view line, const Y4mLimits& limits, StreamInfo* info);

// Checks a frame header line (without its newline): "FRAME" with optional tags.
// Returns an empty string when it is well formed, otherwise what is wrong.
std::string check_frame_header(std::string_view line);

// `text` in double quotes for a one-line message, cut to at most `max` bytes
// (never inside a character; "..." marks the cut). Printable ASCII and valid UTF-8
// text show as they are, backslashes included (Windows paths read as typed);
// every other byte is written \xNN (two lowercase hex digits): control bytes,
// the double quote, bytes that are not valid UTF-8, and the UTF-8 bytes of
// characters that would break or reorder the line (C1 controls, U+2028, U+2029,
// bidirectional controls).
std::string quote_bytes(std::string_view text, std::size_t max = 24);

}  // namespace velnor::cli
