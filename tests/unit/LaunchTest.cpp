// The temporary copy and the start of the setup engine, through the whole sequence.
#include "TestSupport.h"

namespace {

using namespace test;

const char* const kTemp = "C:\\Users\\Ann\\AppData\\Local\\Temp\\";
const std::string kEngine = EngineBytes(40000);

Machine Installer(const std::string& commandLine, uint8_t elevation = emAsInvoker, uint32_t detached = 0) {
  Package p;
  p.AddEngine(kEngine, 32);
  p.header.elevationMode = elevation;
  std::string file = p.Finish();
  Machine m = MachineWith(p.Finish(detached ? (uint32_t)file.size() : 0));
  m.commandLine = commandLine;
  return m;
}

// Moves the machine's installer file to another path.
void MoveInstaller(Machine& m, const std::string& path) {
  simwin::File installer = m.files[m.modulePath];
  m.files.erase(m.modulePath);
  m.modulePath = path;
  m.files[path] = installer;
}

// The path of the copy, from the last CreateFileA for writing.
std::string CopyPath(const Outcome& o) {
  std::string path;
  for (const simwin::Call& c : o.CallsTo("CreateFileA"))
    if (c.Arg(1) == "0x40000000") path = c.Arg(0);
  return path;
}

TEST(TempFolder, ExamplesOfTheFolderRules) {
  struct Row {
    std::string commandLine;
    std::string copy;
  } rows[] = {
      {"setup.exe", std::string(kTemp) + "setup.exe"},
      {"setup.exe /temp", "C:\\Downloads\\setup2.exe"},  // beside the installer, which is there already
      {"setup.exe /x /TEMP", "C:\\Downloads\\setup2.exe"},
      {"setup.exe /temp D:\\Work", "D:\\Work\\setup.exe"},
      {"setup.exe /temp D:\\Work\\", "D:\\Work\\setup.exe"},
      {"setup.exe /temp \"D:\\My Work\"", "D:\\My Work\\setup.exe"},
      {"setup.exe /temp D:\\A /temp D:\\B", "D:\\B\\setup.exe"},
      {"setup.exe /temp D:\\A /temp", "C:\\Downloads\\setup2.exe"},
      {"setup.exe /temp D:\\A x", "D:\\A\\setup.exe"},
      {"setup.exe -temp D:\\Work", std::string(kTemp) + "setup.exe"},
      {"setup.exe /temp:D:\\Work", std::string(kTemp) + "setup.exe"},
      {"setup.exe /tempD:\\Work", std::string(kTemp) + "setup.exe"},
      {"setup.exe /temp D:/Work/", "D:/Work/\\setup.exe"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.commandLine);
    Machine m = Installer(r.commandLine);
    for (const char* dir : {"D:\\Work", "D:\\My Work", "D:\\A", "D:\\B", "D:/Work/"}) m.AddDirectory(dir);
    Outcome o = RunLoaderEntry(m);
    ASSERT_TRUE(o.boxes.empty()) << o.boxes[0].text;
    EXPECT_EQ(CopyPath(o), r.copy);
    bool lastIsTemp = r.commandLine.size() >= 5 && (r.commandLine.substr(r.commandLine.size() - 5) == "/temp" ||
                                                    r.commandLine.substr(r.commandLine.size() - 5) == "/TEMP");
    EXPECT_EQ(o.Called("GetTempPathA"), !lastIsTemp);
  }
}

// Under code page 932 the backslash that the folder gets is decided by its last character:
// ソ is 0x83 0x5C, and its trail byte is no separator.
TEST(TempFolder, TrailingBackslashByLastCharacterUnderCodePage932) {
  const std::string so = "\x83\x5C";
  struct Row {
    std::string commandLine, tempPath, copy;
  } rows[] = {
      {"setup.exe /temp D:\\" + so, kTemp, "D:\\" + so + "\\setup.exe"},
      {"setup.exe /temp D:\\" + so + "\\", kTemp, "D:\\" + so + "\\setup.exe"},
      {"setup.exe /temp D:\\" + so + "\\Work", kTemp, "D:\\" + so + "\\Work\\setup.exe"},
      {"setup.exe", "C:\\" + so, "C:\\" + so + "\\setup.exe"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.commandLine + " temp " + r.tempPath);
    Machine m = Installer(r.commandLine);
    m.codePage = 932;
    m.tempPath = r.tempPath;
    for (const std::string& dir : {"D:\\" + so, "D:\\" + so + "\\Work", "C:\\" + so}) m.AddDirectory(dir);
    Outcome o = RunLoaderEntry(m);
    ASSERT_TRUE(o.boxes.empty()) << o.boxes[0].text;
    EXPECT_EQ(CopyPath(o), r.copy);
  }
}

TEST(TempFolder, TempPathQueryAndItsGaps) {
  Machine m = Installer("setup.exe");
  Outcome o = RunLoaderEntry(m);
  ASSERT_TRUE(o.First("GetTempPathA"));
  EXPECT_EQ(o.First("GetTempPathA")->args, (std::vector<std::string>{"256", "zeroed"}));

  m.tempPath = "";  // nothing comes back: the root of C:
  EXPECT_EQ(CopyPath(RunLoaderEntry(m)), "C:\\setup.exe");
  m.tempPath = "C:\\Temp";  // no backslash at the end: one is added
  m.AddDirectory("C:\\Temp");
  EXPECT_EQ(CopyPath(RunLoaderEntry(m)), "C:\\Temp\\setup.exe");
  m.tempPath = "C:\\" + std::string(300, 't');  // fills the buffer with no terminator
  // All 256 bytes are the folder; it does not exist here, which ends the run.
  EXPECT_EQ(CopyPath(RunLoaderEntry(m)), "C:\\" + std::string(253, 't') + "\\setup.exe");
}

TEST(TempCopyName, NumberingRules) {
  struct Row {
    const char* name;
    std::string modulePath;
    std::vector<std::string> existing;  // in the temporary folder; a trailing "\\" makes a folder
    std::string copy;
  } rows[] = {
      {"free", "C:\\Downloads\\setup.exe", {}, "setup.exe"},
      {"taken twice", "C:\\Downloads\\setup.exe", {"setup.exe", "setup2.exe"}, "setup3.exe"},
      {"only the second taken", "C:\\Downloads\\setup.exe", {"setup2.exe"}, "setup.exe"},
      {"a folder of the same name", "C:\\Downloads\\setup.exe", {"setup.exe\\"}, "setup2.exe"},
      {"up to ten", "C:\\Downloads\\setup.exe",
       {"setup.exe", "setup2.exe", "setup3.exe", "setup4.exe", "setup5.exe", "setup6.exe", "setup7.exe", "setup8.exe",
        "setup9.exe"},
       "setup10.exe"},
      {"no extension", "C:\\Downloads\\installer", {"installer"}, "insta2ller"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Machine m = Installer("setup.exe");
    MoveInstaller(m, r.modulePath);
    for (const std::string& e : r.existing) {
      if (e.back() == '\\')
        m.AddDirectory(kTemp + e.substr(0, e.size() - 1));
      else
        m.AddFile(kTemp + e, "someone else's");
    }
    Outcome o = RunLoaderEntry(m);
    ASSERT_TRUE(o.boxes.empty()) << o.boxes[0].text;
    EXPECT_EQ(CopyPath(o), kTemp + r.copy);
    for (const std::string& e : r.existing) {
      if (e.back() != '\\') {
        EXPECT_EQ(o.files.at(kTemp + e).data, "someone else's");
      }
    }
  }
}

TEST(TempCopyName, DigitsGoInFrontOfAShortPath) {
  Machine m = Installer("setup.exe");
  MoveInstaller(m, "C:\\Downloads\\a");
  m.tempPath = "";
  m.AddFile("C:\\a", "taken");
  m.AddDirectory("2C:");  // only so that the odd name can be created here
  Outcome o = RunLoaderEntry(m);
  bool probed = false;
  for (const simwin::Call& c : o.CallsTo("FindFirstFileA")) probed = probed || c.Arg(0) == "2C:\\a";
  EXPECT_TRUE(probed) << "C:\\a taken: the digit goes in front of the four-character path";
}

TEST(TempCopy, CreatesANewFileAndWritesTheEngineInOneCall) {
  Outcome o = RunLoaderEntry(Installer("setup.exe"));
  ASSERT_TRUE(o.boxes.empty());
  std::string copy = std::string(kTemp) + "setup.exe";
  std::vector<std::string> create;
  for (const simwin::Call& c : o.CallsTo("CreateFileA"))
    if (c.Arg(0) == copy) create = c.args;
  // A new file only (CREATE_NEW): a name taken in the meantime is never overwritten.
  EXPECT_EQ(create, (std::vector<std::string>{copy, "0x40000000", "0x1", "null", "1", "0x80", "null"}));
  auto writes = o.CallsTo("WriteFile");
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].Arg(1), std::to_string(kEngine.size()));
  // The engine ran and its copy is gone; what was written was exactly the engine.
  EXPECT_FALSE(o.HasFile(copy));
}

