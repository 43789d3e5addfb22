// The simulated Windows: each function does what its documented contract says, over the
// Machine of the running scenario, and records itself with its arguments.
#include "SimWin.h"

#include <setjmp.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "SimMachine.h"

namespace simwin {

bool PathLess::operator()(const std::string& a, const std::string& b) const {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; i++) {
    unsigned char x = (unsigned char)a[i], y = (unsigned char)b[i];
    if (x >= 'a' && x <= 'z') x = (unsigned char)(x - 32);
    if (y >= 'a' && y <= 'z') y = (unsigned char)(y - 32);
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

Machine::Machine() {
  AddDirectory("C:\\Downloads");
  AddDirectory("C:\\Users\\Ann\\AppData\\Local\\Temp");
  AddDirectory("C:\\Windows\\system32");
  registry["CurrentBuild"] = std::string("19045", 6);
  registry["DisplayVersion"] = std::string("22H2", 5);
  registry["ReleaseId"] = std::string("2009", 5);
}

std::vector<Call> Outcome::CallsTo(const std::string& name) const {
  std::vector<Call> result;
  for (const Call& c : calls)
    if (c.name == name) result.push_back(c);
  return result;
}

const Call* Outcome::First(const std::string& name) const {
  for (const Call& c : calls)
    if (c.name == name) return &c;
  return nullptr;
}

int Outcome::IndexOf(const std::string& name) const {
  for (size_t i = 0; i < calls.size(); i++)
    if (calls[i].name == name) return (int)i;
  return -1;
}

std::string Hex(uint64_t value) {
  char text[32];
  snprintf(text, sizeof text, "0x%llX", (unsigned long long)value);
  return text;
}

namespace {

struct OpenFile {
  std::string path;
  uint64_t position = 0;
  bool read = false, write = false;
};

enum class HandleKind { File, Find, Process, Thread };

struct HandleEntry {
  HandleKind kind;
  int number;
  OpenFile file;
};

struct State {
  Machine machine;
  Outcome outcome;
  std::string commandLine;  // stable storage for GetCommandLineA
  std::map<uintptr_t, HandleEntry> handles;
  uintptr_t nextHandle = 0x100;
  int counters[4] = {0, 0, 0, 0};
  std::map<void*, size_t> heap;
  uint64_t heapBytes = 0;
  DWORD lastError = 0;
  int reportFd = -1;
  bool inProcess = false;
  jmp_buf exitJump;
};

State* S = nullptr;

SimModule* const kKernel32 = (SimModule*)(uintptr_t)0x7C800000;
SimModule* const kAdvapi32 = (SimModule*)(uintptr_t)0x77DD0000;
SimModule* const kShell32 = (SimModule*)(uintptr_t)0x7C9C0000;
SimModule* const kMpr = (SimModule*)(uintptr_t)0x71B20000;
SimKey* const kCurrentVersionKey = (SimKey*)(uintptr_t)0x2A4;
HANDLE const kCurrentProcess = (HANDLE)(intptr_t)-1;

std::string Str(const char* s) { return s ? std::string(s) : std::string("null"); }
std::string Num(int64_t v) { return std::to_string(v); }
std::string Ptr(const void* p) { return p ? "ptr" : "null"; }

std::string HandleText(HANDLE h) {
  if (!h) return "null";
  if (h == INVALID_HANDLE_VALUE) return "invalid";
  auto it = S->handles.find((uintptr_t)h);
  if (it == S->handles.end()) return "unknown";
  static const char* kinds[] = {"file", "find", "process", "thread"};
  return std::string(kinds[(int)it->second.kind]) + "#" + std::to_string(it->second.number);
}

std::string ModuleText(HMODULE m) {
  if (m == kKernel32) return "kernel32";
  if (m == kAdvapi32) return "advapi32";
  if (m == kShell32) return "shell32";
  if (m == kMpr) return "mpr";
  return m ? "unknown" : "null";
}

void Rec(const char* name, std::vector<std::string> args) { S->outcome.calls.push_back({name, std::move(args)}); }

bool Failing(const char* name) { return S->machine.failing.count(name) != 0; }

HANDLE NewHandle(HandleKind kind, const OpenFile& file = OpenFile()) {
  uintptr_t h = S->nextHandle;
  S->nextHandle += 4;
  S->handles[h] = HandleEntry{kind, ++S->counters[(int)kind], file};
  return (HANDLE)h;
}

OpenFile* FileOf(HANDLE h) {
  auto it = S->handles.find((uintptr_t)h);
  if (it == S->handles.end() || it->second.kind != HandleKind::File) return nullptr;
  return &it->second.file;
}

std::string ParentOf(const std::string& path) {
  size_t slash = path.find_last_of('\\');
  if (slash == std::string::npos) return "";
  return path.substr(0, slash);
}

bool DirectoryExists(const std::string& dir) {
  if (dir.size() == 2 && dir[1] == ':') return true;  // a drive's root
  auto it = S->machine.files.find(dir);
  return it != S->machine.files.end() && it->second.directory;
}

// ---- Code pages: 1252 and a double-byte stand-in for 932 (lead bytes 0x81-0x9F and
// 0xE0-0xFC), with a few real characters and a private-use mapping for the rest.

const uint16_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                  0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

struct DoubleByte {
  uint16_t pair;
  char16_t unit;
};
const DoubleByte kCp932Known[] = {{0x955C, u'\u8868'}, {0x8ABF, u'\u6F22'}, {0x835C, u'\u30BD'}};

bool IsLeadByte(unsigned char c) {
  return S->machine.codePage == 932 && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC));
}

char16_t PairToUnit(uint16_t pair) {
  for (const DoubleByte& d : kCp932Known)
    if (d.pair == pair) return d.unit;
  return (char16_t)(0xE000 + (pair % 0x1800));
}

// Appends the code page's bytes for one UTF-16 unit; false when it has none.
bool UnitToBytes(char16_t u, std::string& out) {
  if (u < 0x80) {
    out += (char)u;
    return true;
  }
  if (S->machine.codePage == 932) {
    if (u >= 0xFF61 && u <= 0xFF9F) {
      out += (char)(0xA1 + (u - 0xFF61));
      return true;
    }
    for (const DoubleByte& d : kCp932Known)
      if (d.unit == u) {
        out += (char)(d.pair >> 8);
        out += (char)(d.pair & 0xFF);
        return true;
      }
    // The first pair that maps to the unit, from a table made once.
    static std::vector<uint16_t> reverse;
    if (reverse.empty()) {
      reverse.assign(65536, 0);
      for (unsigned lead = 0x81; lead <= 0xFC; lead++) {
        if (!((lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC))) continue;
        for (unsigned trail = 0x40; trail <= 0xFC; trail++) {
          uint16_t pair = (uint16_t)(lead << 8 | trail);
          if (!reverse[PairToUnit(pair)]) reverse[PairToUnit(pair)] = pair;
        }
      }
    }
    if (uint16_t pair = reverse[u]) {
      out += (char)(pair >> 8);
      out += (char)(pair & 0xFF);
      return true;
    }
    return false;
  }
  if (u >= 0xA0 && u <= 0xFF) {
    out += (char)u;
    return true;
  }
  for (int i = 0; i < 32; i++)
    if (kCp1252High[i] == u) {
      out += (char)(0x80 + i);
      return true;
    }
  return false;
}

std::u16string BytesToUnits(const char* bytes, size_t n) {
  std::u16string out;
  for (size_t i = 0; i < n; i++) {
    unsigned char c = (unsigned char)bytes[i];
    if (c < 0x80) {
      out += (char16_t)c;
    } else if (S->machine.codePage == 932) {
      if (IsLeadByte(c) && i + 1 < n) {
        out += PairToUnit((uint16_t)(c << 8 | (unsigned char)bytes[i + 1]));
        i++;
      } else if (c >= 0xA1 && c <= 0xDF) {
        out += (char16_t)(0xFF61 + (c - 0xA1));
      } else {
        out += u'\u30FB';
      }
    } else {
      out += c >= 0xA0 ? (char16_t)c : (char16_t)kCp1252High[c - 0x80];
    }
  }
  return out;
}

// ---- Reporting the outcome from the child to the parent.

void Put(std::string& out, uint64_t v) { out.append((const char*)&v, sizeof v); }
void Put(std::string& out, const std::string& s) {
  Put(out, (uint64_t)s.size());
  out += s;
}

bool Get(const std::string& in, size_t& at, uint64_t& v) {
  if (in.size() - at < sizeof v) return false;
  memcpy(&v, in.data() + at, sizeof v);
  at += sizeof v;
  return true;
}
bool Get(const std::string& in, size_t& at, std::string& s) {
  uint64_t n;
  if (!Get(in, at, n) || in.size() - at < n) return false;
  s.assign(in, at, n);
  at += n;
  return true;
}

std::string Serialize(const Outcome& o) {
  std::string out;
  Put(out, (uint64_t)o.calls.size());
  for (const Call& c : o.calls) {
    Put(out, c.name);
    Put(out, (uint64_t)c.args.size());
    for (const std::string& a : c.args) Put(out, a);
  }
  Put(out, (uint64_t)o.boxes.size());
  for (const Box& b : o.boxes) {
    Put(out, b.text);
    Put(out, b.caption);
    Put(out, (uint64_t)b.ownerNull);
    Put(out, (uint64_t)b.style);
  }
  Put(out, (uint64_t)o.exited);
  Put(out, (uint64_t)o.exitCode);
  Put(out, (uint64_t)o.files.size());
  for (const auto& f : o.files) {
    Put(out, f.first);
    Put(out, f.second.data);
    Put(out, (uint64_t)f.second.directory);
  }
  Put(out, o.peakHeapBytes);
  Put(out, o.largestHeapRequest);
  Put(out, (uint64_t)(int64_t)o.openRegistryKeys);
  Put(out, (uint64_t)o.notes.size());
  for (const std::string& n : o.notes) Put(out, n);
  return out;
}

bool Deserialize(const std::string& in, Outcome& o) {
  size_t at = 0;
  uint64_t n, m, v;
  if (!Get(in, at, n)) return false;
  for (uint64_t i = 0; i < n; i++) {
    Call c;
    if (!Get(in, at, c.name) || !Get(in, at, m)) return false;
    c.args.resize(m);
    for (auto& a : c.args)
      if (!Get(in, at, a)) return false;
    o.calls.push_back(std::move(c));
  }
  if (!Get(in, at, n)) return false;
  for (uint64_t i = 0; i < n; i++) {
    Box b;
    if (!Get(in, at, b.text) || !Get(in, at, b.caption) || !Get(in, at, v)) return false;
    b.ownerNull = v != 0;
    if (!Get(in, at, v)) return false;
    b.style = (uint32_t)v;
    o.boxes.push_back(b);
  }
  if (!Get(in, at, v)) return false;
  o.exited = v != 0;
  if (!Get(in, at, v)) return false;
  o.exitCode = (uint32_t)v;
  if (!Get(in, at, n)) return false;
  for (uint64_t i = 0; i < n; i++) {
    std::string path;
    File f;
    if (!Get(in, at, path) || !Get(in, at, f.data) || !Get(in, at, v)) return false;
    f.directory = v != 0;
    o.files[path] = f;
  }
  if (!Get(in, at, o.peakHeapBytes) || !Get(in, at, o.largestHeapRequest) || !Get(in, at, v)) return false;
  o.openRegistryKeys = (int)(int64_t)v;
  if (!Get(in, at, n)) return false;
  o.notes.resize(n);
  for (auto& note : o.notes)
    if (!Get(in, at, note)) return false;
  return true;
}

void Begin(const Machine& machine) {
  S = new State();
  S->machine = machine;
  S->commandLine = machine.commandLine;
}

void FreeHeap() {
  for (auto& block : S->heap) free(block.first);
  S->heap.clear();
}

[[noreturn]] void FinishChild() {
  S->outcome.files = S->machine.files;
  std::string report = Serialize(S->outcome);
  const char* p = report.data();
  size_t left = report.size();
  while (left) {
    ssize_t w = write(S->reportFd, p, left);
    if (w <= 0) break;
    p += w;
    left -= (size_t)w;
  }
  close(S->reportFd);
  _exit(0);
}

}  // namespace

