// Opening the own file and proving the package complete and undamaged.
#include "CRC32.h"
#include "TestSupport.h"

namespace {

using namespace test;

// Runs VerifyPackage alone; a passing run notes "verified".
Outcome Verify(const Machine& m) {
  return simwin::Run(m, [] {
    VerifyPackage();
    simwin::Note("verified");
  });
}

bool Verified(const Outcome& o) { return o.notes == std::vector<std::string>{"verified"} && o.boxes.empty(); }

std::string WithLocator(std::string file, const std::function<void(TPackageLocator&)>& change) {
  TPackageLocator l;
  memcpy(&l, &file[128], sizeof l);
  change(l);
  memcpy(&file[128], &l, sizeof l);
  return file;
}

std::string Good() {
  Package p;
  p.AddEngine(EngineBytes(3000), 32);
  return p.Finish();
}

TEST(Verify, OpensForReadingSharedWithReadersOnlyAndReadsTheHeader) {
  Outcome o = Verify(MachineWith(Good()));
  ASSERT_TRUE(Verified(o));
  const simwin::Call* open = o.First("CreateFileA");
  ASSERT_TRUE(open);
  EXPECT_EQ(open->args, (std::vector<std::string>{"C:\\Downloads\\setup.exe", "0x80000000", "0x1", "null", "3",
                                                  "0x0", "null"}));
  // Locator at 128, then the region at the package offset, then the header again there.
  auto seeks = o.CallsTo("SetFilePointer");
  ASSERT_EQ(seeks.size(), 3u);
  EXPECT_EQ(seeks[0].args, (std::vector<std::string>{"file#1", "128", "null", "0"}));
  EXPECT_EQ(seeks[1].Arg(1), "1024");
  EXPECT_EQ(seeks[2].Arg(1), "1024");
  auto reads = o.CallsTo("ReadFile");
  ASSERT_EQ(reads.size(), 3u);
  EXPECT_EQ(reads[0].Arg(1), "24");
  EXPECT_EQ(reads[2].Arg(1), "70");
}

// Each row of the failure table, with its key.
TEST(Verify, FailureTable) {
  struct Row {
    const char* name;
    std::function<void(Machine&)> setUp;
    const char* text;
  };
  const std::string good = Good();
  const Row rows[] = {
      {"missing file", [](Machine& m) { m.files.erase(m.modulePath); }, kTextPackageDamaged},
      {"held open for writing", [](Machine& m) { m.files[m.modulePath].heldForWriting = true; }, kTextPackageDamaged},
      {"fewer than 24 bytes at 128", [&](Machine& m) { m.files[m.modulePath].data = good.substr(0, 140); },
       kTextPackageDamaged},
      {"nothing attached",
       [&](Machine& m) { m.files[m.modulePath].data = WithLocator(good, [](TPackageLocator& l) { l.packageOffset = 0; }); },
       kTextPackageDamaged},
      {"one byte short", [&](Machine& m) { m.files[m.modulePath].data = good.substr(0, good.size() - 1); },
       kTextTruncated},
      {"region past the end",
       [&](Machine& m) {
         m.files[m.modulePath].data = WithLocator(good, [](TPackageLocator& l) { l.checkedLength += 1; });
       },
       kTextPackageDamaged},
      {"region of 2 GiB",
       [&](Machine& m) {
         m.files[m.modulePath].data = WithLocator(good, [](TPackageLocator& l) { l.checkedLength = 0x80000000u; });
       },
       kTextPackageDamaged},
      {"CRC-32 differs",
       [&](Machine& m) {
         m.files[m.modulePath].data = WithLocator(good, [](TPackageLocator& l) { l.checkedCrc ^= 1; });
       },
       kTextPackageDamaged},
      {"flipped byte in the region",
       [&](Machine& m) {
         std::string d = good;
         d[1024 + 80] ^= 0x40;
         m.files[m.modulePath].data = d;
       },
       kTextPackageDamaged},
      {"header past the end",
       [&](Machine& m) {
         m.files[m.modulePath].data = WithLocator(good, [&](TPackageLocator& l) {
           l.packageOffset = (uint32_t)good.size() - 10;
           l.checkedLength = 0;
           l.checkedCrc = 0;
         });
       },
       kTextPackageDamaged},
      {"package offset of 2 GiB",
       [&](Machine& m) {
         m.files[m.modulePath].data = WithLocator(good, [](TPackageLocator& l) {
           l.packageOffset = 0x80000000u;
           l.checkedLength = 0;
           l.checkedCrc = 0;
         });
       },
       kTextPackageDamaged},
      {"seek fails", [](Machine& m) { m.failing.insert("SetFilePointer"); }, kTextPackageDamaged},
      {"read fails", [](Machine& m) { m.failing.insert("ReadFile"); }, kTextPackageDamaged},
  };
  for (const Row& row : rows) {
    Machine m = MachineWith(good);
    row.setUp(m);
    Outcome o = Verify(m);
    SCOPED_TRACE(row.name);
    ExpectFatal(o, row.text);
    EXPECT_TRUE(o.notes.empty());
  }
}

TEST(Verify, NothingAttachedIsRefusedBeforeTheSizeIsFetched) {
  Machine m = MachineWith(WithLocator(Good(), [](TPackageLocator& l) { l.packageOffset = 0; }));
  Outcome o = Verify(m);
  ExpectFatal(o, kTextPackageDamaged);
  EXPECT_FALSE(o.Called("GetFileSize"));
}

TEST(Verify, SizeTestComesBeforeTheCrc) {
  std::string bad = WithLocator(Good(), [](TPackageLocator& l) { l.checkedCrc ^= 1; });
  Outcome o = Verify(MachineWith(bad.substr(0, bad.size() - 1)));
  ExpectFatal(o, kTextTruncated);
}

TEST(Verify, SizeRules) {
  const std::string good = Good();
  const uint64_t n = good.size();
  struct Row {
    const char* name;
    uint32_t detached;
    int64_t expected;
    uint64_t reportedSize;
    bool passes;
  } rows[] = {
      {"exactly the expected size", 0, (int64_t)n, n, true},
      {"longer than expected", 0, (int64_t)n, n + 100, true},
      {"one byte short", 0, (int64_t)n + 1, n, false},
      {"a file over 4 GiB counts whole", 0, (int64_t)n + 0x100000000ll, n + 0x100000000ull, true},
      {"detached: expected size ignored", (uint32_t)n, (int64_t)n + 1000, n, true},
      {"detached: low part one short", (uint32_t)n + 1, (int64_t)n, n, false},
      {"detached: 4 GiB + 10 counts as 10", 11, 0, 0x100000000ull + 10, false},
      {"detached: 4 GiB + 10 against 10", 10, 0, 0x100000000ull + 10, true},
      {"negative expected size passes", 0, -1, n, true},
  };
  for (auto& r : rows) {
    Machine m = MachineWith(WithLocator(good, [&](TPackageLocator& l) {
      l.detachedMinSize = r.detached;
      l.expectedFileSize = r.expected;
    }));
    m.files[m.modulePath].reportedSize = r.reportedSize;
    Outcome o = Verify(m);
    SCOPED_TRACE(r.name);
    if (r.passes)
      EXPECT_TRUE(Verified(o));
    else
      ExpectFatal(o, kTextTruncated);
  }
}

TEST(Verify, EmptyRegionPassesOnlyWithCrcZeroAndReadsNothing) {
  std::string empty = WithLocator(Good(), [](TPackageLocator& l) {
    l.checkedLength = 0;
    l.checkedCrc = 0;
  });
  Outcome o = Verify(MachineWith(empty));
  EXPECT_TRUE(Verified(o));
  EXPECT_EQ(o.Count("ReadFile"), 2);  // the locator and the header
  ExpectFatal(Verify(MachineWith(WithLocator(empty, [](TPackageLocator& l) { l.checkedCrc = 1; }))),
              kTextPackageDamaged);
}

TEST(Verify, RegionShorterThanTheHeaderIsAccepted) {
  Package p;
  p.AddEngine(EngineBytes(100), 32);
  std::string file = p.Finish();
  file = WithLocator(file, [&](TPackageLocator& l) {
    l.checkedLength = 20;
    l.checkedCrc = ComputeCrc32(file.data() + l.packageOffset, 20);
  });
  EXPECT_TRUE(Verified(Verify(MachineWith(file))));
}

TEST(Verify, RegionOf2GiBAllocatesNothing) {
  Outcome o = Verify(MachineWith(WithLocator(Good(), [](TPackageLocator& l) { l.checkedLength = 0xFFFFFFFFu; })));
  ExpectFatal(o, kTextPackageDamaged);
  EXPECT_LT(o.largestHeapRequest, 1u << 20);
}

TEST(Verify, RegionThatCannotBeAllocatedEndsInABoxNotACrash) {
  Machine m = MachineWith(Good());
  m.heapLimit = 1000;  // smaller than the region
  ExpectFatal(Verify(m), kTextPackageDamaged);
}

TEST(Crc32, StandardCheckValue) {
  EXPECT_EQ(ComputeCrc32("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(ComputeCrc32("", 0), 0u);
  EXPECT_EQ(ComputeCrc32("abc", -5), 0u);
}

}  // namespace
