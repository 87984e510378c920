// A host with Microsoft's C++ ABI that loads the plug-in DLL the way the frameserver
// does and checks it call by call against the native core's results.
// Usage: msvc_host.exe PLUGIN.dll CASES.bin
//        msvc_host.exe --unload-cycles N PLUGIN.dll CASES.bin   (unload_cycles.h)
#include "tests/msvc_host/case_file.h"
#include "tests/msvc_host/check.h"
#include "tests/msvc_host/conformance_checks.h"
#include "tests/msvc_host/host_environment.h"
#include "tests/msvc_host/unload_cycles.h"

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

// The first case of YV12 or I420 input, which the filter accepts.
const TestCase* accepted_case(const CaseFile& cases) {
    for (int i = 0; i < cases.case_count; ++i) {
        const int type = static_cast<int>(cases.cases[i].header.pixel_type);
        if ((type == CS_YV12 || type == CS_I420) && cases.cases[i].header.frame_count > 0)
            return &cases.cases[i];
    }
    return nullptr;
}

int unload_cycles(int cycles, const char* plugin, const char* case_path) {
    CaseFile cases;
    if (!load_case_file(case_path, &cases)) return 2;
    const TestCase* test = accepted_case(cases);
    if (expect(test != nullptr, "%s holds no YV12 case", case_path))
        check_unload_cycles(plugin, *test, cycles);
    free_case_file(&cases);
    return summary();
}

int run(int argc, char** argv) {
    if (argc == 5 && strcmp(argv[1], "--unload-cycles") == 0 && atoi(argv[2]) > 0)
        return unload_cycles(atoi(argv[2]), argv[3], argv[4]);
    if (argc != 3) {
        printf("usage: %s [--unload-cycles N] PLUGIN.dll CASES.bin\n",
               argc > 0 ? argv[0] : "msvc_host");
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
