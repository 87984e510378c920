#include "cli/worker_thread.h"

#include <limits.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace velnor::cli {

int start_thread(WorkerThread* worker, void* (*entry)(void*), void* argument,
                 std::size_t stack_bytes) {
    const long page_size = sysconf(_SC_PAGESIZE);
    const std::size_t page = page_size > 0 ? static_cast<std::size_t>(page_size) : 4096;
    std::size_t size = std::max(stack_bytes, static_cast<std::size_t>(PTHREAD_STACK_MIN));
    size = (size + page - 1) / page * page;
    // Stacks grow down: the guard page is the lowest.
    void* mapping = mmap(nullptr, size + page, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (mapping == MAP_FAILED) return ENOMEM;
    mprotect(mapping, page, PROT_NONE);
    pthread_attr_t attributes;
    int error = pthread_attr_init(&attributes);
    if (error == 0) {
        error = pthread_attr_setstack(&attributes, static_cast<char*>(mapping) + page, size);
        if (error == 0) error = pthread_create(&worker->thread, &attributes, entry, argument);
        pthread_attr_destroy(&attributes);
    }
    if (error != 0) {
        munmap(mapping, size + page);
        return error;
    }
    worker->stack = mapping;
    worker->mapped = size + page;
    return 0;
}

void join_thread(WorkerThread* worker) {
    if (worker->stack == nullptr) return;
    pthread_join(worker->thread, nullptr);
    munmap(worker->stack, worker->mapped);
    worker->stack = nullptr;
}

}  // namespace velnor::cli
