// Gives back at unload what the C++ runtime linked into this library took at load.
// libstdc++ allocates its emergency exception pool (about 72 KB on 64-bit targets,
// 19 KB in the 32-bit Windows DLL) when the library is loaded and never frees it.
// Hosts load and unload plug-ins with every script environment or core, so each
// cycle would keep one pool. The runtime's own release function (the one memory
// checkers call at exit) frees it.
#include <version>  // names the C++ runtime

#if defined(__GLIBCXX__)

namespace __gnu_cxx {
// Hidden on ELF targets, so that the link fails unless the runtime is linked into
// this library: called on a shared libstdc++, it would free the pool that every other
// user of that runtime relies on. The Windows build always links it in.
#if defined(__ELF__)
__attribute__((visibility("hidden")))
#endif
void __freeres() noexcept;
}  // namespace __gnu_cxx

namespace {

// Runs when the library is unloaded (dlclose, FreeLibrary), once nothing of it runs
// any more; the pool is not used again by this copy of the runtime.
__attribute__((destructor)) void release_runtime_pool() { __gnu_cxx::__freeres(); }

}  // namespace

#endif
