// What platform_posix.cpp takes from the file for its system: platform_linux.cpp or
// platform_macos.cpp.
#pragma once

namespace velnor::cli {

// Worker threads allocate only small scratch: they share the main heap where the C
// library would give each an arena of its own.
void share_heap_between_threads();

}  // namespace velnor::cli
