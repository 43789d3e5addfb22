// Choosing the engine by bitness and "/32", decoding it, and the stream that holds it.
#include "Pack.h"
#include "TestSupport.h"

namespace {

using namespace test;
using simwin::Wow64;

const uint32_t kA = 5000, kB = 9000;

struct SelectRow {
  uint32_t a, b;
  const char* commandLine;
  Wow64 wow64;
  const char* chosen;  // "A", "B" or "message"
  int wow64Calls;
  bool argumentsSearched;
};

// SelectPayload over a header set directly; the bitness message is the only text here.
Outcome Select(const SelectRow& r) {
  Package p;
  p.AddMessage(u"no engine fits", p.header.bitnessMessage);
  p.header.payload32.offset = r.a;
  p.header.payload64.offset = r.b;
  Machine m = MachineWith(p.Finish());
  m.commandLine = r.commandLine;
  m.wow64 = r.wow64;
  return simwin::Run(m, [] {
    HANDLE h = VerifyPackage();
    TPayloadEntry e = SelectPayload(h);
    simwin::Note(e.offset == kA ? "A" : e.offset == kB ? "B" : "?");
  });
}

TEST(SelectPayload, TableRowByRowWithItsProbes) {
  const SelectRow rows[] = {
      {0, kB, "setup.exe", Wow64::Yes, "B", 1, false},
      {0, kB, "setup.exe /32", Wow64::No, "message", 1, false},
      {0, kB, "setup.exe", Wow64::Absent, "message", 0, false},  // Windows 2000: no IsWow64Process
      {kA, 0xFFFFFFFF, "setup.exe", Wow64::No, "A", 1, false},
      {kA, 0xFFFFFFFF, "setup.exe /32", Wow64::Yes, "message", 1, false},
      {kA, 0, "setup.exe /32", Wow64::Yes, "A", 0, false},
      {kA, kB, "setup.exe x /32 y", Wow64::Yes, "A", 0, true},
      {kA, kB, "setup.exe", Wow64::Yes, "B", 1, true},
      {kA, kB, "setup.exe", Wow64::No, "A", 1, true},
      {kA, kB, "setup.exe /32x -32 \"/32 \"", Wow64::Yes, "B", 1, true},  // only the exact argument counts
      {kA, kB, "setup.exe", Wow64::Fails, "A", 1, true},                  // a failing probe means 32-bit
  };
  for (const SelectRow& r : rows) {
    Outcome o = Select(r);
    SCOPED_TRACE(std::to_string(r.a) + "/" + std::to_string(r.b) + " " + r.commandLine);
    ASSERT_FALSE(o.crashed);
    int wow64 = o.Count("IsWow64Process");
    EXPECT_EQ(wow64, r.wow64Calls);
    // The argument search reads the command line; nothing else in these steps does.
    EXPECT_EQ(o.Called("GetCommandLineA"), r.argumentsSearched);
    if (std::string(r.chosen) == "message") {
      ASSERT_EQ(o.boxes.size(), 1u);
      EXPECT_EQ(o.boxes[0].text, "no engine fits");
      EXPECT_EQ(o.boxes[0].caption, "C:\\Downloads\\setup.exe");
      EXPECT_EQ(o.boxes[0].style, 0x10u);
      EXPECT_EQ(o.exitCode, 0u);
    } else {
      EXPECT_EQ(o.notes.back(), r.chosen);
    }
  }
}

TEST(IsWow64, LooksUpTheFunctionAtRunTimeInKernel32) {
  Machine m;
  m.wow64 = Wow64::Yes;
  Outcome o = simwin::Run(m, [] { simwin::Note(IsWow64() ? "1" : "0"); });
  EXPECT_EQ(o.notes[0], "1");
  ASSERT_TRUE(o.First("GetProcAddress"));
  EXPECT_EQ(o.First("GetProcAddress")->args, (std::vector<std::string>{"kernel32", "IsWow64Process"}));
  EXPECT_EQ(o.First("IsWow64Process")->Arg(0), "current");
}

// ---- Decoding

struct Stream {
  std::string packed;
  uint32_t unpackedSize;
  uint8_t props[5] = {0x5D, 0, 0, 1, 0};
};

// Runs DecodePayload over a file holding the stream; notes the decoded bytes.
Outcome Decode(const Stream& s, size_t heapLimit = SIZE_MAX) {
  Package p;
  memcpy(p.header.lzmaProperties, s.props, 5);
  TPayloadEntry e{p.Add(s.packed), (uint32_t)s.packed.size(), s.unpackedSize};
  p.header.payload32 = e;
  Machine m = MachineWith(p.Finish());
  m.heapLimit = heapLimit;
  return simwin::Run(m, [e] {
    HANDLE h = VerifyPackage();
    TStream input, output;
    DecodePayload(h, e, input, output);
    simwin::Note(std::string((const char*)output.Memory, (size_t)output.GetSize()));
  });
}

std::string OurEncode(const std::string& data, uint8_t props[5]) {
  kpack::LzmaSettings settings;
  return kpack::LzmaEncode(data, settings, props);
}

void ExpectDecoded(const Outcome& o, const std::string& data) {
  ASSERT_FALSE(o.crashed);
  ASSERT_TRUE(o.boxes.empty()) << o.boxes[0].text;
  ASSERT_EQ(o.notes.size(), 1u);
  EXPECT_TRUE(o.notes[0] == data) << o.notes[0].size() << " bytes, expected " << data.size();
}

TEST(Decode, ExactSizeFromOurEncoderAndFromXz) {
  std::string data = EngineBytes(200000);
  Stream ours{"", (uint32_t)data.size()};
  ours.packed = OurEncode(data, ours.props);
  ExpectDecoded(Decode(ours), data);
  Stream xz{XzRawEncode(data, 1 << 20), (uint32_t)data.size(), {0x5D, 0, 0, 0x10, 0}};
  ExpectDecoded(Decode(xz), data);
}

TEST(Decode, EndMarkerAndTrailingBytesAreAccepted) {
  std::string data = EngineBytes(5000);
  Stream s{"", (uint32_t)data.size()};
  s.packed = OurEncode(data, s.props);
  Stream trailing = s;
  trailing.packed += std::string(100, '\x5A');
  ExpectDecoded(Decode(trailing), data);
  // xz's raw LZMA1 always closes with an end marker, right after the last byte.
  Stream marked{XzRawEncode(data, 1 << 16), (uint32_t)data.size()};
  ExpectDecoded(Decode(marked), data);
}

TEST(Decode, DamageTable) {
  std::string data = EngineBytes(20000);
  Stream good{"", (uint32_t)data.size()};
  good.packed = OurEncode(data, good.props);
  std::string runs(4000, 'x');  // a literal, then long repeated matches up to the end
  Stream straddle{"", (uint32_t)runs.size() - 1};
  straddle.packed = OurEncode(runs, straddle.props);

  struct Row {
    const char* name;
    Stream s;
  };
  std::vector<Row> rows;
  rows.push_back({"ends early", good});
  rows.back().s.packed.resize(good.packed.size() / 2);
  rows.push_back({"corrupt", good});
  for (size_t i = 20; i < 60; i++) rows.back().s.packed[i] ^= 0x55;
  rows.push_back({"one byte more than the stream", good});
  rows.back().s.unpackedSize += 1;
  rows.push_back({"a last match that straddles the size", straddle});
  rows.push_back({"symbols go on after the size", good});
  rows.back().s.unpackedSize -= 1000;
  rows.push_back({"no bytes but a size", Stream{"", 10}});
  rows.push_back({"property byte 225", good});
  rows.back().s.props[0] = 225;
  rows.push_back({"dictionary of 2 GiB", good});
  rows.back().s.props[4] = 0x80;
  rows.push_back({"lc + lp above 4", good});
  rows.back().s.props[0] = (uint8_t)((2 * 5 + 1) * 9 + 4);
  rows.push_back({"unpacked size of 2 GiB", good});
  rows.back().s.unpackedSize = 0x80000000u;
  rows.push_back({"unpacked size of 4 GiB - 1", good});
  rows.back().s.unpackedSize = 0xFFFFFFFFu;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Outcome o = Decode(r.s);
    ExpectFatal(o, kTextPackageDamaged);
    EXPECT_TRUE(o.notes.empty());
    EXPECT_LT(o.largestHeapRequest, 1u << 24);
  }
}

