#include "cli/y4m_writer.h"

namespace velnor::cli {

bool Y4mWriter::write_bytes(const void* data, std::size_t size, bool in_frame) {
    std::string reason;
    if (sink_.write(data, size, &reason)) return true;
    error_ = in_frame ? "frame " + std::to_string(frames_written_) + ": " : std::string();
    error_ += "write error: " + reason;
    return false;
}

bool Y4mWriter::write_stream_header(const StreamInfo& info) {
    // One write for the line and its newline keeps the syscall count low.
    const std::string line = info.header + '\n';
    if (!write_bytes(line.data(), line.size(), false)) return false;
    complete_bytes_ += line.size();
    return true;
}

bool Y4mWriter::write_frame(const Frame& frame) {
    const std::string line = frame.header + '\n';
    if (!write_bytes(line.data(), line.size(), true) ||
        !write_bytes(frame.data.data(), frame.data.size(), true))
        return false;
    ++frames_written_;
    complete_bytes_ += line.size() + frame.data.size();
    return true;
}

}  // namespace velnor::cli
