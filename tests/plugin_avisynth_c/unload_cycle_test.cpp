// Loading the shipped library, calling its entry points and unloading it leaves the
// heap as it was: hosts load plug-ins anew with every script environment or core,
// so anything kept per load adds up.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstddef>

#include "plugin/script_function.h"
#include "plugin/vapoursynth/vs_interface.h"

#if defined(__SANITIZE_ADDRESS__)
#define VELNOR_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELNOR_ASAN 1
#endif
#endif
#if defined(VELNOR_ASAN)
// The sanitizer runtime's count of live bytes (its allocator interface, whose header
// GCC does not install).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace velnor {
namespace {

constexpr int kWarmUpCycles = 3;
constexpr int kCycles = 40;
// Well below the 72 KB a kept exception pool costs, above the loader's own noise.
constexpr std::size_t kToleratedBytesPerCycle = 1024;

// Bytes the program has allocated and not freed. Under AddressSanitizer every
// allocation goes to its allocator, which the C library's count does not see.
std::size_t heap_in_use() {
#if defined(VELNOR_ASAN)
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
}

int vs_registrations = 0;
int vs_api_version() { return 4 << 16; }
int vs_config(const char*, const char*, const char*, int, int, int, vs::VSPlugin*) { return 1; }
int vs_register(const char*, const char*, const char*, vs::VSPublicFunction, void*, vs::VSPlugin*) {
    ++vs_registrations;
    return 1;
}
const vs::VSPLUGINAPI kVsPluginApi = {vs_api_version, vs_config, vs_register};

TEST(LibraryUnload, EveryLoadGivesBackWhatItTook) {
    void* host = dlopen(VELNOR_PRIVATE_HOST_MODULE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(host, nullptr) << dlerror();
    auto avs_registrations = reinterpret_cast<int (*)()>(dlsym(host, "private_host_registrations"));
    ASSERT_NE(avs_registrations, nullptr);
    char plugin_handle = 0;  // the core's opaque plug-in, never looked into
    auto* plugin = reinterpret_cast<vs::VSPlugin*>(&plugin_handle);

    auto cycle = [&] {
        void* library = dlopen(VELNOR_HOST_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << dlerror();
        auto avs_init =
            reinterpret_cast<const char* (*)(void*)>(dlsym(library, "avisynth_c_plugin_init2"));
        auto vs_init = reinterpret_cast<vs::VSInitPlugin>(dlsym(library, "VapourSynthPluginInit2"));
        ASSERT_NE(avs_init, nullptr);
        ASSERT_NE(vs_init, nullptr);
        const int avs_before = avs_registrations(), vs_before = vs_registrations;
        EXPECT_STREQ(avs_init(nullptr), plugin::kAvsPlusVersionText);
        vs_init(plugin, &kVsPluginApi);
        EXPECT_GT(avs_registrations(), avs_before);
        EXPECT_GT(vs_registrations, vs_before);
        ASSERT_EQ(dlclose(library), 0) << dlerror();
        // Really unloaded: a library the loader keeps would pass without giving back.
        void* kept = dlopen(VELNOR_HOST_LIBRARY, RTLD_NOW | RTLD_NOLOAD);
        if (kept) dlclose(kept);
        ASSERT_EQ(kept, nullptr) << "the library stays loaded after dlclose";
    };

    for (int i = 0; i < kWarmUpCycles; ++i) ASSERT_NO_FATAL_FAILURE(cycle());
    const std::size_t before = heap_in_use();
    for (int i = 0; i < kCycles; ++i) ASSERT_NO_FATAL_FAILURE(cycle());
    const std::size_t after = heap_in_use();
    const std::size_t growth = after > before ? after - before : 0;
    EXPECT_LT(growth / kCycles, kToleratedBytesPerCycle)
        << growth << " bytes kept over " << kCycles << " load/unload cycles";
    dlclose(host);
}

}  // namespace
}  // namespace velnor
