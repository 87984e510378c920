// Finds libavisynth among the loaded objects. A host may have opened it privately
// (dlopen with RTLD_LOCAL), so the global scope alone is not enough: every loaded
// object is asked for the interface's registration function, whatever its file
// name (libavisynth.so.11, .12, ...). The loaded objects are listed by the ELF
// loader's dl_iterate_phdr, or on macOS by dyld.
#include <dlfcn.h>
#if defined(__APPLE__)
#include <mach-o/dyld.h>
#else
#include <link.h>
#endif

#include <cstdint>
#include <string>
#include <vector>

#include "plugin/avisynth_c/avs_c_api.h"

namespace velnor::avsc {

namespace {

constexpr const char kProbe[] = "avs_add_function";

#if defined(__APPLE__)
// An image unloaded meanwhile has no name any more.
std::vector<std::string> loaded_object_names() {
    std::vector<std::string> names;
    const uint32_t count = _dyld_image_count();
    for (uint32_t i = 0; i < count; ++i) {
        const char* name = _dyld_get_image_name(i);
        if (name && name[0]) names.emplace_back(name);
    }
    return names;
}
#else
int collect_name(dl_phdr_info* info, size_t, void* data) {
    if (info->dlpi_name && info->dlpi_name[0])
        static_cast<std::vector<std::string>*>(data)->emplace_back(info->dlpi_name);
    return 0;
}

std::vector<std::string> loaded_object_names() {
    std::vector<std::string> names;
    dl_iterate_phdr(collect_name, &names);
    return names;
}
#endif

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
        names = loaded_object_names();
    } catch (...) {
        return false;
    }
    for (const std::string& name : names)
        if (try_handle(dlopen(name.c_str(), RTLD_LAZY | RTLD_NOLOAD), api)) return true;
    return false;
}

}  // namespace velnor::avsc
