// The loader's one contact with the platform.  Built for Windows it is the real Win32 API;
// built for the host it is our simulated Windows, so that tests see every call with its
// exact arguments.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shellapi.h>
#include <winnetwk.h>

// Looked up at run time, never imported: not every Windows that must load the image has them.
typedef BOOL(WINAPI* PFN_IsWow64Process)(HANDLE process, PBOOL wow64);
typedef BOOL(WINAPI* PFN_SetDefaultDllDirectories)(DWORD flags);
typedef BOOL(WINAPI* PFN_CheckTokenMembership)(HANDLE token, PSID sid, PBOOL isMember);
typedef BOOL(WINAPI* PFN_ShellExecuteExA)(SHELLEXECUTEINFOA* info);
typedef DWORD(WINAPI* PFN_WNetGetUniversalNameA)(LPCSTR localPath, DWORD infoLevel, LPVOID buffer,
                                                 LPDWORD bufferSize);
#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif
#else
#include "SimWin.h"
#endif
