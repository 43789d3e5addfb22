// The program's entry: a windowless GUI program with no C runtime.
#include "StubCore.h"

// Where kernel32 offers it, take DLLs that are loaded later from the system folder only.
static void RestrictDllSearch() {
  HMODULE kernel = GetModuleHandleA("kernel32");
  if (!kernel) return;
  PFN_SetDefaultDllDirectories setDefault =
      (PFN_SetDefaultDllDirectories)(void*)GetProcAddress(kernel, "SetDefaultDllDirectories");
  if (setDefault) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

extern "C" void Stub98Main() {
  RestrictDllSearch();
  {
    // A character the ANSI code page cannot represent comes back as "?": no path made from
    // this one could be opened, so say so instead of reporting a damaged package.
    TAnsiString self = Argument(0);
    if (Contains(self, "?")) ShowFatalError(ErrPathCharacters);
  }
  RunLoader();
  ExitProcess(0);
}
