// A small ANSI byte string on the process heap.  Never null: an empty string reads as "".
// Running out of memory ends the process (StubOutOfMemory), so callers never check.
#pragma once

class TAnsiString {
 public:
  TAnsiString() {}
  TAnsiString(const char* text);
  TAnsiString(const char* bytes, int count);
  TAnsiString(const TAnsiString& other);
  TAnsiString& operator=(const TAnsiString& other);
  ~TAnsiString();

  int Length() const { return length_; }
  bool IsEmpty() const { return length_ == 0; }
  const char* CStr() const { return data_ ? data_ : ""; }
  char* Data() { return data_; }
  char operator[](int index) const { return data_[index]; }
  char Last() const { return length_ ? data_[length_ - 1] : 0; }

  TAnsiString& Append(const char* bytes, int count);
  TAnsiString& Append(const char* text);
  TAnsiString& Append(const TAnsiString& text) { return Append(text.CStr(), text.Length()); }
  TAnsiString& Append(char c) { return Append(&c, 1); }
  // Inserts bytes in front of the 0-based position (clamped to the string).
  void Insert(int position, const char* bytes, int count);
  bool Equals(const char* text) const;

 private:
  void Reserve(int capacity);
  char* data_ = nullptr;
  int length_ = 0;
  int capacity_ = 0;
};

int TextLength(const char* text);
// The decimal digits of n, no sign, no leading zeros.
TAnsiString DecimalText(unsigned n);
