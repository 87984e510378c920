#include "cli/y4m_reader.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

namespace velnor::cli {

// Deep samples are little-endian words in the stream and are filtered in place as
// native words.
static_assert(std::endian::native == std::endian::little,
              "16-bit Y4M samples are used in place as native words");

namespace {
constexpr std::size_t kBufferBytes = 64 * 1024;

// "YUV4MPEG2" alone or followed by a space: the start of a stream header.
bool starts_with_stream_magic(std::string_view line) {
    return line.starts_with(kStreamMagic) &&
           (line.size() == kStreamMagic.size() || line[kStreamMagic.size()] == ' ');
}

// "FRAME" alone or followed by a space: the start of a well-formed frame header.
bool starts_with_frame_magic(std::string_view line) {
    return line.starts_with(kFrameMagic) &&
           (line.size() == kFrameMagic.size() || line[kFrameMagic.size()] == ' ');
}

// Added to the refusal of a header line that ends in a carriage return: the whole
// stream has been through a conversion to Windows line endings, which spoils the
// frame data as well.
constexpr std::string_view kLineEndingsHint =
    "; the stream has Windows line endings (CR LF), as a text-mode copy or transfer "
    "leaves it: copy or transfer it in binary mode, or pipe it through cmd rather than "
    "PowerShell 5, to keep its bytes unchanged";

std::string line_endings_hint(std::string_view line) {
    return line.ends_with('\r') ? std::string(kLineEndingsHint) : std::string();
}

// Deep frames are read and range-checked a piece at a time, so that the check reads
// each piece while the read has just left it in the cache (a 1080p 4:2:0 10-bit
// frame is 6 MB; checked afterwards it comes back from memory). Even, so that
// pieces hold whole words; small enough for a 256 KiB second-level cache.
constexpr std::size_t kCheckedPieceBytes = 128 * 1024;

// The OR of `count` 16-bit words: any bit above the depth's bits marks a sample out
// of range, and an OR over many samples finds one without a branch per sample.
uint16_t or_of_words(const uint8_t* words, std::size_t count) {
    uint16_t all = 0;
    for (std::size_t i = 0; i < count; ++i) {
        uint16_t sample;
        std::memcpy(&sample, words + 2 * i, sizeof sample);
        all = static_cast<uint16_t>(all | sample);
    }
    return all;
}

// Where a plane of 16-bit words holds its first sample above `max`: the sample's
// index, or the plane's sample count when there is none.
std::size_t first_sample_above(const uint8_t* words, std::size_t count, uint32_t max) {
    constexpr std::size_t kRun = 4096;
    for (std::size_t start = 0; start < count; start += kRun) {
        const std::size_t end = std::min(count, start + kRun);
        if (or_of_words(words + 2 * start, end - start) <= max) continue;
        for (std::size_t i = start; i < end; ++i) {
            uint16_t sample;
            std::memcpy(&sample, words + 2 * i, sizeof sample);
            if (sample > max) return i;
        }
    }
    return count;
}

}  // namespace

Y4mReader::Y4mReader(ByteSource& source, const Y4mLimits& limits)
    : source_(source), limits_(limits) {}

bool Y4mReader::refill() {
    if (!read_error_.empty()) return false;
    const std::ptrdiff_t got = source_.read(buffer_.data(), buffer_.size(), &read_error_);
    if (got < 0) {
        if (read_error_.empty()) read_error_ = "unknown error";
        return false;
    }
    begin_ = 0;
    end_ = static_cast<std::size_t>(got);
    return got > 0;
}

Y4mReader::LineResult Y4mReader::read_line(std::string* line) {
    line->clear();
    for (;;) {
        if (begin_ == end_ && !refill())
            return !read_error_.empty() ? LineResult::read_error
                   : line->empty()      ? LineResult::empty_input
                                        : LineResult::cut_short;
        const uint8_t* start = buffer_.data() + begin_;
        const std::size_t available = end_ - begin_;
        const auto* newline = static_cast<const uint8_t*>(std::memchr(start, '\n', available));
        const std::size_t take = newline ? static_cast<std::size_t>(newline - start) : available;
        const std::size_t room = limits_.max_header_bytes - line->size();
        line->append(reinterpret_cast<const char*>(start), std::min(take, room));
        if (take > room) return LineResult::too_long;
        begin_ += take;
        if (newline) {
            ++begin_;
            return LineResult::ok;
        }
    }
}

std::size_t Y4mReader::read_exact(uint8_t* out, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        if (begin_ == end_) {
            // Large reads go straight to the destination, skipping the buffer.
            if (size - done >= buffer_.size() && read_error_.empty()) {
                const std::ptrdiff_t got = source_.read(out + done, size - done, &read_error_);
                if (got < 0 && read_error_.empty()) read_error_ = "unknown error";
                if (got <= 0) break;
                done += static_cast<std::size_t>(got);
                continue;
            }
            if (!refill()) break;
        }
        const std::size_t take = std::min(size - done, end_ - begin_);
        std::memcpy(out + done, buffer_.data() + begin_, take);
        begin_ += take;
        done += take;
    }
    return done;
}

