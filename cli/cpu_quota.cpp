#include "cli/cpu_quota.h"

#include <charconv>
#include <cstdint>
#include <limits>

namespace velnor::cli {

namespace {

// A whole positive number filling `text`, or 0.
uint64_t parse_count(std::string_view text) {
    uint64_t value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size() ? value : 0;
}

}  // namespace

std::string cgroup_v2_path(std::string_view proc_self_cgroup) {
    // One line per hierarchy, "ID:CONTROLLERS:PATH"; the v2 line is "0::PATH".
    while (!proc_self_cgroup.empty()) {
        const std::size_t end = proc_self_cgroup.find('\n');
        const std::string_view line = proc_self_cgroup.substr(0, end);
        if (line.starts_with("0::/")) return std::string(line.substr(3));
        if (end == std::string_view::npos) break;
        proc_self_cgroup.remove_prefix(end + 1);
    }
    return {};
}

int cpu_max_processors(std::string_view cpu_max) {
    // "QUOTA PERIOD" in microseconds, or "max PERIOD"; a newline ends it.
    while (!cpu_max.empty() && (cpu_max.back() == '\n' || cpu_max.back() == ' '))
        cpu_max.remove_suffix(1);
    const std::size_t space = cpu_max.find(' ');
    if (space == std::string_view::npos) return 0;
    const uint64_t quota = parse_count(cpu_max.substr(0, space));
    const uint64_t period = parse_count(cpu_max.substr(space + 1));
    if (quota == 0 || period == 0) return 0;
    const uint64_t processors = quota / period + (quota % period != 0 ? 1 : 0);
    return processors > static_cast<uint64_t>(std::numeric_limits<int>::max())
               ? std::numeric_limits<int>::max()
               : static_cast<int>(processors);
}

}  // namespace velnor::cli
