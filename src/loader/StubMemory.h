// Memory of the loader: blocks on the process heap, and byte copies that need no C runtime.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Returns null when the heap cannot give the block; callers decide what that means.
void* StubAlloc(size_t bytes);
void* StubRealloc(void* block, size_t bytes);
void StubFree(void* block);

void StubCopy(void* to, const void* from, size_t bytes);
void StubZero(void* to, size_t bytes);
bool StubSame(const void* a, const void* b, size_t bytes);

// Ends the process with the damaged-package message: the loader has no message of its own
// for running out of memory, and a header that asks for more than the machine has is the
// usual cause.  Never returns.
[[noreturn]] void StubOutOfMemory();
