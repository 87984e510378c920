#include "cli/y4m_writer.h"

namespace velnor::cli {

bool Y4mWriter::write_line(const std::string& line) {
    std::string reason;
    // One write for the line and its newline keeps the syscall count per frame low.
    std::string bytes;
    bytes.reserve(line.size() + 1);
    bytes += line;
    bytes += '\n';
    if (sink_.write(bytes.data(), bytes.size(), &reason)) return true;
    error_ = "write error: " + reason;
    return false;
}

bool Y4mWriter::write_stream_header(const StreamInfo& info) { return write_line(info.header); }

bool Y4mWriter::write_frame(const Frame& frame) {
    if (!write_line(frame.header)) return false;
    std::string reason;
    if (sink_.write(frame.data.data(), frame.data.size(), &reason)) return true;
    error_ = "write error: " + reason;
    return false;
}

}  // namespace velnor::cli
