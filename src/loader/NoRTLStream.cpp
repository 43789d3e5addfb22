#include "NoRTLStream.h"

#include "StubMemory.h"

int32_t TStream::Read(void* buffer, int32_t count) {
  if (Position < 0 || count < 0 || Position >= Size) return 0;
  int32_t n = Size - Position;
  if (count < n) n = count;
  StubCopy(buffer, Memory + Position, (uint32_t)n);
  Position += n;
  return n;
}

int32_t TStream::Write(const void* buffer, int32_t count) {
  if (Position < 0 || count < 0) return 0;
  int64_t end = (int64_t)Position + count;
  if (end <= 0 || end > INT32_MAX) return 0;
  if (end > Size) {
    if (end > Capacity && !SetCapacity((int32_t)end)) return 0;
    Size = (int32_t)end;
  }
  StubCopy(Memory + Position, buffer, (uint32_t)count);
  Position = (int32_t)end;
  return count;
}

int32_t TStream::Seek(int32_t offset, int origin) {
  // Unsigned sums: a seek far out of range lands somewhere odd, as it may, but never traps.
  switch (origin) {
    case 0: Position = offset; break;
    case 1: Position = (int32_t)((uint32_t)Position + (uint32_t)offset); break;
    case 2: Position = (int32_t)((uint32_t)Size + (uint32_t)offset); break;
    default: break;
  }
  return Position;
}

bool TStream::SetSize(int32_t n) {
  if (!SetCapacity(n)) return false;
  Size = n;
  if (Position > n) Position = n;
  return true;
}

bool TStream::SetCapacity(int32_t n) {
  if (n < 0) return false;
  if (n > 0 && n != Size) {
    int64_t rounded = ((int64_t)n + (kGrowthStep - 1)) & ~(int64_t)(kGrowthStep - 1);
    if (rounded > INT32_MAX) return false;  // one block never reaches 2 GiB
    n = (int32_t)rounded;
  }
  if (n == Capacity) return true;
  if (n == 0) {
    StubFree(Memory);
    Memory = nullptr;
    Capacity = 0;
    return true;
  }
  uint8_t* p = (uint8_t*)(Capacity == 0 ? StubAlloc((uint32_t)n) : StubRealloc(Memory, (uint32_t)n));
  if (!p) return false;
  Memory = p;
  Capacity = n;
  return true;
}

void TStream::Clear() {
  SetCapacity(0);
  Size = 0;
  Position = 0;
}
