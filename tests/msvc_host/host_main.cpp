// A host with Microsoft's C++ ABI that loads the plug-in DLL the way the frameserver
// does and checks it call by call against the native core's results.
// Usage: msvc_host.exe PLUGIN.dll CASES.bin
#include "tests/msvc_host/case_file.h"
#include "tests/msvc_host/check.h"
#include "tests/msvc_host/conformance_checks.h"
#include "tests/msvc_host/host_environment.h"

namespace {

const char* simd_request() {
    const char* level = getenv("VELNOR_SIMD");
    return level && *level ? level : "default";
}

int summary() {
    printf("wine host: %ld passed, %ld failed (VELNOR_SIMD=%s)\n", passed_checks(), failed_checks(),
           simd_request());
    fflush(nullptr);
    return failed_checks() == 0 ? 0 : 1;
}

int run(int argc, char** argv) {
    if (argc != 3) {
        printf("usage: %s PLUGIN.dll CASES.bin\n", argc > 0 ? argv[0] : "msvc_host");
        return 2;
    }
    CaseFile cases;
    if (!load_case_file(argv[2], &cases)) return 2;

    progress("loading %s (VELNOR_SIMD=%s)", argv[1], simd_request());
    HMODULE module = LoadLibraryA(argv[1]);
    if (!expect(module != nullptr, "LoadLibraryA(%s) failed, error %lu", argv[1], GetLastError()))
        return summary();
    PluginInit2Func init =
        reinterpret_cast<PluginInit2Func>(GetProcAddress(module, "_AvisynthPluginInit2@4"));
    if (expect(init != nullptr, "the DLL exports no _AvisynthPluginInit2@4")) {
        HostEnvironment* env = new HostEnvironment;
        if (check_registration(*env, init)) {
            check_refused_formats(*env);
            for (int i = 0; i < cases.case_count; ++i) check_case(*env, cases.cases[i]);
            for (int i = 0; i < cases.case_count; ++i)
                if (cases.cases[i].header.frame_count >= 6)
                    check_concurrent_frames(*env, cases.cases[i]);
        }
        begin_group("environment");
        expect(env->unexpected_calls() == 0,
               "the plug-in made %ld calls the host does not expect; last: %s",
               env->unexpected_calls(), env->last_unexpected_call());
        delete env;
    }
    FreeLibrary(module);
    free_case_file(&cases);
    return summary();
}

}  // namespace

extern "C" void mainCRTStartup() {
    ExitProcess(static_cast<unsigned>(run(*__p___argc(), *__p___argv())));
}
