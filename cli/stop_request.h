// Stopping on request without losing a frame: SIGINT, SIGTERM and SIGHUP on POSIX
// systems; Ctrl+C, Ctrl+Break and the console closing on Windows. Implemented in
// the platform files (cli/platform.h).
#pragma once

namespace velnor::cli {

// Records stop requests from now on. POSIX: handlers for SIGINT, SIGTERM and SIGHUP
// that only record the signal (a signal the parent left ignored stays ignored); all
// three are blocked in the calling thread and every thread it starts later and
// taken only while input is waited for, so a request can neither interrupt a frame
// half written nor slip in between a check and a blocking read. Windows: a console
// control handler. Call once, before any thread starts.
void install_stop_handlers();

// What asked the program to stop, or 0: a signal number on POSIX systems; on
// Windows the number of the signal that means the same there (Ctrl+C: SIGINT,
// Ctrl+Break: the C runtime's SIGBREAK, 21, the console closing: SIGHUP, 1, logoff
// or shutdown: SIGTERM, 15). Also takes a signal that is pending while blocked.
int stop_signal();

// How messages name a stop request: "SIGINT", "Ctrl+C", "console close".
const char* stop_request_name(int request);

// Sleeps for `milliseconds`, or less when a stop request comes; returns false if one
// came.
bool pause_unless_stopped(int milliseconds);

}  // namespace velnor::cli
