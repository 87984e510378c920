#include "cli/options.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <utility>

#include "cli/y4m_format.h"
#include "core/dispatch.h"

namespace velnor::cli {

namespace {

// An option that takes a value, with the field it sets.
struct ValueOption {
    std::string_view name;  // "--strength"
    int32_t Options::*field;
    bool Options::*given;
};

// An optional sign and at least one digit, nothing else: a whole number of any size.
bool is_integer(std::string_view text) {
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) text.remove_prefix(1);
    if (text.empty()) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

// "S,T1,T2": the three values of one plane, whole numbers separated by commas.
std::string parse_plane_values(std::string_view name, std::string_view text,
                               std::optional<FilterValues>* values) {
    std::string_view parts[3];
    std::size_t count = 0, start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        if (count == 3 || !is_integer(text.substr(start, comma - start))) {
            count = 0;  // a fourth part or one that is no number
            break;
        }
        parts[count++] = text.substr(start, comma - start);
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    const std::string quoted = std::string(name) + ": " + quote_bytes(text, SIZE_MAX);
    if (count != 3) return quoted + " is not three whole numbers STRENGTH,THRESHOLD1,THRESHOLD2";
    int32_t parsed[3];
    for (std::size_t i = 0; i < 3; ++i)
        if (!parse_int32(parts[i], &parsed[i]))
            return quoted + " holds a number outside the 32-bit range -2147483648..2147483647";
    *values = FilterValues{parsed[0], parsed[1], parsed[2]};
    return {};
}

}  // namespace

std::vector<FilterValues> plane_values(const Options& options) {
    const FilterValues luma{options.strength, options.threshold1, options.threshold2};
    if (!options.chroma) return {luma};
    return {luma, options.cb.value_or(luma), options.cr.value_or(luma)};
}

bool parse_int32(std::string_view text, int32_t* value) {
    if (!is_integer(text)) return false;
    if (text.front() == '+') text.remove_prefix(1);  // from_chars takes only '-'
    int32_t parsed = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return false;
    *value = parsed;
    return true;
}

std::string parse_options(std::span<const std::string_view> args, Options* options) {
    Options parsed;
    bool have_input = false, have_output = false, only_files = false;
    int32_t threads = 0;
    bool threads_given = false;

    const auto set_file = [&](std::string_view name, bool* have, std::string* field,
                              const char* what) -> std::string {
        if (*have) return std::string("more than one ") + what + " given";
        *have = true;
        *field = std::string(name);
        return {};
    };
    const auto set_number = [&](std::string_view name, std::string_view text,
                                int32_t* field) -> std::string {
        if (parse_int32(text, field)) return {};
        return std::string(name) + ": " + quote_bytes(text, SIZE_MAX) + " is " +
               (is_integer(text) ? "outside the 32-bit range -2147483648..2147483647"
                                 : "not a whole number");
    };

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        std::string problem;
        if (only_files || arg == "-" || !arg.starts_with("-")) {
            problem = set_file(arg, &have_input, &parsed.input, "input");
        } else if (arg == "--") {
            only_files = true;
        } else if (arg == "-h" || arg == "--help") {
            parsed.help = true;
        } else if (arg == "-V" || arg == "--version") {
            parsed.version = true;
        } else if (arg == "-q" || arg == "--quiet") {
            parsed.quiet = true;
        } else if (arg == "--chroma") {
            parsed.chroma = true;
        } else if (arg == "--suggest") {
            parsed.suggest = true;
        } else if (arg == "--auto") {
            parsed.auto_settings = true;
        } else {
            // Options with a value: "--name value", "--name=value", "-xvalue", "-x value".
            std::string_view name = arg, value;
            bool inline_value = false;
            if (arg.starts_with("--")) {
                const std::size_t equals = arg.find('=');
                if (equals != std::string_view::npos) {
                    name = arg.substr(0, equals);
                    value = arg.substr(equals + 1);
                    inline_value = true;
                }
            } else if (arg.size() > 2) {
                name = arg.substr(0, 2);
                value = arg.substr(2);
                inline_value = true;
            }
            const bool is_output = name == "-o" || name == "--output";
            const bool is_threads = name == "-j" || name == "--jobs";
            std::optional<FilterValues>* chroma_plane = name == "--cb"   ? &parsed.cb
                                                        : name == "--cr" ? &parsed.cr
                                                                         : nullptr;
            static constexpr ValueOption kNumbers[] = {
                {"--strength", &Options::strength, &Options::strength_given},
                {"--threshold1", &Options::threshold1, &Options::threshold1_given},
                {"--threshold2", &Options::threshold2, &Options::threshold2_given},
            };
            const ValueOption* number = nullptr;
            for (const ValueOption& option : kNumbers)
                if (name == option.name) number = &option;
            if (!is_output && !is_threads && !chroma_plane && number == nullptr)
                return "unknown option " + quote_bytes(arg, SIZE_MAX) + " (see --help)";
            if (!inline_value) {
                if (i + 1 >= args.size()) return std::string(name) + " needs a value";
                value = args[++i];
            }
            if (is_output) {
                if (value.empty()) return std::string(name) + " needs a file name";
                problem = set_file(value, &have_output, &parsed.output, "output");
            } else if (is_threads) {
                problem = set_number(name, value, &threads);
                if (problem.empty() && (threads < 1 || threads > kMaxThreads))
                    problem = std::string(name) + ": the number of threads must be 1 to " +
                              std::to_string(kMaxThreads);
                threads_given = true;
            } else if (chroma_plane) {
                problem = parse_plane_values(name, value, chroma_plane);
            } else {
                problem = set_number(name, value, &(parsed.*(number->field)));
                parsed.*(number->given) = true;
            }
        }
        if (!problem.empty()) return problem;
    }
    if (threads_given) parsed.threads = threads;
    if (parsed.suggest && have_output) return "--suggest writes no video; it takes no -o";
    if (parsed.suggest &&
        (parsed.auto_settings || parsed.strength_given || parsed.threshold1_given ||
         parsed.threshold2_given || parsed.cb || parsed.cr || threads_given))
        return "--suggest only measures the noise; it takes no --auto, --strength, "
               "--threshold1, --threshold2, --cb, --cr or -j";
    if ((parsed.cb || parsed.cr) && !parsed.chroma)
        return std::string(parsed.cb ? "--cb" : "--cr") +
               " sets a chroma plane's values; it needs --chroma";
    *options = std::move(parsed);
    return {};
}

