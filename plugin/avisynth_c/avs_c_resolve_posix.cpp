// Finds libavisynth among the loaded objects. A host may have opened it privately
// (dlopen with RTLD_LOCAL), so the global scope alone is not enough: every loaded
// object is asked for the interface's registration function, whatever its file
// name (libavisynth.so.11, .12, ...).
#include <dlfcn.h>
#include <link.h>

#include <string>
#include <vector>

#include "plugin/avisynth_c/avs_c_api.h"

namespace velnor::avsc {

namespace {

constexpr const char kProbe[] = "avs_add_function";

int collect_name(dl_phdr_info* info, size_t, void* data) {
    if (info->dlpi_name && info->dlpi_name[0])
        static_cast<std::vector<std::string>*>(data)->emplace_back(info->dlpi_name);
    return 0;
}

void* lookup(void* handle, const char* name) { return dlsym(handle, name); }

// Fills `api` from `handle` if it exports the interface. The handle is dropped
// again: the host keeps its own reference for as long as it can call us.
bool try_handle(void* handle, AvsApi* api) {
    if (!handle) return false;
    const bool found = dlsym(handle, kProbe) && load_avs_api(lookup, handle, api);
    dlclose(handle);
    return found;
}

}  // namespace

bool resolve_loaded_avs_api(AvsApi* api) {
    // The program and everything in the global scope first.
    if (try_handle(dlopen(nullptr, RTLD_LAZY), api)) return true;
    // Then each loaded object; the names are gathered first so that no object is
    // opened while the loader walks its list.
    std::vector<std::string> names;
    try {
        dl_iterate_phdr(collect_name, &names);
    } catch (...) {
        return false;
    }
    for (const std::string& name : names)
        if (try_handle(dlopen(name.c_str(), RTLD_LAZY | RTLD_NOLOAD), api)) return true;
    return false;
}

}  // namespace velnor::avsc
