// libFuzzer target for the YUV4MPEG2 reader: any input must either be rejected
// with a one-line message or read, filtered (luma, Cb and Cr, each at its size) and
// written back as a stream that reads again to the same header and frame count.
// Every sample read, and every sample filtered, is within the stream's depth.
// Built by scripts/checks/fuzz.sh.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "cli/byte_stream.h"
#include "cli/frame_filter.h"
#include "cli/y4m_reader.h"
#include "cli/y4m_writer.h"

namespace {

using namespace velnor::cli;

constexpr int kMaxFrames = 8;

// Small limits keep every run fast; the checks are the same as for the real ones.
Y4mLimits fuzz_limits() {
    Y4mLimits limits;
    limits.max_side = 1024;
    limits.max_luma_samples = 1 << 16;
    limits.max_header_bytes = 512;
    return limits;
}

void check(bool condition) {
    if (!condition) __builtin_trap();
}

void check_message(const std::string& message) {
    check(!message.empty() && message.find('\n') == std::string::npos);
}

// Every sample of the frame is at most 2^bits - 1.
void check_samples(const StreamInfo& info, const Frame& frame) {
    if (info.sample_bytes() == 1) return;
    for (std::size_t i = 0; i + 1 < frame.data.size(); i += 2) {
        uint16_t sample;
        std::memcpy(&sample, frame.data.data() + i, sizeof sample);
        check(sample <= info.max_sample());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte sets how many bytes each read returns, so that line and plane
    // boundaries fall at every position of the reader's buffer.
    const std::size_t chunk = data[0] == 0 ? SIZE_MAX : data[0];
    const Y4mLimits limits = fuzz_limits();
    MemorySource source(data + 1, size - 1, chunk);
    Y4mReader reader(source, limits);
    StreamInfo info;
    if (reader.read_stream_header(&info) != ReadResult::ok) {
        check_message(reader.error());
        return 0;
    }
    check(info.width >= 1 && info.height >= 1 && info.width <= limits.max_side &&
          info.height <= limits.max_side &&
          static_cast<int64_t>(info.width) * info.height <= limits.max_luma_samples);
    check(info.header.find('\n') == std::string::npos);

    MemorySink sink;
    Y4mWriter writer(sink);
    check(writer.write_stream_header(info));
    // The defaults on every plane, as --chroma filters them.
    const velnor::FilterValues values{velnor::kDefaultStrength, velnor::kDefaultThreshold1,
                                      velnor::kDefaultThreshold2};
    const FrameFilter filter(info, {values, values, values});
    Frame frame;
    int frames = 0;
    ReadResult result = ReadResult::ok;
    while (frames < kMaxFrames && (result = reader.read_frame(&frame)) == ReadResult::ok) {
        check(frame.data.size() == info.frame_bytes());
        check_samples(info, frame);
        check(filter.filter(frame, velnor::default_scratch_allocator()) == velnor::PassStatus::ok);
        check_samples(info, frame);
        check(writer.write_frame(frame));
        ++frames;
    }
    if (result == ReadResult::error) check_message(reader.error());

    // What was written reads back as the same stream.
    MemorySource written(sink.bytes().data(), sink.bytes().size());
    Y4mReader again(written, limits);
    StreamInfo info_again;
    check(again.read_stream_header(&info_again) == ReadResult::ok);
    check(info_again.header == info.header && info_again.width == info.width &&
          info_again.height == info.height && info_again.frame_bytes() == info.frame_bytes());
    while ((result = again.read_frame(&frame)) == ReadResult::ok) {
    }
    check(result == ReadResult::end_of_stream &&
          again.frames_read() == static_cast<uint64_t>(frames));
    return 0;
}