std::size_t Y4mReader::read_frame_data(uint8_t* out, std::size_t size) {
    above_maximum_ = false;
    const uint32_t max = info_.max_sample();
    if (info_.sample_bytes() != 2 || max >= 0xffff) return read_exact(out, size);
    std::size_t done = 0;
    while (done < size) {
        const std::size_t want = std::min(kCheckedPieceBytes, size - done);
        const std::size_t got = read_exact(out + done, want);
        if (or_of_words(out + done, got / 2) > max) above_maximum_ = true;
        done += got;
        if (got < want) break;
    }
    return done;
}

ReadResult Y4mReader::fail(std::string message) {
    error_ = std::move(message);
    return ReadResult::error;
}

std::string Y4mReader::frame_prefix() const {
    return "frame " + std::to_string(frames_read_) + ": ";
}

ReadResult Y4mReader::read_stream_header(StreamInfo* info) {
    // Made here rather than in the constructor, so that running out is an error line.
    try {
        buffer_.resize(kBufferBytes);
    } catch (const std::bad_alloc&) {
        return fail("out of memory for the input buffer (" + std::to_string(kBufferBytes) +
                    " bytes)");
    }
    std::string line;
    switch (read_line(&line)) {
        case LineResult::ok:
            break;
        case LineResult::empty_input:
            return fail("input is empty (no YUV4MPEG2 stream header)");
        case LineResult::read_error:
            return fail("read error: " + read_error_);
        case LineResult::cut_short:
            if (kStreamMagic.starts_with(line) || starts_with_stream_magic(line))
                return fail("stream header: input ends before the end of the header line");
            return fail("stream header: " + parse_stream_header(line, limits_, &info_));
        case LineResult::too_long:
            if (!starts_with_stream_magic(line))
                return fail("stream header: " + parse_stream_header(line, limits_, &info_));
            return fail("stream header: longer than " + std::to_string(limits_.max_header_bytes) +
                        " bytes");
    }
    const std::string problem = parse_stream_header(line, limits_, &info_);
    if (!problem.empty()) return fail("stream header: " + problem + line_endings_hint(line));
    have_info_ = true;
    *info = info_;
    return ReadResult::ok;
}

ReadResult Y4mReader::read_frame(Frame* frame) {
    if (!have_info_) return fail("no stream header has been read");
    if (!error_.empty()) return ReadResult::error;
    switch (read_line(&frame->header)) {
        case LineResult::ok:
            break;
        case LineResult::empty_input:
            return ReadResult::end_of_stream;
        case LineResult::read_error:
            return fail(frame_prefix() + "read error: " + read_error_);
        case LineResult::cut_short:
            if (kFrameMagic.starts_with(frame->header) || check_frame_header(frame->header).empty())
                return fail(frame_prefix() + "input ends inside the frame header");
            return fail(frame_prefix() + check_frame_header(frame->header));
        case LineResult::too_long:
            if (!starts_with_frame_magic(frame->header))
                return fail(frame_prefix() + check_frame_header(frame->header));
            return fail(frame_prefix() + "frame header longer than " +
                        std::to_string(limits_.max_header_bytes) + " bytes");
    }
    const std::string problem = check_frame_header(frame->header);
    if (!problem.empty()) {
        const std::string hint = line_endings_hint(frame->header);
        return fail(frame_prefix() + problem + (hint.empty() ? short_row_hint() : hint));
    }

    const std::size_t size = info_.frame_bytes();
    frame->data.resize(size);
    const std::size_t got = read_frame_data(frame->data.data(), size);
    if (got < size) {
        if (!read_error_.empty()) return fail(frame_prefix() + "read error: " + read_error_);
        return fail(frame_prefix() + "input ends inside the frame data (" + std::to_string(got) +
                    " of " + std::to_string(size) + " bytes)" + short_row_hint());
    }
    if (above_maximum_) {
        const std::string out_of_range = check_sample_range(frame->data.data());
        return fail(frame_prefix() + out_of_range + short_row_hint());
    }
    ++frames_read_;
    return ReadResult::ok;
}

std::string Y4mReader::short_row_hint() const {
    const FrameLayout& layout = info_.layout;
    if (layout.bits == 8 || !layout.has_chroma || layout.chroma_shift_x == 0 ||
        info_.width % 2 == 0)
        return {};
    return " (ffmpeg 5.1 writes odd widths above 8 bits with chroma rows one byte short; give "
           "it an even width)";
}

std::string Y4mReader::check_sample_range(const uint8_t* data) const {
    const uint32_t max = info_.max_sample();
    for (int i = 0; i < info_.plane_count(); ++i) {
        const Plane plane = StreamInfo::plane(i);
        const PlaneSize size = info_.plane_size(plane);
        const std::size_t count = info_.plane_bytes(plane) / 2;
        const std::size_t at = first_sample_above(data + info_.plane_offset(plane), count, max);
        if (at == count) continue;
        uint16_t sample;
        std::memcpy(&sample, data + info_.plane_offset(plane) + 2 * at, sizeof sample);
        const auto width = static_cast<std::size_t>(size.width);
        return std::string(plane_name(plane)) + " plane: sample " + std::to_string(sample) +
               " at (" + std::to_string(at % width) + ", " + std::to_string(at / width) +
               ") is above the " + std::to_string(info_.layout.bits) + "-bit maximum " +
               std::to_string(max);
    }
    return {};
}

}  // namespace velnor::cli
