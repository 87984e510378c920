// Loads the Velnor library into a real AviSynth+ or VapourSynth install and checks
// its frames against the reference pass. Exit status 0 when every check passed,
// 1 when one failed, 2 on a usage error.
#include <cstdio>
#include <cstring>
#include <string>

#include "tests/real_hosts/host_checks.h"
#include "tests/real_hosts/shared_library.h"

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: real_hosts avisynth-linked PLUGIN\n"
                 "       real_hosts avisynth-private LIBAVISYNTH PLUGIN\n"
                 "       real_hosts vapoursynth LIBVAPOURSYNTH PLUGIN\n");
    return 2;
}

bool run_private_avisynth(const std::string& library_path, const std::string& plugin_path) {
    using namespace velnor::real_hosts;
    // As FFmpeg opens it: nothing of libavisynth enters the global symbol scope.
    SharedLibrary library(library_path, false);
    if (!library.is_open()) {
        std::printf("AviSynth+ (private load): %s -> FAIL\n", library.error().c_str());
        return false;
    }
    AvisynthApi api;
    bool resolved = true;
#define VELNOR_RESOLVE(name, type) resolved = library.resolve("avs_" #name, api.name) && resolved;
    VELNOR_AVISYNTH_FUNCTIONS(VELNOR_RESOLVE)
#undef VELNOR_RESOLVE
    if (!resolved) {
        std::printf("AviSynth+ (private load): %s -> FAIL\n", library.error().c_str());
        return false;
    }
    return check_avisynth(api, plugin_path, "private load");
}

}  // namespace

int main(int argc, char** argv) {
    using namespace velnor::real_hosts;
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc == 3 && !std::strcmp(argv[1], "avisynth-linked")) {
        AvisynthApi api;
        if (!linked_avisynth_api(api)) {
            std::fprintf(stderr, "real_hosts: this build is not linked with libavisynth\n");
            return 2;
        }
        return check_avisynth(api, argv[2], "linked") ? 0 : 1;
    }
    if (argc == 4 && !std::strcmp(argv[1], "avisynth-private"))
        return run_private_avisynth(argv[2], argv[3]) ? 0 : 1;
    if (argc == 4 && !std::strcmp(argv[1], "vapoursynth"))
        return check_vapoursynth(argv[2], argv[3]) ? 0 : 1;
    return usage();
}
