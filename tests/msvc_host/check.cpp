#include "tests/msvc_host/check.h"

#include "tests/msvc_host/system_imports.h"

namespace {
volatile long g_passed = 0;
volatile long g_failed = 0;
char g_group[160] = "start-up";

// printf-style formatting into a fixed buffer, always terminated.
void format_list(char* text, int size, const char* format, va_list args) {
    _vsnprintf(text, size - 1, format, args);
    text[size - 1] = '\0';
}
}  // namespace

bool expect(bool passed, const char* format, ...) {
    if (passed) {
        _InterlockedIncrement(&g_passed);
        return true;
    }
    _InterlockedIncrement(&g_failed);
    char message[512];
    va_list args;
    va_start(args, format);
    format_list(message, sizeof message, format, args);
    va_end(args);
    printf("FAIL [%s] %s\n", g_group, message);
    fflush(nullptr);
    return false;
}

void begin_group(const char* format, ...) {
    va_list args;
    va_start(args, format);
    format_list(g_group, sizeof g_group, format, args);
    va_end(args);
}

long passed_checks() { return g_passed; }
long failed_checks() { return g_failed; }

void progress(const char* format, ...) {
    char message[256];
    va_list args;
    va_start(args, format);
    format_list(message, sizeof message, format, args);
    va_end(args);
    printf("  %s\n", message);
    fflush(nullptr);
}

void format_text(char* text, int size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    format_list(text, size, format, args);
    va_end(args);
}
