// What a program built without Microsoft's runtime libraries still needs from them:
// the heap operators (msvcrt's malloc and free), the vtable symbol that the
// compiler's exception type records point at, and the floating-point marker.
#include "tests/msvc_host/system_imports.h"

extern "C" {
int _fltused = 0;
// The type records only need the symbol; nothing calls through it.
extern const void* const type_info_vtable[2] __asm__("??_7type_info@@6B@");
const void* const type_info_vtable[2] = {nullptr, nullptr};

// Where an exception leaving a noexcept function ends up.
void __std_terminate() {
    printf("host: exception escaped a noexcept function\n");
    ExitProcess(3);
}
}

void* operator new(size_t bytes) {
    void* block = malloc(bytes ? bytes : 1);
    if (!block) {
        printf("host: out of memory\n");
        ExitProcess(3);
    }
    return block;
}
void* operator new[](size_t bytes) { return operator new(bytes); }
void operator delete(void* block) noexcept { free(block); }
void operator delete(void* block, size_t) noexcept { free(block); }
void operator delete[](void* block) noexcept { free(block); }
void operator delete[](void* block, size_t) noexcept { free(block); }
