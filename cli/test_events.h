// Signs for tests that must wait until velnor reaches a point (waiting for input,
// say) rather than wait for a time, which fails under load. When the environment
// variable VELNOR_TEST_EVENTS names a file, each event appends one line to it:
//   input-wait N   a read of the input waits for data, N bytes of it read so far
//   output-wait    a write waits: for a reader of an output FIFO, or for room in
//                  a full non-blocking output
//   jobs N         the filter runs N frames at a time (-j, or its default, as the
//                  frame size allows)
// Without the variable nothing is written and nothing is done to find out.
#pragma once

#include <cstdint>

namespace velnor::cli {

// Whether VELNOR_TEST_EVENTS is set (read once).
bool test_events_wanted();

// Appends "NAME" or "NAME VALUE" (value >= 0) as a line to the events file.
void test_event(const char* name, int64_t value = -1);

}  // namespace velnor::cli
