// The settings files: the INI profile, the registry wrapper, path macros.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "config/path_macros.h"
#include "config/profile.h"
#include "config/registry.h"
#include "config/settings.h"
#include "platform/platform.h"
#include "platform/profile.h"
#include "support/forked_child.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace {

TEST(IniProfileTest, SetPutsNewEntriesFirstKeepsEveryOtherLineAndLeavesAMalformedFile) {
  ScopedProgramFolder program;
  std::string ini = program.Join("config.ini");
  const std::string longPath = "/" + std::string(300, 'p') + "/out.pdf";
  WriteFileText(ini, "; kept comment\n[Options]\nOutputPDFFile=" + longPath +
                         "\nLastFileIndex=7\n\n[installation]\nPrinterName=Old\nOther=1\n");
  SetProfileString(ini.c_str(), "installation", "PrinterName", "Printer2");
  SetProfileString(ini.c_str(), "installation", "New", "n");
  SetProfileString(ini.c_str(), "setup", "Key", "v");
  SetProfileString(ini.c_str(), "Options", "Other", "o");  // a later section's key stays
  EXPECT_EQ("; kept comment\n[setup]\nKey=v\n\n[Options]\nOther=o\nOutputPDFFile=" + longPath +
                "\nLastFileIndex=7\n\n[installation]\nNew=n\nPrinterName=Printer2\nOther=1\n",
            ReadFileText(ini));

  std::string fresh = program.Join("fresh.ini");
  SetProfileString(fresh.c_str(), "installation", "PrinterName", std::string(250, 'x').c_str());
  EXPECT_EQ("[installation]\nPrinterName=" + std::string(200, 'x') + "\n", ReadFileText(fresh));

  // A malformed file is left as it is, and the log says why.
  program.EnableLog();
  const std::string malformed = "[Options]\nTitle=T\nthis line is no entry\n";
  WriteFileText(fresh, malformed);
  SetProfileString(fresh.c_str(), "installation", "PrinterName", "P");
  EXPECT_EQ(malformed, ReadFileText(fresh));
  EXPECT_TRUE(Has(ReadFileText(program.Log()), "[ERROR] \"" + fresh + "\" has a line"));
}

// The settings functions and this library share the lock: concurrent writers
// of both lose nothing.
TEST(IniProfileTest, ConcurrentWritersLoseNothing) {
  ScopedTempDir dir;
  std::string ini = dir.Join("config.ini");
  WriteFileText(ini, "[Options]\nA=0\n");
  const int kRounds = 40;
  pid_t child = StartChild([&] {
    for (int i = 0; i < kRounds; ++i) {
      std::string key = "P" + std::to_string(i);
      platform::WritePrivateProfileStringA("Options", key.c_str(), "1", ini.c_str());
    }
    return 0;
  });
  for (int i = 0; i < kRounds; ++i)
    SetProfileString(ini.c_str(), "installation", ("S" + std::to_string(i)).c_str(), "1");
  EXPECT_EQ(0, ChildExitCode(child));
  for (int i = 0; i < kRounds; ++i) {
    char p[4], s[4];
    std::string key = std::to_string(i);
    platform::GetPrivateProfileStringA("Options", ("P" + key).c_str(), "", p, 4, ini.c_str());
    platform::GetPrivateProfileStringA("installation", ("S" + key).c_str(), "", s, 4, ini.c_str());
    EXPECT_EQ("11", std::string(p) + s) << i;
  }
}

// An assignment writes the value with its type, under the name first used.
TEST(CRegistryTest, AssignmentsStoreTheirType) {
  ScopedTempDir dir;
  ScopedEnv store("TARVELIN_REGISTRY_DIR", dir.path().c_str());
  auto hive = [&dir] { return ReadFileText(dir.Join("HKEY_LOCAL_MACHINE.reg")); };
  CRegistry reg(CRegistry::kCreateKey);  // closed before the environment is restored
  ASSERT_TRUE(reg.Open("Software\\Port", HKEY_LOCAL_MACHINE, 3));
  CRegEntry& port = reg["Port"];  // letter case is ignored
  EXPECT_EQ(&port, &reg["PORT"]);
  reg["PORT"] = 9;
  EXPECT_TRUE(Has(hive(), "\n\"Port\"=dword:00000009\n"));
  reg["port"] = "LPT1:";  // text over a number becomes text
  EXPECT_TRUE(Has(hive(), "\n\"Port\"=\"LPT1:\"\n"));
  std::string text(3000, 't');  // cut in the entry, stored whole
  reg["Command"] = text.c_str();
  EXPECT_EQ(2047u, strlen(reg["Command"].Text()));
  EXPECT_TRUE(Has(hive(), "\n\"Command\"=\"" + text + "\"\n"));
}

std::string Expand(std::string text) { return ExpandPathMacros(text); }

TEST(PathMacrosTest, ExpandsMacrosAndDoubledSeparators) {
  ScopedProgramFolder program;
  std::string tmp = platform::SystemTempPath();
  ASSERT_EQ('/', tmp.back());
  EXPECT_EQ(tmp + "out.pdf", Expand("%TEMPFOLDER%/out.pdf"));
  EXPECT_EQ(program.path() + "/config.ini", Expand("%APPFOLDER%/config.ini"));
  EXPECT_EQ("/x/" + std::to_string(platform::ProcessId()) + ".pdf", Expand("/x/%PID%.pdf"));
  EXPECT_EQ("/net/share/a", Expand("//net//share/a"));
  EXPECT_EQ("%pid%/%Tempfolder%", Expand("%pid%/%Tempfolder%"));

  std::string taken = "%PID%";
  ExpandPathMacros(taken);
  EXPECT_TRUE(taken.empty());
}

TEST(PathMacrosTest, TempFolderSettingIsCreatedAndUsedAsWritten) {
  ScopedProgramFolder program;
  program.EnableLog();
  char buf[260];
  EXPECT_EQ(platform::SystemTempPath(), MyGetTempPath(sizeof(buf), buf));

  std::string wanted = program.Join("a/b/c");
  WriteFileText(program.Config(), "[debug]\noutlog=1\n[Options]\nTempFolder=%APPFOLDER%//a/b/c\n");
  EXPECT_EQ(wanted, MyGetTempPath(sizeof(buf), buf));
  EXPECT_TRUE(platform::IsDirectory(wanted));

  // A file in the way: both lines are logged and the path still comes back.
  WriteFileText(program.Join("file"), "x");
  WriteFileText(program.Config(),
                "[debug]\noutlog=1\n[Options]\nTempFolder=" + program.Join("file/sub") + "\n");
  EXPECT_EQ(program.Join("file/sub"), MyGetTempPath(sizeof(buf), buf));
  EXPECT_TRUE(Has(
      ReadFileText(program.Log()),
      "Could not create directory for \"" + program.Join("file/sub") + "\": Not a directory\n"));
  EXPECT_STREQ(program.Join("fil").c_str(), MyGetTempPath(program.Join("fil").size() + 1, buf));
}

}  // namespace
