// Looks into the C runtime's heap (msvcrt.dll's, which the plug-in's allocations
// share with the host's) to see whether a block is still allocated.
#pragma once

#include <stddef.h>

enum class HeapBlock { in_use, not_in_use, unknown };

// The state of the heap block containing `address`; unknown if the heap cannot be
// walked.
HeapBlock heap_block_at(const void* address);

// The bytes in the blocks in use in that heap, which the host, the plug-in's static
// C++ runtime and the C runtime itself all allocate from; 0 if it cannot be walked.
size_t heap_bytes_in_use();
