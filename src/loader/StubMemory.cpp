#include "StubMemory.h"

#include "StubCore.h"
#include "Win32.h"

void* StubAlloc(size_t bytes) {
  return HeapAlloc(GetProcessHeap(), 0, bytes ? bytes : 1);
}

void* StubRealloc(void* block, size_t bytes) {
  if (!block) return StubAlloc(bytes);
  return HeapReAlloc(GetProcessHeap(), 0, block, bytes ? bytes : 1);
}

void StubFree(void* block) {
  if (block) HeapFree(GetProcessHeap(), 0, block);
}

void StubCopy(void* to, const void* from, size_t bytes) {
  uint8_t* d = (uint8_t*)to;
  const uint8_t* s = (const uint8_t*)from;
  if (d < s) {
    while (bytes--) *d++ = *s++;
  } else if (d > s) {
    d += bytes;
    s += bytes;
    while (bytes--) *--d = *--s;
  }
}

void StubZero(void* to, size_t bytes) {
  uint8_t* d = (uint8_t*)to;
  while (bytes--) *d++ = 0;
}

bool StubSame(const void* a, const void* b, size_t bytes) {
  const uint8_t* x = (const uint8_t*)a;
  const uint8_t* y = (const uint8_t*)b;
  for (size_t i = 0; i < bytes; i++)
    if (x[i] != y[i]) return false;
  return true;
}

bool gInOutOfMemory;

void StubOutOfMemory() {
  // Showing the message needs a little memory itself; if even that fails, end quietly.
  if (gInOutOfMemory) ExitProcess(0);
  gInOutOfMemory = true;
  ShowFatalError(ErrPackageDamaged);
}
