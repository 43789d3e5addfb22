// The decoder that users get, timed on Windows (or Wine): the loader's own verification and
// decoding code and liblzma, compiled and linked exactly as Stub98.exe is, behind an entry
// of its own.  A package is attached to a copy of this program as to the loader.
//   decode-bench-<variant>.exe <result file>
// Writes one line: decode_us=<microseconds> peak_heap=<bytes>
// The peak is of the heap blocks the loader and liblzma hold: the program's own import slots
// of HeapAlloc, HeapReAlloc and HeapFree are pointed at counting wrappers, so the loader's
// code stays exactly as shipped.
#include "StubCore.h"

// The import address table's slots, by the names the linker gives them.
extern "C" void* gImportHeapAlloc asm("__imp__HeapAlloc@12");
extern "C" void* gImportHeapReAlloc asm("__imp__HeapReAlloc@16");
extern "C" void* gImportHeapFree asm("__imp__HeapFree@12");

typedef LPVOID(WINAPI* PFN_HeapAlloc)(HANDLE, DWORD, SIZE_T);
typedef LPVOID(WINAPI* PFN_HeapReAlloc)(HANDLE, DWORD, LPVOID, SIZE_T);
typedef BOOL(WINAPI* PFN_HeapFree)(HANDLE, DWORD, LPVOID);
static PFN_HeapAlloc gRealAlloc;
static PFN_HeapReAlloc gRealReAlloc;
static PFN_HeapFree gRealFree;
static uint64_t gLive, gPeak;

static SIZE_T BlockSize(HANDLE heap, LPVOID block) {
  if (!block) return 0;
  SIZE_T n = HeapSize(heap, 0, block);
  return n == (SIZE_T)-1 ? 0 : n;
}
static void Grew(uint64_t bytes) {
  gLive += bytes;
  if (gLive > gPeak) gPeak = gLive;
}
static LPVOID WINAPI CountingAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
  LPVOID block = gRealAlloc(heap, flags, bytes);
  Grew(BlockSize(heap, block));
  return block;
}
static LPVOID WINAPI CountingReAlloc(HANDLE heap, DWORD flags, LPVOID old, SIZE_T bytes) {
  SIZE_T before = BlockSize(heap, old);
  LPVOID block = gRealReAlloc(heap, flags, old, bytes);
  if (block) {
    gLive -= before;
    Grew(BlockSize(heap, block));
  }
  return block;
}
static BOOL WINAPI CountingFree(HANDLE heap, DWORD flags, LPVOID block) {
  gLive -= BlockSize(heap, block);
  return gRealFree(heap, flags, block);
}

static void Redirect(void** slot, void* to) {
  DWORD old;
  VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old);
  *slot = to;
  VirtualProtect(slot, sizeof *slot, old, &old);
}

static void Field(TAnsiString& line, const char* name, uint64_t value) {
  // DecimalText takes 32 bits: a value above 4 GiB is no figure for this program.
  line.Append(name).Append('=').Append(DecimalText(value > 0xFFFFFFFFu ? 0xFFFFFFFFu : (unsigned)value));
}

extern "C" void DecodeBenchMain() {
  gRealAlloc = (PFN_HeapAlloc)gImportHeapAlloc;
  gRealReAlloc = (PFN_HeapReAlloc)gImportHeapReAlloc;
  gRealFree = (PFN_HeapFree)gImportHeapFree;
  Redirect(&gImportHeapAlloc, (void*)CountingAlloc);
  Redirect(&gImportHeapReAlloc, (void*)CountingReAlloc);
  Redirect(&gImportHeapFree, (void*)CountingFree);

  HANDLE own = VerifyPackage();
  gPeak = gLive;
  uint64_t before = gLive;
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  {
    TStream input, output;
    DecodePayload(own, gHeader.payload32, input, output);
    QueryPerformanceCounter(&end);
  }

  uint64_t ticks = (uint64_t)(end.QuadPart - start.QuadPart);
  TAnsiString line;
  Field(line, "decode_us", ticks * 1000000u / (uint64_t)frequency.QuadPart);
  Field(line.Append(' '), "peak_heap", gPeak - before);
  line.Append('\n');

  HANDLE out = CreateFileA(Argument(1).CStr(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  if (out != INVALID_HANDLE_VALUE) {
    WriteFile(out, line.CStr(), (DWORD)line.Length(), &written, nullptr);
    CloseHandle(out);
  }
  ExitProcess(0);
}
