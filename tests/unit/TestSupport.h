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