void Note(const std::string& text) { S->outcome.notes.push_back(text); }

Outcome Run(const Machine& machine, const std::function<void()>& body) {
  int fds[2];
  if (pipe(fds) != 0) abort();
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    Begin(machine);
    S->reportFd = fds[1];
    body();
    FinishChild();
  }
  close(fds[1]);
  std::string report;
  char chunk[65536];
  for (;;) {
    ssize_t r = read(fds[0], chunk, sizeof chunk);
    if (r <= 0) break;
    report.append(chunk, (size_t)r);
  }
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  Outcome outcome;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !Deserialize(report, outcome)) {
    outcome = Outcome();
    outcome.crashed = true;
  }
  return outcome;
}

Outcome RunInProcess(const Machine& machine, const std::function<void()>& body) {
  Begin(machine);
  S->inProcess = true;
  if (setjmp(S->exitJump) == 0) body();
  FreeHeap();
  Outcome outcome = std::move(S->outcome);
  outcome.files = std::move(S->machine.files);
  delete S;
  S = nullptr;
  return outcome;
}

}  // namespace simwin

using namespace simwin;

// ---------------------------------------------------------------- kernel32

LPSTR WINAPI GetCommandLineA() {
  Rec("GetCommandLineA", {});
  return &S->commandLine[0];
}

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR filename, DWORD size) {
  Rec("GetModuleFileNameA", {ModuleText(module), Num(size)});
  if (Failing("GetModuleFileNameA")) return 0;
  const std::string& path = S->machine.modulePath;
  if (path.size() < size) {
    memcpy(filename, path.c_str(), path.size() + 1);
    return (DWORD)path.size();
  }
  // Cut to the buffer with no terminator, as Windows XP does.
  memcpy(filename, path.data(), size);
  S->lastError = ERROR_INSUFFICIENT_BUFFER;
  return size;
}

HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES sa, DWORD disposition,
                          DWORD flagsAndAttributes, HANDLE templateFile) {
  Rec("CreateFileA", {Str(name), Hex(access), Hex(shareMode), Ptr(sa), Num(disposition), Hex(flagsAndAttributes),
                      Ptr(templateFile)});
  if (Failing("CreateFileA") || !name || !*name) {
    S->lastError = ERROR_ACCESS_DENIED;
    return INVALID_HANDLE_VALUE;
  }
  std::string path = name;
  auto& files = S->machine.files;
  if (disposition == CREATE_NEW && S->machine.appearBeforeCreate.count(path)) files[path].data = "other";
  auto it = files.find(path);
  bool exists = it != files.end();
  if (exists && it->second.directory) {
    S->lastError = disposition == CREATE_NEW ? ERROR_FILE_EXISTS : ERROR_ACCESS_DENIED;
    return INVALID_HANDLE_VALUE;
  }
  if (exists && it->second.heldForWriting && !(shareMode & FILE_SHARE_WRITE)) {
    S->lastError = ERROR_SHARING_VIOLATION;
    return INVALID_HANDLE_VALUE;
  }
  switch (disposition) {
    case OPEN_EXISTING:
      if (!exists) {
        S->lastError = DirectoryExists(ParentOf(path)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
      }
      break;
    case CREATE_NEW:
    case CREATE_ALWAYS:
      if (!DirectoryExists(ParentOf(path))) {
        S->lastError = ERROR_PATH_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
      }
      if (exists && disposition == CREATE_NEW) {
        S->lastError = ERROR_FILE_EXISTS;
        return INVALID_HANDLE_VALUE;
      }
      files[path] = File();
      break;
    default:
      S->lastError = ERROR_INVALID_PARAMETER;
      return INVALID_HANDLE_VALUE;
  }
  OpenFile f;
  f.path = path;
  f.read = (access & GENERIC_READ) != 0;
  f.write = (access & GENERIC_WRITE) != 0;
  S->lastError = exists ? ERROR_ALREADY_EXISTS : 0;
  return NewHandle(HandleKind::File, f);
}

DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method) {
  Rec("SetFilePointer", {HandleText(file), Num(distance), Ptr(distanceHigh), Num(method)});
  OpenFile* f = FileOf(file);
  if (!f || Failing("SetFilePointer") || distanceHigh) {
    S->lastError = ERROR_INVALID_HANDLE;
    return INVALID_SET_FILE_POINTER;
  }
  int64_t base = 0;
  if (method == FILE_CURRENT) base = (int64_t)f->position;
  if (method == FILE_END) base = (int64_t)S->machine.files[f->path].data.size();
  int64_t target = base + distance;
  if (target < 0 || target >= 0xFFFFFFFFll) {
    S->lastError = ERROR_NEGATIVE_SEEK;
    return INVALID_SET_FILE_POINTER;
  }
  f->position = (uint64_t)target;
  return (DWORD)target;
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED ov) {
  Rec("ReadFile", {HandleText(file), Num(toRead), Ptr(ov)});
  if (read) *read = 0;
  OpenFile* f = FileOf(file);
  if (!f || !f->read || Failing("ReadFile")) {
    S->lastError = ERROR_ACCESS_DENIED;
    return FALSE;
  }
  const std::string& data = S->machine.files[f->path].data;
  uint64_t available = f->position < data.size() ? data.size() - f->position : 0;
  uint64_t n = std::min<uint64_t>(toRead, available);
  if (n) memcpy(buffer, data.data() + f->position, n);
  f->position += n;
  if (read) *read = (DWORD)n;
  return TRUE;
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED ov) {
  Rec("WriteFile", {HandleText(file), Num(toWrite), Ptr(ov)});
  if (written) *written = 0;
  OpenFile* f = FileOf(file);
  if (!f || !f->write || Failing("WriteFile")) {
    S->lastError = ERROR_ACCESS_DENIED;
    return FALSE;
  }
  std::string& data = S->machine.files[f->path].data;
  uint64_t n = std::min<uint64_t>(toWrite, S->machine.diskFree);
  S->machine.diskFree -= n;
  if (data.size() < f->position + n) data.resize(f->position + n);
  if (n) memcpy(&data[f->position], buffer, n);
  f->position += n;
  if (written) *written = (DWORD)n;
  if (n < toWrite) {
    S->lastError = ERROR_DISK_FULL;
    return FALSE;
  }
  return TRUE;
}

