#include "cli/simd_request.h"

#include <cstdlib>

#include "cli/y4m_format.h"
#include "core/dispatch.h"

namespace velnor::cli {

std::string unknown_simd_request() {
    const char* value = std::getenv("VELNOR_SIMD");
    SimdLevel level;
    if (value == nullptr || *value == '\0' || parse_level(value, &level)) return {};
    return "VELNOR_SIMD " + quote_bytes(value) + " names no level (" + level_names(", ") +
           "); using " + level_name(level_from_environment());
}

}  // namespace velnor::cli
