// The Windows version gate: is the running Windows one the package supports?  Refusal shows
// the package's own message with the version's name; an unreadable system state accepts.
#include "StubCore.h"

OSVERSIONINFOA gVersionInfo;

static const char kCurrentVersionKey[] = "Software\\Microsoft\\Windows NT\\CurrentVersion";
static const uint32_t kRegistryBufferSize = 64;

[[noreturn]] static void Refuse(HANDLE ownFile, const TAnsiString& name) {
  ShowPackageMessage(ownFile, gHeader.unsupportedWindowsMessage, name);
}

static char Digit(uint32_t n) { return (char)('0' + n); }

int32_t RegistryNumber(const uint8_t* data, uint32_t size) {
  uint32_t n = 0;  // unsigned, so that a long run of digits wraps instead of overflowing
  for (uint32_t i = 0; i < size && data[i] >= '0' && data[i] <= '9'; i++) n = n * 10 + (uint32_t)(data[i] - '0');
  return (int32_t)n;
}

// One value of the open key into the 64-byte buffer; false when it cannot be read, which
// includes a value longer than the buffer.
static bool ReadValue(HKEY key, const char* name, uint8_t* buffer, DWORD* size) {
  *size = kRegistryBufferSize;
  DWORD type = 0;
  return RegQueryValueExA(key, name, nullptr, &type, buffer, size) == ERROR_SUCCESS;
}

// The buffer's text up to its first zero byte, or all of it.
static TAnsiString BufferText(const uint8_t* buffer) {
  int n = 0;
  while (n < (int)kRegistryBufferSize && buffer[n] != 0) n++;
  return TAnsiString((const char*)buffer, n);
}

static const char* ReleaseName(int32_t release) {
  switch (release) {
    case 1507: return "Windows 10 1507 (Original Release)";
    case 1511: return "Windows 10 1511 (November Update)";
    case 1607: return "Windows 10 1607 (Anniversary Update)";
    case 1703: return "Windows 10 1703 (Creators Update)";
    case 1709: return "Windows 10 1709 (Fall Creators Update)";
    case 1803: return "Windows 10 1803 (April 2018 Update)";
    case 1809: return "Windows 10 1809 (October 2018 Update)";
    case 1903: return "Windows 10 1903 (May 2019 Update)";
    case 1909: return "Windows 10 1909 (November 2019 Update)";
    case 2004: return "Windows 10 2004 (May 2020 Update)";
    default: return nullptr;
  }
}

static bool InReleaseBounds(const TPackageHeader& header, uint16_t release) {
  return header.minReleaseId <= release && release <= header.maxReleaseId;
}

static void CheckWindows10And11(HANDLE ownFile, const TPackageHeader& header) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCurrentVersionKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  // Zeroed once: a value stored without its terminator then reads to the end of what this
  // or an earlier value left, never into whatever the stack held.
  uint8_t buffer[kRegistryBufferSize];
  StubZero(buffer, sizeof buffer);
  DWORD size;
  if (!ReadValue(key, "CurrentBuild", buffer, &size)) {
    RegCloseKey(key);
    return;
  }
  int32_t build = RegistryNumber(buffer, size);
  const TWindowsVersionSet& set = header.supportedVersions;
  if (build >= 22000) {
    if (!VersionSetHas(set, wvWin11)) Refuse(ownFile, "Windows 11");
    RegCloseKey(key);
    return;
  }
  if (!VersionSetHas(set, wvWin10)) Refuse(ownFile, "Windows 10");
  if (build >= 19042) {
    TAnsiString display;
    if (ReadValue(key, "DisplayVersion", buffer, &size)) display = BufferText(buffer);
    if (build == 19042) {
      if (!InReleaseBounds(header, 2009)) Refuse(ownFile, "Windows 10 20H2 (October 2020 Update)");
    } else if (build == 19043) {
      if (!InReleaseBounds(header, 2105)) Refuse(ownFile, "Windows 10 21H1 (May 2021 Update)");
    } else if (header.maxReleaseId < kNoMaxReleaseId) {
      Refuse(ownFile, TAnsiString("Windows 10 ").Append(display));
    }
    RegCloseKey(key);
    return;
  }
  if (!ReadValue(key, "ReleaseId", buffer, &size)) {
    RegCloseKey(key);
    return;
  }
  int32_t release = RegistryNumber(buffer, size);
  if (!InReleaseBounds(header, (uint16_t)release)) {
    const char* name = ReleaseName(release);
    Refuse(ownFile, name ? TAnsiString(name) : TAnsiString("Windows 10 ").Append(BufferText(buffer)));
  }
  RegCloseKey(key);
}

