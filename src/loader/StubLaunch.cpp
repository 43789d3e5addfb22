// Starting the setup engine: directly, or through the shell where Windows Vista and later
// would otherwise leave a standard user without a way to elevate; then the wait and the
// deletion of the copy.
#include "StubCore.h"

static const DWORD kStartupInfoSize = 68;   // STARTUPINFOA of 32-bit Windows
static const DWORD kShellExecuteInfoSize = 60;  // SHELLEXECUTEINFOA of 32-bit Windows
#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(STARTUPINFOA) == kStartupInfoSize, "STARTUPINFOA");
static_assert(sizeof(SHELLEXECUTEINFOA) == kShellExecuteInfoSize, "SHELLEXECUTEINFOA");
#endif

PFN_CheckTokenMembership gCheckTokenMembership;  // looked up once, never cleared

HMODULE LoadSystemLibrary(const char* name) {
  // By full path from the system folder: a DLL of the same name beside the installer (a
  // downloads folder collects anything) must never be the one loaded.
  char folder[MAX_PATH + 1];
  UINT n = GetSystemDirectoryA(folder, sizeof folder);
  if (n == 0 || n >= sizeof folder) return nullptr;
  TAnsiString path(folder, (int)n);
  if (path.Last() != '\\') path.Append('\\');
  path.Append(name);
  return LoadLibraryA(path.CStr());
}

TAnsiString ToUncPath(const TAnsiString& path) {
  TAnsiString result(path);
  if (path.Length() < 2 || path[1] != ':') return result;
  HMODULE mpr = LoadSystemLibrary("mpr.dll");
  PFN_WNetGetUniversalNameA getUniversalName =
      mpr ? (PFN_WNetGetUniversalNameA)(void*)GetProcAddress(mpr, "WNetGetUniversalNameA") : nullptr;
  if (!getUniversalName) return result;
  const DWORD kBufferSize = 2000;
  void* buffer = StubAlloc(kBufferSize);
  if (!buffer) StubOutOfMemory();
  DWORD size = kBufferSize;
  if (getUniversalName(path.CStr(), UNIVERSAL_NAME_INFO_LEVEL, buffer, &size) == NO_ERROR) {
    const char* unc = ((UNIVERSAL_NAME_INFOA*)buffer)->lpUniversalName;
    if (unc) result = unc;
  }
  StubFree(buffer);
  return result;
}

BOOL IsAdministrator() {
  SID_IDENTIFIER_AUTHORITY authority = {SECURITY_NT_AUTHORITY};
  PSID administrators = nullptr;
  if (!AllocateAndInitializeSid(&authority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0,
                                0, 0, &administrators))
    return FALSE;
  if (!gCheckTokenMembership) {
    HMODULE advapi = GetModuleHandleA("advapi32.dll");
    if (advapi)
      gCheckTokenMembership = (PFN_CheckTokenMembership)(void*)GetProcAddress(advapi, "CheckTokenMembership");
  }
  BOOL result = FALSE;
  if (gCheckTokenMembership) {
    BOOL member = FALSE;
    if (gCheckTokenMembership(nullptr, administrators, &member)) result = member;
  }
  FreeSid(administrators);
  return result;
}

TAnsiString BuildEngineParameters() {
  TAnsiString parameters("\"");
  parameters.Append(ToUncPath(Argument(0))).Append('"');
  int count = ArgumentCount();
  for (int i = 1; i <= count; i++) {
    TAnsiString arg = Argument(i);
    if (Contains(arg, " "))
      parameters.Append(" \"").Append(arg).Append('"');
    else
      parameters.Append(' ').Append(arg);
  }
  return parameters;
}

static bool IsSilent() {
  for (int i = ArgumentCount(); i >= 1; i--) {
    TAnsiString arg = Argument(i);
    if (SameTextAscii(arg, "/silent") || SameTextAscii(arg, "/s")) return true;
  }
  return false;
}

static bool Detached() { return gLocator.detachedMinSize != 0; }

static void StartDirectly(const TAnsiString& copyPath, const TAnsiString& parameters) {
  STARTUPINFOA startup;
  StubZero(&startup, sizeof startup);
  startup.cb = kStartupInfoSize;
  PROCESS_INFORMATION process;
  StubZero(&process, sizeof process);
  TAnsiString commandLine("\"");
  commandLine.Append(copyPath).Append("\" ").Append(parameters);
  TAnsiString folder = ExtractDirectory(Argument(0));
  if (!CreateProcessA(nullptr, commandLine.Data(), nullptr, nullptr, FALSE, 0, nullptr, folder.CStr(), &startup,
                      &process))
    ShowFatalError(ErrLaunch);
  if (Detached()) return;
  WaitForSingleObject(process.hProcess, INFINITE);
  DeleteFileA(copyPath.CStr());
}

static void StartThroughShell(const TAnsiString& copyPath, TAnsiString parameters) {
  SHELLEXECUTEINFOA info;
  StubZero(&info, sizeof info);
  info.cbSize = kShellExecuteInfoSize;
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpVerb = "open";
  info.lpFile = copyPath.CStr();
  info.nShow = SW_SHOW;
  uint8_t mode = gHeader.elevationMode;
  if (!IsSilent() || mode == emNoAdmin)
    parameters.Append(" /noadmin");
  else if (mode == emRunAs)
    info.lpVerb = "runas";
  info.lpParameters = parameters.CStr();

  HMODULE shell32 = LoadSystemLibrary("shell32.dll");
  PFN_ShellExecuteExA shellExecuteEx =
      shell32 ? (PFN_ShellExecuteExA)(void*)GetProcAddress(shell32, "ShellExecuteExA") : nullptr;
  if (!shellExecuteEx || !shellExecuteEx(&info)) ShowFatalError(ErrLaunch);
  if (Detached()) return;
  WaitForSingleObject(info.hProcess, INFINITE);
  CloseHandle(info.hProcess);
  DeleteFileA(copyPath.CStr());
}

void StartSetupEngine(const TAnsiString& copyPath, const TAnsiString& parameters) {
  if (gVersionInfo.dwMajorVersion < 6 || IsAdministrator())
    StartDirectly(copyPath, parameters);
  else
    StartThroughShell(copyPath, parameters);
}