DWORD WINAPI GetFileSize(HANDLE file, LPDWORD sizeHigh) {
  Rec("GetFileSize", {HandleText(file), Ptr(sizeHigh)});
  OpenFile* f = FileOf(file);
  if (!f || Failing("GetFileSize")) {
    S->lastError = ERROR_INVALID_HANDLE;
    return INVALID_FILE_SIZE;
  }
  const File& data = S->machine.files[f->path];
  uint64_t size = data.reportedSize != UINT64_MAX ? data.reportedSize : data.data.size();
  if (sizeHigh) *sizeHigh = (DWORD)(size >> 32);
  return (DWORD)size;
}

BOOL WINAPI CloseHandle(HANDLE object) {
  Rec("CloseHandle", {HandleText(object)});
  return S->handles.erase((uintptr_t)object) ? TRUE : FALSE;
}

BOOL WINAPI DeleteFileA(LPCSTR name) {
  Rec("DeleteFileA", {Str(name)});
  auto it = S->machine.files.find(Str(name));
  if (Failing("DeleteFileA") || it == S->machine.files.end() || it->second.directory) {
    S->lastError = ERROR_FILE_NOT_FOUND;
    return FALSE;
  }
  S->machine.files.erase(it);
  return TRUE;
}

HANDLE WINAPI FindFirstFileA(LPCSTR name, LPWIN32_FIND_DATAA data) {
  Rec("FindFirstFileA", {Str(name)});
  std::string path = Str(name);
  auto it = S->machine.files.find(path);
  if (Failing("FindFirstFileA") || it == S->machine.files.end() || path.find_first_of("*?") != std::string::npos) {
    S->lastError = ERROR_FILE_NOT_FOUND;
    return INVALID_HANDLE_VALUE;
  }
  memset(data, 0, sizeof *data);
  data->dwFileAttributes = it->second.directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
  std::string leaf = path.substr(path.find_last_of('\\') + 1);
  snprintf(data->cFileName, sizeof data->cFileName, "%s", leaf.c_str());
  return NewHandle(HandleKind::Find);
}

