// Bytes the process has allocated from the C runtime's heap and not freed.
#pragma once

#include <cstddef>

namespace velnor::real_hosts {

std::size_t heap_in_use();

}  // namespace velnor::real_hosts