void CheckWindows2000ServicePack(HANDLE ownFile) {
  OSVERSIONINFOEXA info;
  StubZero(&info, sizeof info);
  info.dwOSVersionInfoSize = 156;
  if (!GetVersionExA((OSVERSIONINFOA*)&info)) return;
  uint16_t sp = info.wServicePackMajor;
  if (sp == 0) Refuse(ownFile, "Windows 2000 (no Service Pack)");
  if (sp <= 3) Refuse(ownFile, TAnsiString("Windows 2000 Service Pack ").Append(Digit(sp)));
}

void CheckWindowsVersion(HANDLE ownFile, const TPackageHeader& header) {
  StubZero(&gVersionInfo, sizeof gVersionInfo);
  gVersionInfo.dwOSVersionInfoSize = 148;
  if (!GetVersionExA(&gVersionInfo)) {
    StubZero(&gVersionInfo, sizeof gVersionInfo);
    return;
  }
  const TWindowsVersionSet& set = header.supportedVersions;
  uint32_t major = gVersionInfo.dwMajorVersion;
  uint32_t minor = gVersionInfo.dwMinorVersion;
  unsigned bit;
  const char* name;
  if (major == 4) {
    if (gVersionInfo.dwPlatformId == VER_PLATFORM_WIN32_NT) bit = wvWinNT4, name = "Windows NT 4";
    else if (minor <= 3) bit = wvWin95, name = "Windows 95";
    else if (minor == 10) bit = wvWin98, name = "Windows 98";
    else bit = wvWinME, name = "Windows ME";
  } else if (major == 5) {
    if (minor == 0) {
      if (!VersionSetHas(set, wvWin2000)) Refuse(ownFile, "Windows 2000");
      bool family95 = VersionSetHas(set, wvWin95) || VersionSetHas(set, wvWin98) || VersionSetHas(set, wvWinME);
      if (!family95) CheckWindows2000ServicePack(ownFile);
      return;
    }
    bit = wvWinXP, name = "Windows XP";
  } else if (major == 6) {
    if (minor == 0) bit = wvWinVista, name = "Windows Vista";
    else if (minor == 1) bit = wvWin7, name = "Windows 7";
    else if (minor == 2) bit = wvWin8, name = "Windows 8";
    else if (minor == 3) bit = wvWin81, name = "Windows 8.1";
    else Refuse(ownFile, TAnsiString("Windows 6.").Append(Digit(minor)));
  } else if ((major == 10 || major == 11) && minor == 0) {
    CheckWindows10And11(ownFile, header);
    return;
  } else if (major == 10 || major == 11) {
    if (!VersionSetHas(set, wvOther)) Refuse(ownFile, TAnsiString("Windows 10.").Append(Digit(minor)));
    return;
  } else {
    if (!VersionSetHas(set, wvOther)) {
      TAnsiString composed("Windows ");
      composed.Append(Digit(major / 10)).Append(Digit(major % 10)).Append('.').Append(Digit(minor));
      Refuse(ownFile, composed);
    }
    return;
  }
  if (!VersionSetHas(set, bit)) Refuse(ownFile, name);
}
