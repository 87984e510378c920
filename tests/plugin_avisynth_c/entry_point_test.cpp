// The entry point finds the host's functions at run time: in a library the program
// opened privately, under any file name, and it fails cleanly when there is none.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "plugin/avisynth_c/velnor_avs_c.h"
#include "plugin/script_function.h"

namespace velnor::avsc {
namespace {

TEST(AvsCEntryPoint, ReportsAMissingInterfaceInsteadOfCrashing) {
    ASSERT_EQ(dlsym(RTLD_DEFAULT, "avs_add_function"), nullptr);
    EXPECT_STREQ(avisynth_c_plugin_init(nullptr), kNoInterface);
    EXPECT_STREQ(avisynth_c_plugin_init2(nullptr), kNoInterface);
}

TEST(AvsCEntryPoint, RegistersThroughAPrivatelyOpenedHostLibrary) {
    void* host = dlopen(VELNOR_PRIVATE_HOST_MODULE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(host, nullptr) << dlerror();
    ASSERT_EQ(dlsym(RTLD_DEFAULT, "avs_add_function"), nullptr)
        << "the host leaked into the global scope";
    auto count = reinterpret_cast<int (*)()>(dlsym(host, "private_host_registrations"));
    auto exits = reinterpret_cast<int (*)()>(dlsym(host, "private_host_exit_handlers"));
    auto name = reinterpret_cast<const char* (*)()>(dlsym(host, "private_host_registered_name"));

    EXPECT_STREQ(avisynth_c_plugin_init(nullptr), plugin::kAvsPlusVersionText);
    EXPECT_EQ(count(), 2);
    EXPECT_STREQ(name(), plugin::kEstimateFunctionName);
    EXPECT_EQ(exits(), 1);  // the table is handed back when the environment ends
    dlclose(host);
}

// The shipped library itself: it loads with every symbol bound at once although no
// host is in the global scope, exports the VapourSynth entry point and both
// AviSynth+ ones (the host tries the second first: with it, it hands over 64-bit
// argument values), and each AviSynth+ entry finds the privately opened host.
TEST(AvsCEntryPoint, SharedLibraryLoadsBesideAPrivateHostAndRegisters) {
    void* host = dlopen(VELNOR_PRIVATE_HOST_MODULE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(host, nullptr) << dlerror();
    // Kept loaded, as hosts keep plug-ins: the library carries its own C++ runtime,
    // whose exception-handling pool lives as long as the library does.
    void* library = dlopen(VELNOR_HOST_LIBRARY, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    ASSERT_NE(library, nullptr) << dlerror();
    EXPECT_NE(dlsym(library, "VapourSynthPluginInit2"), nullptr);
    auto count = reinterpret_cast<int (*)()>(dlsym(host, "private_host_registrations"));
    for (const char* entry : {"avisynth_c_plugin_init2", "avisynth_c_plugin_init"}) {
        auto init = reinterpret_cast<const char* (*)(void*)>(dlsym(library, entry));
        ASSERT_NE(init, nullptr) << entry;
        const int before = count();
        EXPECT_STREQ(init(nullptr), plugin::kAvsPlusVersionText) << entry;
        EXPECT_EQ(count(), before + 2) << entry;
    }
    dlclose(library);
    dlclose(host);
}

TEST(AvsCEntryPoint, LoadsEveryFunctionOrReportsTheGap) {
    std::map<std::string, void*> symbols;
    auto lookup = [](void* context, const char* name) -> void* {
        auto& table = *static_cast<std::map<std::string, void*>*>(context);
        auto it = table.find(name);
        return it == table.end() ? nullptr : it->second;
    };
    AvsApi api{};
    EXPECT_FALSE(load_avs_api(lookup, &symbols, &api));
    // Every name the binding asks for, each with a distinct address.
    auto record = [](void* context, const char* name) -> void* {
        void*& slot = (*static_cast<std::map<std::string, void*>*>(context))[name];
        slot = &slot;
        return slot;
    };
    load_avs_api(record, &symbols, &api);
    const std::size_t names = symbols.size();
    EXPECT_EQ(names * sizeof(void*), sizeof(AvsApi)) << "every entry of the table is looked up";
    // Hosts before interface version 8 have no frame properties: without any one of
    // their functions the binding loads with none of them.
    const std::set<std::string> optional = {"avs_get_frame_props_rw", "avs_prop_set_int",
                                            "avs_prop_set_float"};
    for (const auto& [missing, address] : std::map<std::string, void*>(symbols)) {
        symbols.erase(missing);
        EXPECT_EQ(load_avs_api(lookup, &symbols, &api), optional.count(missing) == 1)
            << "without " << missing;
        if (optional.count(missing)) {
            EXPECT_TRUE(!api.get_frame_props_rw && !api.prop_set_int && !api.prop_set_float)
                << "without " << missing;
        }
        symbols[missing] = address;
    }
    EXPECT_TRUE(load_avs_api(lookup, &symbols, &api));
}

}  // namespace
}  // namespace velnor::avsc
