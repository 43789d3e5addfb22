// The argument list, argument 0, the path helpers and the option comparisons.
#include "TestSupport.h"

namespace {

using test::Machine;
using test::Notes;

struct SplitCase {
  const char* name;
  unsigned codePage;
  std::string commandLine;
  std::vector<std::string> expected;
};

class SplitTest : public ::testing::TestWithParam<SplitCase> {};

// Each argument is reported between brackets, then the count, then what lies past the end.
TEST_P(SplitTest, SplitsAsTheRulesSay) {
  const SplitCase& c = GetParam();
  Machine m;
  m.codePage = c.codePage;
  m.commandLine = c.commandLine;
  auto notes = Notes(m, [] {
    int n = ArgumentCount();
    simwin::Note(std::to_string(n));
    for (int i = 1; i <= n + 1; i++) simwin::Note(Argument(i).CStr());
  });
  ASSERT_EQ(notes.size(), c.expected.size() + 2) << c.name;
  EXPECT_EQ(notes[0], std::to_string(c.expected.size())) << c.name;
  for (size_t i = 0; i < c.expected.size(); i++) EXPECT_EQ(notes[i + 1], c.expected[i]) << c.name << " #" << i + 1;
  EXPECT_EQ(notes.back(), "") << c.name << ": past the last argument";
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, SplitTest,
    ::testing::Values(
        SplitCase{"quoted folder", 1252, "setup.exe /temp \"D:\\My Work\" /s", {"/temp", "D:\\My Work", "/s"}},
        SplitCase{"empty pair is blank", 1252, "setup.exe \"\" /s", {"/s"}},
        SplitCase{"pairs alone give nothing", 1252, "setup.exe \"\" \"\"  \"\"", {}},
        SplitCase{"pair between arguments", 1252, "setup.exe a \"\" b", {"a", "b"}},
        SplitCase{"backslash before quote", 1252, "setup.exe \"C:\\Path\\\"", {"C:\\Path\\"}},
        SplitCase{"quote open at the end", 1252, "setup.exe \"abc", {"abc"}},
        SplitCase{"lone quote at the end", 1252, "setup.exe \"", {}},
        SplitCase{"tab separates", 1252, "setup.exe a\tb", {"a", "b"}},
        SplitCase{"control bytes are blanks", 1252, "setup.exe \x01x\x1fy\x7f", {"x", "y\x7f"}},
        SplitCase{"quotes anywhere", 1252, "setup.exe ab\"c d\"ef", {"abc def"}},
        SplitCase{"a then a pair", 1252, "setup.exe a\"\"", {"a"}},
        SplitCase{"trailing blanks", 1252, "setup.exe   ", {}},
        SplitCase{"quoted program name", 1252, "\"C:\\My Files\\setup.exe\" /32", {"/32"}},
        SplitCase{"program name runs on after its quote", 1252, "\"C:\\A B\\setup.exe\"/s", {}},
        SplitCase{"high bytes are argument bytes", 1252, "setup.exe \xE9t\xE9 \xA0", {"\xE9t\xE9", "\xA0"}},
        SplitCase{"single-byte page splits at 0x20", 1252, "setup.exe \x81 x", {"\x81", "x"}},
        SplitCase{"double-byte character is stepped over", 932, "setup.exe \x81 x", {"\x81 x"}},
        SplitCase{"trail byte is no quote", 932, "setup.exe \"\x81\" b\" c", {"\x81\" b", "c"}}),
    [](const ::testing::TestParamInfo<SplitCase>& info) { return "case" + std::to_string(info.index); });

TEST(ArgumentZero, IsTheModulePathFetchedWith261Bytes) {
  Machine m;
  m.commandLine = "setup /s";  // a relative name without extension
  auto o = simwin::Run(m, [] { simwin::Note(Argument(0).CStr()); });
  ASSERT_EQ(o.notes.size(), 1u);
  EXPECT_EQ(o.notes[0], "C:\\Downloads\\setup.exe");
  ASSERT_TRUE(o.First("GetModuleFileNameA"));
  EXPECT_EQ(o.First("GetModuleFileNameA")->args, (std::vector<std::string>{"null", "261"}));
}

TEST(ArgumentZero, LongPathArrivesCutAndFailedCallGivesEmpty) {
  Machine m;
  m.modulePath = "C:\\" + std::string(300, 'x') + "\\setup.exe";
  EXPECT_EQ(Notes(m, [] { simwin::Note(Argument(0).CStr()); })[0], m.modulePath.substr(0, 261));
  m.failing.insert("GetModuleFileNameA");
  EXPECT_EQ(Notes(m, [] { simwin::Note(Argument(0).CStr()); })[0], "");
}

struct PathCase {
  unsigned codePage;
  std::string path, directory, name;
};

TEST(PathHelpers, ExtractDirectoryAndName) {
  const PathCase cases[] = {
      {1252, "C:\\Setup\\setup.exe", "C:\\Setup\\", "setup.exe"},
      {1252, "setup.exe", "", "setup.exe"},
      {1252, "C:\\Setup\\", "C:\\Setup\\", ""},
      {1252, "", "", ""},
      {1252, "D:/Work/x.exe", "", "D:/Work/x.exe"},
      {1252, "C:\\A\\\x95\x5C.exe", "C:\\A\\\x95\\", ".exe"},  // single-byte: 0x5C is a separator
      // 表 is 0x95 0x5C in code page 932: its trail byte is no separator.
      {932, "C:\\A\\\x95\x5C.exe", "C:\\A\\", "\x95\x5C.exe"},
      {932, "C:\\\x95\x5C\\setup.exe", "C:\\\x95\x5C\\", "setup.exe"},
  };
  for (const PathCase& c : cases) {
    Machine m;
    m.codePage = c.codePage;
    std::string path = c.path;
    auto notes = Notes(m, [&] {
      simwin::Note(ExtractDirectory(path.c_str()).CStr());
      simwin::Note(ExtractName(path.c_str()).CStr());
    });
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0], c.directory) << c.path << " cp" << c.codePage;
    EXPECT_EQ(notes[1], c.name) << c.path << " cp" << c.codePage;
  }
}

