#include "AnsiString.h"

#include "StubMemory.h"

int TextLength(const char* text) {
  int n = 0;
  while (text[n]) n++;
  return n;
}

TAnsiString::TAnsiString(const char* text) { Append(text); }

TAnsiString::TAnsiString(const char* bytes, int count) { Append(bytes, count); }

TAnsiString::TAnsiString(const TAnsiString& other) { Append(other); }

TAnsiString& TAnsiString::operator=(const TAnsiString& other) {
  if (this != &other) {
    length_ = 0;
    Append(other);
  }
  return *this;
}

TAnsiString::~TAnsiString() { StubFree(data_); }

void TAnsiString::Reserve(int capacity) {
  if (capacity <= capacity_) return;
  int grown = capacity_ * 2 > capacity ? capacity_ * 2 : capacity;
  if (grown < 32) grown = 32;
  char* p = (char*)StubRealloc(data_, (size_t)grown + 1);
  if (!p) StubOutOfMemory();
  data_ = p;
  capacity_ = grown;
}

TAnsiString& TAnsiString::Append(const char* bytes, int count) {
  if (count <= 0) return *this;
  if (count > 0x3FFFFFFF - length_) StubOutOfMemory();
  Reserve(length_ + count);
  StubCopy(data_ + length_, bytes, (size_t)count);
  length_ += count;
  data_[length_] = 0;
  return *this;
}

TAnsiString& TAnsiString::Append(const char* text) { return Append(text, TextLength(text)); }

void TAnsiString::Insert(int position, const char* bytes, int count) {
  if (count <= 0) return;
  if (position < 0) position = 0;
  if (position > length_) position = length_;
  int tail = length_ - position;
  Append(bytes, count);  // grows the block; the bytes are moved into place below
  StubCopy(data_ + position + count, data_ + position, (size_t)tail);
  StubCopy(data_ + position, bytes, (size_t)count);
}

bool TAnsiString::Equals(const char* text) const {
  int n = TextLength(text);
  return n == length_ && StubSame(CStr(), text, (size_t)n);
}

TAnsiString DecimalText(unsigned n) {
  char digits[12];
  int i = (int)sizeof digits;
  do {
    digits[--i] = (char)('0' + n % 10);
    n /= 10;
  } while (n);
  return TAnsiString(digits + i, (int)sizeof digits - i);
}
