// Choosing the setup engine by the bitness of Windows, and decoding it with liblzma.
#include <lzma.h>

#include "LzmaSetup.h"
#include "StubCore.h"

bool IsWow64() {
  HMODULE kernel = GetModuleHandleA("kernel32");
  if (!kernel) return false;
  PFN_IsWow64Process isWow64Process = (PFN_IsWow64Process)(void*)GetProcAddress(kernel, "IsWow64Process");
  if (!isWow64Process) return false;
  BOOL wow64 = FALSE;
  if (!isWow64Process(GetCurrentProcess(), &wow64)) return false;
  return wow64 != 0;
}

static bool HasOption32() {
  for (int i = ArgumentCount(); i >= 1; i--)
    if (Argument(i).Equals("/32")) return true;
  return false;
}

TPayloadEntry SelectPayload(HANDLE ownFile) {
  const TPayloadEntry& a = gHeader.payload32;
  const TPayloadEntry& b = gHeader.payload64;
  if (a.offset == 0) {
    if (IsWow64()) return b;
    ShowPackageMessage(ownFile, gHeader.bitnessMessage, TAnsiString());
  }
  if (b.offset == kPayload64Refused) {
    if (!IsWow64()) return a;
    ShowPackageMessage(ownFile, gHeader.bitnessMessage, TAnsiString());
  }
  if (b.offset == 0) return a;
  if (HasOption32()) return a;
  return IsWow64() ? b : a;
}

// liblzma's blocks come from the process heap like every other block of the loader.
static void* LzmaAlloc(void*, size_t count, size_t size) {
  if (size && count > (size_t)-1 / size) return nullptr;
  return StubAlloc(count * size);
}
static void LzmaFree(void*, void* block) { StubFree(block); }
static const lzma_allocator kLzmaAllocator = {LzmaAlloc, LzmaFree, nullptr};

// The decoder for the header's properties and a stream whose decoded size is known.
static bool SetUpDecoder(lzma_stream& strm, uint32_t unpackedSize) {
  lzma_options_lzma options;
  if (!LzmaOptionsFromProperties(gHeader.lzmaProperties, unpackedSize, &options)) return false;
  lzma_filter filters[2];
  filters[0].id = LZMA_FILTER_LZMA1EXT;
  filters[0].options = &options;
  filters[1].id = LZMA_VLI_UNKNOWN;
  filters[1].options = nullptr;
  strm.allocator = &kLzmaAllocator;
  lzma_ret ret = lzma_raw_decoder(&strm, filters);
  if (ret == LZMA_MEM_ERROR) StubOutOfMemory();
  return ret == LZMA_OK;
}

void DecodePayload(HANDLE ownFile, const TPayloadEntry& entry, TStream& input, TStream& output) {
  // Sizes of 2^31 or more can be neither held in one block nor matched by any output.
  if (entry.packedSize > 0x7FFFFFFFu || entry.unpackedSize > 0x7FFFFFFFu) ShowFatalError(ErrPackageDamaged);
  if (!input.SetSize((int32_t)entry.packedSize)) StubOutOfMemory();
  if (input.GetSize() > 0 && !ReadAt(ownFile, entry.offset, input.Memory, (uint32_t)input.GetSize()))
    ShowFatalError(ErrPackageDamaged);

  lzma_stream strm = LZMA_STREAM_INIT;
  if (!SetUpDecoder(strm, entry.unpackedSize)) ShowFatalError(ErrPackageDamaged);
  // The output block is taken once at its final size and liblzma writes straight into it:
  // growing it step by step would copy the whole engine at every step.
  if (!output.SetSize((int32_t)entry.unpackedSize)) StubOutOfMemory();
  if (entry.unpackedSize > 0) {
    strm.next_in = input.Memory;
    strm.avail_in = (size_t)input.GetSize();
    strm.next_out = output.Memory;
    strm.avail_out = entry.unpackedSize;
    lzma_ret ret;
    do {
      ret = lzma_code(&strm, LZMA_FINISH);
    } while (ret == LZMA_OK);
    if (ret == LZMA_MEM_ERROR) StubOutOfMemory();
    if (ret != LZMA_STREAM_END || strm.total_out != entry.unpackedSize) ShowFatalError(ErrPackageDamaged);
  }
  lzma_end(&strm);
}
