// The loader sequence: one straight pass, no retries.  Nothing is written to disk until the
// package has proved whole, the engine fits this Windows and has decoded to its exact size.
#include "StubCore.h"

static void WriteEngineCopy(const TStream& engine, uint32_t size, TAnsiString& copyPath) {
  TAnsiString folder = SelectTempFolder();
  for (unsigned n = 1;; n++) {
    copyPath = MakeTempCopyPath(folder, &n);
    if (WriteTempCopy(copyPath, engine, size)) return;
  }
}

void RunLoader() {
  HANDLE ownFile = VerifyPackage();
  TPayloadEntry payload = SelectPayload(ownFile);
  CheckWindowsVersion(ownFile, gHeader);

  TAnsiString copyPath;
  {
    TStream input;   // created first, released second
    TStream output;  // created second, released first
    DecodePayload(ownFile, payload, input, output);
    WriteEngineCopy(output, payload.unpackedSize, copyPath);
  }
  // The engine reads the package from the installer file itself: let go of it first.
  CloseHandle(ownFile);

  TAnsiString parameters = BuildEngineParameters();
  StartSetupEngine(copyPath, parameters);
}

#ifndef _WIN32
void ResetProcessState() {
  StubZero(&gLocator, sizeof gLocator);
  StubZero(&gHeader, sizeof gHeader);
  StubZero(&gVersionInfo, sizeof gVersionInfo);
  gInOutOfMemory = false;
  gCheckTokenMembership = nullptr;
}
#endif
