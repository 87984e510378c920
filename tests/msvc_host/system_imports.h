// The few C runtime (msvcrt.dll) and kernel32.dll functions the host uses, declared
// here because the host is built without any Microsoft headers or libraries.
#pragma once

#include <stdarg.h>
#include <stddef.h>

extern "C" {

// msvcrt.dll
void* __cdecl malloc(size_t bytes);
void __cdecl free(void* block);
void* __cdecl memcpy(void* dst, const void* src, size_t bytes);
void* __cdecl memset(void* dst, int value, size_t bytes);
int __cdecl memcmp(const void* a, const void* b, size_t bytes);
size_t __cdecl strlen(const char* s);
int __cdecl strcmp(const char* a, const char* b);
int __cdecl printf(const char* format, ...);
int __cdecl _vsnprintf(char* buffer, size_t size, const char* format, va_list args);
int __cdecl fflush(void* stream);
char* __cdecl getenv(const char* name);
int __cdecl atoi(const char* text);
void* __cdecl fopen(const char* path, const char* mode);
size_t __cdecl fread(void* buffer, size_t size, size_t count, void* stream);
int __cdecl fclose(void* stream);
char*** __cdecl __p___argv();
int* __cdecl __p___argc();

// kernel32.dll
typedef void* HANDLE;
typedef void* HMODULE;
typedef unsigned long(__stdcall* ThreadStart)(void* parameter);

struct CRITICAL_SECTION {
    void* debug_info;
    long lock_count;
    long recursion_count;
    HANDLE owning_thread;
    HANDLE lock_semaphore;
    unsigned long spin_count;
};

// MEMORY_BASIC_INFORMATION.
struct MemoryRegion {
    void* base_address;
    void* allocation_base;
    unsigned long allocation_protect;
    size_t region_size;
    unsigned long state;
    unsigned long protect;
    unsigned long type;
};
inline constexpr unsigned long kMemCommit = 0x1000;
inline constexpr unsigned long kMemPrivate = 0x20000;

HMODULE __stdcall LoadLibraryA(const char* path);
HMODULE __stdcall GetModuleHandleA(const char* name);
size_t __stdcall VirtualQuery(const void* address, MemoryRegion* region, size_t size);
void* __stdcall GetProcAddress(HMODULE module, const char* name);
int __stdcall FreeLibrary(HMODULE module);
unsigned long __stdcall GetLastError();
HANDLE __stdcall CreateThread(void* security, size_t stack_size, ThreadStart start, void* parameter,
                              unsigned long flags, unsigned long* thread_id);
unsigned long __stdcall WaitForSingleObject(HANDLE handle, unsigned long milliseconds);
int __stdcall CloseHandle(HANDLE handle);
void __stdcall InitializeCriticalSection(CRITICAL_SECTION* section);
void __stdcall EnterCriticalSection(CRITICAL_SECTION* section);
void __stdcall LeaveCriticalSection(CRITICAL_SECTION* section);
void __stdcall DeleteCriticalSection(CRITICAL_SECTION* section);
__declspec(noreturn) void __stdcall ExitProcess(unsigned exit_code);

// Compiler intrinsics (lock-prefixed instructions), as Microsoft's headers declare them.
long _InterlockedIncrement(long volatile* value);
long _InterlockedDecrement(long volatile* value);
long _InterlockedExchangeAdd(long volatile* value, long add);
}

inline constexpr unsigned long kInfinite = 0xFFFFFFFFu;
