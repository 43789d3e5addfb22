// The argument list and the path and text helpers.  The command line is split afresh on
// every call; it never changes during the run, so the results never do either.
#include "StubCore.h"

static bool IsBlank(char c) { return (uint8_t)c <= 0x20; }

// One character forward, whole for a double-byte one.  Never stands still on a nonzero
// byte, whatever the code page reports.
static const char* NextChar(const char* p) {
  const char* q = CharNextA(p);
  return q > p ? q : p + 1;
}

// Splits one argument beginning at p into out (when out is given) and returns where the
// next split begins.
static const char* SplitArgument(const char* p, TAnsiString* out) {
  for (;;) {
    while (*p != 0 && IsBlank(*p)) p = NextChar(p);
    if (p[0] == '"' && p[1] == '"') {
      p += 2;
      continue;
    }
    break;
  }
  while (*p != 0 && !IsBlank(*p)) {
    if (*p == '"') {
      p++;
      while (*p != 0 && *p != '"') {
        const char* q = NextChar(p);
        if (out) out->Append(p, (int)(q - p));
        p = q;
      }
      if (*p == '"') p++;
    } else {
      const char* q = NextChar(p);
      if (out) out->Append(p, (int)(q - p));
      p = q;
    }
  }
  return p;
}

TAnsiString Argument(int index) {
  TAnsiString result;
  if (index == 0) {
    char buffer[261];
    DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    if (n > sizeof buffer) n = sizeof buffer;
    // Cut at a terminator inside the count: Windows versions differ in whether a path that
    // fills the buffer is reported with one.
    DWORD length = 0;
    while (length < n && buffer[length] != 0) length++;
    n = length;
    result.Append(buffer, (int)n);
    return result;
  }
  if (index < 0) return result;
  const char* p = SplitArgument(GetCommandLineA(), nullptr);
  for (int i = 1; i <= index; i++) {
    TAnsiString arg;
    p = SplitArgument(p, &arg);
    if (arg.IsEmpty()) return result;
    if (i == index) return arg;
  }
  return result;
}

int ArgumentCount() {
  const char* p = SplitArgument(GetCommandLineA(), nullptr);
  int count = 0;
  for (;;) {
    TAnsiString arg;
    p = SplitArgument(p, &arg);
    if (arg.IsEmpty()) return count;
    count++;
  }
}

// Byte index of the last backslash, or -1.  Steps forward a character at a time, so that
// the trail byte of a double-byte character (0x5C in some code pages) is never taken for a
// separator.
static int LastSeparator(const TAnsiString& path) {
  const char* start = path.CStr();
  const char* end = start + path.Length();
  int last = -1;
  for (const char* p = start; p < end; p = NextChar(p))
    if (*p == '\\') last = (int)(p - start);
  return last;
}

TAnsiString ExtractDirectory(const TAnsiString& path) {
  return TAnsiString(path.CStr(), LastSeparator(path) + 1);
}

bool EndsWithSeparator(const TAnsiString& path) {
  return !path.IsEmpty() && LastSeparator(path) == path.Length() - 1;
}

TAnsiString ExtractName(const TAnsiString& path) {
  int from = LastSeparator(path) + 1;
  return TAnsiString(path.CStr() + from, path.Length() - from);
}

bool FileExists(const TAnsiString& path) {
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA(path.CStr(), &data);
  if (h == INVALID_HANDLE_VALUE) return false;
  FindClose(h);
  return true;
}

static uint8_t UpperAscii(uint8_t c) { return c >= 0x61 && c <= 0x7A ? (uint8_t)(c - 0x20) : c; }

bool SameTextAscii(const TAnsiString& a, const char* b) {
  int n = TextLength(b);
  if (a.Length() != n) return false;
  for (int i = 0; i < n; i++)
    if (UpperAscii((uint8_t)a[i]) != UpperAscii((uint8_t)b[i])) return false;
  return true;
}

bool Contains(const TAnsiString& text, const char* part) {
  int n = TextLength(part);
  if (n == 0 || text.Length() < n) return false;
  for (int i = 0; i + n <= text.Length(); i++)
    if (StubSame(text.CStr() + i, part, (size_t)n)) return true;
  return false;
}
