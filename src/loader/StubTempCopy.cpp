// Writing the decoded engine to a file of its own: the folder, a name nobody uses yet, and
// one write straight from the decoder's memory.
#include "StubCore.h"

TAnsiString SelectTempFolder() {
  int count = ArgumentCount();
  // "/temp" as the very last argument means the installer's own folder, as it is.
  if (SameTextAscii(Argument(count), "/temp")) return ExtractDirectory(Argument(0));

  char buffer[256];
  StubZero(buffer, sizeof buffer);
  GetTempPathA(sizeof buffer, buffer);
  int n = 0;
  while (n < (int)sizeof buffer && buffer[n] != 0) n++;
  TAnsiString folder(buffer, n);
  if (folder.IsEmpty()) folder = "C:\\";

  for (int i = count - 1; i >= 1; i--) {
    if (SameTextAscii(Argument(i), "/temp")) {
      folder = Argument(i + 1);
      break;
    }
  }
  if (!EndsWithSeparator(folder)) folder.Append('\\');
  return folder;
}

// The base path with the digits of n in front of its last four characters.
static TAnsiString NumberedPath(const TAnsiString& base, unsigned n) {
  TAnsiString path(base);
  TAnsiString digits = DecimalText(n);
  path.Insert(base.Length() - 4, digits.CStr(), digits.Length());
  return path;
}

TAnsiString MakeTempCopyPath(const TAnsiString& folder, unsigned* n) {
  TAnsiString base(folder);
  base.Append(ExtractName(Argument(0)));
  if (*n <= 1) {
    if (!FileExists(base)) {
      *n = 1;
      return base;
    }
    *n = 2;
  }
  for (;; (*n)++) {
    TAnsiString candidate = NumberedPath(base, *n);
    if (!FileExists(candidate)) return candidate;
  }
}

bool WriteTempCopy(const TAnsiString& path, const TStream& engine, uint32_t count) {
  // A new file only: two installers started at the same moment must never share, overwrite
  // or later delete one copy.  The one that loses the race goes on to the next number.
  HANDLE file =
      CreateFileA(path.CStr(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return false;
    ShowFatalError(ErrTempCopy);
  }
  DWORD written = 0;
  uint8_t none[1];
  WriteFile(file, engine.Memory ? engine.Memory : none, count, &written, nullptr);
  CloseHandle(file);
  if (written != count) {
    DeleteFileA(path.CStr());
    ShowFatalError(ErrTempCopy);
  }
  return true;
}
