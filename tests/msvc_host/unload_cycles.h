// What the plug-in keeps per load: a host loads and frees it with every script
// environment, so anything left behind at FreeLibrary piles up.
#pragma once

#include "tests/msvc_host/case_file.h"

// Growth per cycle, in bytes, below which the plug-in counts as keeping nothing.
inline constexpr int kUnloadBudgetBytes = 1024;

// After a few warm-up cycles, `cycles` times: LoadLibrary, the entry point, one
// filtered frame of `test` (checked in the last cycle), everything released,
// FreeLibrary. Prints the process's private bytes and the heap in use before and
// after and fails when either grew by kUnloadBudgetBytes or more per cycle, or when
// the DLL stays loaded.
bool check_unload_cycles(const char* plugin, const TestCase& test, int cycles);
