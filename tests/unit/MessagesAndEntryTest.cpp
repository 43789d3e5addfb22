// The fixed message boxes and the entry's "?" rule.
#include "TestSupport.h"

namespace {

using namespace test;

TEST(FatalMessages, EachKeyShowsItsTextWithThePathAsCaption) {
  struct {
    TFatalKey key;
    const char* text;
  } cases[] = {{ErrPackageDamaged, kTextPackageDamaged},
               {ErrTruncated, kTextTruncated},
               {ErrTempCopy, kTextTempCopy},
               {ErrLaunch, kTextLaunch}};
  for (auto& c : cases) {
    Machine m;
    TFatalKey key = c.key;
    Outcome o = simwin::Run(m, [key] { ShowFatalError(key); });
    ExpectFatal(o, c.text);
  }
}

TEST(FatalMessages, PathCharactersPutsThePathInTheTextUnderAFixedCaption) {
  Machine m;
  m.modulePath = "C:\\Users\\???\\setup.exe";
  Outcome o = simwin::Run(m, [] { ShowFatalError(ErrPathCharacters); });
  ExpectFatal(o,
              "The path to the installer C:\\Users\\???\\setup.exe contains characters that have been replaced with "
              "question marks because they could not be represented in your computer's default code page.  Please "
              "rename the installer and/or the folder it is in to remove the unsupported characters.  Then run the "
              "installer again.",
              "Tarnwell Kestrune");
}

TEST(FatalMessages, ExitCodeIsZeroEvenWhenTheBoxFails) {
  Machine m;
  m.failing.insert("MessageBoxA");
  Outcome o = simwin::Run(m, [] { ShowFatalError(ErrLaunch); });
  EXPECT_TRUE(o.exited);
  EXPECT_EQ(o.exitCode, 0u);
}

TEST(Entry, QuestionMarkInTheModulePathStopsBeforeTheFileIsOpened) {
  Machine m;
  m.modulePath = "C:\\?\\setup.exe";
  Outcome o = RunLoaderEntry(m);
  ASSERT_EQ(o.boxes.size(), 1u);
  EXPECT_EQ(o.boxes[0].caption, "Tarnwell Kestrune");
  EXPECT_NE(o.boxes[0].text.find("C:\\?\\setup.exe"), std::string::npos);
  EXPECT_FALSE(o.Called("CreateFileA"));
  EXPECT_EQ(o.exitCode, 0u);
}

TEST(Entry, OnlyArgumentZeroIsExamined) {
  Machine m;
  m.commandLine = "\"C:\\?\\setup.exe\" what?";  // the command line's own tokens do not count
  Outcome o = RunLoaderEntry(m);
  // No package file exists here, so the run ends as a damaged package after the open.
  ExpectFatal(o, kTextPackageDamaged);
  ASSERT_TRUE(o.First("CreateFileA"));
  EXPECT_EQ(o.First("CreateFileA")->Arg(0), "C:\\Downloads\\setup.exe");
}

TEST(Entry, RestrictsDllSearchToTheSystemFolderWhereOffered) {
  Machine m;
  Outcome o = RunLoaderEntry(m);
  ASSERT_TRUE(o.First("SetDefaultDllDirectories"));
  EXPECT_EQ(o.First("SetDefaultDllDirectories")->Arg(0), "0x800");
  EXPECT_LT(o.IndexOf("SetDefaultDllDirectories"), o.IndexOf("CreateFileA"));

  m.hasSetDefaultDllDirectories = false;  // before Windows 8 without the update
  o = RunLoaderEntry(m);
  EXPECT_FALSE(o.Called("SetDefaultDllDirectories"));
  ExpectFatal(o, kTextPackageDamaged);
}

}  // namespace
