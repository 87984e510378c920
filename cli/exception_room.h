// Room for the exception that reports memory running out. The C++ runtime takes an
// emergency pool for that at start-up; where even that did not fit, throwing
// std::bad_alloc would need memory there is none of, and the program would end in
// std::terminate instead of reporting the shortage.
#pragma once

namespace velnor::cli {

// Sets a block aside and installs a new-handler that gives it back just before the
// first failed allocation throws std::bad_alloc. false: not even the block fits
// (nothing could be reported later), the handler is not installed.
bool reserve_exception_room();

}  // namespace velnor::cli
