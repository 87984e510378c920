#include "tests/msvc_host/heap_probe.h"

#include "tests/msvc_host/system_imports.h"

namespace {
struct HeapInfo {  // msvcrt's _HEAPINFO
    int* entry;
    size_t size;
    int use_flag;
};
constexpr int kHeapOk = -2;
constexpr int kHeapEnd = -5;
constexpr int kUsedEntry = 1;
}  // namespace

extern "C" int __cdecl _heapwalk(HeapInfo* info);

HeapBlock heap_block_at(const void* address) {
    HeapInfo info = {nullptr, 0, 0};
    int status;
    const char* target = static_cast<const char*>(address);
    while ((status = _heapwalk(&info)) == kHeapOk) {
        const char* start = reinterpret_cast<const char*>(info.entry);
        if (target >= start && target < start + info.size)
            return info.use_flag == kUsedEntry ? HeapBlock::in_use : HeapBlock::not_in_use;
    }
    return status == kHeapEnd ? HeapBlock::not_in_use : HeapBlock::unknown;
}

size_t heap_bytes_in_use() {
    HeapInfo info = {nullptr, 0, 0};
    size_t used = 0;
    int status;
    while ((status = _heapwalk(&info)) == kHeapOk)
        if (info.use_flag == kUsedEntry) used += info.size;
    return status == kHeapEnd ? used : 0;
}