BOOL WINAPI FindClose(HANDLE find) {
  Rec("FindClose", {HandleText(find)});
  return S->handles.erase((uintptr_t)find) ? TRUE : FALSE;
}

DWORD WINAPI GetTempPathA(DWORD size, LPSTR buffer) {
  Rec("GetTempPathA", {Num(size), buffer && size && std::all_of(buffer, buffer + size, [](char c) { return c == 0; })
                                      ? "zeroed"
                                      : "dirty"});
  const std::string& path = S->machine.tempPath;
  if (Failing("GetTempPathA") || path.empty()) return 0;
  // A path that does not fit is copied cut and unterminated: the caller must bound it.
  size_t n = std::min<size_t>(path.size(), size);
  memcpy(buffer, path.data(), n);
  if (n < size) buffer[n] = 0;
  return (DWORD)path.size();
}

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
  Rec("GetVersionExA", {Num(info->dwOSVersionInfoSize)});
  DWORD size = info->dwOSVersionInfoSize;
  const Machine& m = S->machine;
  if (Failing("GetVersionExA") || m.versionFails || (size != 148 && size != 156) ||
      (size == 156 && m.servicePackFails)) {
    S->lastError = ERROR_INSUFFICIENT_BUFFER;
    return FALSE;
  }
  info->dwMajorVersion = m.major;
  info->dwMinorVersion = m.minor;
  info->dwBuildNumber = m.build;
  info->dwPlatformId = m.platformId;
  if (size == 156) ((OSVERSIONINFOEXA*)info)->wServicePackMajor = m.servicePackMajor;
  return TRUE;
}

