// Writes a YUV4MPEG2 stream: the header lines exactly as read, then frame data.
#pragma once

#include <cstdint>
#include <string>

#include "cli/byte_stream.h"
#include "cli/y4m_format.h"
#include "cli/y4m_reader.h"

namespace velnor::cli {

class Y4mWriter {
public:
    explicit Y4mWriter(ByteSink& sink) : sink_(sink) {}

    bool write_stream_header(const StreamInfo& info);
    // Writes the frame's header line and its data; the data must be info.frame_bytes() long.
    bool write_frame(const Frame& frame);

    // After a failed write: "write error: ..." in one line, after "frame N: " when
    // it happened in a frame (counted from 0).
    const std::string& error() const { return error_; }

    // Bytes of the stream header and the frames written completely: where a valid
    // stream ends after a failed write.
    uint64_t complete_bytes() const { return complete_bytes_; }

private:
    bool write_bytes(const void* data, std::size_t size, bool in_frame);

    ByteSink& sink_;
    std::string error_;
    uint64_t frames_written_ = 0;
    uint64_t complete_bytes_ = 0;
};

}  // namespace velnor::cli