TEST(TempCopy, FailuresEndInErrTempCopy) {
  struct Row {
    const char* name;
    std::string commandLine;
    std::function<void(Machine&)> setUp;
  } rows[] = {
      {"folder that does not exist", "setup.exe /temp D:\\Nowhere", [](Machine&) {}},
      {"temporary folder that does not exist", "setup.exe", [](Machine& m) { m.tempPath = "C:\\Gone\\"; }},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Machine m = Installer(r.commandLine);
    r.setUp(m);
    Outcome o = RunLoaderEntry(m);
    ExpectFatal(o, kTextTempCopy);
    EXPECT_FALSE(o.Called("WriteFile"));
    EXPECT_FALSE(o.Called("CreateProcessA") || o.Called("ShellExecuteExA"));
  }
}

TEST(TempCopy, ShortWriteOnAFullDiskLeavesNoFile) {
  Machine m = Installer("setup.exe");
  m.diskFree = 1000;
  Outcome o = RunLoaderEntry(m);
  ExpectFatal(o, kTextTempCopy);
  std::string copy = std::string(kTemp) + "setup.exe";
  EXPECT_FALSE(o.HasFile(copy));
  int write = o.IndexOf("WriteFile");
  int close = -1, remove = -1;
  for (int i = write; i < (int)o.calls.size(); i++) {
    if (o.calls[i].name == "CloseHandle" && close < 0) close = i;
    if (o.calls[i].name == "DeleteFileA") remove = i;
  }
  EXPECT_LT(write, close);  // closed before the count is judged
  EXPECT_LT(close, remove);
  EXPECT_EQ(o.calls[remove].Arg(0), copy);
}