BOOL WINAPI CreateProcessA(LPCSTR applicationName, LPSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                           LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                           LPVOID environment, LPCSTR currentDirectory, LPSTARTUPINFOA startupInfo,
                           LPPROCESS_INFORMATION processInformation) {
  bool restZero = true;
  const unsigned char* si = (const unsigned char*)startupInfo;
  for (size_t i = sizeof(DWORD); i < sizeof(STARTUPINFOA); i++) restZero = restZero && si[i] == 0;
  Rec("CreateProcessA", {Str(applicationName), Str(commandLine), Ptr(processAttributes), Ptr(threadAttributes),
                         Num(inheritHandles), Hex(creationFlags), Ptr(environment), Str(currentDirectory),
                         Num(startupInfo->cb), restZero ? "rest-zero" : "rest-set"});
  if (Failing("CreateProcessA") || S->machine.createProcessFails) {
    S->lastError = ERROR_ACCESS_DENIED;
    return FALSE;
  }
  processInformation->hProcess = NewHandle(HandleKind::Process);
  processInformation->hThread = NewHandle(HandleKind::Thread);
  processInformation->dwProcessId = 4000;
  processInformation->dwThreadId = 4004;
  return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  Rec("WaitForSingleObject", {HandleText(handle), Hex(milliseconds)});
  return S->handles.count((uintptr_t)handle) ? WAIT_OBJECT_0 : WAIT_FAILED;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
  Rec("GetModuleHandleA", {Str(name)});
  std::string n = Str(name);
  PathLess less;
  auto same = [&](const char* other) { return !less(n, other) && !less(other, n); };
  if (Failing("GetModuleHandleA")) return nullptr;
  if (same("kernel32") || same("kernel32.dll")) return kKernel32;
  if (same("advapi32") || same("advapi32.dll")) return kAdvapi32;
  return nullptr;
}

HMODULE WINAPI LoadLibraryA(LPCSTR name) {
  Rec("LoadLibraryA", {Str(name)});
  std::string path = Str(name);
  if (Failing("LoadLibraryA")) return nullptr;
  size_t slash = path.find_last_of('\\');
  std::string leaf = slash == std::string::npos ? path : path.substr(slash + 1);
  PathLess less;
  auto same = [&](const std::string& a, const std::string& b) { return !less(a, b) && !less(b, a); };
  if (same(leaf, "shell32.dll")) return kShell32;
  if (same(leaf, "mpr.dll")) return kMpr;
  return nullptr;
}

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) {
  Rec("GetSystemDirectoryA", {Num(size)});
  const std::string& dir = S->machine.systemDirectory;
  if (Failing("GetSystemDirectoryA")) return 0;
  if (dir.size() + 1 > size) return (UINT)dir.size() + 1;
  memcpy(buffer, dir.c_str(), dir.size() + 1);
  return (UINT)dir.size();
}

HANDLE WINAPI GetCurrentProcess() { return kCurrentProcess; }

DWORD WINAPI GetLastError() { return S->lastError; }

void WINAPI SetLastError(DWORD error) { S->lastError = error; }

int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByte, int multiByteCount, LPWSTR wide,
                               int wideCount) {
  Rec("MultiByteToWideChar", {Num(codePage), Hex(flags), Num(multiByteCount), Num(wideCount)});
  if (Failing("MultiByteToWideChar") || multiByteCount == 0) return 0;
  size_t n = multiByteCount < 0 ? strlen(multiByte) + 1 : (size_t)multiByteCount;
  std::u16string units = BytesToUnits(multiByte, n);
  if (wideCount == 0) return (int)units.size();
  if ((size_t)wideCount < units.size()) {
    S->lastError = ERROR_INSUFFICIENT_BUFFER;
    return 0;
  }
  memcpy(wide, units.data(), units.size() * sizeof(WCHAR));
  return (int)units.size();
}

int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideCount, LPSTR multiByte,
                               int multiByteCount, LPCSTR defaultChar, LPBOOL usedDefaultChar) {
  Rec("WideCharToMultiByte", {Num(codePage), Hex(flags), Num(wideCount), Num(multiByteCount), Ptr(defaultChar),
                              Ptr(usedDefaultChar)});
  if (Failing("WideCharToMultiByte") || wideCount == 0) return 0;
  size_t n = 0;
  if (wideCount < 0)
    while (wide[n++]) {
    }
  else
    n = (size_t)wideCount;
  std::string bytes;
  for (size_t i = 0; i < n; i++)
    if (!UnitToBytes(wide[i], bytes)) bytes += '?';
  if (multiByteCount == 0) return (int)bytes.size();
  if ((size_t)multiByteCount < bytes.size()) {
    S->lastError = ERROR_INSUFFICIENT_BUFFER;
    return 0;
  }
  memcpy(multiByte, bytes.data(), bytes.size());
  return (int)bytes.size();
}

void WINAPI ExitProcess(UINT exitCode) {
  Rec("ExitProcess", {Num(exitCode)});
  S->outcome.exited = true;
  S->outcome.exitCode = exitCode;
  if (S->inProcess) longjmp(S->exitJump, 1);
  FinishChild();
}

