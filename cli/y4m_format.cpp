#include "cli/y4m_format.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <iterator>

namespace velnor::cli {

namespace {

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
        // Tag values are free bytes (UTF-8 text, say) except NUL, which readers take
        // for the end of the text.
        if (tag.find('\0') != std::string_view::npos)
            return "tag " + quote_bytes(tag) + " contains a NUL byte";
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

// The colourspaces velnor reads. Names with a depth suffix are these families
// followed by one of kDeepBits ("C420p10", "Cmono16").
struct Colourspace {
    std::string_view name;
    FrameLayout layout;
};
constexpr FrameLayout k420{8, 1, 1, true, false};
constexpr FrameLayout k422{8, 1, 0, true, false};
constexpr FrameLayout k444{8, 0, 0, true, false};
constexpr FrameLayout k411{8, 2, 0, true, false};
constexpr FrameLayout kMono{8, 0, 0, false, false};
constexpr FrameLayout k444Alpha{8, 0, 0, true, true};
constexpr Colourspace kEightBit[] = {
    {"420jpeg", k420}, {"420paldv", k420}, {"420mpeg2", k420},
    {"420", k420},     {"422", k422},      {"444", k444},
    {"411", k411},     {"mono", kMono},    {"444alpha", k444Alpha},
};
// The ffmpeg -pix_fmt stem of each family, for the fix a refusal names.
struct DeepFamily {
    std::string_view prefix;
    FrameLayout layout;
    std::string_view pix_fmt;
};
constexpr DeepFamily kDeepFamilies[] = {
    {"420p", k420, "yuv420p"},
    {"422p", k422, "yuv422p"},
    {"444p", k444, "yuv444p"},
    {"mono", kMono, "gray"},
};
constexpr int kDeepBits[] = {9, 10, 12, 14, 16};

// Layouts other programs write that velnor does not read, each with the layout to
// convert to (vspipe writes 4:1:0, 4:4:0 and 4:1:1 at any depth).
struct Refused {
    std::string_view prefix;  // followed by nothing or "p" and a depth
    const char* kind;
    std::string_view pix_fmt;  // what to convert to
};
constexpr Refused kRefused[] = {
    {"410", "4:1:0", "yuv420p"},
    {"440", "4:4:0", "yuv444p"},
    {"411", "4:1:1", "yuv422p"},  // 8-bit 4:1:1 is read; ffmpeg writes no deeper 4:1:1
};

// The ffmpeg options that write `stem` at `bits` as Y4M.
std::string pix_fmt_option(std::string_view stem, int bits) {
    std::string option = "-pix_fmt " + std::string(stem);
    if (bits > 8) option += std::to_string(bits) + "le -strict -1";
    return option;
}

// A whole decimal number of one to three digits, or -1.
int small_number(std::string_view text) {
    if (!all_digits(text) || text.size() > 3) return -1;
    int value = 0;
    for (char c : text) value = value * 10 + (c - '0');
    return value;
}

// A depth velnor reads for samples of `bits` (1..32): 8 up to 8 bits, which holds
// them without loss; `bits` itself where velnor reads it; else 16, which holds every
// other depth up to 16 and is the nearest above.
int readable_bits(int bits) {
    if (bits <= 8) return 8;
    for (int deep : kDeepBits)
        if (bits == deep) return bits;
    return 16;
}

// A sample depth a colourspace suffix can name: a whole decimal number 1..32, or -1.
int suffix_depth(std::string_view text) {
    const int bits = small_number(text);
    return bits >= 1 && bits <= 32 ? bits : -1;
}

// Why an 8-bit stream that names its depth is refused: the tag for 8 bits has none.
std::string named_eight_bits(const std::string& quoted, std::string_view eight_bit_name,
                             std::string_view pix_fmt) {
    std::string plain = "C";  // appended: see readable_colourspaces
    plain += eight_bit_name;
    return "colourspace " + quoted + " (8-bit samples) is not supported; 8-bit streams name no " +
           "depth (" + quote_bytes(plain) + "): convert with ffmpeg " + pix_fmt_option(pix_fmt, 8);
}

// "9, 10, 12, 14 and 16"
std::string deep_bits_list() {
    std::string list;
    for (std::size_t i = 0; i < std::size(kDeepBits); ++i) {
        if (i > 0) list += i + 1 == std::size(kDeepBits) ? " and " : ", ";
        list += std::to_string(kDeepBits[i]);
    }
    return list;
}

// "C420jpeg, ..., C444alpha, and C420pN, ..., CmonoN for N = 9, 10, 12, 14 and 16"
std::string readable_colourspaces() {
    std::string list;
    // Appended piece by piece: GCC 12 warns wrongly on "C" + string at -O3.
    for (const Colourspace& known : kEightBit) {
        list += 'C';
        list += known.name;
        list += ", ";
    }
    list += "and ";
    for (const DeepFamily& family : kDeepFamilies) {
        list += 'C';
        list += family.prefix;
        list += "N, ";
    }
    list.resize(list.size() - 2);
    return list + " for N = " + deep_bits_list();
}

// Looks the C tag's value up; on success fills `layout` and returns an empty string,
// otherwise why the colourspace is refused and what to convert to.
std::string parse_colourspace(std::string_view value, FrameLayout* layout) {
    for (const Colourspace& known : kEightBit)
        if (value == known.name) {
            *layout = known.layout;
            return {};
        }
    std::string tag = "C";  // appended, as above
    tag += value;
    const std::string quoted = quote_bytes(tag);
    for (const DeepFamily& family : kDeepFamilies) {
        if (!value.starts_with(family.prefix)) continue;
        const int bits = suffix_depth(value.substr(family.prefix.size()));
        if (bits < 0) continue;
        if (bits == 8) {
            std::string_view plain = family.prefix;
            if (plain.ends_with('p')) plain.remove_suffix(1);
            return named_eight_bits(quoted, plain, family.pix_fmt);
        }
        if (readable_bits(bits) == bits) {
            *layout = family.layout;
            layout->bits = bits;
            return {};
        }
        return "colourspace " + quoted + " (" + std::to_string(bits) +
               "-bit samples) is not supported; velnor reads 8 bits (no suffix) and " +
               deep_bits_list() + ": convert with ffmpeg " +
               pix_fmt_option(family.pix_fmt, readable_bits(bits));
    }
    for (const Refused& refused : kRefused) {
        if (!value.starts_with(refused.prefix)) continue;
        const std::string_view rest = value.substr(refused.prefix.size());
        const int bits = rest.empty()            ? 8
                         : rest.starts_with("p") ? suffix_depth(rest.substr(1))
                                                 : -1;
        if (bits < 0) continue;
        if (bits == 8 && !rest.empty() && refused.prefix == "411")
            return named_eight_bits(quoted, "411", "yuv411p");
        const std::string depth = bits > 8 ? ", " + std::to_string(bits) + " bits" : "";
        return "colourspace " + quoted + " (" + refused.kind + depth +
               ") is not supported; convert with ffmpeg " +
               pix_fmt_option(refused.pix_fmt, readable_bits(bits));
    }
    return "unknown colourspace " + quoted + " (velnor reads " + readable_colourspaces() + ")";
}

}  // namespace

const char* plane_name(Plane plane) {
    switch (plane) {
        case Plane::luma:
            return "Y";
        case Plane::cb:
            return "Cb";
        case Plane::cr:
            return "Cr";
        case Plane::alpha:
            break;
    }
    return "alpha";
}

int StreamInfo::plane_count() const {
    if (!layout.has_chroma) return 1;
    return layout.has_alpha ? 4 : 3;
}

PlaneSize StreamInfo::plane_size(Plane plane) const {
    if (plane != Plane::cb && plane != Plane::cr) return {width, height};
    // Subsampled sizes round up, so that odd sizes keep their last column and row.
    const auto shrink = [](int32_t side, int shift) {
        return static_cast<int32_t>((int64_t{side} + (int64_t{1} << shift) - 1) >> shift);
    };
    return {shrink(width, layout.chroma_shift_x), shrink(height, layout.chroma_shift_y)};
}

std::size_t StreamInfo::sample_bytes() const { return layout.bits > 8 ? 2 : 1; }

std::size_t StreamInfo::row_bytes(Plane plane) const {
    return static_cast<std::size_t>(plane_size(plane).width) * sample_bytes();
}

std::size_t StreamInfo::plane_bytes(Plane plane) const {
    return row_bytes(plane) * static_cast<std::size_t>(plane_size(plane).height);
}

std::size_t StreamInfo::plane_offset(Plane plane) const {
    std::size_t offset = 0;
    for (int i = 0; i < static_cast<int>(plane); ++i) offset += plane_bytes(StreamInfo::plane(i));
    return offset;
}

std::size_t StreamInfo::frame_bytes() const {
    std::size_t total = 0;
    for (int i = 0; i < plane_count(); ++i) total += plane_bytes(plane(i));
    return total;
}

uint32_t StreamInfo::max_sample() const { return (uint32_t{1} << layout.bits) - 1; }

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
                return parse_colourspace(parsed.colourspace, &parsed.layout);
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

namespace {

// Characters that would end the line or reorder the text around them when shown:
// C1 controls, the line and paragraph separators, the bidirectional controls.
bool breaks_the_line(uint32_t code) {
    return code < 0xa0 || code == 0x061c || code == 0x200e || code == 0x200f ||
           (code >= 0x2028 && code <= 0x202e) || (code >= 0x2066 && code <= 0x2069);
}

// How many bytes at the start of `text` make one character shown as it is:
// printable ASCII other than the quote, or a well-formed UTF-8 sequence (no
// overlong form, no surrogate, at most U+10FFFF) of a character that does not
// break the line. 0: the first byte is escaped.
std::size_t shown_as_is(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return lead >= 0x20 && lead < 0x7f && lead != '"' ? 1 : 0;
    const std::size_t length = lead >= 0xc2 && lead <= 0xdf   ? 2
                               : lead >= 0xe0 && lead <= 0xef ? 3
                               : lead >= 0xf0 && lead <= 0xf4 ? 4
                                                              : 0;
    if (length == 0 || text.size() < length) return 0;
    uint32_t code = lead & (0x7fu >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xc0) != 0x80) return 0;
        code = code << 6 | (byte(i) & 0x3fu);
    }
    const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < least[length] || (code >= 0xd800 && code <= 0xdfff) || code > 0x10ffff ||
        breaks_the_line(code))
        return 0;
    return length;
}

}  // namespace

std::string quote_bytes(std::string_view text, std::size_t max) {
    std::string quoted = "\"";
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t length = shown_as_is(text.substr(i));
        if (i + std::max<std::size_t>(length, 1) > max) break;  // a character is never cut
        if (length > 0) {
            quoted.append(text.substr(i, length));
            i += length;
            continue;
        }
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(text[i]));
        quoted += escaped;
        ++i;
    }
    if (i < text.size()) quoted += "...";
    quoted += '"';
    return quoted;
}

}  // namespace velnor::cli
