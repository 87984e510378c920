// The fast pass built for sse2 (target flags set in core/CMakeLists.txt).
#include "core/x86/fast_passes.h"

#define VELNOR_PASS_FUNCTION filter_luma_sse2
#define VELNOR_SHAPE_PROBE shape_probe_sse2
#include "core/x86/wavefront_body.h"
