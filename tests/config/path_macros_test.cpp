#include "config/path_macros.h"

#include <gtest/gtest.h>

#include "config/settings.h"
#include "platform/platform.h"
#include "support/program_folder.h"

namespace {

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