HANDLE WINAPI GetProcessHeap() { return (HANDLE)(uintptr_t)0x150000; }

static void NoteHeap(size_t bytes) {
  Outcome& o = S->outcome;
  o.largestHeapRequest = std::max<uint64_t>(o.largestHeapRequest, bytes);
}

LPVOID WINAPI HeapAlloc(HANDLE, DWORD flags, size_t bytes) {
  NoteHeap(bytes);
  if (Failing("HeapAlloc") || bytes > S->machine.heapLimit) return nullptr;
  void* p = (flags & HEAP_ZERO_MEMORY) ? calloc(1, bytes ? bytes : 1) : malloc(bytes ? bytes : 1);
  if (!p) return nullptr;
  S->heap[p] = bytes;
  S->heapBytes += bytes;
  S->outcome.peakHeapBytes = std::max(S->outcome.peakHeapBytes, S->heapBytes);
  return p;
}

LPVOID WINAPI HeapReAlloc(HANDLE heap, DWORD flags, LPVOID memory, size_t bytes) {
  auto it = S->heap.find(memory);
  if (it == S->heap.end()) return nullptr;
  NoteHeap(bytes);
  if (Failing("HeapReAlloc") || bytes > S->machine.heapLimit) return nullptr;
  void* p = realloc(memory, bytes ? bytes : 1);
  if (!p) return nullptr;
  S->heapBytes -= it->second;
  S->heap.erase(it);
  (void)heap;
  (void)flags;
  S->heap[p] = bytes;
  S->heapBytes += bytes;
  S->outcome.peakHeapBytes = std::max(S->outcome.peakHeapBytes, S->heapBytes);
  return p;
}

BOOL WINAPI HeapFree(HANDLE, DWORD, LPVOID memory) {
  auto it = S->heap.find(memory);
  if (it == S->heap.end()) return FALSE;
  S->heapBytes -= it->second;
  S->heap.erase(it);
  free(memory);
  return TRUE;
}

// ---------------------------------------------------------------- advapi32

LSTATUS WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM desired, PHKEY result) {
  Rec("RegOpenKeyExA", {Hex((uintptr_t)key), Str(subKey), Num(options), Hex(desired)});
  PathLess less;
  std::string sub = Str(subKey);
  const char* expected = "Software\\Microsoft\\Windows NT\\CurrentVersion";
  if (Failing("RegOpenKeyExA") || S->machine.registryOpenFails || key != HKEY_LOCAL_MACHINE || less(sub, expected) ||
      less(expected, sub))
    return ERROR_FILE_NOT_FOUND;
  *result = kCurrentVersionKey;
  S->outcome.openRegistryKeys++;
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                LPDWORD dataSize) {
  Rec("RegQueryValueExA", {Str(valueName), Ptr(reserved), dataSize ? Num(*dataSize) : "null"});
  if (key != kCurrentVersionKey) return ERROR_INVALID_HANDLE;
  auto it = S->machine.registry.find(Str(valueName));
  if (Failing("RegQueryValueExA") || it == S->machine.registry.end()) return ERROR_FILE_NOT_FOUND;
  const std::string& value = it->second;
  if (type) *type = 1;  // REG_SZ
  if (data && value.size() > *dataSize) {
    *dataSize = (DWORD)value.size();
    return ERROR_MORE_DATA;
  }
  if (data) memcpy(data, value.data(), value.size());
  *dataSize = (DWORD)value.size();
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCloseKey(HKEY key) {
  Rec("RegCloseKey", {key == kCurrentVersionKey ? "CurrentVersion" : "unknown"});
  if (key == kCurrentVersionKey) S->outcome.openRegistryKeys--;
  return ERROR_SUCCESS;
}

BOOL WINAPI AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE subAuthorityCount, DWORD sub0,
                                     DWORD sub1, DWORD sub2, DWORD sub3, DWORD sub4, DWORD sub5, DWORD sub6,
                                     DWORD sub7, PSID* sid) {
  std::string auth;
  for (int i = 0; i < 6; i++) auth += (i ? "," : "") + std::to_string(authority->Value[i]);
  Rec("AllocateAndInitializeSid", {auth, Num(subAuthorityCount), Num(sub0), Num(sub1), Num(sub2), Num(sub3), Num(sub4),
                                   Num(sub5), Num(sub6), Num(sub7)});
  if (Failing("AllocateAndInitializeSid") || S->machine.sidFails) return FALSE;
  *sid = new int(544);
  return TRUE;
}

