// TStream: a growable in-memory byte stream over one contiguous block that it owns.  The
// block grows in whole 128 KiB steps.  Sizes are signed 32-bit; every sum is checked, so no
// request can wrap into a small block.
#pragma once

#include <stdint.h>

class TStream {
 public:
  static const int32_t kGrowthStep = 131072;

  TStream() {}
  ~TStream() { Clear(); }
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;

  uint8_t* Memory = nullptr;
  int32_t Size = 0;
  int32_t Position = 0;
  int32_t Capacity = 0;

  int32_t Read(void* buffer, int32_t count);
  // Returns 0 also when the block cannot grow to hold the bytes.
  int32_t Write(const void* buffer, int32_t count);
  int32_t Seek(int32_t offset, int origin);
  int32_t GetSize() const { return Size; }
  // Both return false, leaving the stream as it was, when the block cannot be had.
  bool SetSize(int32_t n);
  bool SetCapacity(int32_t n);
  void Clear();
};
