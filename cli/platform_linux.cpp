// The Linux-only parts of the platform layer: CPU affinity and cgroup quotas for
// the default number of threads, and glibc's heap arenas.
#include <malloc.h>
#include <sched.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>

#include "cli/cpu_quota.h"
#include "cli/platform.h"
#include "cli/platform_posix.h"

namespace velnor::cli {

namespace {

// A small file from /proc or /sys, or an empty string.
std::string read_small_file(const std::string& path) {
    std::string text;
    std::FILE* file = std::fopen(path.c_str(), "re");
    if (file == nullptr) return text;
    char chunk[4096];
    const std::size_t got = std::fread(chunk, 1, sizeof chunk, file);
    text.assign(chunk, got);
    std::fclose(file);
    return text;
}

// The tightest cpu.max from the process's cgroup up to the root of the hierarchy
// it sees (every level's quota applies), or 0 when none is set.
int cgroup_processors() {
    std::string path = cgroup_v2_path(read_small_file("/proc/self/cgroup"));
    if (path.empty()) return 0;
    int tightest = 0;
    for (;;) {
        const int limit = cpu_max_processors(read_small_file("/sys/fs/cgroup" + path + "/cpu.max"));
        if (limit > 0 && (tightest == 0 || limit < tightest)) tightest = limit;
        if (path == "/") return tightest;
        const std::size_t slash = path.find_last_of('/');
        path.resize(slash == 0 ? 1 : slash);
    }
}

}  // namespace

int usable_processors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    int processors = sched_getaffinity(0, sizeof set, &set) == 0
                         ? CPU_COUNT(&set)
                         : static_cast<int>(std::thread::hardware_concurrency());
    const int quota = cgroup_processors();
    if (quota > 0 && (processors <= 0 || quota < processors)) processors = quota;
    return std::max(processors, 1);
}

void share_heap_between_threads() {
    // Sharing the main heap keeps each thread from reserving an arena of its own
    // (64 MiB of address space each).
#ifdef M_ARENA_MAX
    mallopt(M_ARENA_MAX, 1);
#endif
}

}  // namespace velnor::cli
