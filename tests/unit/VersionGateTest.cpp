// The Windows version gate: the decision table, the Windows 2000 rule, and the Windows 10
// and 11 steps over the registry.
#include "TestSupport.h"

namespace {

using namespace test;

struct Gate {
  uint32_t major = 10, minor = 0, platform = 2;
  std::vector<unsigned> bits;  // supported ordinals
  uint16_t minRelease = 0, maxRelease = 9999;
};

// Leaves a stretch of the stack below the caller full of non-zero bytes, so that a buffer
// that the next call does not initialise shows it.
__attribute__((noinline)) void DirtyStack() {
  volatile uint8_t junk[16384];
  for (size_t i = 0; i < sizeof junk; i++) junk[i] = 0xA5;
}

// Runs the gate with the message "%USER%", so that a refusal shows the name alone.
Outcome Check(const Gate& g, const std::function<void(Machine&)>& setUp = nullptr, bool dirtyStack = false) {
  Package p;
  p.AddEngine(EngineBytes(100), 32);
  memset(&p.header.supportedVersions, 0, sizeof p.header.supportedVersions);
  for (unsigned b : g.bits) VersionSetAdd(p.header.supportedVersions, b);
  p.header.minReleaseId = g.minRelease;
  p.header.maxReleaseId = g.maxRelease;
  p.AddMessage(u"%USER%", p.header.unsupportedWindowsMessage);
  Machine m = MachineWith(p.Finish());
  m.major = g.major, m.minor = g.minor, m.platformId = g.platform;
  if (setUp) setUp(m);
  return simwin::Run(m, [dirtyStack] {
    HANDLE h = VerifyPackage();
    if (dirtyStack) DirtyStack();
    CheckWindowsVersion(h, gHeader);
    simwin::Note("accepted " + std::to_string(gVersionInfo.dwMajorVersion));
  });
}

std::vector<unsigned> AllBut(unsigned bit) {
  std::vector<unsigned> bits;
  for (unsigned b : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 11u, 63u})
    if (b != bit) bits.push_back(b);
  return bits;
}

void ExpectAccepted(const Outcome& o) {
  ASSERT_FALSE(o.crashed);
  EXPECT_TRUE(o.boxes.empty()) << (o.boxes.empty() ? "" : o.boxes[0].text);
  ASSERT_EQ(o.notes.size(), 1u);
  EXPECT_EQ(o.openRegistryKeys, 0) << "the key stays open";
}

void ExpectRefused(const Outcome& o, const std::string& name) {
  ASSERT_FALSE(o.crashed);
  ASSERT_EQ(o.boxes.size(), 1u);
  EXPECT_EQ(o.boxes[0].text, name);
  EXPECT_EQ(o.boxes[0].caption, "C:\\Downloads\\setup.exe");
  EXPECT_TRUE(o.notes.empty());
  EXPECT_EQ(o.exitCode, 0u);
}

TEST(VersionGate, DecisionTableEachRowWithItsBitSetAndClear) {
  struct Row {
    uint32_t major, minor, platform;
    unsigned bit;
    const char* name;
  } rows[] = {
      {4, 0, 2, 3, "Windows NT 4"}, {4, 7, 2, 3, "Windows NT 4"},  {4, 0, 1, 0, "Windows 95"},
      {4, 3, 1, 0, "Windows 95"},   {4, 10, 1, 1, "Windows 98"},   {4, 90, 1, 2, "Windows ME"},
      {4, 4, 0, 2, "Windows ME"},   {5, 1, 2, 5, "Windows XP"},    {5, 2, 2, 5, "Windows XP"},
      {6, 0, 2, 6, "Windows Vista"}, {6, 1, 2, 7, "Windows 7"},    {6, 2, 2, 8, "Windows 8"},
      {6, 3, 2, 9, "Windows 8.1"},  {10, 1, 2, 63, "Windows 10.1"}, {11, 1, 2, 63, "Windows 10.1"},
      {12, 0, 2, 63, "Windows 12.0"}, {7, 0, 2, 63, "Windows 07.0"}, {3, 51, 2, 63, "Windows 03.c"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::to_string(r.major) + "." + std::to_string(r.minor) + " platform " + std::to_string(r.platform));
    Gate g;
    g.major = r.major, g.minor = r.minor, g.platform = r.platform;
    g.bits = {r.bit};
    ExpectAccepted(Check(g));
    g.bits = AllBut(r.bit);
    ExpectRefused(Check(g), r.name);
  }
}

TEST(VersionGate, Windows6Point4IsRefusedWhateverTheBits) {
  Gate g;
  g.major = 6, g.minor = 4;
  g.bits = AllBut(99);
  ExpectRefused(Check(g), "Windows 6.4");
}

TEST(VersionGate, QueryAsksWithSize148AndAFailureAcceptsWithoutTheRegistry) {
  Gate g;
  g.bits = {};
  Outcome o = Check(g, [](Machine& m) { m.versionFails = true; });
  ExpectAccepted(o);
  EXPECT_EQ(o.notes[0], "accepted 0");  // the launch sees major version 0
  EXPECT_EQ(o.First("GetVersionExA")->Arg(0), "148");
  EXPECT_FALSE(o.Called("RegOpenKeyExA"));
}

