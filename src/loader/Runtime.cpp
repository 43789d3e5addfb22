// What the C runtime would have given the loader on Windows: the compiler's and liblzma's
// memory functions, and C++ allocation, over the process heap.  Built with
// -fno-tree-loop-distribute-patterns so that these loops are not turned into calls of
// themselves.
#include <stddef.h>

#include "StubMemory.h"
#include "Win32.h"

extern "C" {

void* memcpy(void* to, const void* from, size_t bytes) {
  StubCopy(to, from, bytes);
  return to;
}

void* memmove(void* to, const void* from, size_t bytes) {
  StubCopy(to, from, bytes);
  return to;
}

void* memset(void* to, int value, size_t bytes) {
  unsigned char* d = (unsigned char*)to;
  while (bytes--) *d++ = (unsigned char)value;
  return to;
}

int memcmp(const void* a, const void* b, size_t bytes) {
  const unsigned char* x = (const unsigned char*)a;
  const unsigned char* y = (const unsigned char*)b;
  for (; bytes; bytes--, x++, y++)
    if (*x != *y) return *x < *y ? -1 : 1;
  return 0;
}

void* malloc(size_t bytes) { return HeapAlloc(GetProcessHeap(), 0, bytes ? bytes : 1); }

void* calloc(size_t count, size_t size) {
  if (size && count > (size_t)-1 / size) return nullptr;
  size_t bytes = count * size;
  return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes ? bytes : 1);
}

void free(void* block) {
  if (block) HeapFree(GetProcessHeap(), 0, block);
}

// The loader has no threads and no TLS data; Windows only needs the directory to exist.
unsigned long _tls_index = 0;
__attribute__((used)) extern const IMAGE_TLS_DIRECTORY32 _tls_used = {0, 0, (DWORD)(ULONG_PTR)&_tls_index, 0, 0, 0};
}

void* operator new(size_t bytes) {
  void* p = malloc(bytes);
  if (!p) StubOutOfMemory();
  return p;
}
void* operator new[](size_t bytes) { return operator new(bytes); }
void operator delete(void* p) noexcept { free(p); }
void operator delete[](void* p) noexcept { free(p); }
void operator delete(void* p, size_t) noexcept { free(p); }
void operator delete[](void* p, size_t) noexcept { free(p); }
