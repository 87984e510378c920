// Counting and reporting of the host's checks. Safe to call from several threads.
#pragma once

// Counts one check; on failure prints "FAIL [<group>] <message>". Returns `passed`.
bool expect(bool passed, const char* format, ...);

// Names the group of checks that follows, for the failure messages.
void begin_group(const char* format, ...);

long passed_checks();
long failed_checks();

// Prints and flushes a progress line, so a crash inside the plug-in shows where.
void progress(const char* format, ...);

// snprintf into a buffer of `size` bytes, always terminated.
void format_text(char* text, int size, const char* format, ...);
