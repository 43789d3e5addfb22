// Helpers shared by the unit tests: machines, installers and the fixed texts.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "SimMachine.h"
#include "StubCore.h"

namespace test {

using simwin::Machine;
using simwin::Outcome;

inline Outcome RunLoaderEntry(const Machine& m) { return simwin::Run(m, [] { Stub98Main(); }); }

// The notes a body made, for bodies that report values.
inline std::vector<std::string> Notes(const Machine& m, const std::function<void()>& body) {
  Outcome o = simwin::Run(m, body);
  EXPECT_FALSE(o.crashed);
  return o.notes;
}

extern const char* const kTextPackageDamaged;
extern const char* const kTextTruncated;
extern const char* const kTextTempCopy;
extern const char* const kTextLaunch;

// Expects exactly one box with the fixed text and the installer's path as caption, shown
// as the loader shows every box, and exit code 0.
void ExpectFatal(const Outcome& o, const char* text, const std::string& caption = "C:\\Downloads\\setup.exe");

}  // namespace test

namespace test {

// An installer for the simulated machine: a stand-in image (the loader never parses its
// own headers), the header, then whatever is added, with offsets absolute.
struct Package {
  Package();
  std::string image;
  TPackageHeader header;
  std::string body;  // behind the header

  uint32_t PackageOffset() const { return (uint32_t)image.size(); }
  uint32_t Here() const { return PackageOffset() + (uint32_t)sizeof header + (uint32_t)body.size(); }
  uint32_t Add(const std::string& bytes);
  // Encoded with kestrune-pack's encoder; sets the header's properties and the entry.
  TPayloadEntry AddEngine(const std::string& data, int bits);
  TPackageMessage AddMessage(const std::u16string& text, TPackageMessage& field);
  // The whole file, with the locator filled in for it.
  std::string Finish(uint32_t detachedMinSize = 0) const;
};

// Engine-like bytes: compressible, not trivial.
std::string EngineBytes(size_t size, unsigned seed = 1);
// Raw LZMA1 by the xz command (an encoder independent of ours), lc 3 lp 0 pb 2.
std::string XzRawEncode(const std::string& data, uint32_t dictSize);
std::string Utf16(const std::u16string& text);

// A machine whose module file is the given installer.
Machine MachineWith(const std::string& installer);

}  // namespace test
