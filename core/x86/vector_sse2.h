// The SSE2 vector layer: two 128-bit halves, no byte shuffle (the shaping step
// divides by the knee instead of looking it up).
#pragma once

#include "core/x86/vector_halves.h"

namespace velnor {
namespace {
constexpr bool kHasByteShuffle = false;
}  // namespace
}  // namespace velnor
