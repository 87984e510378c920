// The Y4M reader and writer: accepted headers, every kind of malformed input with
// its message, and byte-exact pass-through of everything that is not luma.
#include "cli/y4m_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "cli/y4m_writer.h"
#include "tests/cli/y4m_bytes.h"

namespace velnor::cli {
namespace {

using test::bytes_of;

// Reads a stream header from `text`; returns the error, or "" with `info` filled.
std::string header_error(const std::string& text, StreamInfo* info, const Y4mLimits& limits = {}) {
    const std::vector<uint8_t> bytes = bytes_of(text);
    MemorySource source(bytes.data(), bytes.size());
    Y4mReader reader(source, limits);
    return reader.read_stream_header(info) == ReadResult::ok ? "" : reader.error();
}

struct AcceptedHeader {
    const char* line;
    int32_t width, height;
    const char* colourspace;
    std::size_t frame_bytes;
};

TEST(Y4mHeader, AcceptsEightBitFourTwoZeroInEveryNotation) {
    const AcceptedHeader cases[] = {
        {"YUV4MPEG2 W176 H144 F25:1 Ip A1:1 C420jpeg XYSCSS=420JPEG", 176, 144, "420jpeg",
         176 * 144 + 2 * 88 * 72},
        {"YUV4MPEG2 W8 H6 C420paldv", 8, 6, "420paldv", 48 + 2 * 12},
        {"YUV4MPEG2 W8 H6 C420mpeg2 It", 8, 6, "420mpeg2", 48 + 2 * 12},
        {"YUV4MPEG2 C420 H6 W8", 8, 6, "420", 48 + 2 * 12},
        {"YUV4MPEG2 W8 H6", 8, 6, "", 48 + 2 * 12},
        // Odd sizes round the chroma planes up.
        {"YUV4MPEG2 W5 H3 Im", 5, 3, "", 15 + 2 * 3 * 2},
        {"YUV4MPEG2 W1 H1 I? F0:0 A0:0", 1, 1, "", 1 + 2},
        // Unknown tags and X tags pass through whatever their content.
        {"YUV4MPEG2 W16 H16 XCOLORRANGE=FULL Zfuture=1,2;3 X", 16, 16, "", 256 + 2 * 64},
        {"YUV4MPEG2 W8 H6 XTITLE=caf\xc3\xa9 X\tY\x01 Xa\xff", 8, 6, "", 48 + 2 * 12},
        {"YUV4MPEG2 W0016384 H4096", 16384, 4096, "", 16384u * 4096u * 3 / 2},
    };
    for (const AcceptedHeader& c : cases) {
        StreamInfo info;
        EXPECT_EQ(header_error(std::string(c.line) + "\n", &info), "") << c.line;
        EXPECT_EQ(info.header, c.line);
        EXPECT_EQ(info.width, c.width) << c.line;
        EXPECT_EQ(info.height, c.height) << c.line;
        EXPECT_EQ(info.colourspace, c.colourspace) << c.line;
        EXPECT_EQ(info.frame_bytes(), c.frame_bytes) << c.line;
    }
}

// The names the filter run's layout table leaves out, on a size odd both ways.
TEST(Y4mHeader, AcceptsEveryNameOfEveryLayout) {
    const struct {
        const char* colourspace;
        int bits;
        test::Size chroma;
        std::size_t frame_bytes;
    } cases[] = {
        {"420paldv", 8, {5, 4}, 103}, {"420mpeg2", 8, {5, 4}, 103}, {"420", 8, {5, 4}, 103},
        {"420p16", 16, {5, 4}, 206},  {"422p14", 14, {5, 7}, 266},  {"444p12", 12, {9, 7}, 378},
        {"mono14", 14, {0, 0}, 126},
    };
    for (const auto& c : cases) {
        const std::string line = std::string("YUV4MPEG2 W9 H7 C") + c.colourspace;
        StreamInfo info;
        ASSERT_EQ(header_error(line + "\n", &info), "") << line;
        EXPECT_EQ(info.layout.bits, c.bits) << line;
        EXPECT_EQ(info.frame_bytes(), c.frame_bytes) << line;
        if (c.chroma.width == 0) continue;
        EXPECT_EQ(info.plane_size(Plane::cr).width, c.chroma.width) << line;
        EXPECT_EQ(info.plane_size(Plane::cr).height, c.chroma.height) << line;
    }
}

struct RejectedInput {
    std::string bytes;
    const char* message;  // expected to appear in the error
};

TEST(Y4mHeader, RejectsMalformedOrUnsupportedStreamHeaders) {
    const RejectedInput cases[] = {
        {"", "input is empty"},
        {"\x89PNG\r\n\x1a\n", "not a YUV4MPEG2 stream"},
        {"YUV4MPEG W8 H8\n", "not a YUV4MPEG2 stream"},
        {"YUV4MPEG2W8 H8\n", "not a YUV4MPEG2 stream"},
        {std::string(5000, 'x'), "not a YUV4MPEG2 stream"},
        {"YUV4MPEG2 H8\n", "no width (W tag)"},
        {"YUV4MPEG2 W8\n", "no height (H tag)"},
        {"YUV4MPEG2\n", "no width"},
        {"YUV4MPEG2 W0 H8\n", "width is zero"},
        {"YUV4MPEG2 W8 H0\n", "height is zero"},
        {"YUV4MPEG2 W-8 H8\n", "invalid width \"W-8\""},
        {"YUV4MPEG2 W H8\n", "invalid width \"W\""},
        {"YUV4MPEG2 W8x H8\n", "invalid width \"W8x\""},
        {"YUV4MPEG2 W8 H+8\n", "invalid height \"H+8\""},
        {"YUV4MPEG2 W99999999999999999999999 H8\n", "width \"99999999999999999999999\" exceeds"},
        {"YUV4MPEG2 W16385 H8\n", "width \"16385\" exceeds the limit of 16384"},
        {"YUV4MPEG2 W8 H4294967304\n", "height \"4294967304\" exceeds"},
        {"YUV4MPEG2 W16384 H16384\n", "frame size 16384x16384 exceeds the limit of 67108864"},
        // Layouts other programs write, each with the conversion that makes them readable.
        {"YUV4MPEG2 W8 H8 C440\n",
         "\"C440\" (4:4:0) is not supported; convert with ffmpeg -pix_fmt yuv444p"},
        {"YUV4MPEG2 W8 H8 C410p10\n",
         "(4:1:0, 10 bits) is not supported; convert with ffmpeg -pix_fmt yuv420p10le -strict -1"},
        {"YUV4MPEG2 W8 H8 C411p12\n",
         "(4:1:1, 12 bits) is not supported; convert with ffmpeg "
         "-pix_fmt yuv422p12le -strict -1"},
        {"YUV4MPEG2 W8 H8 C420p11\n",
         "\"C420p11\" (11-bit samples) is not supported; velnor reads 8 bits (no suffix) and 9, "
         "10, 12, 14 and 16: convert with ffmpeg -pix_fmt yuv420p16le -strict -1"},
        {"YUV4MPEG2 W8 H8 Cmono32\n", "convert with ffmpeg -pix_fmt gray16le -strict -1"},
        {"YUV4MPEG2 W8 H8 C444p8\n", "convert with ffmpeg -pix_fmt yuv444p"},
        {"YUV4MPEG2 W8 H8 C411p8\n",
         "\"C411p8\" (8-bit samples) is not supported; 8-bit streams name no depth "
         "(\"C411\"): convert with ffmpeg -pix_fmt yuv411p"},
        {"YUV4MPEG2 W8 H8 Cmono7\n", "(7-bit samples) is not supported"},
        {"YUV4MPEG2 W8 H8 C420p999\n", "unknown colourspace \"C420p999\""},
        {"YUV4MPEG2 W8 H8 C422p0\n", "unknown colourspace \"C422p0\""},
        {"YUV4MPEG2 W8 H8 C422alpha\n", "unknown colourspace \"C422alpha\" (velnor reads C420jpeg"},
        {"YUV4MPEG2 W8 H8 C420p\n", "unknown colourspace \"C420p\""},
        {"YUV4MPEG2 W8 H8 C420JPEG\n", "unknown colourspace \"C420JPEG\""},
        {"YUV4MPEG2 W8 H8 C\n", "unknown colourspace \"C\""},
        {"YUV4MPEG2 W8 H8 F25\n", "malformed tag \"F25\""},
        {"YUV4MPEG2 W8 H8 F25:\n", "malformed tag \"F25:\""},
        {"YUV4MPEG2 W8 H8 A1:x\n", "malformed tag \"A1:x\""},
        {"YUV4MPEG2 W8 H8 Ix\n", "malformed tag \"Ix\""},
        {"YUV4MPEG2 W8 H8 Ipp\n", "malformed tag \"Ipp\""},
        {"YUV4MPEG2 W8  H8\n", "empty tag"},
        {"YUV4MPEG2 W8 H8 \n", "empty tag"},
        // Windows line endings are named as such.
        {"YUV4MPEG2 W8 H8\r\n",
         "invalid height \"H8\\x0d\" (expected a positive whole number); the stream has Windows "
         "line endings (CR LF), as a text-mode copy or transfer leaves it"},
        {"YUV4MPEG2 W8 H8 C420\r\n", "14 and 16); the stream has Windows line endings"},
        {std::string("YUV4MPEG2 W8 H8 Xa\0b\n", 21), "tag \"Xa\\x00b\" contains a NUL byte"},
        {"YUV4MPEG2 W8 H8 W8\n", "tag W appears twice"},
        {"YUV4MPEG2 W8 H8 C420 C420jpeg\n", "tag C appears twice"},
        {"YUV4MPEG2 W8 H8", "input ends before the end of the header line"},
        {"YUV4", "input ends before the end of the header line"},
        {"YUV4MPEG2 W8 H8 X" + std::string(5000, 'a') + "\n", "longer than 4096 bytes"},
    };
    for (const RejectedInput& c : cases) {
        StreamInfo info;
        const std::string error = header_error(c.bytes, &info);
        EXPECT_NE(error.find(c.message), std::string::npos)
            << "input " << quote_bytes(c.bytes, 60) << "\n error: " << error;
        EXPECT_TRUE(error.starts_with("stream header: ") || error.starts_with("input is empty"))
            << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
}

// Quoted names and input in messages: text as typed (Windows paths and UTF-8
// included), everything that is not text, or would break the line, as \xNN.
TEST(QuoteBytes, ShowsTextAsTypedAndEscapesTheRest) {
    const struct {
        std::string text;
        std::size_t max;
        const char* quoted;
    } cases[] = {
        {"C:\\no such folder\\clip.y4m", SIZE_MAX, "\"C:\\no such folder\\clip.y4m\""},
        {"vid\xc3\xa9o \xe6\x97\xa5\xe6\x9c\xac\\\xf0\x9f\x98\x80.y4m", SIZE_MAX,
         "\"vid\xc3\xa9o \xe6\x97\xa5\xe6\x9c\xac\\\xf0\x9f\x98\x80.y4m\""},
        {"a\nb\tc\x7f\"d", SIZE_MAX, "\"a\\x0ab\\x09c\\x7f\\x22d\""},
        {std::string("a\0b", 3), SIZE_MAX, "\"a\\x00b\""},
        // Not UTF-8: a stray byte, a cut-short sequence, an overlong form, a
        // surrogate, beyond U+10FFFF.
        {"\xff\x80"
         "caf\xc3",
         SIZE_MAX, "\"\\xff\\x80caf\\xc3\""},
        {"\xc0\xaf|\xed\xa0\x80|\xf4\x90\x80\x80", SIZE_MAX,
         "\"\\xc0\\xaf|\\xed\\xa0\\x80|\\xf4\\x90\\x80\\x80\""},
        // UTF-8 that breaks or reorders the line: NEL, LINE SEPARATOR, RIGHT-TO-LEFT OVERRIDE.
        {"\xc2\x85|\xe2\x80\xa8|\xe2\x80\xae", SIZE_MAX,
         "\"\\xc2\\x85|\\xe2\\x80\\xa8|\\xe2\\x80\\xae\""},
        {"abcdefg", 5, "\"abcde...\""},
        {"abc\xc3\xa9", 4, "\"abc...\""},  // never inside a character
        {"abc\xc3\xa9", 5, "\"abc\xc3\xa9\""},
    };
    for (const auto& c : cases) EXPECT_EQ(quote_bytes(c.text, c.max), c.quoted) << c.text;
}

TEST(Y4mHeader, LimitsAreConfigurable) {
    Y4mLimits small;
    small.max_side = 64;
    small.max_luma_samples = 1000;
    StreamInfo info;
    EXPECT_NE(header_error("YUV4MPEG2 W65 H8\n", &info, small).find("exceeds the limit of 64"),
              std::string::npos);
    EXPECT_NE(header_error("YUV4MPEG2 W40 H40\n", &info, small).find("frame size 40x40"),
              std::string::npos);
    EXPECT_EQ(header_error("YUV4MPEG2 W40 H25\n", &info, small), "");
}

// Reads every frame of `bytes`; returns the error ("" at a clean end) and the
// number of complete frames.
std::string frames_error(const std::vector<uint8_t>& bytes, uint64_t* frames) {
    MemorySource source(bytes.data(), bytes.size(), 1000);
    Y4mReader reader(source);
    StreamInfo info;
    if (reader.read_stream_header(&info) != ReadResult::ok) return reader.error();
    Frame frame;
    ReadResult result;
    while ((result = reader.read_frame(&frame)) == ReadResult::ok) {
    }
    *frames = reader.frames_read();
    return result == ReadResult::end_of_stream ? "" : reader.error();
}

TEST(Y4mFrames, RejectsMalformedFramesNamingTheFrame) {
    const std::string header = "YUV4MPEG2 W6 H4 C420jpeg\n";  // 24 + 2 * 6 = 36 data bytes
    const std::string good = "FRAME\n" + std::string(36, 'y');
    struct Case {
        std::string frames;
        uint64_t complete;
        const char* message;
    };
    const Case cases[] = {
        {good + good, 2, ""},
        {"", 0, ""},
        {"FRAME\n" + std::string(35, 'y'), 0,
         "frame 0: input ends inside the frame data (35 of 36 bytes)"},
        {"FRAME\n", 0, "frame 0: input ends inside the frame data (0 of 36 bytes)"},
        {good + "FRAME\n" + std::string(10, 'y'), 1,
         "frame 1: input ends inside the frame data (10 of 36"},
        {good + good + "FRA", 2, "frame 2: input ends inside the frame header"},
        {good + "FRAME\r\n" + std::string(36, 'y'), 1,
         "frame 1: expected a frame header \"FRAME\", found \"FRAME\\x0d\"; the stream has "
         "Windows line endings"},
        {good + "FRAME", 1, "frame 1: input ends inside the frame header"},
        {good + "FRAME Ixx", 1, "frame 1: input ends inside the frame header"},
        {good + "JUNK\n" + std::string(36, 'y'), 1,
         "frame 1: expected a frame header \"FRAME\", found \"JUNK\""},
        {"FRAMES\n" + std::string(36, 'y'), 0, "frame 0: expected a frame header"},
        {good + std::string(9000, 'z'), 1,
         "frame 1: expected a frame header \"FRAME\", found \"zzz"},
        {"FRAME  Ip\n" + std::string(36, 'y'), 0, "frame 0: empty tag"},
        {"FRAME Ip \n" + std::string(36, 'y'), 0, "frame 0: empty tag"},
        {"FRAME XTITLE=caf\xc3\xa9 X\x01\n" + std::string(36, 'y'), 1, ""},
        {std::string("FRAME X\0\n", 9) + std::string(36, 'y'), 0,
         "frame 0: tag \"X\\x00\" contains a NUL byte"},
        {good + "FRAME X" + std::string(5000, 'a') + "\n", 1,
         "frame 1: frame header longer than 4096"},
    };
    for (const Case& c : cases) {
        uint64_t frames = 99;
        const std::string error = frames_error(bytes_of(header + c.frames), &frames);
        if (*c.message == '\0') {
            EXPECT_EQ(error, "") << quote_bytes(c.frames, 60);
        } else {
            EXPECT_NE(error.find(c.message), std::string::npos)
                << quote_bytes(c.frames, 60) << "\n error: " << error;
        }
        EXPECT_EQ(frames, c.complete) << quote_bytes(c.frames, 60);
    }
}

// Deep streams: samples above the depth's maximum stop the stream at their frame,
// naming the plane and the position; truncated word planes report their bytes.
TEST(Y4mFrames, DeepSamplesAboveTheMaximumAndTruncatedWords) {
    std::mt19937 rng(21);
    struct Case {
        const char* colourspace;
        int bits;
        test::Size planes[4];
        int bad_plane;  // -1: none
        int x, y;       // of the bad sample
        uint16_t value;
        std::size_t cut;  // bytes cut off the end of the second frame
        const char* message;
    };
    const Case cases[] = {
        {"420p10",
         10,
         {{6, 4}, {3, 2}, {3, 2}, {}},
         0,
         5,
         3,
         1024,
         0,
         "frame 1: Y plane: sample 1024 at (5, 3) is above the 10-bit maximum 1023"},
        {"422p9",
         9,
         {{6, 4}, {3, 4}, {3, 4}, {}},
         2,
         0,
         1,
         0xffff,
         0,
         "frame 1: Cr plane: sample 65535 at (0, 1) is above the 9-bit maximum 511"},
        {"444p14",
         14,
         {{6, 4}, {6, 4}, {6, 4}, {}},
         1,
         2,
         0,
         16384,
         0,
         "frame 1: Cb plane: sample 16384 at (2, 0) is above the 14-bit maximum 16383"},
        {"mono12",
         12,
         {{6, 4}, {}, {}, {}},
         0,
         0,
         0,
         4096,
         0,
         "frame 1: Y plane: sample 4096 at (0, 0) is above the 12-bit maximum 4095"},
        {"420p16", 16, {{6, 4}, {3, 2}, {3, 2}, {}}, 0, 5, 3, 0xffff, 0, ""},
        {"420p10",
         10,
         {{6, 4}, {3, 2}, {3, 2}, {}},
         -1,
         0,
         0,
         0,
         1,
         "frame 1: input ends inside the frame data (71 of 72 bytes)"},
        {"mono16",
         16,
         {{6, 4}, {}, {}, {}},
         -1,
         0,
         0,
         0,
         47,
         "frame 1: input ends inside the frame data (1 of 48 bytes)"},
    };
    for (const Case& c : cases) {
        std::vector<test::PlanarFrame> frames;
        for (int i = 0; i < 3; ++i)
            frames.push_back(test::random_layout_frame(c.planes, c.bits, rng));
        if (c.bad_plane >= 0) {
            std::vector<uint8_t>* planes[] = {&frames[1].luma, &frames[1].cb, &frames[1].cr};
            const auto at = 2 * static_cast<std::size_t>(c.y * c.planes[c.bad_plane].width + c.x);
            (*planes[c.bad_plane])[at] = static_cast<uint8_t>(c.value & 0xff);
            (*planes[c.bad_plane])[at + 1] = static_cast<uint8_t>(c.value >> 8);
        }
        if (c.cut > 0) frames.resize(2);
        std::vector<uint8_t> bytes =
            test::stream_bytes(std::string("YUV4MPEG2 W6 H4 C") + c.colourspace, frames);
        bytes.resize(bytes.size() - c.cut);
        uint64_t complete = 99;
        const std::string error = frames_error(bytes, &complete);
        EXPECT_EQ(error, c.message) << c.colourspace;
        EXPECT_EQ(complete, *c.message ? 1u : 3u) << c.colourspace;
    }
}

// Frames of several hundred KiB are checked as they arrive: a sample above the
// maximum is found wherever it lies (the first and last word of a 128 KiB piece,
// the frame's last), and a truncated frame still reports its bytes.
TEST(Y4mFrames, LargeDeepFramesFindSamplesAboveTheMaximumAnywhere) {
    std::mt19937 rng(22);
    const test::Size planes[4] = {{512, 300}, {256, 150}, {256, 150}, {}};
    struct Case {
        int plane, x, y;
        std::size_t cut;
        const char* message;
    };
    const Case cases[] = {
        {0, 0, 128, 0,
         "frame 1: Y plane: sample 1024 at (0, 128) is above the 10-bit maximum 1023"},
        {0, 511, 255, 0,
         "frame 1: Y plane: sample 1024 at (511, 255) is above the 10-bit maximum 1023"},
        {1, 17, 149, 0,
         "frame 1: Cb plane: sample 1024 at (17, 149) is above the 10-bit maximum 1023"},
        {2, 255, 149, 0,
         "frame 1: Cr plane: sample 1024 at (255, 149) is above the 10-bit maximum 1023"},
        {0, 3, 0, 1, "frame 1: input ends inside the frame data (460799 of 460800 bytes)"},
    };
    for (const Case& c : cases) {
        std::vector<test::PlanarFrame> frames;
        for (int i = 0; i < 2; ++i) frames.push_back(test::random_layout_frame(planes, 10, rng));
        std::vector<uint8_t>* bad[] = {&frames[1].luma, &frames[1].cb, &frames[1].cr};
        const auto at = 2 * static_cast<std::size_t>(c.y * planes[c.plane].width + c.x);
        (*bad[c.plane])[at] = 0x00;
        (*bad[c.plane])[at + 1] = 0x04;
        std::vector<uint8_t> bytes = test::stream_bytes("YUV4MPEG2 W512 H300 C420p10", frames);
        bytes.resize(bytes.size() - c.cut);
        uint64_t complete = 99;
        EXPECT_EQ(frames_error(bytes, &complete), c.message);
        EXPECT_EQ(complete, 1u);
    }
}

// Fails with an I/O error after handing out `good` bytes.
class FailingSource final : public ByteSource {
public:
    FailingSource(const std::vector<uint8_t>& bytes, std::size_t good)
        : bytes_(bytes), good_(good) {}
    std::ptrdiff_t read(void* buffer, std::size_t size, std::string* error) override {
        if (position_ >= good_) {
            *error = "Input/output error";
            return -1;
        }
        const std::size_t count = std::min(size, good_ - position_);
        std::memcpy(buffer, bytes_.data() + position_, count);
        position_ += count;
        return static_cast<std::ptrdiff_t>(count);
    }

private:
    const std::vector<uint8_t>& bytes_;
    std::size_t good_, position_ = 0;
};

TEST(Y4mFrames, ReportsReadErrorsWithTheFrame) {
    std::mt19937 rng(3);
    const std::vector<uint8_t> bytes =
        test::stream_bytes("YUV4MPEG2 W300 H200",
                           {test::random_frame(300, 200, rng), test::random_frame(300, 200, rng)});
    const std::size_t frame = 6 + 300 * 200 * 3 / 2;
    const struct {
        std::size_t good;
        const char* message;
    } cases[] = {
        {0, "read error: Input/output error"},
        {10, "read error: Input/output error"},
        {20 + frame + 3, "frame 1: read error: Input/output error"},
        {20 + frame + 10000, "frame 1: read error: Input/output error"},
    };
    for (const auto& c : cases) {
        FailingSource source(bytes, c.good);
        Y4mReader reader(source);
        StreamInfo info;
        Frame frame_data;
        ReadResult result = reader.read_stream_header(&info);
        while (result == ReadResult::ok) result = reader.read_frame(&frame_data);
        EXPECT_EQ(result, ReadResult::error);
        EXPECT_NE(reader.error().find(c.message), std::string::npos)
            << c.good << ": " << reader.error();
    }
}

TEST(Y4mRoundTrip, HeadersFrameTagsAndDataPassThroughUnchanged) {
    std::mt19937 rng(7);
    const struct {
        const char* header;
        int width, height;
    } streams[] = {
        {"YUV4MPEG2 W176 H144 F25:1 Ip A1:1 C420jpeg XYSCSS=420JPEG", 176, 144},
        {"YUV4MPEG2 W451 H301 Im F30000:1001 XCOLORRANGE=LIMITED", 451, 301},
        {"YUV4MPEG2 W1 H1", 1, 1},
    };
    for (const auto& s : streams) {
        std::vector<test::PlanarFrame> frames;
        const char* frame_headers[] = {"FRAME", "FRAME It XFRAMEDATA=1", "FRAME Ib", "FRAME"};
        for (const char* header : frame_headers) {
            frames.push_back(test::random_frame(s.width, s.height, rng));
            frames.back().header = header;
        }
        const std::vector<uint8_t> input = test::stream_bytes(s.header, frames);
        // Chunk sizes that split lines and planes at many different places.
        for (std::size_t chunk : {std::size_t{1}, std::size_t{7}, std::size_t{4093}, SIZE_MAX}) {
            MemorySource source(input.data(), input.size(), chunk);
            MemorySink sink;
            Y4mReader reader(source);
            Y4mWriter writer(sink);
            StreamInfo info;
            ASSERT_EQ(reader.read_stream_header(&info), ReadResult::ok) << reader.error();
            ASSERT_TRUE(writer.write_stream_header(info));
            Frame frame;
            ReadResult result;
            while ((result = reader.read_frame(&frame)) == ReadResult::ok)
                ASSERT_TRUE(writer.write_frame(frame));
            EXPECT_EQ(result, ReadResult::end_of_stream) << reader.error();
            EXPECT_EQ(reader.frames_read(), 4u);
            EXPECT_TRUE(sink.bytes() == input) << s.header << " chunk " << chunk;
        }
    }
}

TEST(Y4mWriter, WriteErrorsNameTheFrameAndKeepTheCompleteLength) {
    StreamInfo info;
    ASSERT_EQ(header_error("YUV4MPEG2 W4 H4\n", &info), "");
    Frame frame{"FRAME", std::vector<uint8_t>(info.frame_bytes(), 1)};
    // The stream header is 16 bytes, each frame 6 + 24.
    const struct {
        std::size_t room;
        const char* error;
        uint64_t complete_bytes;
    } cases[] = {
        {10, "write error: No space left on device", 0},
        {20, "frame 0: write error: No space left on device", 16},
        {16 + 30 + 5, "frame 1: write error: No space left on device", 16 + 30},
        {16 + 30 + 6 + 23, "frame 1: write error: No space left on device", 16 + 30},
    };
    for (const auto& c : cases) {
        MemorySink full(c.room);
        Y4mWriter writer(full);
        bool ok = writer.write_stream_header(info);
        for (int i = 0; ok && i < 3; ++i) ok = writer.write_frame(frame);
        EXPECT_FALSE(ok) << c.room;
        EXPECT_EQ(writer.error(), c.error) << c.room;
        EXPECT_EQ(writer.complete_bytes(), c.complete_bytes) << c.room;
    }
}

}  // namespace
}  // namespace velnor::cli
