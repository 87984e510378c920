// One run of the checks in one host install; each returns true when everything passed.
#pragma once

#include <string>

#include "tests/real_hosts/avisynth_api.h"

namespace velnor::real_hosts {

// Runs every AviSynth+ check with the functions in `api`; `mode` names how the
// frameserver library was loaded, for the report.
bool check_avisynth(const AvisynthApi& api, const std::string& plugin_path,
                    const std::string& mode);

// Opens the VapourSynth core library at `library_path` and runs every check in it.
bool check_vapoursynth(const std::string& library_path, const std::string& plugin_path);

}  // namespace velnor::real_hosts
