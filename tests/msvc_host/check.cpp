#include "tests/msvc_host/check.h"

#include "tests/msvc_host/system_imports.h"

namespace {
volatile long g_passed = 0;
volatile long g_failed = 0;
char g_group[160] = "start-up";
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
    _vsnprintf(message, sizeof message - 1, format, args);
    va_end(args);
    message[sizeof message - 1] = '\0';
    printf("FAIL [%s] %s\n", g_group, message);
    fflush(nullptr);
    return false;
}

void begin_group(const char* format, ...) {
    va_list args;
    va_start(args, format);
    _vsnprintf(g_group, sizeof g_group - 1, format, args);
    va_end(args);
    g_group[sizeof g_group - 1] = '\0';
}

long passed_checks() { return g_passed; }
long failed_checks() { return g_failed; }

void progress(const char* format, ...) {
    char message[256];
    va_list args;
    va_start(args, format);
    _vsnprintf(message, sizeof message - 1, format, args);
    va_end(args);
    message[sizeof message - 1] = '\0';
    printf("  %s\n", message);
    fflush(nullptr);
}

void format_text(char* text, int size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    _vsnprintf(text, size - 1, format, args);
    va_end(args);
    text[size - 1] = '\0';
}
