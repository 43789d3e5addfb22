// libFuzzer target: kestrune-pack's inspect and verify over any bytes.  They must never
// crash, hang or read outside the file; verify's verdict must agree with its checks.
#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "Pack.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string file((const char*)data, size);
  kpack::Installer in = kpack::ReadInstaller(file);
  if (in.hasHeader) {
    kpack::ReadMessage(file, in.header.bitnessMessage);
    kpack::ReadMessage(file, in.header.unsupportedWindowsMessage);
    kpack::BitnessName(in.header);
    kpack::ElevationName(in.header.elevationMode);
  }
  kpack::ReadVersionBlock(file);
  // A file inspect takes for an installer has a header that it read.
  if (!kpack::InstallerProblem(file, in) && !in.hasHeader) abort();
  std::vector<kpack::Check> checks = kpack::VerifyInstaller(file);
  if (checks.empty()) abort();
  for (const kpack::Check& c : checks)
    if (c.name.empty() || c.detail.empty()) abort();
  return 0;
}
