// Opening the installer's own file and proving the package complete and undamaged: the
// locator at 128, the size test, the CRC-32 of the checked region, the header.
#include "CRC32.h"
#include "StubCore.h"

TPackageLocator gLocator;
TPackageHeader gHeader;

bool ReadAt(HANDLE file, uint32_t offset, void* buffer, uint32_t count) {
  // SetFilePointer takes a signed 32-bit distance: 2^31 and beyond cannot be reached, and a
  // seek that does not land where asked would read whatever lies at the old position.
  if (offset > 0x7FFFFFFFu) return false;
  if (SetFilePointer(file, (LONG)offset, nullptr, FILE_BEGIN) != offset) return false;
  DWORD read = 0;
  ReadFile(file, buffer, count, &read, nullptr);
  return read == count;
}

static bool FileLongEnough(HANDLE file) {
  DWORD high = 0;
  DWORD low = GetFileSize(file, &high);
  if (gLocator.detachedMinSize != 0) return gLocator.detachedMinSize <= low;
  int64_t size = (int64_t)(((uint64_t)high << 32) | low);
  return gLocator.expectedFileSize <= size;
}

static void CheckRegionCrc(HANDLE file) {
  uint32_t length = gLocator.checkedLength;
  if (length == 0) {
    // The CRC-32 of nothing is 0.
    if (gLocator.checkedCrc != 0) ShowFatalError(ErrPackageDamaged);
    return;
  }
  // The region is held whole in memory; a length of 2^31 or more is no region at all.
  if (length > 0x7FFFFFFFu) ShowFatalError(ErrPackageDamaged);
  void* buffer = StubAlloc(length);
  if (!buffer) StubOutOfMemory();
  if (!ReadAt(file, gLocator.packageOffset, buffer, length)) ShowFatalError(ErrPackageDamaged);
  if (ComputeCrc32(buffer, (int32_t)length) != gLocator.checkedCrc) ShowFatalError(ErrPackageDamaged);
  StubFree(buffer);
}

HANDLE VerifyPackage() {
  TAnsiString self = Argument(0);
  HANDLE file = CreateFileA(self.CStr(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) ShowFatalError(ErrPackageDamaged);
  if (!ReadAt(file, kLocatorFileOffset, &gLocator, sizeof gLocator) || gLocator.packageOffset == 0)
    ShowFatalError(ErrPackageDamaged);
  if (!FileLongEnough(file)) ShowFatalError(ErrTruncated);
  CheckRegionCrc(file);
  // Read again after the CRC-32 test, from the file, not from the region's buffer.
  if (!ReadAt(file, gLocator.packageOffset, &gHeader, sizeof gHeader)) ShowFatalError(ErrPackageDamaged);
  return file;
}
