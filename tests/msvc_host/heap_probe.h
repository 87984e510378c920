// Looks into the C runtime's heap (msvcrt.dll's, which the plug-in's allocations
// share with the host's) to see whether a block is still allocated.
#pragma once

enum class HeapBlock { in_use, not_in_use, unknown };

// The state of the heap block containing `address`; unknown if the heap cannot be
// walked.
HeapBlock heap_block_at(const void* address);
