// Loads velnor.dll as a 64-bit Windows host would, optionally after a stand-in for
// AviSynth.dll that the program loaded itself (LoadLibrary: no global symbol
// scope), calls the AviSynth+ entry point (the second, which the host tries first)
// and prints
//   <returned text>|<registrations the stand-in saw>|<VapourSynth entry exported>
// Usage: entry_probe velnor.dll [host-stand-in.dll]
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    HMODULE host = argc > 2 ? LoadLibraryA(argv[2]) : nullptr;
    if (argc > 2 && !host) {
        std::printf("cannot load %s (error %lu)\n", argv[2], GetLastError());
        return 1;
    }
    HMODULE velnor = LoadLibraryA(argv[1]);
    if (!velnor) {
        std::printf("cannot load %s (error %lu)\n", argv[1], GetLastError());
        return 1;
    }
    using Init = const char* (*)(void*);
    using Count = int (*)();
    // The entry AviSynth+ looks for first; the export check covers the older one.
    auto init = reinterpret_cast<Init>(
        reinterpret_cast<void*>(GetProcAddress(velnor, "avisynth_c_plugin_init2")));
    const bool vs_entry = GetProcAddress(velnor, "VapourSynthPluginInit2") != nullptr;
    if (!init) {
        std::printf("no avisynth_c_plugin_init2\n");
        return 1;
    }
    const char* text = init(nullptr);
    int registrations = 0;
    if (host) {
        auto count = reinterpret_cast<Count>(
            reinterpret_cast<void*>(GetProcAddress(host, "private_host_registrations")));
        registrations = count ? count() : -1;
    }
    std::printf("%s|%d|%d\n", text, registrations, vs_entry ? 1 : 0);
    return 0;
}
