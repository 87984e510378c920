// The command line of velnor.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/filter_settings.h"
#include "core/suggested_settings.h"

namespace velnor::cli {

inline constexpr int kMaxThreads = 256;

struct Options {
    int32_t strength = kDefaultStrength;
    int32_t threshold1 = kDefaultThreshold1;
    int32_t threshold2 = kDefaultThreshold2;
    int threads = 0;  // 0: one per CPU the process may use
    bool quiet = false;
    bool chroma = false;       // filter Cb and Cr as well as luma
    std::string input = "-";   // "-" is standard input
    std::string output = "-";  // "-" is standard output
    bool help = false;
    bool version = false;
    bool suggest = false;        // print settings for the input's noise instead of filtering
    bool auto_settings = false;  // filter with those settings
    // Which filter values the command line names; they win over --auto.
    bool strength_given = false;
    bool threshold1_given = false;
    bool threshold2_given = false;
    // --cb and --cr: all three values of one chroma plane (with --chroma); they win
    // over the named values above, which win over --auto's measurement.
    std::optional<FilterValues> cb, cr;
};

// The values each filtered plane gets, in plane order: luma, then Cb and Cr when
// --chroma asks for them. A chroma plane takes its --cb / --cr values where given,
// otherwise the luma's.
std::vector<FilterValues> plane_values(const Options& options);

// Parses the arguments after the program name. Returns an empty string on success,
// otherwise a one-line description of the first problem.
std::string parse_options(std::span<const std::string_view> args, Options* options);

// Parses a whole signed 32-bit decimal number (optional sign, no spaces).
bool parse_int32(std::string_view text, int32_t* value);

// The --help text.
std::string usage_text();

}  // namespace velnor::cli
