// The harness variant without libavisynth at link time: only the private load is
// available.
#include "tests/real_hosts/avisynth_api.h"

namespace velnor::real_hosts {

bool linked_avisynth_api(AvisynthApi&) { return false; }

}  // namespace velnor::real_hosts