PSID WINAPI FreeSid(PSID sid) {
  Rec("FreeSid", {Ptr(sid)});
  delete (int*)sid;
  return nullptr;
}

// ---------------------------------------------------------------- user32

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  Rec("MessageBoxA", {Ptr(owner), Str(text), Str(caption), Hex(type)});
  S->outcome.boxes.push_back(Box{Str(text), Str(caption), owner == nullptr, type});
  return IDOK;
}

LPSTR WINAPI CharNextA(LPCSTR current) {
  if (*current == 0) return (LPSTR)current;
  if (IsLeadByte((unsigned char)*current) && current[1] != 0) return (LPSTR)current + 2;
  return (LPSTR)current + 1;
}

// ---------------------------------------------------------------- looked up at run time

static BOOL WINAPI SimIsWow64Process(HANDLE process, PBOOL wow64) {
  Rec("IsWow64Process", {process == kCurrentProcess ? "current" : "other"});
  if (S->machine.wow64 == Wow64::Fails) return FALSE;
  *wow64 = S->machine.wow64 == Wow64::Yes;
  return TRUE;
}

static BOOL WINAPI SimSetDefaultDllDirectories(DWORD flags) {
  Rec("SetDefaultDllDirectories", {Hex(flags)});
  return TRUE;
}

static BOOL WINAPI SimCheckTokenMembership(HANDLE token, PSID sid, PBOOL isMember) {
  Rec("CheckTokenMembership", {Ptr(token), Ptr(sid)});
  if (S->machine.checkTokenMembershipFails) return FALSE;
  *isMember = S->machine.administrator;
  return TRUE;
}

static BOOL WINAPI SimShellExecuteExA(SHELLEXECUTEINFOA* info) {
  bool restZero = info->hwnd == nullptr && info->hInstApp == nullptr && info->lpIDList == nullptr &&
                  info->lpClass == nullptr && info->hkeyClass == nullptr && info->dwHotKey == 0 &&
                  info->hIconOrMonitor == nullptr && info->hProcess == nullptr;
  Rec("ShellExecuteExA", {Num(info->cbSize), Hex(info->fMask), Ptr(info->hwnd), Str(info->lpVerb), Str(info->lpFile),
                          Str(info->lpParameters), Str(info->lpDirectory), Num(info->nShow),
                          restZero ? "rest-zero" : "rest-set"});
  if (S->machine.shellExecuteFails) {
    S->lastError = ERROR_CANCELLED;
    return FALSE;
  }
  info->hProcess = NewHandle(HandleKind::Process);
  return TRUE;
}

static DWORD WINAPI SimWNetGetUniversalNameA(LPCSTR localPath, DWORD infoLevel, LPVOID buffer, LPDWORD bufferSize) {
  Rec("WNetGetUniversalNameA", {Str(localPath), Num(infoLevel), Num(*bufferSize)});
  std::string path = Str(localPath);
  auto it = S->machine.mappedDrives.find(path.substr(0, 2));
  if (path.size() < 2 || it == S->machine.mappedDrives.end()) return ERROR_NOT_CONNECTED;
  std::string unc = it->second + path.substr(2);
  size_t need = sizeof(UNIVERSAL_NAME_INFOA) + unc.size() + 1;
  if (need > *bufferSize) {
    *bufferSize = (DWORD)need;
    return ERROR_MORE_DATA;
  }
  char* text = (char*)buffer + sizeof(UNIVERSAL_NAME_INFOA);
  memcpy(text, unc.c_str(), unc.size() + 1);
  ((UNIVERSAL_NAME_INFOA*)buffer)->lpUniversalName = text;
  return NO_ERROR;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
  Rec("GetProcAddress", {ModuleText(module), Str(name)});
  std::string n = Str(name);
  const Machine& m = S->machine;
  if (Failing("GetProcAddress")) return nullptr;
  if (module == kKernel32 && n == "IsWow64Process" && m.wow64 != Wow64::Absent) return (FARPROC)(void*)SimIsWow64Process;
  if (module == kKernel32 && n == "SetDefaultDllDirectories" && m.hasSetDefaultDllDirectories)
    return (FARPROC)(void*)SimSetDefaultDllDirectories;
  if (module == kAdvapi32 && n == "CheckTokenMembership" && !m.checkTokenMembershipAbsent)
    return (FARPROC)(void*)SimCheckTokenMembership;
  if (module == kShell32 && n == "ShellExecuteExA") return (FARPROC)(void*)SimShellExecuteExA;
  if (module == kMpr && n == "WNetGetUniversalNameA") return (FARPROC)(void*)SimWNetGetUniversalNameA;
  return nullptr;
}
