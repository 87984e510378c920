#include "cli/y4m_format.h"

#include <charconv>
#include <cstdio>

namespace velnor::cli {

namespace {

bool is_tag_byte(char c) { return c > ' ' && c < 0x7f; }

bool all_digits(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

// "n:d" with two non-negative decimal numbers, as F and A carry.
bool is_ratio(std::string_view text) {
    const std::size_t colon = text.find(':');
    return colon != std::string_view::npos && all_digits(text.substr(0, colon)) &&
           all_digits(text.substr(colon + 1));
}

// Splits "<magic> tag tag ..." into tags and calls `visit(tag)` on each; returns
// an error text for empty tags or bytes that may not appear in a tag.
template <typename Visit>
std::string for_each_tag(std::string_view tags, Visit visit) {
    while (!tags.empty()) {
        if (tags.front() != ' ') return "expected a space before " + quote_bytes(tags);
        tags.remove_prefix(1);
        const std::size_t end = tags.find(' ');
        const std::string_view tag = tags.substr(0, end);
        if (tag.empty()) return "empty tag (two spaces in a row or a trailing space)";
        for (char c : tag)
            if (!is_tag_byte(c))
                return "tag " + quote_bytes(tag) + " contains a byte that is not printable ASCII";
        std::string problem = visit(tag);
        if (!problem.empty()) return problem;
        tags.remove_prefix(tag.size());
    }
    return {};
}

// Reads a W or H value: a positive decimal number within the side limit.
std::string parse_side(std::string_view tag, const char* name, int32_t max_side, int32_t* value) {
    const std::string_view digits = tag.substr(1);
    if (!all_digits(digits))
        return std::string("invalid ") + name + " " + quote_bytes(tag) +
               " (expected a positive whole number)";
    int64_t parsed = 0;
    const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), parsed);
    if (result.ec != std::errc() || parsed > max_side)
        return std::string(name) + " " + quote_bytes(digits) + " exceeds the limit of " +
               std::to_string(max_side);
    if (parsed == 0) return std::string(name) + " is zero";
    *value = static_cast<int32_t>(parsed);
    return {};
}

// Why a known colourspace other than 8-bit 4:2:0 is refused, or empty if accepted.
std::string check_colourspace(std::string_view value) {
    if (value == "420jpeg" || value == "420paldv" || value == "420mpeg2" || value == "420")
        return {};
    struct Family {
        std::string_view prefix;
        const char* kind;
    };
    static constexpr Family kRefused[] = {
        {"420p", "4:2:0 with more than 8 bits"},
        {"422", "4:2:2"},
        {"444", "4:4:4"},
        {"411", "4:1:1"},
        {"mono", "monochrome"},
    };
    const char* kind = nullptr;
    for (const Family& family : kRefused)
        if (value.starts_with(family.prefix)) kind = family.kind;
    std::string tag = "C";
    tag += value;
    if (kind == nullptr) return "unknown colourspace " + quote_bytes(tag);
    return "colourspace " + quote_bytes(tag) + " (" + kind +
           ") is not supported; velnor filters 8-bit 4:2:0 only";
}

}  // namespace

std::size_t StreamInfo::luma_bytes() const {
    return static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
}

std::size_t StreamInfo::chroma_bytes() const {
    return static_cast<std::size_t>((width + 1) / 2) * static_cast<std::size_t>((height + 1) / 2);
}

std::size_t StreamInfo::frame_bytes() const { return luma_bytes() + 2 * chroma_bytes(); }

std::string parse_stream_header(std::string_view line, const Y4mLimits& limits, StreamInfo* info) {
    if (!line.starts_with(kStreamMagic) ||
        (line.size() > kStreamMagic.size() && line[kStreamMagic.size()] != ' '))
        return "not a YUV4MPEG2 stream (it does not start with \"YUV4MPEG2\")";
    StreamInfo parsed;
    parsed.header = std::string(line);
    bool seen_w = false, seen_h = false, seen_c = false, seen_f = false, seen_a = false,
         seen_i = false;
    const auto once = [](bool* seen, char letter) -> std::string {
        if (*seen) return std::string("tag ") + letter + " appears twice";
        *seen = true;
        return {};
    };
    std::string problem = for_each_tag(line.substr(kStreamMagic.size()), [&](std::string_view tag) {
        std::string repeated;
        switch (tag.front()) {
            case 'W':
                if (!(repeated = once(&seen_w, 'W')).empty()) return repeated;
                return parse_side(tag, "width", limits.max_side, &parsed.width);
            case 'H':
                if (!(repeated = once(&seen_h, 'H')).empty()) return repeated;
                return parse_side(tag, "height", limits.max_side, &parsed.height);
            case 'C':
                if (!(repeated = once(&seen_c, 'C')).empty()) return repeated;
                parsed.colourspace = std::string(tag.substr(1));
                return check_colourspace(parsed.colourspace);
            case 'F':
            case 'A':
                if (!(repeated = once(tag.front() == 'F' ? &seen_f : &seen_a, tag.front())).empty())
                    return repeated;
                if (!is_ratio(tag.substr(1)))
                    return "malformed tag " + quote_bytes(tag) + " (expected " + tag.front() +
                           "n:d)";
                return std::string();
            case 'I':
                if (!(repeated = once(&seen_i, 'I')).empty()) return repeated;
                if (tag.size() != 2 ||
                    std::string_view("ptbm?").find(tag[1]) == std::string_view::npos)
                    return "malformed tag " + quote_bytes(tag) + " (expected Ip, It, Ib, Im or I?)";
                return std::string();
            default:
                return std::string();  // X tags and tags added to the format later pass through
        }
    });
    if (!problem.empty()) return problem;
    if (!seen_w) return "no width (W tag)";
    if (!seen_h) return "no height (H tag)";
    if (static_cast<int64_t>(parsed.width) * parsed.height > limits.max_luma_samples)
        return "frame size " + std::to_string(parsed.width) + "x" + std::to_string(parsed.height) +
               " exceeds the limit of " + std::to_string(limits.max_luma_samples) + " luma samples";
    *info = std::move(parsed);
    return {};
}

std::string check_frame_header(std::string_view line) {
    if (!line.starts_with(kFrameMagic) ||
        (line.size() > kFrameMagic.size() && line[kFrameMagic.size()] != ' '))
        return "expected a frame header \"FRAME\", found " + quote_bytes(line);
    return for_each_tag(line.substr(kFrameMagic.size()),
                        [](std::string_view) { return std::string(); });
}

std::string quote_bytes(std::string_view text, std::size_t max) {
    std::string quoted = "\"";
    for (std::size_t i = 0; i < text.size() && i < max; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7f && c != '"' && c != '\\') {
            quoted += static_cast<char>(c);
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            quoted += escaped;
        }
    }
    if (text.size() > max) quoted += "...";
    quoted += '"';
    return quoted;
}

}  // namespace velnor::cli
