/* The end-to-end tests' hands inside Wine: starts the program under test the way a user
 * would (optionally as a standard user, or several copies at once, or with its file held
 * open for writing), reads every message box it shows (caption and full text), presses OK,
 * waits for it to end and writes what happened to a result file (UTF-8):
 *   box<TAB>caption<TAB>text      one line per message box
 *   exit<TAB>code                 one line per started process
 *   error<TAB>what                when the start itself failed
 *
 *   launch.exe <result file> [--restricted] [--count N] [--hold-write IMAGE] [--timeout MS]
 *              <command file>
 * The command file holds the program's command line in UTF-8, exactly as it is to be given
 * (Wine would re-quote a command line passed as arguments); several lines are several runs,
 * one after the other, each reported after a line "run<TAB>index".  The timeout is per run.
 */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <shellapi.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#define MAX_PROCS 8

static FILE* out;
static DWORD pids[MAX_PROCS];
static int procCount;
static HWND seen[64];
static int seenCount;

static void PutEscaped(const wchar_t* text) {
  static char utf8[280000];
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, NULL, NULL);
  if (n <= 0) return;
  for (const char* p = utf8; *p; p++) {
    if (*p == '\n') fputs("\\n", out);
    else if (*p == '\r') fputs("\\r", out);
    else if (*p == '\t') fputs("\\t", out);
    else if (*p == '\\') fputs("\\\\", out);
    else fputc(*p, out);
  }
}

static BOOL CALLBACK OnWindow(HWND wnd, LPARAM unused) {
  (void)unused;
  wchar_t cls[64];
  DWORD pid = 0;
  GetWindowThreadProcessId(wnd, &pid);
  int ours = 0;
  for (int i = 0; i < procCount; i++) ours |= pids[i] == pid;
  if (!ours || !GetClassNameW(wnd, cls, 64) || wcscmp(cls, L"#32770") != 0 || !IsWindowVisible(wnd)) return TRUE;
  for (int i = 0; i < seenCount; i++)
    if (seen[i] == wnd) return TRUE;
  if (seenCount < 64) seen[seenCount++] = wnd;
  static wchar_t caption[4096], text[70000];
  caption[0] = text[0] = 0;
  GetWindowTextW(wnd, caption, 4096);
  GetDlgItemTextW(wnd, 0xFFFF, text, 70000);
  fputs("box\t", out);
  PutEscaped(caption);
  fputs("\t", out);
  PutEscaped(text);
  fputs("\n", out);
  fflush(out);
  PostMessageW(wnd, WM_COMMAND, IDOK, 0);
  return TRUE;
}

static HANDLE RestrictedToken(void) {
  HANDLE token = NULL, restricted = NULL;
  SID_IDENTIFIER_AUTHORITY nt = {SECURITY_NT_AUTHORITY};
  PSID admins = NULL;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &token)) return NULL;
  if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                &admins))
    return NULL;
  SID_AND_ATTRIBUTES deny = {admins, 0};
  if (!CreateRestrictedToken(token, 0, 1, &deny, 0, NULL, 0, NULL, &restricted)) return NULL;
  return restricted;
}