TEST(Decode, ZeroSizeGivesAnEmptyEngineWhateverTheBytes) {
  ExpectDecoded(Decode(Stream{"", 0}), "");
  ExpectDecoded(Decode(Stream{"garbage that is no stream", 0}), "");
  Stream refused{"", 0};
  refused.props[0] = 225;  // the properties are still judged
  ExpectFatal(Decode(refused), kTextPackageDamaged);
}

TEST(Decode, DictionaryIsCappedAtTheEngineSize) {
  std::string data = EngineBytes(50000);
  Stream s{"", (uint32_t)data.size()};
  s.packed = OurEncode(data, s.props);
  s.props[1] = 0, s.props[2] = 0, s.props[3] = 0, s.props[4] = 0x04;  // claims 64 MiB
  Outcome o = Decode(s);
  ExpectDecoded(o, data);
  // Input and output blocks (128 KiB each) and a dictionary of about the engine's size.
  EXPECT_LT(o.peakHeapBytes, 1u << 20);
}

TEST(Decode, OutputBlockIsTakenOnceAtItsRoundedSize) {
  std::string data = EngineBytes(300000);
  Stream s{"", (uint32_t)data.size()};
  s.packed = OurEncode(data, s.props);
  Outcome o = Decode(s);
  ExpectDecoded(o, data);
  EXPECT_EQ(o.largestHeapRequest, 393216u);  // 300000 rounded up to 3 x 128 KiB
}

