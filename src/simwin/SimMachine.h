// The machine behind the simulated Windows, and the scenario runner that tests use.
//
// A test describes a Machine, then runs a body (usually the loader's entry) in a forked
// child with that machine; ExitProcess ends only that child.  The Outcome tells what the
// child did: every Win32 call with its arguments, the message boxes, the exit code, the
// files at the end and the heap's high-water marks.
#pragma once

#include <stdint.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace simwin {

// Windows compares paths without regard to ASCII case.
struct PathLess {
  bool operator()(const std::string& a, const std::string& b) const;
};

struct File {
  std::string data;
  bool directory = false;
  bool heldForWriting = false;      // another process has it open with write access
  uint64_t reportedSize = UINT64_MAX;  // GetFileSize reports this instead of data.size()
};

enum class Wow64 { Absent, Fails, No, Yes };

struct Machine {
  Machine();

  std::string modulePath = "C:\\Downloads\\setup.exe";
  std::string commandLine = "setup.exe";
  unsigned codePage = 1252;  // 1252, or 932 with double-byte characters
  std::map<std::string, File, PathLess> files;
  std::string tempPath = "C:\\Users\\Ann\\AppData\\Local\\Temp\\";
  std::string systemDirectory = "C:\\Windows\\system32";

  // GetVersionExA
  bool versionFails = false;
  uint32_t major = 10, minor = 0, build = 19045, platformId = 2;
  bool servicePackFails = false;
  uint16_t servicePackMajor = 4;

  // HKLM\Software\Microsoft\Windows NT\CurrentVersion: value name -> raw bytes
  bool registryOpenFails = false;
  std::map<std::string, std::string> registry;

  Wow64 wow64 = Wow64::No;
  bool hasSetDefaultDllDirectories = true;

  // Administrators membership
  bool sidFails = false;
  bool checkTokenMembershipAbsent = false;
  bool checkTokenMembershipFails = false;
  bool administrator = true;

  // Mapped network drives for WNetGetUniversalNameA: "N:" -> "\\server\share"
  std::map<std::string, std::string> mappedDrives;

  bool createProcessFails = false;
  bool shellExecuteFails = false;  // e.g. the user refused the elevation prompt
  uint64_t diskFree = UINT64_MAX;   // bytes WriteFile can still write
  // Paths another process creates just before the loader's CreateFileA (a race).
  std::set<std::string, PathLess> appearBeforeCreate;
  size_t heapLimit = SIZE_MAX;  // HeapAlloc of more than this many bytes fails
  // Calls that fail outright, by function name.
  std::set<std::string> failing;

  void AddFile(const std::string& path, const std::string& data) { files[path].data = data; }
  void AddDirectory(const std::string& path) { files[path].directory = true; }
};

struct Call {
  std::string name;
  std::vector<std::string> args;
  std::string Arg(size_t i) const { return i < args.size() ? args[i] : "<missing>"; }
};

struct Box {
  std::string text, caption;
  bool ownerNull = true;
  uint32_t style = 0;
};

struct Outcome {
  std::vector<Call> calls;
  std::vector<Box> boxes;
  bool exited = false;       // ended through ExitProcess
  uint32_t exitCode = 0;
  bool crashed = false;      // the child died of a signal or never reported
  std::map<std::string, File, PathLess> files;
  uint64_t peakHeapBytes = 0;
  uint64_t largestHeapRequest = 0;
  int openRegistryKeys = 0;  // keys still open at the end
  std::vector<std::string> notes;  // what the body reported with Note()

  std::vector<Call> CallsTo(const std::string& name) const;
  int Count(const std::string& name) const { return (int)CallsTo(name).size(); }
  bool Called(const std::string& name) const { return Count(name) > 0; }
  const Call* First(const std::string& name) const;
  // Index of the first call of that name, or -1: for tests of order.
  int IndexOf(const std::string& name) const;
  bool HasFile(const std::string& path) const { return files.count(path) != 0; }
};

// Runs body in a forked child on the machine and reports what happened.
Outcome Run(const Machine& machine, const std::function<void()>& body);

// Runs body in this process (for fuzzing): ExitProcess unwinds back here with longjmp,
// and every heap block the body left is freed, as process end would.
Outcome RunInProcess(const Machine& machine, const std::function<void()>& body);

// Lets a body report a value from inside the scenario (it ends up in Outcome::notes).
void Note(const std::string& text);

// How the simulation formats arguments, for tests that compare them.
std::string Hex(uint64_t value);

}  // namespace simwin
