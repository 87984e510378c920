// The harness variant linked with libavisynth: the table points at the functions the
// dynamic linker bound at start-up, as in a program built against the frameserver.
#include "tests/real_hosts/avisynth_api.h"

namespace avs = velnor::avsc;
#define VELNOR_DECLARE(name, type) extern "C" std::type_identity_t<type> avs_##name;
VELNOR_AVISYNTH_FUNCTIONS(VELNOR_DECLARE)
#undef VELNOR_DECLARE

namespace velnor::real_hosts {

bool linked_avisynth_api(AvisynthApi& api) {
#define VELNOR_ASSIGN(name, type) api.name = &::avs_##name;
    VELNOR_AVISYNTH_FUNCTIONS(VELNOR_ASSIGN)
#undef VELNOR_ASSIGN
    return true;
}

}  // namespace velnor::real_hosts
