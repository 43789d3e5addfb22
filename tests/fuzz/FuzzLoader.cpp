// libFuzzer target: the whole loader sequence in the simulated Windows, with the fuzzer's
// bytes as the installer file.  The first four bytes choose the command line, the Windows
// version and its registry values, bitness, administrator membership and a few failures of
// the machine; the rest is the file.  Every run must end in one defined way: one message box, or one started engine.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "SimMachine.h"
#include "StubCore.h"

namespace {

struct Version {
  uint32_t major, minor, platform;
  const char *build, *display, *release;
};

const Version kVersions[] = {
    {4, 0, 1, nullptr, nullptr, nullptr},      {4, 10, 1, nullptr, nullptr, nullptr},
    {4, 90, 1, nullptr, nullptr, nullptr},     {4, 0, 2, nullptr, nullptr, nullptr},
    {5, 0, 2, nullptr, nullptr, nullptr},      {5, 1, 2, nullptr, nullptr, nullptr},
    {6, 0, 2, nullptr, nullptr, nullptr},      {6, 1, 2, nullptr, nullptr, nullptr},
    {6, 3, 2, nullptr, nullptr, nullptr},      {6, 4, 2, nullptr, nullptr, nullptr},
    {10, 0, 2, "17763", nullptr, "1809"},      {10, 0, 2, "19041", nullptr, "2004"},
    {10, 0, 2, "19042", "20H2", nullptr},      {10, 0, 2, "19043", "21H1", nullptr},
    {10, 0, 2, "19045", "22H2", nullptr},      {10, 0, 2, "22631", "23H2", nullptr},
    {10, 0, 2, "abc", nullptr, "9999999999"},  {10, 1, 2, nullptr, nullptr, nullptr},
    {12, 0, 2, nullptr, nullptr, nullptr},     {0, 0, 0, nullptr, nullptr, nullptr},  // query fails
};

const char kLaunchText[] = "The temporary copy of the setup package could not be executed.";

const uint64_t kHeapLimit = 64u << 20;

// Says what broke the rule before stopping, so that a finding explains itself.
[[noreturn]] void Fail(const char* rule, const simwin::Outcome& o) {
  fprintf(stderr, "fuzz_loader: %s (exited %d, code %u, %zu boxes, %zu calls)\n", rule, o.exited, o.exitCode,
          o.boxes.size(), o.calls.size());
  for (const simwin::Box& b : o.boxes) fprintf(stderr, "  box [%s] %s\n", b.caption.c_str(), b.text.c_str());
  size_t from = o.calls.size() > 40 ? o.calls.size() - 40 : 0;
  for (size_t i = from; i < o.calls.size(); i++) {
    fprintf(stderr, "  %s(", o.calls[i].name.c_str());
    for (const std::string& a : o.calls[i].args) fprintf(stderr, "%.60s, ", a.c_str());
    fprintf(stderr, ")\n");
  }
  abort();
}

uint64_t Round128K(uint64_t n) { return (n + 131071) & ~(uint64_t)131071; }

// The largest single block the header can justify: the checked region, a stream block, the
// decoder's dictionary (capped at the engine's size), or the loader's small blocks.
uint64_t JustifiedBlock(const std::string& file) {
  uint64_t most = 1u << 20;
  TPackageLocator l{};
  if (file.size() >= 152) memcpy(&l, file.data() + 128, sizeof l);
  if (l.checkedLength < 0x80000000u) most = std::max<uint64_t>(most, l.checkedLength);
  TPackageHeader h{};
  if (l.packageOffset && (uint64_t)l.packageOffset + sizeof h <= file.size())
    memcpy(&h, file.data() + l.packageOffset, sizeof h);
  for (const TPayloadEntry* e : {&h.payload32, &h.payload64}) {
    most = std::max(most, Round128K(e->packedSize));
    most = std::max(most, Round128K(e->unpackedSize) + (1u << 16));
  }
  return most;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  uint8_t cmd = data[0], os = data[1], probes = data[2], more = data[3];
  std::string file((const char*)data + 4, size - 4);

  simwin::Machine m;
  m.heapLimit = kHeapLimit;
  if (cmd & 0x40) {
    m.modulePath = "N:\\Setup\\setup.exe";
    m.mappedDrives["N:"] = "\\\\server\\share";
  }
  m.AddFile(m.modulePath, file);
  m.AddDirectory("D:\\Work");
  m.commandLine = "setup.exe";
  if (cmd & 0x01) m.commandLine += " /32";
  if (cmd & 0x02) m.commandLine += " /s";
  if (cmd & 0x04) m.commandLine += " /SILENT";
  if (cmd & 0x10) m.commandLine += " /temp D:\\Work";
  if (cmd & 0x20) m.commandLine += " \"two words\"";
  if (cmd & 0x08) m.commandLine += " /temp";
  m.codePage = (cmd & 0x80) ? 932 : 1252;

  const Version& v = kVersions[os % (sizeof kVersions / sizeof kVersions[0])];
  m.versionFails = v.major == 0;
  m.major = v.major, m.minor = v.minor, m.platformId = v.platform;
  m.servicePackMajor = (uint16_t)(os >> 5);
  m.registry.clear();
  if (v.build) m.registry["CurrentBuild"] = std::string(v.build) + '\0';
  if (v.display) m.registry["DisplayVersion"] = std::string(v.display) + '\0';
  if (v.release) m.registry["ReleaseId"] = std::string(v.release) + '\0';
  m.registryOpenFails = more & 0x04;
  // The Windows 10 and 11 steps at their bounds, and values no registry should hold.
  static const char* const kBuilds[] = {nullptr, "21999", "22000", "19041", "19042", "19043", "19044", nullptr};
  unsigned build = (more >> 3) & 7;
  if (build == 7)
    m.registry["CurrentBuild"] = std::string(65, '9');
  else if (kBuilds[build])
    m.registry["CurrentBuild"] = std::string(kBuilds[build]) + '\0';
  switch (more >> 6) {
    case 1: m.registry.erase("ReleaseId"), m.registry.erase("DisplayVersion"); break;
    case 2: m.registry["ReleaseId"] = std::string("1507", 5), m.registry["DisplayVersion"] = std::string(64, 'H'); break;
    case 3: m.registry["ReleaseId"] = "1234", m.registry["DisplayVersion"] = "%USER%"; break;
    default: break;
  }

  m.wow64 = (simwin::Wow64)(probes & 3);
  m.administrator = probes & 0x04;
  m.sidFails = probes & 0x08;
  m.checkTokenMembershipAbsent = probes & 0x10;
  m.createProcessFails = probes & 0x20;
  m.shellExecuteFails = probes & 0x40;
  if (probes & 0x80) m.diskFree = 1000;
  if (more & 0x01) m.appearBeforeCreate.insert(m.tempPath + "setup.exe");
  if (more & 0x02) m.tempPath = "";

  simwin::Outcome o = simwin::RunInProcess(m, [] {
    ResetProcessState();  // as a new process would have it
    Stub98Main();
  });

  // One defined ending: exit code 0 after exactly one box or one started engine.
  bool started = (o.Called("CreateProcessA") && !m.createProcessFails) ||
                 (o.Called("ShellExecuteExA") && !m.shellExecuteFails);
  if (!o.exited || o.exitCode != 0 || o.boxes.size() + (started ? 1 : 0) != 1)
    Fail("not one box or one started engine, then exit code 0", o);
  bool launchFailed = false;
  if (!o.boxes.empty()) {
    const simwin::Box& b = o.boxes[0];
    if (!b.ownerNull || b.style != 0x10 || b.caption != m.modulePath) Fail("a box not in the loader's style", o);
    launchFailed = b.text.rfind(kLaunchText, 0) == 0;
  }
  // A copy stays only where the rules keep one: a detached start, or a start that failed.
  TPackageLocator l{};
  if (file.size() >= 152) memcpy(&l, file.data() + 128, sizeof l);
  bool mayKeepCopy = launchFailed || (started && l.detachedMinSize != 0);
  size_t expectedFiles = m.files.size();
  for (const simwin::Call& c : o.CallsTo("CreateFileA"))  // the other installer's copy, made in the race
    if (m.appearBeforeCreate.count(c.Arg(0)) && c.Arg(4) == "1") expectedFiles++;
  if (o.files.size() != expectedFiles && !(mayKeepCopy && o.files.size() == expectedFiles + 1))
    Fail("a file left behind", o);
  if (o.files.at(m.modulePath).data != file) Fail("the installer file changed", o);
  // No block larger than the header can justify was ever asked for.
  if (o.largestHeapRequest > JustifiedBlock(file)) Fail("a block larger than the header justifies", o);
  return 0;
}
