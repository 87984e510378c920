// Threads with a stack of a chosen size. std::thread takes the system default (the
// stack limit: 8 MiB or more of address space per thread), which under an
// address-space limit leaves too little room for frame buffers.
#pragma once

#include <pthread.h>

#include <cstddef>

namespace velnor::cli {

// What a frame worker needs: the passes keep their rows in scratch memory, so the
// deepest worker stack measured (16384-wide frames at every level) is a few KiB.
// Sanitizers enlarge frames and add their own stack use.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr std::size_t kWorkerStackBytes = std::size_t{1} << 20;
#else
inline constexpr std::size_t kWorkerStackBytes = std::size_t{256} << 10;
#endif

// Starts entry(argument) on a new joinable thread with a stack of `stack_bytes`
// (raised to the system minimum). Returns 0 or an error number, as pthread_create.
int start_thread(pthread_t* thread, void* (*entry)(void*), void* argument,
                 std::size_t stack_bytes);

}  // namespace velnor::cli