TEST(TempCopy, NameTakenBetweenProbeAndCreationGoesOnToTheNextNumber) {
  Machine m = Installer("setup.exe");
  std::string first = std::string(kTemp) + "setup.exe";
  m.appearBeforeCreate.insert(first);
  Outcome o = RunLoaderEntry(m);
  ASSERT_TRUE(o.boxes.empty()) << o.boxes[0].text;
  EXPECT_EQ(CopyPath(o), std::string(kTemp) + "setup2.exe");
  ASSERT_TRUE(o.HasFile(first));
  EXPECT_EQ(o.files.at(first).data, "other");  // the other installer's copy is untouched
}

// ---- Starting the engine

struct StartRow {
  const char* name;
  uint32_t major;
  bool admin;
  std::string args;
  uint8_t elevation;
  const char* route;  // "direct" or the shell verb
  bool noadmin;
};

TEST(StartSetupEngine, StartTable) {
  const StartRow rows[] = {
      {"XP, standard user", 5, false, "/s", emRunAs, "direct", false},
      {"failed version query", 0, false, "", emRunAs, "direct", false},
      {"Vista, administrator", 6, true, "", emNoAdmin, "direct", false},
      {"10, standard user, no silent option", 10, false, "", emRunAs, "open", true},
      {"10, standard user, silent, noadmin", 10, false, "/silent", emNoAdmin, "open", true},
      {"10, standard user, /S, runas", 10, false, "/S", emRunAs, "runas", false},
      {"10, standard user, /SILENT, asinvoker", 10, false, "/SILENT", emAsInvoker, "open", false},
      {"10, standard user, silent, unknown mode", 10, false, "/s", 7, "open", false},
      {"6, standard user, /silent=1", 6, false, "/silent=1", emRunAs, "open", true},
      {"6, standard user, /s1", 6, false, "/s1", emRunAs, "open", true},
      {"6, standard user, -s", 6, false, "-s", emRunAs, "open", true},
  };
  for (const StartRow& r : rows) {
    SCOPED_TRACE(r.name);
    Machine m = Installer("setup.exe " + r.args, r.elevation);
    m.major = r.major;
    m.versionFails = r.major == 0;
    m.administrator = r.admin;
    Outcome o = RunLoaderEntry(m);
    ASSERT_TRUE(o.boxes.empty()) << o.boxes[0].text;
    std::string copy = std::string(kTemp) + "setup.exe";
    std::string params = "\"C:\\Downloads\\setup.exe\"" + (r.args.empty() ? "" : " " + r.args);
    EXPECT_EQ(o.Called("AllocateAndInitializeSid"), r.major >= 6);
    if (std::string(r.route) == "direct") {
      ASSERT_EQ(o.Count("CreateProcessA"), 1);
      EXPECT_FALSE(o.Called("ShellExecuteExA"));
      EXPECT_EQ(o.First("CreateProcessA")->args,
                (std::vector<std::string>{"null", "\"" + copy + "\" " + params, "null", "null", "0", "0x0", "null",
                                          "C:\\Downloads\\", "68", "rest-zero"}));
      // Wait, then delete; the process and thread handles are never closed.
      EXPECT_EQ(o.First("WaitForSingleObject")->args, (std::vector<std::string>{"process#1", "0xFFFFFFFF"}));
      for (const simwin::Call& c : o.CallsTo("CloseHandle"))
        EXPECT_TRUE(c.Arg(0).rfind("process", 0) != 0 && c.Arg(0).rfind("thread", 0) != 0);
    } else {
      EXPECT_FALSE(o.Called("CreateProcessA"));
      ASSERT_EQ(o.Count("ShellExecuteExA"), 1);
      EXPECT_EQ(o.First("ShellExecuteExA")->args,
                (std::vector<std::string>{"60", "0x40", "null", r.route, copy, params + (r.noadmin ? " /noadmin" : ""),
                                          "null", "5", "rest-zero"}));
      EXPECT_EQ(o.First("WaitForSingleObject")->Arg(0), "process#1");
      EXPECT_GT(o.IndexOf("DeleteFileA"), o.IndexOf("WaitForSingleObject"));
      bool closed = false;
      for (const simwin::Call& c : o.CallsTo("CloseHandle")) closed = closed || c.Arg(0) == "process#1";
      EXPECT_TRUE(closed);
    }
    ASSERT_TRUE(o.First("DeleteFileA"));
    EXPECT_EQ(o.First("DeleteFileA")->Arg(0), copy);
    EXPECT_FALSE(o.HasFile(copy));
    EXPECT_EQ(o.exitCode, 0u);
  }
}

