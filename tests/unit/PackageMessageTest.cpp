// Showing the package author's messages, with the version's name in the placeholder.
#include "TestSupport.h"

namespace {

using namespace test;

// Shows the unsupported-Windows message holding text, with name, on the machine's code page.
Outcome Show(const std::u16string& text, const std::string& name, unsigned codePage = 1252) {
  Package p;
  p.AddEngine(EngineBytes(100), 32);
  TPackageMessage msg = p.AddMessage(text, p.header.unsupportedWindowsMessage);
  Machine m = MachineWith(p.Finish());
  m.codePage = codePage;
  return simwin::Run(m, [msg, name] { ShowPackageMessage(VerifyPackage(), msg, name.c_str()); });
}

void ExpectBox(const Outcome& o, const std::string& text) {
  ASSERT_FALSE(o.crashed);
  ASSERT_EQ(o.boxes.size(), 1u);
  EXPECT_EQ(o.boxes[0].text, text);
  EXPECT_EQ(o.boxes[0].caption, "C:\\Downloads\\setup.exe");
  EXPECT_TRUE(o.boxes[0].ownerNull);
  EXPECT_EQ(o.boxes[0].style, 0x10u);
  EXPECT_TRUE(o.exited);
  EXPECT_EQ(o.exitCode, 0u);
}

TEST(PackageMessage, Placeholders) {
  struct {
    std::u16string stored;
    std::string name, shown;
  } rows[] = {
      {u"%USER% is not supported.", "Windows XP", "Windows XP is not supported."},
      {u"%USER% / %user%", "Windows 98", "Windows 98 / Windows 98"},
      {u"%User% and %USER", "Windows 7", "%User% and %USER"},
      {u"%USER% is not supported.", "", "%USER% is not supported."},  // no name: as stored
      {u"%USER%%USER%", "ab", "abab"},
      // "%USER%" goes first; the "%user%" that shared its percent sign is gone by then.
      {u"%user%USER%", "N", "%userN"},
      // A name that holds a placeholder is put in once and never searched again.
      {u"a%USER%b%user%c", "%USER%x%user%", "a%USER%x%user%b%USER%x%user%c"},
      {u"", "Windows 10", ""},
      {std::u16string(u"before\u0000after", 12), "", "before"},
      {u"\u03A9 caf\u00E9 \u20AC", "", "? caf\xE9 \x80"},  // Greek has no form in 1252
  };
  for (auto& r : rows) {
    SCOPED_TRACE(r.shown);
    ExpectBox(Show(r.stored, r.name), r.shown);
  }
}

TEST(PackageMessage, ReadsExactlyTheTextWithOneSeekAndOneRead) {
  Outcome o = Show(u"%USER% is not supported.", "Windows ME");
  auto reads = o.CallsTo("ReadFile");
  ASSERT_EQ(reads.size(), 4u);  // locator, region, header, the message
  EXPECT_EQ(reads.back().Arg(1), "48");
  EXPECT_EQ(o.CallsTo("SetFilePointer").back().Arg(2), "null");
  const simwin::Call* toWide = o.First("MultiByteToWideChar");
  ASSERT_TRUE(toWide);
  EXPECT_EQ(toWide->Arg(0), "0");  // CP_ACP
  EXPECT_EQ(toWide->Arg(1), "0x0");
  const simwin::Call* toAnsi = o.First("WideCharToMultiByte");
  ASSERT_TRUE(toAnsi);
  EXPECT_EQ(toAnsi->Arg(0), "0");
  EXPECT_EQ(toAnsi->Arg(4), "null");  // no default character of our own
}

TEST(PackageMessage, DoubleByteNameRoundTrips) {
  // 表 on code page 932 is 0x95 0x5C; the name comes in as ANSI and goes out the same.
  ExpectBox(Show(u"[%USER%]", "Windows \x95\x5C", 932), "[Windows \x95\x5C]");
}

TEST(PackageMessage, LongestTextIsCutToWhatAMessageBoxCarries) {
  std::u16string text(65535, u'x');
  text[0] = u'%', text[1] = u'U', text[2] = u'S', text[3] = u'E', text[4] = u'R', text[5] = u'%';
  ExpectBox(Show(text, "Windows XP"), "Windows XP" + std::string(32766 - 10, 'x'));
  // On a double-byte code page the cut never splits a character.
  std::u16string wide(20000, u'\u8868');
  Outcome o = Show(wide, "", 932);
  ASSERT_EQ(o.boxes.size(), 1u);
  EXPECT_EQ(o.boxes[0].text.size(), 32766u);
  EXPECT_EQ(o.boxes[0].text.substr(32764), "\x95\x5C");
}

TEST(PackageMessage, TextThatCannotBeReadIsADamagedPackage) {
  struct {
    const char* name;
    uint32_t offset;
    uint16_t length;
  } rows[] = {{"past the end", 0, 200}, {"offset of 2 GiB", 0x80000000u, 4}, {"offset of 4 GiB - 1", 0xFFFFFFFFu, 1},
              {"longest text past the end", 0, 65535}};
  for (auto& r : rows) {
    Package p;
    p.AddEngine(EngineBytes(100), 32);
    std::string file = p.Finish();
    TPackageMessage msg{r.offset ? r.offset : (uint32_t)file.size() - 10, r.length};
    Outcome o = simwin::Run(MachineWith(file), [msg] { ShowPackageMessage(VerifyPackage(), msg, "Windows XP"); });
    SCOPED_TRACE(r.name);
    ExpectFatal(o, kTextPackageDamaged);
    EXPECT_EQ(o.Count("ReadFile"), r.offset >= 0x80000000u ? 3 : 4);
  }
}

}  // namespace
