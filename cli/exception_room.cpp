#include "cli/exception_room.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace velnor::cli {

namespace {

// Several exception objects (a few hundred bytes each) with the allocator's overhead.
constexpr std::size_t kRoomBytes = 4096;
std::atomic<void*> room{nullptr};

void give_back_room() {
    std::free(room.exchange(nullptr));
    throw std::bad_alloc();
}

}  // namespace

bool reserve_exception_room() {
    void* block = std::malloc(kRoomBytes);
    if (block == nullptr) return false;
    room.store(block);
    std::set_new_handler(give_back_room);
    return true;
}

}  // namespace velnor::cli
