#include "config/profile.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/profile.h"
#include "support/program_folder.h"

namespace {

// The model as "[section] key=value ..." text, for comparisons.
std::string Describe(const ProfileSection* profile) {
  std::string text;
  for (const ProfileSection* s = profile; s; s = s->next) {
    text += "[" + std::string(s->name) + "]";
    for (const ProfileKey* k = s->keys; k; k = k->next) {
      text += " " + std::string(k->key) + "=" + k->value;
    }
    text += ";";
  }
  return text;
}

TEST(IniProfileTest, LinesAreClassified) {
  const std::vector<std::pair<const char*, int>> cases = {
      {"", kProfileBlank},           {"; note", kProfileBlank},  {"[Options]", kProfileSection},
      {"[]", kProfileSection},       {"a=b", kProfileKey},       {"[x=y", kProfileKey},
      {"=value", kProfileMalformed}, {"   ", kProfileMalformed}, {"[open", kProfileMalformed},
      {"words", kProfileMalformed},
  };
  for (const auto& c : cases) EXPECT_EQ(c.second, ClassifyProfileLine(c.first)) << c.first;
}

TEST(IniProfileTest, ReadBuildsTheModelAndWriteFormatsIt) {
  ScopedTempDir dir;
  std::string ini = dir.Join("a.ini");
  WriteFileText(ini, "early=ignored\r\n; comment\n[installation]\nPrinterName= P 1 \n\n[" +
                         std::string(40, 's') + "]\n" + std::string(60, 'k') + "=" +
                         std::string(150, 'v') + "\n");
  ProfileSection* profile = ReadProfile(ini.c_str());
  EXPECT_EQ("[installation] PrinterName= P 1 ;[" + std::string(30, 's') + "] " +
                std::string(50, 'k') + "=" + std::string(150, 'v') + ";",
            Describe(profile));
  std::string out = dir.Join("b.ini");
  WriteProfile(out.c_str(), profile);
  FreeProfile(profile);
  EXPECT_EQ("[installation]\nPrinterName= P 1 \n\n[" + std::string(30, 's') + "]\n" +
                std::string(50, 'k') + "=" + std::string(150, 'v') + "\n",
            ReadFileText(out));

  // A line of blanks, and a line longer than a piece (its rest has no "="),
  // make the read fail.
  for (const std::string& text :
       {std::string("[a]\nx=1\n   \n"), "[a]\nx=" + std::string(300, 'v') + "\n"}) {
    WriteFileText(ini, text);
    testing::internal::CaptureStdout();
    EXPECT_EQ(nullptr, ReadProfile(ini.c_str()));
    EXPECT_EQ("profile " + ini + " format not support\n", testing::internal::GetCapturedStdout());
  }
  EXPECT_EQ(nullptr, ReadProfile(dir.Join("missing.ini").c_str()));
}

TEST(IniProfileTest, SetPutsNewEntriesFirstAndKeepsEveryOtherLine) {
  ScopedProgramFolder program;
  std::string ini = program.Join("config.ini");
  const std::string longPath = "/" + std::string(300, 'p') + "/out.pdf";
  WriteFileText(ini, "; kept comment\n[Options]\nOutputPDFFile=" + longPath +
                         "\nLastFileIndex=7\n\n[installation]\nPrinterName=Old\nOther=1\n");
  SetProfileString(ini.c_str(), "installation", "PrinterName", "Printer2");
  SetProfileString(ini.c_str(), "installation", "New", "n");
  SetProfileString(ini.c_str(), "setup", "Key", "v");
  EXPECT_EQ("; kept comment\n[setup]\nKey=v\n\n[Options]\nOutputPDFFile=" + longPath +
                "\nLastFileIndex=7\n\n[installation]\nNew=n\nPrinterName=Printer2\nOther=1\n",
            ReadFileText(ini));
  // The settings of the program still read as before.
  char value[400];
  platform::GetPrivateProfileStringA("Options", "OutputPDFFile", "", value, sizeof(value),
                                     ini.c_str());
  EXPECT_EQ(longPath, value);

  std::string fresh = program.Join("fresh.ini");
  SetProfileString(fresh.c_str(), "installation", "PrinterName", std::string(250, 'x').c_str());
  EXPECT_EQ("[installation]\nPrinterName=" + std::string(200, 'x') + "\n", ReadFileText(fresh));
}

TEST(IniProfileTest, MalformedFileIsLeftAsItIs) {
  ScopedProgramFolder program;
  program.EnableLog();
  std::string ini = program.Join("settings.ini");
  const std::string text = "[Options]\nTitle=T\nthis line is no entry\n";
  WriteFileText(ini, text);
  SetProfileString(ini.c_str(), "installation", "PrinterName", "P");
  EXPECT_EQ(text, ReadFileText(ini));
  EXPECT_NE(std::string::npos,
            ReadFileText(program.Log()).find("[ERROR] \"" + ini + "\" has a line"));
}

// The settings functions and this library share the lock: concurrent writers
// of both lose nothing.
TEST(IniProfileTest, ConcurrentWritersLoseNothing) {
  ScopedTempDir dir;
  std::string ini = dir.Join("config.ini");
  WriteFileText(ini, "[Options]\nA=0\n");
  const int kRounds = 40;
  pid_t child = fork();
  if (child == 0) {
    for (int i = 0; i < kRounds; ++i) {
      std::string key = "P" + std::to_string(i);
      platform::WritePrivateProfileStringA("Options", key.c_str(), "1", ini.c_str());
    }
    _exit(0);
  }
  for (int i = 0; i < kRounds; ++i) {
    SetProfileString(ini.c_str(), "installation", ("S" + std::to_string(i)).c_str(), "1");
  }
  int status = -1;
  waitpid(child, &status, 0);
  ProfileSection* profile = ReadProfile(ini.c_str());
  std::string all = Describe(profile);
  FreeProfile(profile);
  for (int i = 0; i < kRounds; ++i) {
    EXPECT_NE(std::string::npos, all.find(" P" + std::to_string(i) + "=1")) << i;
    EXPECT_NE(std::string::npos, all.find(" S" + std::to_string(i) + "=1")) << i;
  }
}

}  // namespace
