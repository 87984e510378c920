// Stopping on SIGINT or SIGTERM without losing a frame, and waiting for a descriptor
// to become ready (also for descriptors a parent left non-blocking).
#pragma once

namespace velnor::cli {

// Installs handlers for SIGINT and SIGTERM that only record the signal (a signal
// the parent left ignored stays ignored), and blocks both in the calling thread and
// every thread it starts later. They are taken only while wait_ready() waits for
// input, so a request can neither interrupt a frame half written nor slip in
// between a check and a blocking read. Call once, before any thread starts.
void install_stop_handlers();

// The signal that asked the program to stop, or 0. Also takes a signal that is
// pending while blocked.
int stop_signal();

enum class WaitResult { ready, stopped, failed };

// Waits until `fd` is ready for `events` (POLLIN or POLLOUT). With `interruptible`,
// a stop request ends the wait. `failed` leaves the reason in errno.
WaitResult wait_ready(int fd, short events, bool interruptible);

// Sleeps for `milliseconds`, or less when a stop request comes; returns false if one
// came.
bool pause_unless_stopped(int milliseconds);

}  // namespace velnor::cli