/* Starts count copies of one command line and sees them through; 0 when they ran. */
static int RunOne(const wchar_t* cmd, HANDLE token, int count, const wchar_t* holdImage, DWORD timeout) {
  procCount = 0;
  seenCount = 0;
  HANDLE procs[MAX_PROCS], threads[MAX_PROCS];
  DWORD flags = CREATE_SUSPENDED;
  for (int i = 0; i < count; i++) {
    STARTUPINFOW si;
    PROCESS_INFORMATION pi;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    wchar_t line[8192];
    wcsncpy(line, cmd, 8191);
    line[8191] = 0;
    BOOL ok = token ? CreateProcessAsUserW(token, NULL, line, NULL, NULL, FALSE, flags, NULL, NULL, &si, &pi)
                    : CreateProcessW(NULL, line, NULL, NULL, FALSE, flags, NULL, NULL, &si, &pi);
    if (!ok) {
      fprintf(out, "error\tstart failed %lu\n", GetLastError());
      return 3;
    }
    procs[procCount] = pi.hProcess;
    threads[procCount] = pi.hThread;
    pids[procCount++] = pi.dwProcessId;
  }
  HANDLE held = INVALID_HANDLE_VALUE;
  if (holdImage) {
    /* Wine refuses a write handle on a running image: move the image away, put a copy in
       its place and hold that open for writing, as a download still in progress would. */
    wchar_t moved[1024];
    _snwprintf(moved, 1024, L"%ls.running", holdImage);
    if (!MoveFileW(holdImage, moved) || !CopyFileW(moved, holdImage, FALSE)) {
      fputs("error\thold-write set-up\n", out);
      return 3;
    }
    held = CreateFileW(holdImage, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    if (held == INVALID_HANDLE_VALUE) {
      fputs("error\thold-write open\n", out);
      return 3;
    }
  }
  /* All copies start at the same moment. */
  for (int i = 0; i < procCount; i++) ResumeThread(threads[i]);

  DWORD start = GetTickCount();
  for (;;) {
    EnumWindows(OnWindow, 0);
    DWORD r = WaitForMultipleObjects((DWORD)procCount, procs, TRUE, 20);
    if (r != WAIT_TIMEOUT) break;
    if (GetTickCount() - start > timeout) {
      fputs("error\ttimeout\n", out);
      for (int i = 0; i < procCount; i++) TerminateProcess(procs[i], 99);
      break;
    }
  }
  for (int i = 0; i < procCount; i++) {
    DWORD code = 0;
    GetExitCodeProcess(procs[i], &code);
    fprintf(out, "exit\t%lu\n", code);
    CloseHandle(procs[i]);
    CloseHandle(threads[i]);
  }
  if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
  fflush(out);
  return 0;
}

int wmain(void) {
  int argc;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argc < 3) return 2;
  out = _wfopen(argv[1], L"wb");
  if (!out) return 2;
  int restricted = 0, count = 1;
  DWORD timeout = 60000;
  const wchar_t* holdImage = NULL;
  for (int i = 2; i < argc - 1; i++) {
    if (!wcscmp(argv[i], L"--restricted")) restricted = 1;
    else if (!wcscmp(argv[i], L"--count") && i + 1 < argc) count = _wtoi(argv[++i]);
    else if (!wcscmp(argv[i], L"--timeout") && i + 1 < argc) timeout = (DWORD)_wtoi(argv[++i]);
    else if (!wcscmp(argv[i], L"--hold-write") && i + 1 < argc) holdImage = argv[++i];
  }
  if (count < 1 || count > MAX_PROCS) count = 1;
  static char utf8[1 << 20];
  static wchar_t cmd[1 << 20];
  FILE* cf = _wfopen(argv[argc - 1], L"rb");
  if (!cf) return 2;
  size_t len = fread(utf8, 1, sizeof utf8 - 1, cf);
  fclose(cf);
  utf8[len] = 0;
  if (!MultiByteToWideChar(CP_UTF8, 0, utf8, -1, cmd, 1 << 20)) return 2;

  HANDLE token = restricted ? RestrictedToken() : NULL;
  if (restricted && !token) {
    fputs("error\trestricted token\n", out);
    return 3;
  }
  /* One command line per line; each run's report follows a "run" line. */
  int index = 0;
  for (wchar_t* line = cmd; line && *line;) {
    wchar_t* next = wcschr(line, L'\n');
    if (next) *next++ = 0;
    size_t n = wcslen(line);
    if (n && line[n - 1] == L'\r') line[n - 1] = 0;
    if (*line) {
      fprintf(out, "run\t%d\n", index++);
      RunOne(line, token, count, holdImage, timeout);
    }
    line = next;
  }
  fclose(out);
  return 0;
}