TEST(VersionGate, Windows2000Rule) {
  struct Row {
    std::vector<unsigned> bits;
    int servicePack;  // -1: the query fails
    const char* refusal;  // nullptr: accepted
    int queries;
  } rows[] = {
      {{1, 4}, 3, nullptr, 1},  // a 95-family bit: the service pack is not consulted
      {{0, 4}, 0, nullptr, 1},
      {{2, 4}, 1, nullptr, 1},
      {{4}, 0, "Windows 2000 (no Service Pack)", 2},
      {{4}, 1, "Windows 2000 Service Pack 1", 2},
      {{4}, 2, "Windows 2000 Service Pack 2", 2},
      {{4}, 3, "Windows 2000 Service Pack 3", 2},
      {{4}, 4, nullptr, 2},
      {{4}, 5, nullptr, 2},
      {{4}, -1, nullptr, 2},
      {{0, 1, 2, 3, 5, 63}, 4, "Windows 2000", 1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::to_string(r.servicePack) + (r.refusal ? r.refusal : " accepted"));
    Gate g;
    g.major = 5, g.minor = 0, g.bits = r.bits;
    Outcome o = Check(g, [&](Machine& m) {
      m.servicePackMajor = (uint16_t)(r.servicePack < 0 ? 0 : r.servicePack);
      m.servicePackFails = r.servicePack < 0;
    });
    if (r.refusal)
      ExpectRefused(o, r.refusal);
    else
      ExpectAccepted(o);
    auto queries = o.CallsTo("GetVersionExA");
    ASSERT_EQ((int)queries.size(), r.queries);
    if (r.queries == 2) {
      EXPECT_EQ(queries[1].Arg(0), "156");
    }
  }
}

// The registry as the Windows 10 and 11 steps see it: raw value bytes, "-" for missing.
struct Registry {
  std::string build, display, release;
};

Outcome CheckWindows10(Gate g, const Registry& r, bool openFails = false, bool dirtyStack = false) {
  return Check(
      g,
      [&](Machine& m) {
    m.registryOpenFails = openFails;
    m.registry.clear();
    if (r.build != "-") m.registry["CurrentBuild"] = r.build;
    if (r.display != "-") m.registry["DisplayVersion"] = r.display;
    if (r.release != "-") m.registry["ReleaseId"] = r.release;
      },
      dirtyStack);
}

// A string value as Windows stores it, with its terminating zero.
std::string Sz(const char* text) { return std::string(text) + '\0'; }

TEST(VersionGate, Windows10And11Steps) {
  const std::vector<unsigned> win10 = {10}, win11 = {11}, none = {};
  struct Row {
    const char* name;
    std::vector<unsigned> bits;
    uint16_t minRelease, maxRelease;
    std::string build, display, release;  // "-" for a missing value
    const char* refusal;
  };
  const std::string longDisplay = "Windows 10 " + std::string(64, 'D');
  const std::string missing = "-";
  const std::string longValue(65, '1');
  const Row rows[] = {
      {"CurrentBuild missing", none, 0, 0, missing, missing, missing, nullptr},
      {"CurrentBuild longer than 64 bytes", none, 0, 0, longValue, missing, missing, nullptr},
      {"build 22000, bit 11 set, bounds ignored", win11, 9000, 1, Sz("22000"), missing, missing, nullptr},
      {"build 22631, bit 11 clear", win10, 0, 9999, Sz("22631"), missing, missing, "Windows 11"},
      {"build 21999 counts as 10", win11, 0, 9999, Sz("21999"), Sz("21H2"), missing, "Windows 10"},
      {"19042 at the lower bound", win10, 2009, 9999, Sz("19042"), Sz("20H2"), missing, nullptr},
      {"19042 below the lower bound", win10, 2010, 9999, Sz("19042"), Sz("20H2"), missing,
       "Windows 10 20H2 (October 2020 Update)"},
      {"19042 above the upper bound", win10, 0, 2008, Sz("19042"), Sz("20H2"), missing,
       "Windows 10 20H2 (October 2020 Update)"},
      {"19043 at the upper bound", win10, 2105, 2105, Sz("19043"), missing, missing, nullptr},
      {"19043 above the upper bound", win10, 0, 2104, Sz("19043"), missing, missing,
       "Windows 10 21H1 (May 2021 Update)"},
      {"19045 with no upper bound", win10, 9000, 9999, Sz("19045"), Sz("22H2"), missing, nullptr},
      {"19044 with an upper bound", win10, 0, 9998, Sz("19044"), Sz("21H2"), missing, "Windows 10 21H2"},
      {"19044, DisplayVersion missing", win10, 0, 2105, Sz("19044"), missing, missing, "Windows 10 "},
      {"19045, DisplayVersion of 64 bytes", win10, 0, 2105, Sz("19045"), std::string(64, 'D'), missing,
       longDisplay.c_str()},
      {"19041, ReleaseId at the bound", win10, 0, 1909, Sz("19041"), missing, Sz("1909"), nullptr},
      {"19041, ReleaseId above the bound", win10, 0, 1903, Sz("19041"), missing, Sz("1909"),
       "Windows 10 1909 (November 2019 Update)"},
      {"ReleaseId 1507 below the bound", win10, 1511, 9999, Sz("10240"), missing, Sz("1507"),
       "Windows 10 1507 (Original Release)"},
      {"ReleaseId 2004 above the bound", win10, 0, 1909, Sz("19041"), missing, Sz("2004"),
       "Windows 10 2004 (May 2020 Update)"},
      {"ReleaseId outside the table", win10, 1600, 9999, Sz("14000"), missing, Sz("1234"), "Windows 10 1234"},
      {"ReleaseId missing", win10, 1600, 1700, Sz("17000"), missing, missing, nullptr},
      {"CurrentBuild not a number, bit 10 clear", none, 0, 9999, Sz("abc"), missing, Sz("1909"), "Windows 10"},
      {"CurrentBuild not a number, release decides", win10, 1909, 1909, Sz("abc"), missing, Sz("1909"), nullptr},
      // The number is bounded by the size read: "19" after "19041" in the same buffer is 19.
      {"ReleaseId bounded by its size", win10, 0, 100, Sz("19041"), missing, "19", nullptr},
      // The display text runs to the first zero byte of the buffer, not to the size read.
      {"DisplayVersion without its zero", win10, 0, 2105, Sz("19044"), "21H2", missing, "Windows 10 21H24"},
      {"a long run of digits wraps", win11, 0, 9999, Sz("99999999999"), missing, missing, nullptr},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Gate g;
    g.bits = r.bits;
    g.minRelease = r.minRelease;
    g.maxRelease = r.maxRelease;
    Outcome o = CheckWindows10(g, Registry{r.build, r.display, r.release});
    if (r.refusal)
      ExpectRefused(o, r.refusal);
    else
      ExpectAccepted(o);
    for (const simwin::Call& q : o.CallsTo("RegQueryValueExA")) EXPECT_EQ(q.Arg(2), "64");
  }
}

