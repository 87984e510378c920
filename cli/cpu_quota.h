// The CPU limit of a Linux cgroup v2, read from the files the kernel provides; kept
// apart from the reading so that it can be tested with any text.
#pragma once

#include <string>
#include <string_view>

namespace velnor::cli {

// The cgroup v2 path of a process from its /proc/self/cgroup ("0::/user.slice/x"
// gives "/user.slice/x"), or an empty string when it is in no v2 hierarchy.
std::string cgroup_v2_path(std::string_view proc_self_cgroup);

// The whole processors a cgroup's cpu.max allows ("150000 100000" allows 2, rounded
// up so that a quota never leaves a processor unused), or 0 when it sets no limit
// ("max 100000") or cannot be read.
int cpu_max_processors(std::string_view cpu_max);

}  // namespace velnor::cli
