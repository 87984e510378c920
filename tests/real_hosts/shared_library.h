// The harness's only platform layer: opening a shared library and looking up its
// symbols, with dlopen/dlsym on POSIX systems and LoadLibrary/GetProcAddress on Windows.
#pragma once

#include <string>

namespace velnor::real_hosts {

class SharedLibrary {
public:
    // Opens `path`. With `global_scope` its symbols also serve later loads (RTLD_GLOBAL);
    // otherwise they stay private to this handle, as a host that loads a frameserver
    // library on its own does. Windows has no global scope: the flag is ignored there.
    SharedLibrary(const std::string& path, bool global_scope);
    ~SharedLibrary();
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    // Whether the process holds the library at `path` (loaded by anyone).
    static bool loaded(const std::string& path);

    bool is_open() const { return handle_ != nullptr; }
    // Why opening failed, or the last lookup failed.
    const std::string& error() const { return error_; }
    // Address of an exported symbol, or null.
    void* symbol(const char* name);

    // Converts a looked-up address to the function pointer type of `target`.
    template <typename Function>
    bool resolve(const char* name, Function*& target) {
        void* address = symbol(name);
        target = reinterpret_cast<Function*>(address);
        return address != nullptr;
    }

private:
    void* handle_ = nullptr;
    std::string error_;
};

}  // namespace velnor::real_hosts
