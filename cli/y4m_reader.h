// Reads a YUV4MPEG2 stream: the stream header, then one frame at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/byte_stream.h"
#include "cli/y4m_format.h"

namespace velnor::cli {

struct Frame {
    std::string header;  // "FRAME" and its tags, without the newline
    // The planes in stream order (StreamInfo::plane_offset), rows without padding.
    // Deep samples stay little-endian words; every plane starts at an even offset of
    // a block from operator new, so it is aligned for them.
    std::vector<uint8_t> data;
};

enum class ReadResult { ok, end_of_stream, error };

class Y4mReader {
public:
    explicit Y4mReader(ByteSource& source, const Y4mLimits& limits = {});

    // Reads and checks the stream header; ok or error (an empty input is an error).
    ReadResult read_stream_header(StreamInfo* info);

    // Reads the next frame into `frame`, reusing its storage. end_of_stream when the
    // input ends cleanly between frames; error for anything else that stops early,
    // including a sample above the maximum of the stream's depth. Throws
    // std::bad_alloc when the frame's storage cannot be made (a frame sized
    // beforehand only reuses it).
    ReadResult read_frame(Frame* frame);

    // After an error: one line naming the problem, with the frame number (counted
    // from 0) when it concerns a frame.
    const std::string& error() const { return error_; }

    // Frames read completely so far.
    uint64_t frames_read() const { return frames_read_; }

private:
    enum class LineResult { ok, empty_input, cut_short, too_long, read_error };

    // Reads up to and including a newline into `line` (newline removed), keeping at
    // most the header limit; what was read so far stays in `line` on failure.
    LineResult read_line(std::string* line);
    // Reads exactly `size` bytes unless the input ends or fails; returns the count.
    std::size_t read_exact(uint8_t* out, std::size_t size);
    // read_exact for a frame's data; sets above_maximum_ when a deep frame holds a
    // sample above its depth's maximum.
    std::size_t read_frame_data(uint8_t* out, std::size_t size);
    bool refill();
    ReadResult fail(std::string message);
    // Names the plane and position of the first sample above the depth's maximum in
    // a frame read_frame_data found one in (empty if none is).
    std::string check_sample_range(const uint8_t* data) const;
    // What ffmpeg 5.1 gets wrong in streams of this layout, where that explains a
    // malformed frame; otherwise empty.
    std::string short_row_hint() const;
    std::string frame_prefix() const;

    ByteSource& source_;
    Y4mLimits limits_;
    StreamInfo info_;
    bool have_info_ = false;
    std::vector<uint8_t> buffer_;
    std::size_t begin_ = 0;  // unread bytes are buffer_[begin_, end_)
    std::size_t end_ = 0;
    std::string read_error_;      // set when the source failed
    bool above_maximum_ = false;  // of the frame read last
    std::string error_;
    uint64_t frames_read_ = 0;
};

}  // namespace velnor::cli
