#include "tests/real_hosts/shared_library.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace velnor::real_hosts {

#ifdef _WIN32

SharedLibrary::SharedLibrary(const std::string& path, bool) {
    handle_ = reinterpret_cast<void*>(LoadLibraryA(path.c_str()));
    if (!handle_)
        error_ = path + ": LoadLibrary failed with error " + std::to_string(GetLastError());
}

SharedLibrary::~SharedLibrary() {
    if (handle_) FreeLibrary(reinterpret_cast<HMODULE>(handle_));
}

void* SharedLibrary::symbol(const char* name) {
    void* address =
        handle_ ? reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(handle_), name))
                : nullptr;
    if (!address) error_ = std::string("symbol not found: ") + name;
    return address;
}

bool SharedLibrary::loaded(const std::string& path) {
    return GetModuleHandleA(path.c_str()) != nullptr;
}

#else

SharedLibrary::SharedLibrary(const std::string& path, bool global_scope) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | (global_scope ? RTLD_GLOBAL : RTLD_LOCAL));
    if (!handle_) error_ = dlerror();
}

SharedLibrary::~SharedLibrary() {
    if (handle_) dlclose(handle_);
}

void* SharedLibrary::symbol(const char* name) {
    void* address = handle_ ? dlsym(handle_, name) : nullptr;
    if (!address) error_ = std::string("symbol not found: ") + name;
    return address;
}

bool SharedLibrary::loaded(const std::string& path) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle) dlclose(handle);
    return handle != nullptr;
}

#endif

}  // namespace velnor::real_hosts
