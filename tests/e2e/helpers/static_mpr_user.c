/* The control case for the planted DLL: a program that imports mpr statically, as the
 * loader must not.  It does nothing else. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <winnetwk.h>

int WINAPI WinMain(HINSTANCE a, HINSTANCE b, LPSTR c, int d) {
  (void)a, (void)b, (void)c, (void)d;
  char buffer[512];
  DWORD size = sizeof buffer;
  return (int)WNetGetUniversalNameA("C:\\x", UNIVERSAL_NAME_INFO_LEVEL, buffer, &size) == 0;
}
