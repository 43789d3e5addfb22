// The loader sequence and its steps.  Every step that fails ends the process through
// ShowFatalError or ShowPackageMessage; no step returns an error.
#pragma once

#include <stdint.h>

#include "AnsiString.h"
#include "NoRTLStream.h"
#include "StubMemory.h"
#include "StubTypes.h"
#include "Win32.h"

// ---- Run state: filled once by the step named, only read afterwards.
extern TPackageLocator gLocator;    // VerifyPackage
extern TPackageHeader gHeader;      // VerifyPackage
extern OSVERSIONINFOA gVersionInfo; // CheckWindowsVersion; all zero when the query failed

// Process-wide state of single steps: the out-of-memory guard and the cached
// CheckTokenMembership entry point.
extern bool gInOutOfMemory;
extern PFN_CheckTokenMembership gCheckTokenMembership;

#ifndef _WIN32
// Host builds only: puts every process-wide record back as a new process has it, for a
// harness that runs the loader many times in one process.
void ResetProcessState();
#endif

// ---- The entry and the sequence.
extern "C" [[noreturn]] void Stub98Main();
void RunLoader();

// ---- Command line and paths (StubCommandLine.cpp).  Arguments 1..ArgumentCount() are
// never empty; argument 0 is the module's full path.
TAnsiString Argument(int index);
int ArgumentCount();
TAnsiString ExtractDirectory(const TAnsiString& path);
TAnsiString ExtractName(const TAnsiString& path);
// True when the path's last character (a whole double-byte one included) is a backslash.
bool EndsWithSeparator(const TAnsiString& path);
bool FileExists(const TAnsiString& path);
bool SameTextAscii(const TAnsiString& a, const char* b);
bool Contains(const TAnsiString& text, const char* part);

// ---- Messages (StubMessages.cpp).
enum TFatalKey { ErrPackageDamaged, ErrTruncated, ErrTempCopy, ErrLaunch, ErrPathCharacters };
[[noreturn]] void ShowFatalError(TFatalKey key);
// Reads the text from the own file, puts the name (when not empty) in place of "%USER%"
// and then "%user%", and shows it.
[[noreturn]] void ShowPackageMessage(HANDLE ownFile, const TPackageMessage& message, const TAnsiString& name);
// The fixed text of a key; for ErrPathCharacters with the path in its middle.
TAnsiString FatalText(TFatalKey key, const TAnsiString& path);

// ---- Reading the own file (StubVerify.cpp).  An absolute seek then one ReadFile; true only
// when exactly count bytes arrived.  An offset the seek cannot reach is a failed read.
bool ReadAt(HANDLE file, uint32_t offset, void* buffer, uint32_t count);
HANDLE VerifyPackage();

// ---- Payload (StubPayload.cpp).
bool IsWow64();
TPayloadEntry SelectPayload(HANDLE ownFile);
// Fills input and output; output holds exactly entry.unpackedSize bytes afterwards.
void DecodePayload(HANDLE ownFile, const TPayloadEntry& entry, TStream& input, TStream& output);

// ---- Windows version gate (StubVersionGate.cpp).
void CheckWindowsVersion(HANDLE ownFile, const TPackageHeader& header);
void CheckWindows2000ServicePack(HANDLE ownFile);
// The number rule of registry values: leading decimal digits within the size read, as a
// 32-bit signed number that wraps on overflow.
int32_t RegistryNumber(const uint8_t* data, uint32_t size);

// ---- Temporary copy (StubTempCopy.cpp).
TAnsiString SelectTempFolder();
// The copy's name in the folder, starting the search at number *n (1: the name itself) and
// leaving in *n the number taken.
TAnsiString MakeTempCopyPath(const TAnsiString& folder, unsigned* n);
// Creates the copy as a new file and writes the engine with one call.  Returns false only
// when the name was taken between the probe and the creation; every other failure ends in
// ErrTempCopy.
bool WriteTempCopy(const TAnsiString& path, const TStream& engine, uint32_t count);

// ---- Launch (StubLaunch.cpp).
TAnsiString ToUncPath(const TAnsiString& path);
BOOL IsAdministrator();
TAnsiString BuildEngineParameters();
void StartSetupEngine(const TAnsiString& copyPath, const TAnsiString& parameters);
// Loads a DLL from the system folder by its full path; null when it cannot.
HMODULE LoadSystemLibrary(const char* name);
