// Finds AviSynth.dll among the loaded modules. A host that loaded it with
// LoadLibrary leaves no global symbol scope to search, so the module is looked
// up by its usual name first and otherwise by asking every loaded module for the
// interface's registration function.
#include <windows.h>
// tlhelp32.h needs windows.h first.
#include <tlhelp32.h>

#include "plugin/avisynth_c/avs_c_api.h"

namespace velnor::avsc {

namespace {

constexpr const char kProbe[] = "avs_add_function";

void* lookup(void* module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

bool try_module(HMODULE module, AvsApi* api) {
    return module && GetProcAddress(module, kProbe) && load_avs_api(lookup, module, api);
}

}  // namespace

bool resolve_loaded_avs_api(AvsApi* api) {
    if (try_module(GetModuleHandleW(L"AviSynth.dll"), api)) return true;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    MODULEENTRY32W entry;
    entry.dwSize = sizeof(entry);
    bool found = false;
    for (BOOL more = Module32FirstW(snapshot, &entry); more && !found;
         more = Module32NextW(snapshot, &entry))
        found = try_module(entry.hModule, api);
    CloseHandle(snapshot);
    return found;
}

}  // namespace velnor::avsc
