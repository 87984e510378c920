// Marks a host entry point for export from the shared library. Everything else in
// the library stays hidden (the export list on Windows, the version script and
// hidden visibility elsewhere).
#pragma once

#if defined(_WIN32)
#define VELNOR_EXPORT
#else
#define VELNOR_EXPORT __attribute__((visibility("default")))
#endif
