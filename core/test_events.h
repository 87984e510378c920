// The file that programs and plug-ins report test events to: each event is one line
// appended to the file named by the environment variable VELNOR_TEST_EVENTS. Without
// the variable nothing is written. cli/test_events.h and the AviSynth 2.5 binding
// list their events.
#pragma once

#include <cstdlib>

namespace velnor {

inline constexpr const char* kTestEventsVariable = "VELNOR_TEST_EVENTS";

// The events file, or null when the variable is unset or empty.
inline const char* test_events_path() {
    const char* value = std::getenv(kTestEventsVariable);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

}  // namespace velnor
