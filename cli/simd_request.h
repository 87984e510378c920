// The VELNOR_SIMD environment variable as the command line sees it: a value that
// names no level is reported instead of being ignored silently.
#pragma once

#include <string>

namespace velnor::cli {

// "VELNOR_SIMD \"sse41\" names no level (reference, sse2, ...); using avx2" when
// the variable is set to anything but a level name, else empty (unset or empty
// counts as not set).
std::string unknown_simd_request();

}  // namespace velnor::cli
