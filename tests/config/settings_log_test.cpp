#include <gtest/gtest.h>

#include <string>

#include "config/log.h"
#include "config/settings.h"
#include "platform/platform.h"
#include "support/program_folder.h"

namespace {

TEST(SettingsTest, ReadsWriteTheirValuesBack) {
  ScopedProgramFolder program;
  WriteFileText(program.Config(), "[Options]\nNum=007\nLong=" + std::string(600, 'x') + "\n");
  EXPECT_EQ(7, ReadSettingInt("Options", "Num", 1));
  EXPECT_EQ(3, ReadSettingInt("Options", "Fresh", 3));
  char buf[500];
  EXPECT_EQ(499, ReadSettingString("Options", "Long", "", buf, sizeof(buf)));
  EXPECT_EQ("1.7", ReadSettingText("Options", "PDFVersion", "1.7"));
  EXPECT_EQ("[Options]\nNum=7\nLong=" + std::string(499, 'x') + "\nFresh=3\nPDFVersion=1.7\n",
            ReadFileText(program.Config()));
}

TEST(LogTest, SwitchIsReadAndWrittenBackOnEveryCall) {
  ScopedProgramFolder program;
  OutLog("hidden %d\n", 1);
  EXPECT_EQ("[debug]\noutlog=No\n", ReadFileText(program.Config()));
  EXPECT_FALSE(platform::PathExists(program.Log()));

  for (const char* off : {"no", "NO"}) {
    WriteFileText(program.Config(), std::string("[debug]\noutlog=") + off + "\n");
    OutLog("hidden\n");
    EXPECT_FALSE(platform::PathExists(program.Log())) << off;
  }
  int entries = 0;
  for (const char* on : {"Yes", "1", ""}) {
    WriteFileText(program.Config(), std::string("[debug]\noutlog=") + on + "\n");
    OutLog("entry %s", "without end");
    ++entries;
  }
  std::string log = ReadFileText(program.Log());
  // Entries without a line end run on into the next time stamp.
  EXPECT_EQ(std::string::npos, log.find('\n'));
  EXPECT_NE(std::string::npos, log.find("without end20"));
  EXPECT_EQ(static_cast<size_t>(entries) * (23 + 17), log.size());
  EXPECT_EQ(" -- ", log.substr(19, 4));

  std::string big(100000, 'b');
  OutLog("%s\n", big.c_str());
  EXPECT_NE(std::string::npos, ReadFileText(program.Log()).find(big + "\n"));
}

TEST(LogTest, RollsOverAboveTheSizeLimit) {
  ScopedProgramFolder program;
  program.EnableLog();
  WriteFileText(program.Log(), std::string(1024000, 'a'));
  OutLog("kept\n");
  EXPECT_GT(platform::FileSize(program.Log()), 1024000);
  WriteFileText(program.Log(), std::string(1024001, 'a'));
  OutLog("fresh\n");
  std::string log = ReadFileText(program.Log());
  EXPECT_EQ(23u + 6u, log.size());
  EXPECT_NE(std::string::npos, log.find("fresh\n"));
}

TEST(LogTest, UnwritableLogShowsAMessageAndGoesOn) {
  ScopedProgramFolder program;
  program.EnableLog();
  // A folder in the log file's place cannot be opened for appending.
  ASSERT_TRUE(platform::CreateOneDirectory(program.Log()));
  testing::internal::CaptureStderr();
  OutLog("lost\n");
  std::string shown = testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, shown.find("Failed to create '" + program.Log() + "' log file!"));
}

}  // namespace
