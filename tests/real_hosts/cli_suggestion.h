// The command line's measurement of frames a host delivered: `velnor --suggest` on a
// greyscale YUV4MPEG2 stream of their luma planes, or `velnor --suggest --chroma`
// on a 4:2:0 stream of all three (float samples as the 16-bit words the estimate
// reads them as, chroma shifted up by one half as the plug-ins measure it). The
// program is named by VELNOR_CLI.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "tests/real_hosts/frame_check.h"

namespace velnor::real_hosts {

struct CliSuggestion {
    double sigma;  // as printed, two decimals
    int strength, threshold1, threshold2;
};

// An integer frame property of an auto frame's entry, and the value it must hold.
struct ExpectedInt {
    const char* key;
    int value;
};

// The integer properties of the entry for `plane` of an auto frame filtered with
// what velnor --suggest printed for that plane: the plane, strength, threshold1 and
// threshold2.
std::array<ExpectedInt, 4> expected_int_properties(int plane, const CliSuggestion& cli);

// One frame's planes: the luma, or the luma, Cb and Cr of a 4:2:0 frame.
using FramePlanes = std::vector<ConstPlane>;

// The velnor program VELNOR_CLI names; empty when unset.
std::string cli_program();

// Runs `velnor --suggest` on the planes (all of one size and format); nothing with
// `*error` set when it fails or prints something else.
std::optional<CliSuggestion> cli_suggestion(const std::vector<ConstPlane>& lumas,
                                            std::string* error);

// Runs `velnor --suggest --chroma` on 4:2:0 frames of three planes each: the
// luma's suggestion, then Cb's and Cr's.
std::optional<std::vector<CliSuggestion>> cli_suggestion_per_plane(
    const std::vector<FramePlanes>& frames, std::string* error);

}  // namespace velnor::real_hosts
