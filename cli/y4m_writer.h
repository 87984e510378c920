// Writes a YUV4MPEG2 stream: the header lines exactly as read, then frame data.
#pragma once

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

    // After a failed write: "write error: ..." in one line.
    const std::string& error() const { return error_; }

private:
    bool write_line(const std::string& line);

    ByteSink& sink_;
    std::string error_;
};

}  // namespace velnor::cli
