// The command line's measurement of frames a host delivered: `velnor --suggest` on a
// greyscale YUV4MPEG2 stream of their luma planes (float samples as the 16-bit words
// the estimate reads them as). The program is named by VELNOR_CLI.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tests/real_hosts/frame_check.h"

namespace velnor::real_hosts {

struct CliSuggestion {
    double sigma;  // as printed, two decimals
    int strength, threshold1, threshold2;
};

// The velnor program VELNOR_CLI names; empty when unset.
std::string cli_program();

// Runs `velnor --suggest` on the planes (all of one size and format); nothing with
// `*error` set when it fails or prints something else.
std::optional<CliSuggestion> cli_suggestion(const std::vector<ConstPlane>& lumas,
                                            std::string* error);

}  // namespace velnor::real_hosts
