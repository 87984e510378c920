#include "tests/msvc_host/unload_cycles.h"

#include "tests/msvc_host/check.h"
#include "tests/msvc_host/filter_session.h"
#include "tests/msvc_host/heap_probe.h"
#include "tests/msvc_host/source_clip.h"
#include "tests/msvc_host/system_imports.h"

namespace {

// The loads before the measurement: the C runtime's and wine's own first-use
// allocations settle in them.
constexpr int kWarmUpCycles = 5;

struct Usage {
    unsigned long private_bytes;  // the process's committed private memory
    size_t heap_in_use;           // the C runtime heap's blocks in use
};

// The committed private memory of the whole address space, region by region: what
// Windows counts as a process's private bytes. (wine's GetProcessMemoryInfo reports
// none: it takes the figure from the swap in use.)
unsigned long private_bytes() {
    unsigned long total = 0;
    const char* address = nullptr;
    MemoryRegion region;
    while (VirtualQuery(address, &region, sizeof region) == sizeof region) {
        if (region.state == kMemCommit && region.type == kMemPrivate) total += region.region_size;
        const char* next = static_cast<const char*>(region.base_address) + region.region_size;
        if (next <= address) break;  // the top of the address space
        address = next;
    }
    return total;
}

Usage usage_now() { return {private_bytes(), heap_bytes_in_use()}; }

// One host lifetime of the plug-in: loaded, its entry point called, one frame of
// `test` filtered and checked, everything released and the DLL freed. False (with
// the failure counted) when any step fails.
bool one_cycle(const char* plugin, const TestCase& test, bool check) {
    HMODULE module = LoadLibraryA(plugin);
    if (!expect(module != nullptr, "LoadLibraryA(%s) failed, error %lu", plugin, GetLastError()))
        return false;
    PluginInit2Func init =
        reinterpret_cast<PluginInit2Func>(GetProcAddress(module, "_AvisynthPluginInit2@4"));
    bool ok = expect(init != nullptr, "the DLL exports no _AvisynthPluginInit2@4");
    if (ok) {
        HostEnvironment* env = new HostEnvironment;
        init(env);
        volatile long destroyed = 0;
        {
            PClip source(
                new SourceClip(*env, &test, static_cast<int>(test.header.pixel_type), &destroyed));
            CreateOutcome outcome = call_create(*env, source.get(), test.header.argument_present,
                                                test.header.argument_value);
            ok = expect(outcome.filter.get() != nullptr, "the create callback made no filter");
            if (ok) {
                PVideoFrame frame = outcome.filter->GetFrame(0, env);
                char why[256] = "";
                ok = !check || expect(verify_frame(test, 0, frame, why, sizeof why), "%s", why);
            }
        }
        ok = expect(destroyed == 1, "the source clip was destroyed %ld times, expected once",
                    destroyed) &&
             ok;
        int live_frames = 0, live_buffers = 0;
        env->ReleaseFrames(&live_frames, &live_buffers);
        delete env;
    }
    FreeLibrary(module);
    return ok;
}

}  // namespace

bool check_unload_cycles(const char* plugin, const TestCase& test, int cycles) {
    begin_group("unload cycles");
    progress("%d cycles of LoadLibrary, entry point, one frame, FreeLibrary", cycles);
    for (int i = 0; i < kWarmUpCycles; ++i)
        if (!one_cycle(plugin, test, true)) return false;
    // The DLL's file name is what GetModuleHandle finds it by while it is loaded.
    const char* name = plugin;
    for (const char* p = plugin; *p; ++p)
        if (*p == '/' || *p == '\\') name = p + 1;
    if (!expect(GetModuleHandleA(name) == nullptr, "%s is still loaded after FreeLibrary", name))
        return false;

    const Usage before = usage_now();
    for (int i = 0; i < cycles; ++i)
        if (!one_cycle(plugin, test, i == cycles - 1)) return false;
    const Usage after = usage_now();
    const double private_per_cycle =
        (static_cast<double>(after.private_bytes) - before.private_bytes) / cycles;
    const double heap_per_cycle =
        (static_cast<double>(after.heap_in_use) - before.heap_in_use) / cycles;
    printf(
        "wine host: unload cycles: %d; private bytes %lu -> %lu (%.1f per cycle); "
        "heap in use %lu -> %lu (%.1f per cycle)\n",
        cycles, before.private_bytes, after.private_bytes, private_per_cycle,
        static_cast<unsigned long>(before.heap_in_use),
        static_cast<unsigned long>(after.heap_in_use), heap_per_cycle);
    expect(before.private_bytes != 0, "VirtualQuery found no committed private memory");
    expect(private_per_cycle < kUnloadBudgetBytes,
           "private bytes grew by %.1f per cycle; at most %d are allowed", private_per_cycle,
           kUnloadBudgetBytes);
    expect(heap_per_cycle < kUnloadBudgetBytes,
           "the heap in use grew by %.1f per cycle; at most %d are allowed", heap_per_cycle,
           kUnloadBudgetBytes);
    return failed_checks() == 0;
}
