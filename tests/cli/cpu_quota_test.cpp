#include "cli/cpu_quota.h"

#include <gtest/gtest.h>

#include <climits>

namespace velnor::cli {
namespace {

TEST(CgroupV2Path, FindsTheUnifiedHierarchyLine) {
    const struct {
        const char* proc_self_cgroup;
        const char* path;
    } cases[] = {
        {"0::/user.slice/user-0.slice/session-1.scope\n",
         "/user.slice/user-0.slice/session-1.scope"},
        {"12:cpu,cpuacct:/docker/abc\n11:memory:/docker/abc\n0::/docker/abc\n", "/docker/abc"},
        {"0::/\n", "/"},  // a container's own namespace
        {"0::/no-newline", "/no-newline"},
        {"12:cpu,cpuacct:/docker/abc\n1:name=systemd:/x\n", ""},  // cgroup v1 only
        {"0::\n", ""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(cgroup_v2_path(c.proc_self_cgroup), c.path) << c.proc_self_cgroup;
}

TEST(CpuMaxProcessors, RoundsTheQuotaUpAndIgnoresNoLimit) {
    const struct {
        const char* cpu_max;
        int processors;
    } cases[] = {
        {"max 100000\n", 0},
        {"200000 100000\n", 2},
        {"150000 100000\n", 2},
        {"100000 100000", 1},
        {"50000 100000\n", 1},
        {"6400000 100000\n", 64},
        {"18446744073709551615 1\n", INT_MAX},
        {"0 100000\n", 0},
        {"100000 0\n", 0},
        {"100000\n", 0},
        {"-100000 100000\n", 0},
        {"abc def\n", 0},
        {"", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(cpu_max_processors(c.cpu_max), c.processors) << c.cpu_max;
}

}  // namespace
}  // namespace velnor::cli
