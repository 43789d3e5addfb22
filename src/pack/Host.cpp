#include "Host.h"

#include <stdio.h>
#include <sys/stat.h>

#include "Pack.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <limits.h>
#include <unistd.h>
#endif

namespace kpack {
namespace {

#ifdef _WIN32
std::wstring Wide(const std::string& utf8) {
  std::u16string units = Utf8ToUtf16(utf8);
  return std::wstring(units.begin(), units.end());
}

FILE* Open(const std::string& path, const char* mode) {
  return _wfopen(Wide(path).c_str(), Wide(mode).c_str());
}

bool Stat(const std::string& path, uint64_t* size) {
  struct _stat64 st;
  if (_wstat64(Wide(path).c_str(), &st) != 0 || !(st.st_mode & _S_IFREG)) return false;
  *size = (uint64_t)st.st_size;
  return true;
}

bool Replace(const std::string& from, const std::string& to) {
  return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

void Remove(const std::string& path) { _wunlink(Wide(path).c_str()); }
#else
FILE* Open(const std::string& path, const char* mode) { return fopen(path.c_str(), mode); }

bool Stat(const std::string& path, uint64_t* size) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  *size = (uint64_t)st.st_size;
  return true;
}

bool Replace(const std::string& from, const std::string& to) { return rename(from.c_str(), to.c_str()) == 0; }

void Remove(const std::string& path) { unlink(path.c_str()); }
#endif

}  // namespace

bool IsFile(const std::string& path) {
  uint64_t size;
  return Stat(path, &size);
}

std::string ReadFile(const std::string& path, const char* what, uint64_t limit) {
  uint64_t size;
  if (!Stat(path, &size)) throw PackError(std::string("cannot read ") + what + " " + path + ": no such file");
  if (size > limit)
    throw PackError(std::string(what) + " " + path + " is too large (" + std::to_string(size) + " bytes)");
  FILE* f = Open(path, "rb");
  if (!f) throw PackError(std::string("cannot read ") + what + " " + path);
  std::string bytes;
  char buffer[1 << 16];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
  bool failed = ferror(f) != 0;
  fclose(f);
  if (failed) throw PackError(std::string("cannot read ") + what + " " + path);
  return bytes;
}

void WriteFileAtomically(const std::string& path, const std::string& bytes) {
  std::string temp = path + ".kestrune-tmp";
  FILE* f = Open(temp, "wb");
  if (!f) throw PackError("cannot write " + path);
  bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = fclose(f) == 0 && ok;
  if (!ok || !Replace(temp, path)) {
    Remove(temp);
    throw PackError("cannot write " + path);
  }
}

#ifdef _WIN32
std::string SelfFolder() {
  std::wstring buffer(32768, L'\0');
  DWORD n = GetModuleFileNameW(nullptr, &buffer[0], (DWORD)buffer.size());
  if (n == 0 || n >= buffer.size()) return "";
  buffer.resize(n);
  std::string path = Utf16ToUtf8(std::u16string(buffer.begin(), buffer.end()));
  size_t cut = path.find_last_of("\\/");
  return cut == std::string::npos ? "" : path.substr(0, cut);
}

char PathSeparator() { return '\\'; }

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

void PrepareConsole() { SetConsoleOutputCP(CP_UTF8); }
#else
std::string SelfFolder() {
  char buffer[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return "";
  std::string path(buffer, (size_t)n);
  size_t cut = path.rfind('/');
  return cut == std::string::npos ? "" : path.substr(0, cut);
}

char PathSeparator() { return '/'; }

bool StderrIsTerminal() { return isatty(2) != 0; }

void PrepareConsole() {}
#endif

}  // namespace kpack
