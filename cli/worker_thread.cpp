#include "cli/worker_thread.h"

#include <limits.h>
#include <unistd.h>

#include <algorithm>

namespace velnor::cli {

int start_thread(pthread_t* thread, void* (*entry)(void*), void* argument,
                 std::size_t stack_bytes) {
    pthread_attr_t attributes;
    int error = pthread_attr_init(&attributes);
    if (error != 0) return error;
    const long page = sysconf(_SC_PAGESIZE);
    const std::size_t granule = page > 0 ? static_cast<std::size_t>(page) : 4096;
    std::size_t size = std::max(stack_bytes, static_cast<std::size_t>(PTHREAD_STACK_MIN));
    size = (size + granule - 1) / granule * granule;
    error = pthread_attr_setstacksize(&attributes, size);
    if (error == 0) error = pthread_create(thread, &attributes, entry, argument);
    pthread_attr_destroy(&attributes);
    return error;
}

}  // namespace velnor::cli
