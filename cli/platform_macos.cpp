// The parts of the platform layer for POSIX systems other than Linux (macOS).
#include <unistd.h>

#include <algorithm>
#include <thread>

#include "cli/platform.h"
#include "cli/platform_posix.h"

namespace velnor::cli {

int usable_processors() {
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    const long processors =
        online > 0 ? online : static_cast<long>(std::thread::hardware_concurrency());
    return static_cast<int>(std::clamp<long>(processors, 1, 1 << 16));
}

// The system allocator keeps no per-thread arenas worth limiting.
void share_heap_between_threads() {}

}  // namespace velnor::cli
