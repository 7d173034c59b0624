#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "config/log.h"
#include "config/settings.h"
#include "platform/platform.h"
#include "support/forked_child.h"
#include "support/links.h"
#include "support/temp_dir.h"

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
  // A path must fit its buffer with the terminating zero; a longer one is
  // never used or written back cut.
  std::string path;
  EXPECT_TRUE(ReadSettingWhole(ProgramSettings(), "Long", 500, &path));
  EXPECT_FALSE(ReadSettingWhole(ProgramSettings(), "Long", 499, &path));
  EXPECT_EQ("", path);
}

// A file that already lists what a run reads is never rewritten; a change
// another run makes is seen at the next lookup; a file that cannot be
// written leaves the values as read and says why once.
TEST(SettingsTest, FileIsWrittenOnlyWhenItLacksAValueAndReadAgainWhenChanged) {
  ScopedProgramFolder program;
  program.EnableLog();
  WriteFileText(program.Config(), "[debug]\noutlog=Yes\n[Options]\nLockWaitLimit=5\n");
  EXPECT_EQ(5, ReadSettingInt("Options", "LockWaitLimit", 120));
  platform::FileStamp steady = platform::StampOf(program.Config());
  for (int i = 0; i < 3; ++i) EXPECT_EQ(5, ReadSettingInt("Options", "LockWaitLimit", 120));
  EXPECT_TRUE(steady == platform::StampOf(program.Config()));

  std::string replaced = program.Join("other.ini");
  WriteFileText(replaced, "[debug]\noutlog=Yes\n[Options]\nLockWaitLimit=9\n");
  ASSERT_TRUE(platform::ReplaceFile(replaced, program.Config()));
  EXPECT_EQ(9, ReadSettingInt("Options", "LockWaitLimit", 120));

  ASSERT_TRUE(platform::CreateOneDirectory(program.Config() + ".lock"));
  EXPECT_EQ(1, ReadSettingInt("Options", "Fresh", 1));
  EXPECT_FALSE(Has(ReadFileText(program.Config()), "Fresh"));
  std::string log = ReadFileText(program.Log());
  EXPECT_TRUE(Has(log, "[ERROR] Could not write \"" + program.Config() + "\": cannot lock \"" +
                           program.Config() + ".lock\""));

  // A file that is there but cannot be read (another account's) gives the
  // defaults and is never written over, though its folder lets anybody
  // write. File modes do not stop root: checked as an ordinary user.
  if (geteuid() != 0) return;
  ASSERT_EQ(0, rmdir((program.Config() + ".lock").c_str()));
  WriteFileText(program.Config() + ".lock", "");
  WriteFileText(program.Config(), "[Options]\nLockWaitLimit=5\n");
  ASSERT_EQ(0, chmod(program.Config().c_str(), 0600));
  ASSERT_EQ(0, chmod((program.Config() + ".lock").c_str(), 0644));
  ASSERT_EQ(0, chmod(program.path().c_str(), 0777));
  EXPECT_EQ(0, InChild([] { return ReadSettingInt("Options", "X", 1) != 1; }, true));
  EXPECT_EQ("[Options]\nLockWaitLimit=5\n", ReadFileText(program.Config()));
}

// The switch is looked up on every call: off, and written so, when missing; "no"
// in any letter case is off, anything else on.
TEST(LogTest, SwitchIsReadOnEveryCall) {
  ScopedProgramFolder program;
  OutLog("hidden %d\n", 1);
  EXPECT_EQ("[debug]\noutlog=No\n", ReadFileText(program.Config()));
  for (const char* value : {"NO", "Yes", "no", ""}) {
    WriteFileText(program.Config(), std::string("[debug]\noutlog=") + value + "\n");
    OutLog("entry %s\n", value);
  }
  // Each entry is a 19-character time stamp, " -- " and the text.
  std::string log = ReadFileText(program.Log());
  EXPECT_EQ(" -- entry Yes\n", log.substr(19, 14));
  EXPECT_EQ(2u * 23 + 10 + 7, log.size()) << log;
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
  EXPECT_TRUE(Has(log, "fresh\n"));
}

// The log holds job names and tools' output: it is not for other users and
// follows no link. A log that cannot be written (a link, a folder in its
// place) shows a message and the entry on stderr, and the run goes on.
TEST(LogTest, LogIsNotForOtherUsersAndFollowsNoLink) {
  ScopedProgramFolder program;
  program.EnableLog();
  mode_t old = umask(022);
  OutLog("private\n");
  umask(old);
  EXPECT_EQ(S_IFREG | 0640u, LinkStat(program.Log()).st_mode);

  WriteFileText(program.Join("victim"), "precious");
  for (const char* why : {"Too many levels of symbolic links", "Is a directory"}) {
    platform::DeleteFile(program.Log());
    ASSERT_TRUE(why[0] == 'I'
                    ? platform::CreateOneDirectory(program.Log())
                    : symlink(program.Join("victim").c_str(), program.Log().c_str()) == 0);
    testing::internal::CaptureStderr();
    OutLog("kept on stderr %d\n", 7);
    std::string shown = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(Has(shown, "Failed to create '" + program.Log() + "' log file! (" + why + ")\n"));
    EXPECT_TRUE(Has(shown, " -- kept on stderr 7\n"));
  }
  EXPECT_EQ("precious", ReadFileText(program.Join("victim")));
}

}  // namespace