TEST(StartSetupEngine, ParametersQuoteOnlyArgumentsWithABlank) {
  Machine m = Installer("setup.exe /silent \"two words\" a\tb /temp \"" + std::string(kTemp) + "\" /32");
  m.major = 5;
  Outcome o = RunLoaderEntry(m);
  ASSERT_TRUE(o.First("CreateProcessA"));
  EXPECT_EQ(o.First("CreateProcessA")->Arg(1), "\"" + std::string(kTemp) + "setup.exe\" \"C:\\Downloads\\setup.exe\" "
                                                "/silent \"two words\" a b /temp " + kTemp + " /32");
}

TEST(StartSetupEngine, AdministratorProbe) {
  Machine m = Installer("setup.exe");
  m.major = 6;
  Outcome o = RunLoaderEntry(m);
  EXPECT_EQ(o.First("AllocateAndInitializeSid")->args,
            (std::vector<std::string>{"0,0,0,0,0,5", "2", "32", "544", "0", "0", "0", "0", "0", "0"}));
  bool advapi = false, looked = false;
  for (const simwin::Call& c : o.CallsTo("GetModuleHandleA")) advapi = advapi || c.Arg(0) == "advapi32.dll";
  EXPECT_TRUE(advapi);
  for (const simwin::Call& c : o.CallsTo("GetProcAddress"))
    looked = looked || c.args == std::vector<std::string>{"advapi32", "CheckTokenMembership"};
  EXPECT_TRUE(looked);
  EXPECT_EQ(o.First("CheckTokenMembership")->Arg(0), "null");
  EXPECT_EQ(o.Count("FreeSid"), 1);
  EXPECT_TRUE(o.Called("CreateProcessA"));

  // Every failure of the probe means a standard user: the shell start.
  for (auto setUp : std::vector<std::function<void(Machine&)>>{
           [](Machine& x) { x.sidFails = true; }, [](Machine& x) { x.checkTokenMembershipAbsent = true; },
           [](Machine& x) { x.checkTokenMembershipFails = true; }}) {
    Machine f = m;
    setUp(f);
    Outcome fo = RunLoaderEntry(f);
    EXPECT_TRUE(fo.Called("ShellExecuteExA"));
    EXPECT_FALSE(fo.Called("CreateProcessA"));
  }
}