std::string usage_text() {
    const std::string text = R"(Usage: velnor [OPTIONS] [INPUT|-] [-o OUTPUT|-]
       velnor --suggest [INPUT|-]

Removes noise from the luma of a YUV4MPEG2 stream. Chroma, alpha and all header
lines pass through unchanged. Reads standard input and writes standard output
unless files are named.

Formats: every planar layout ffmpeg writes as YUV4MPEG2: C420jpeg, C420paldv,
C420mpeg2, C420, C422, C444, C411, Cmono, C444alpha, and C420pN, C422pN, C444pN,
CmonoN for N = 9, 10, 12, 14, 16 bits. ffmpeg writes those deeper than 8 bits
and C444alpha only with -strict -1, e.g.
  ffmpeg -i in.mkv -pix_fmt yuv420p10le -strict -1 -f yuv4mpegpipe - | velnor ...

Options:
  --strength N     how much of the correction to apply: 20 full, 10 half, 0 none
                   (default @STRENGTH@)
  --threshold1 N   how much a sample must stand out from its 3x3 neighbourhood
                   before edge and line detection decides how to smooth it; below
                   it the sample is pulled toward the neighbourhood mean
                   (default @THRESHOLD1@)
  --threshold2 N   along an edge, differences up to N are smoothed fully, larger
                   ones less, and from 2N on not at all (default @THRESHOLD2@)
  --suggest        estimate the noise of the first frames and print the settings
                   for it as one line of options (the estimate goes to standard
                   error): of the luma, and with --chroma of Cb and Cr too, each
                   measured on its own and printed as --cb and --cr; filters
                   nothing, so it takes none of the options above, --auto,
                   --cb, --cr or -j
  --auto           filter with the settings --suggest would print (with
                   --chroma, each chroma plane with its own); the values named
                   on the command line still win
  --chroma         filter Cb and Cr too, each at its own size (a monochrome
                   stream has none: a note says so)
  --cb S,T1,T2     strength, threshold1 and threshold2 for Cb alone (with
  --cr S,T1,T2     --chroma); likewise for Cr
  -j, --jobs N     filter N frames at a time (default: one per usable CPU)
  -o, --output F   write to F instead of standard output ("-" for standard output)
  -q, --quiet      no progress display
  -h, --help       show this help
  -V, --version    show the version

Each plane's values: for luma, each value named by --strength, --threshold1 or
--threshold2, else --auto's measurement of the luma, else the default. For Cb
(Cr): the three values of --cb (--cr); else each value named by --strength,
--threshold1 or --threshold2; else --auto's measurement of that plane; else the
luma's.
The three filter values take any 32-bit integer, as the AviSynth plug-in does,
and keep their 8-bit meaning at every depth; --suggest reports the noise in
8-bit steps.
Progress appears on standard error when it is a terminal: frames written, out
of the total with the percentage and the time left when the input is a file of
fixed-size frames, else with the time elapsed; the closing line says how many
frames were filtered and how long it took.
Exit status: 0 success, 1 bad input or I/O error, 2 bad command line, 130, 143
or 129 stopped by SIGINT (Ctrl+C), SIGTERM or SIGHUP (the frames read so far
are written).

Environment: VELNOR_SIMD=@LEVELS@ caps the instruction
set the filter uses (the output is identical at every level; --version shows the
one in use; any other value is named on standard error and ignored).
)";
    // The defaults come from the filter's own constants.
    const std::pair<std::string_view, int32_t> defaults[] = {
        {"@STRENGTH@", kDefaultStrength},
        {"@THRESHOLD1@", kDefaultThreshold1},
        {"@THRESHOLD2@", kDefaultThreshold2},
    };
    std::string result = text;
    for (const auto& [mark, value] : defaults)
        result.replace(result.find(mark), mark.size(), std::to_string(value));
    // The level names come from the dispatcher's table.
    const std::string_view mark = "@LEVELS@";
    result.replace(result.find(mark), mark.size(), level_names("|"));
    return result;
}

}  // namespace velnor::cli
