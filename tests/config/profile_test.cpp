#include "config/profile.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/profile.h"
#include "support/forked_child.h"
#include "support/program_folder.h"

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

}  // namespace
