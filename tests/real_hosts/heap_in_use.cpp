#include "tests/real_hosts/heap_in_use.h"

#include <malloc.h>

namespace velnor::real_hosts {

#ifdef _WIN32

// The blocks in use in the C runtime's heap, which the host, the plug-in's static
// C++ runtime and this program all allocate from.
std::size_t heap_in_use() {
    std::size_t used = 0;
    _HEAPINFO entry{};
    while (_heapwalk(&entry) == _HEAPOK)
        if (entry._useflag == _USEDENTRY) used += entry._size;
    return used;
}

#else

// glibc's count over all arenas, mapped blocks included.
std::size_t heap_in_use() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

#endif

}  // namespace velnor::real_hosts