TEST(Decode, MemoryThatCannotBeHadEndsInABox) {
  std::string data = EngineBytes(300000);
  Stream s{"", (uint32_t)data.size()};
  s.packed = OurEncode(data, s.props);
  ExpectFatal(Decode(s, 200000), kTextPackageDamaged);
}

// Decodes the package's 32-bit entry as it stands in the header.
Outcome DecodeEntry(const Package& p) {
  TPayloadEntry e = p.header.payload32;
  return simwin::Run(MachineWith(p.Finish()), [e] {
    HANDLE h = VerifyPackage();
    TStream input, output;
    DecodePayload(h, e, input, output);
  });
}

TEST(Decode, PackedSizeOf2GiBReadsNothing) {
  Package p;
  p.header.payload32 = {p.Add("abc"), 0x80000000u, 10};
  Outcome o = DecodeEntry(p);
  ExpectFatal(o, kTextPackageDamaged);
  EXPECT_LT(o.largestHeapRequest, 1u << 20);
}

TEST(Decode, EngineOffsetOf2GiBIsAFailedReadNotAReadFromElsewhere) {
  std::string data = EngineBytes(1000);
  Package p;
  p.AddEngine(data, 32);
  p.header.payload32.offset = 0x80000000u;
  Outcome o = DecodeEntry(p);
  ExpectFatal(o, kTextPackageDamaged);
  EXPECT_EQ(o.Count("ReadFile"), 3);  // locator, region, header: no read of the engine
}

// ---- TStream

TEST(TStreamTable, GrowthInWholeStepsOf128KiB) {
  Machine m;
  auto notes = Notes(m, [] {
    TStream s;
    auto note = [&] { simwin::Note(std::to_string(s.Size) + "/" + std::to_string(s.Capacity)); };
    s.SetSize(0);
    note();
    s.SetSize(1);
    note();
    s.SetSize(131073);
    note();
    s.SetCapacity(131073);  // equal to Size: taken as it is
    note();
    s.Clear();
    note();
  });
  EXPECT_EQ(notes, (std::vector<std::string>{"0/0", "1/131072", "131073/262144", "131073/131073", "0/0"}));
}

TEST(TStreamTable, ReadWriteSeekAndTheirLimits) {
  Machine m;
  auto notes = Notes(m, [] {
    TStream s;
    char buf[16] = {};
    auto note = [](int v) { simwin::Note(std::to_string(v)); };
    note(s.Write("hello", 5));           // 5
    note(s.Position);                     // 5
    note(s.Seek(0, 0));                   // 0
    note(s.Read(buf, 3));                 // 3: "hel"
    simwin::Note(std::string(buf, 3));
    note(s.Read(buf, 10));                // 2: min(count, Size - Position)
    note(s.Read(buf, 1));                 // 0 at the end
    note(s.Seek(-2, 2));                  // 3
    note(s.Seek(1, 1));                   // 4
    note(s.Seek(7, 9));                   // any other origin: unchanged, 4
    note(s.Write("xyz", -1));             // 0
    s.Seek(-1, 0);
    note(s.Write("xyz", 3));              // 0: negative position
    note(s.Read(buf, 3));                 // 0: negative position
    s.Seek(0x7FFFFFF0, 0);
    note(s.Write("0123456789abcdefgh", 18));  // 0: Position + count past 2^31 - 1
    note(s.GetSize());                    // 5
    s.Seek(10, 0);
    note(s.Write("!", 1));                // 1: writes at 10, Size 11
    note(s.GetSize());                    // 11
    s.SetSize(4);
    note(s.Position);                     // 4: pulled back to the new size
  });
  EXPECT_EQ(notes, (std::vector<std::string>{"5", "5", "0", "3", "hel", "2", "0", "3", "4", "4", "0", "0", "0", "0",
                                             "5", "1", "11", "4"}));
}

TEST(TStreamTable, SizesNear2GiBNeverWrapIntoASmallBlock) {
  Machine m;
  auto notes = Notes(m, [] {
    TStream s;
    simwin::Note(s.SetSize(0x7FFFFFFF) ? "grown" : "refused");  // rounding would pass 2^31
    simwin::Note(std::to_string(s.Capacity));
    simwin::Note(s.SetSize(-5) ? "grown" : "refused");
  });
  EXPECT_EQ(notes, (std::vector<std::string>{"refused", "0", "refused"}));
}

}  // namespace
