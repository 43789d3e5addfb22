// The records of an installer's package.  Shared byte for byte by the loader and by
// kestrune-pack: every integer is little-endian, every record packed, every offset absolute
// from the start of the installer file.
#pragma once

#include <stddef.h>
#include <stdint.h>

#pragma pack(push, 1)

// 24 bytes at file offset 128, inside the image's DOS stub area.
struct TPackageLocator {
  uint32_t packageOffset;    // file offset of the header; 0: nothing attached
  uint32_t checkedLength;    // bytes of the CRC-checked region from packageOffset
  uint32_t checkedCrc;       // CRC-32 of that region
  int64_t expectedFileSize;  // the file must be at least this long
  uint32_t detachedMinSize;  // nonzero: size test against this, and no wait for the engine
};

struct TPayloadEntry {
  uint32_t offset;        // compressed engine; 0 and (payload64 only) 0xFFFFFFFF are special
  uint32_t packedSize;
  uint32_t unpackedSize;
};

struct TPackageMessage {
  uint32_t offset;  // UTF-16LE text, no BOM, no terminator
  uint16_t length;  // in UTF-16 code units
};

// One bit per TWindowsVersion ordinal: ordinal n is bit (n mod 8) of byte (n div 8).
struct TWindowsVersionSet {
  uint8_t bits[8];
};

struct TPackageHeader {
  uint8_t lzmaProperties[5];
  TWindowsVersionSet supportedVersions;
  uint16_t minReleaseId;
  uint16_t maxReleaseId;  // 9999 or more: no upper bound
  uint8_t elevationMode;  // ElevationMode
  TPayloadEntry payload32;
  TPayloadEntry payload64;
  uint32_t setupDataOffset;  // for the engine only
  uint8_t reserved[12];
  TPackageMessage bitnessMessage;
  TPackageMessage unsupportedWindowsMessage;
};

#pragma pack(pop)

enum TWindowsVersion : uint8_t {
  wvWin95 = 0,
  wvWin98 = 1,
  wvWinME = 2,
  wvWinNT4 = 3,
  wvWin2000 = 4,
  wvWinXP = 5,
  wvWinVista = 6,
  wvWin7 = 7,
  wvWin8 = 8,
  wvWin81 = 9,
  wvWin10 = 10,
  wvWin11 = 11,
  wvOther = 63,
};

enum ElevationMode : uint8_t {
  emAsInvoker = 0,
  emRunAs = 1,
  emNoAdmin = 2,
};

const uint32_t kLocatorFileOffset = 128;
const uint32_t kPayload64Refused = 0xFFFFFFFFu;  // payload64.offset: 32-bit engine only, 64-bit Windows refused
const uint16_t kNoMaxReleaseId = 9999;

inline bool VersionSetHas(const TWindowsVersionSet& set, unsigned ordinal) {
  return (set.bits[ordinal / 8] >> (ordinal % 8)) & 1;
}

inline void VersionSetAdd(TWindowsVersionSet& set, unsigned ordinal) {
  set.bits[ordinal / 8] = (uint8_t)(set.bits[ordinal / 8] | (1u << (ordinal % 8)));
}

static_assert(sizeof(TPackageLocator) == 24, "locator size");
static_assert(offsetof(TPackageLocator, packageOffset) == 0, "locator layout");
static_assert(offsetof(TPackageLocator, checkedLength) == 4, "locator layout");
static_assert(offsetof(TPackageLocator, checkedCrc) == 8, "locator layout");
static_assert(offsetof(TPackageLocator, expectedFileSize) == 12, "locator layout");
static_assert(offsetof(TPackageLocator, detachedMinSize) == 20, "locator layout");

static_assert(sizeof(TPayloadEntry) == 12, "payload entry size");
static_assert(offsetof(TPayloadEntry, offset) == 0, "payload entry layout");
static_assert(offsetof(TPayloadEntry, packedSize) == 4, "payload entry layout");
static_assert(offsetof(TPayloadEntry, unpackedSize) == 8, "payload entry layout");

static_assert(sizeof(TPackageMessage) == 6, "message size");
static_assert(offsetof(TPackageMessage, offset) == 0, "message layout");
static_assert(offsetof(TPackageMessage, length) == 4, "message layout");

static_assert(sizeof(TWindowsVersionSet) == 8, "version set size");

static_assert(sizeof(TPackageHeader) == 70, "header size");
static_assert(offsetof(TPackageHeader, lzmaProperties) == 0x00, "header layout");
static_assert(offsetof(TPackageHeader, supportedVersions) == 0x05, "header layout");
static_assert(offsetof(TPackageHeader, minReleaseId) == 0x0D, "header layout");
static_assert(offsetof(TPackageHeader, maxReleaseId) == 0x0F, "header layout");
static_assert(offsetof(TPackageHeader, elevationMode) == 0x11, "header layout");
static_assert(offsetof(TPackageHeader, payload32) == 0x12, "header layout");
static_assert(offsetof(TPackageHeader, payload64) == 0x1E, "header layout");
static_assert(offsetof(TPackageHeader, setupDataOffset) == 0x2A, "header layout");
static_assert(offsetof(TPackageHeader, reserved) == 0x2E, "header layout");
static_assert(offsetof(TPackageHeader, bitnessMessage) == 0x3A, "header layout");
static_assert(offsetof(TPackageHeader, unsupportedWindowsMessage) == 0x40, "header layout");