TEST(PathHelpers, FileExistsProbesWithFindFirstFileAndClosesTheSearch) {
  Machine m;
  m.AddFile("C:\\Downloads\\a.txt", "x");
  auto o = simwin::Run(m, [] {
    simwin::Note(FileExists("C:\\Downloads\\a.txt") ? "1" : "0");
    simwin::Note(FileExists("C:\\Downloads") ? "1" : "0");  // a folder counts
    simwin::Note(FileExists("C:\\Downloads\\missing.txt") ? "1" : "0");
    simwin::Note(FileExists("C:\\Downloads\\*") ? "1" : "0");
  });
  EXPECT_EQ(o.notes, (std::vector<std::string>{"1", "1", "0", "0"}));
  EXPECT_EQ(o.Count("FindFirstFileA"), 4);
  EXPECT_EQ(o.Count("FindClose"), 2);
}

TEST(TextHelpers, SameTextAsciiFoldsOnlyAsciiLetters) {
  struct {
    const char *a, *b;
    bool same;
  } cases[] = {{"/TEMP", "/temp", true}, {"/temp", "/temp ", false}, {"", "", true},   {"/Temp", "/tEMP", true},
               {"\xE9", "\xC9", false},  {"[", "{", false},          {"/s", "/S", true}, {"/s1", "/s", false}};
  for (auto& c : cases) {
    Machine m;
    auto notes = Notes(m, [&] { simwin::Note(SameTextAscii(c.a, c.b) ? "1" : "0"); });
    EXPECT_EQ(notes[0], c.same ? "1" : "0") << c.a << " / " << c.b;
  }
}

TEST(TextHelpers, ContainsFindsAByteSequence) {
  Machine m;
  auto notes = Notes(m, [] {
    simwin::Note(Contains("C:\\a?b", "?") ? "1" : "0");
    simwin::Note(Contains("", "?") ? "1" : "0");
    simwin::Note(Contains("abc", "") ? "1" : "0");
    simwin::Note(Contains("two words", " ") ? "1" : "0");
    simwin::Note(Contains("ab", "abc") ? "1" : "0");
  });
  EXPECT_EQ(notes, (std::vector<std::string>{"1", "0", "0", "1", "0"}));
}

}  // namespace
