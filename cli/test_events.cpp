#include "cli/test_events.h"

#include <cstdio>
#include <mutex>

#include "core/test_events.h"

namespace velnor::cli {

namespace {
const char* events_path() {
    static const char* const path = velnor::test_events_path();
    return path;
}
}  // namespace

bool test_events_wanted() { return events_path() != nullptr; }

void test_event(const char* name, int64_t value) {
    if (!test_events_wanted()) return;
    static std::mutex mutex;
    const std::lock_guard lock(mutex);
    // Opened for each line, so that the line is in the file when the call returns;
    // binary, so that lines end in LF on Windows too.
    std::FILE* file = std::fopen(events_path(), "ab");
    if (file == nullptr) return;
    if (value >= 0)
        std::fprintf(file, "%s %lld\n", name, static_cast<long long>(value));
    else
        std::fprintf(file, "%s\n", name);
    std::fclose(file);
}

}  // namespace velnor::cli
