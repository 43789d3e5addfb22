/* A stand-in for a DLL planted in a downloads folder: it leaves a marker file beside
 * itself when any process loads it, and offers the one export the loader could want. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(self, path, MAX_PATH - 16);
    while (n > 0 && path[n - 1] != '\\') n--;
    lstrcpyA(path + n, "planted-loaded.txt");
    HANDLE f = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
  }
  return TRUE;
}

__declspec(dllexport) DWORD WINAPI WNetGetUniversalNameA(LPCSTR path, DWORD level, LPVOID buffer, LPDWORD size) {
  (void)path, (void)level, (void)buffer, (void)size;
  return ERROR_NOT_CONNECTED;
}