TEST(StartSetupEngine, UncPathsAndTheSystemFolderOnlyLoads) {
  struct Row {
    const char* name;
    std::string modulePath;
    std::string handedOver;
    bool asked;
  } rows[] = {
      {"mapped drive", "N:\\setup.exe", "\\\\server\\share\\setup.exe", true},
      {"local drive", "C:\\Downloads\\setup.exe", "C:\\Downloads\\setup.exe", true},
      {"started by UNC path", "\\\\server\\share\\setup.exe", "\\\\server\\share\\setup.exe", false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Machine m = Installer("setup.exe");
    MoveInstaller(m, r.modulePath);
    m.AddDirectory("\\\\server\\share");
    m.mappedDrives["N:"] = "\\\\server\\share";
    m.major = 5;
    Outcome o = RunLoaderEntry(m);
    ASSERT_TRUE(o.boxes.empty()) << o.boxes[0].text;
    std::string cmd = o.First("CreateProcessA")->Arg(1);
    EXPECT_NE(cmd.find("\" \"" + r.handedOver + "\""), std::string::npos) << cmd;
    EXPECT_EQ(o.Called("WNetGetUniversalNameA"), r.asked);
    if (r.asked) {
      EXPECT_EQ(o.First("WNetGetUniversalNameA")->args, (std::vector<std::string>{r.modulePath, "1", "2000"}));
      EXPECT_EQ(o.First("LoadLibraryA")->Arg(0), "C:\\Windows\\system32\\mpr.dll");
    }
    // The current directory is the installer's folder as the loader sees it, not UNC.
    EXPECT_EQ(o.First("CreateProcessA")->Arg(7), r.modulePath.substr(0, r.modulePath.rfind('\\') + 1));
  }
}

TEST(StartSetupEngine, ShellIsLoadedFromTheSystemFolder) {
  Machine m = Installer("setup.exe");
  m.administrator = false;
  Outcome o = RunLoaderEntry(m);
  std::vector<std::string> loads;
  for (const simwin::Call& c : o.CallsTo("LoadLibraryA")) loads.push_back(c.Arg(0));
  EXPECT_EQ(loads, (std::vector<std::string>{"C:\\Windows\\system32\\mpr.dll", "C:\\Windows\\system32\\shell32.dll"}));
}

TEST(StartSetupEngine, FailedStartsEndInErrLaunchAndKeepTheCopy) {
  for (bool shell : {false, true}) {
    SCOPED_TRACE(shell ? "refused runas" : "CreateProcessA fails");
    Machine m = Installer("setup.exe /s", emRunAs);
    m.administrator = !shell;
    m.createProcessFails = !shell;
    m.shellExecuteFails = shell;
    Outcome o = RunLoaderEntry(m);
    ExpectFatal(o, kTextLaunch);
    EXPECT_TRUE(o.HasFile(std::string(kTemp) + "setup.exe"));
    EXPECT_FALSE(o.Called("DeleteFileA"));
  }
}

TEST(StartSetupEngine, DetachedReturnsAtOnceAndLeavesTheCopy) {
  for (bool shell : {false, true}) {
    Machine m = Installer("setup.exe", emAsInvoker, /*detached=*/1);
    m.administrator = !shell;
    Outcome o = RunLoaderEntry(m);
    ASSERT_TRUE(o.boxes.empty());
    EXPECT_TRUE(o.Called(shell ? "ShellExecuteExA" : "CreateProcessA"));
    EXPECT_FALSE(o.Called("WaitForSingleObject"));
    EXPECT_FALSE(o.Called("DeleteFileA"));
    for (const simwin::Call& c : o.CallsTo("CloseHandle")) EXPECT_EQ(c.Arg(0).rfind("process", 0), std::string::npos);
    EXPECT_TRUE(o.HasFile(std::string(kTemp) + "setup.exe"));
    EXPECT_EQ(o.files.at(std::string(kTemp) + "setup.exe").data, kEngine);
    EXPECT_EQ(o.exitCode, 0u);
  }
}

TEST(Sequence, ReleasesTheOwnFileBeforeTheEngineStarts) {
  Machine m = Installer("setup.exe");
  Outcome o = RunLoaderEntry(m);
  int write = o.IndexOf("WriteFile");
  int ownClosed = -1;
  for (int i = 0; i < (int)o.calls.size(); i++)
    if (o.calls[i].name == "CloseHandle" && o.calls[i].Arg(0) == "file#1") ownClosed = i;
  ASSERT_GE(ownClosed, 0);
  EXPECT_LT(write, ownClosed);
  EXPECT_LT(ownClosed, o.IndexOf("WNetGetUniversalNameA"));
  EXPECT_LT(ownClosed, o.IndexOf("CreateProcessA"));
  // Nothing of the package is held while the loader waits.
  EXPECT_EQ(o.exitCode, 0u);
  EXPECT_TRUE(o.exited);
}

TEST(Sequence, RefusalsLeaveNothingOnDisk) {
  Package p;
  p.AddEngine(kEngine, 32);
  p.header.payload64.offset = kPayload64Refused;
  p.AddMessage(u"32-bit Windows only", p.header.bitnessMessage);
  Machine m = MachineWith(p.Finish());
  m.wow64 = simwin::Wow64::Yes;
  Outcome o = RunLoaderEntry(m);
  ASSERT_EQ(o.boxes.size(), 1u);
  EXPECT_EQ(o.boxes[0].text, "32-bit Windows only");
  EXPECT_FALSE(o.Called("WriteFile"));
  EXPECT_EQ(o.files.size(), m.files.size());
}

}  // namespace
