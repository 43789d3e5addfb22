/* A tiny setup engine for the tests: it writes to a log what it saw when it started, then
 * lingers and ends with the exit code it was asked for.  Its options arrive through the
 * loader, which forwards all of its own arguments:
 *   /log=<path>     where to write the log (UTF-8, appended)
 *   /exit=<code>    the exit code (default 0)
 *   /linger=<ms>    how long to stay alive before ending (default 0)
 * Log lines: path=, cmdline=, cwd=, elevated=, admin=, bits=, and at the very end ended=
 * with the path again (several engines may share one log).
 */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <shellapi.h>
#include <stdio.h>
#include <wchar.h>

/* One record of lines, built in memory and appended with one write. */
static char record[32768];
static size_t recordLength;

static void Line(const char* key, const wchar_t* value) {
  char utf8[8192];
  if (!WideCharToMultiByte(CP_UTF8, 0, value, -1, utf8, sizeof utf8, NULL, NULL)) utf8[0] = 0;
  int n = _snprintf(record + recordLength, sizeof record - recordLength, "%s=%s\n", key, utf8);
  if (n > 0) recordLength += (size_t)n;
}

/* Several engines may share one log and start at the same moment: the file is opened for
 * this engine alone (other openers wait their turn), so records never mix. */
static void AppendRecord(const wchar_t* log) {
  HANDLE f;
  for (int tries = 0; tries < 1000; tries++) {
    f = CreateFileW(log, FILE_APPEND_DATA, 0, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (f != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION) break;
    Sleep(5);
  }
  if (f == INVALID_HANDLE_VALUE) return;
  DWORD written;
  SetFilePointer(f, 0, NULL, FILE_END);
  WriteFile(f, record, (DWORD)recordLength, &written, NULL);
  CloseHandle(f);
  recordLength = 0;
}

static int Elevated(void) {
  HANDLE token;
  TOKEN_ELEVATION e;
  DWORD n;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return -1;
  int r = GetTokenInformation(token, TokenElevation, &e, sizeof e, &n) ? (int)e.TokenIsElevated : -1;
  CloseHandle(token);
  return r;
}

static int Admin(void) {
  SID_IDENTIFIER_AUTHORITY nt = {SECURITY_NT_AUTHORITY};
  PSID sid;
  BOOL member = FALSE;
  if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &sid))
    return -1;
  if (!CheckTokenMembership(NULL, sid, &member)) member = -1;
  FreeSid(sid);
  return member;
}

int WINAPI wWinMain(HINSTANCE a, HINSTANCE b, LPWSTR c, int d) {
  (void)a, (void)b, (void)c, (void)d;
  int argc;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  const wchar_t* log = NULL;
  int code = 0, linger = 0;
  for (int i = 1; i < argc; i++) {
    if (!wcsncmp(argv[i], L"/log=", 5)) log = argv[i] + 5;
    else if (!wcsncmp(argv[i], L"/exit=", 6)) code = _wtoi(argv[i] + 6);
    else if (!wcsncmp(argv[i], L"/linger=", 8)) linger = _wtoi(argv[i] + 8);
  }
  wchar_t self[4096];
  GetModuleFileNameW(NULL, self, 4096);
  if (log) {
    wchar_t cwd[4096];
    GetCurrentDirectoryW(4096, cwd);
    Line("path", self);
    Line("cmdline", GetCommandLineW());
    Line("cwd", cwd);
    recordLength += (size_t)_snprintf(record + recordLength, sizeof record - recordLength,
                                      "elevated=%d\nadmin=%d\nbits=%d\n", Elevated(), Admin(), (int)sizeof(void*) * 8);
    AppendRecord(log);
  }
  if (linger > 0) Sleep((DWORD)linger);
  if (log) {
    Line("ended", self);
    AppendRecord(log);
  }
  return code;
}
