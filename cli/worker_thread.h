// Threads with a stack of a chosen size. std::thread takes the system default (the
// stack limit: 8 MiB or more of address space per thread), which under an
// address-space limit leaves too little room for frame buffers.
// Implemented in the platform files (cli/platform.h).
#pragma once

#include <cstddef>
#ifndef _WIN32
#include <pthread.h>
#endif

namespace velnor::cli {

// What a frame worker needs, with a wide margin: the passes keep their rows in
// scratch memory, and on 16384-wide frames every level runs in the system minimum
// (16 KiB). Under AddressSanitizer the SSE2 pass needs more than 64 KiB (128 KiB
// suffices).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr std::size_t kWorkerStackBytes = std::size_t{1} << 20;
#else
inline constexpr std::size_t kWorkerStackBytes = std::size_t{256} << 10;
#endif

// A joinable thread. POSIX: on a stack this program maps itself, so that joining
// it gives the address space back (the C library keeps the stacks it made for
// reuse). Windows: a thread whose stack reservation is the size asked for, given
// back when it ends.
struct WorkerThread {
#ifdef _WIN32
    void* handle = nullptr;
#else
    pthread_t thread{};
    void* stack = nullptr;
    std::size_t mapped = 0;  // bytes mapped at `stack`, the guard page included
#endif
};

// Starts entry(argument) on a new thread with a stack of `stack_bytes` (raised to
// the system minimum; POSIX: below a guard page). Returns 0 or an error number, as
// pthread_create.
int start_thread(WorkerThread* worker, void* (*entry)(void*), void* argument,
                 std::size_t stack_bytes);

// Waits for the thread to end and gives its stack back.
void join_thread(WorkerThread* worker);

}  // namespace velnor::cli