// Values stored without their terminator, read after the stack was dirtied: the name is the
// buffer's bytes up to the first zero, the earlier value's leftovers included, and nothing
// of what the stack held before.
TEST(VersionGate, UnterminatedValuesNameOnlyWhatWasRead) {
  const struct Row {
    const char* name;
    uint16_t minRelease, maxRelease;
    std::string build, display, release;
    const char* refusal;
  } rows[] = {
      {"DisplayVersion over CurrentBuild", 0, 9998, "19044", "21H2", "-", "Windows 10 21H24"},
      {"DisplayVersion as long as CurrentBuild", 0, 9998, "19045", "22H2x", "-", "Windows 10 22H2x"},
      {"ReleaseId outside the table", 1600, 9999, "14000", "-", "1234", "Windows 10 12340"},
      {"ReleaseId longer than CurrentBuild", 1600, 9999, "9999", "-", "123456", "Windows 10 123456"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Gate g;
    g.bits = {10};
    g.minRelease = r.minRelease;
    g.maxRelease = r.maxRelease;
    ExpectRefused(CheckWindows10(g, Registry{r.build, r.display, r.release}, false, /*dirtyStack=*/true), r.refusal);
  }
}

TEST(VersionGate, KeyIsOpenedForReadingWithNoViewFlagAndAFailedOpenAccepts) {
  Gate g;
  g.bits = {10};
  Outcome o = CheckWindows10(g, Registry{Sz("19045"), Sz("22H2"), "-"});
  ExpectAccepted(o);
  const simwin::Call* open = o.First("RegOpenKeyExA");
  ASSERT_TRUE(open);
  EXPECT_EQ(open->args, (std::vector<std::string>{"0x80000002", "Software\\Microsoft\\Windows NT\\CurrentVersion",
                                                  "0", "0x20019"}));
  EXPECT_EQ(o.Count("RegCloseKey"), 1);

  g.bits = {};
  o = CheckWindows10(g, Registry{Sz("19045"), Sz("22H2"), "-"}, /*openFails=*/true);
  ExpectAccepted(o);
  EXPECT_FALSE(o.Called("RegCloseKey"));
  EXPECT_FALSE(o.Called("RegQueryValueExA"));
}

TEST(VersionGate, NumberRuleWrapsWithoutUndefinedBehaviour) {
  struct {
    std::string text;
    int32_t value;
  } rows[] = {{"19044", 19044},    {"19044.1", 19044},          {"", 0},          {" 1", 0},
              {"4294967296", 0},   {"2147483648", INT32_MIN},   {"2147483647", INT32_MAX},
              {"99999999999", 1215752191}};
  for (auto& r : rows)
    EXPECT_EQ(RegistryNumber((const uint8_t*)r.text.data(), (uint32_t)r.text.size()), r.value) << r.text;
  EXPECT_EQ(RegistryNumber((const uint8_t*)"123", 2), 12);
}

}  // namespace
