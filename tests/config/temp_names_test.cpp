#include "config/temp_names.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <iterator>
#include <string>

#include "config/settings.h"
#include "platform/platform.h"
#include "platform/profile.h"
#include "support/forked_child.h"
#include "support/links.h"
#include "support/temp_dir.h"

namespace {

TEST(TempNamesTest, CountedNamesFollowTheCounter) {
  ScopedProgramFolder program;
  std::string folder = program.Join("tmp");
  WriteFileText(program.Config(), "[Options]\nTempFolder=" + folder + "\n");
  char buf[260];
  EXPECT_EQ(static_cast<int>(folder.size() + 15), CountedTempFileName(sizeof(buf), buf, ".pdf"));
  EXPECT_EQ(folder + "/file000001.pdf", buf);
  EXPECT_EQ(2, ReadSettingInt("Options", "LastFileIndex", 1));

  // The name is created, private; the caller deletes the file once it is
  // done with it. A counter that is no number starts again at 1; a taken
  // number is skipped, even when what took it is a link planted there (in a
  // temporary folder others can write) to a file not there yet.
  const std::string victim = program.Join("victim.pdf");
  ASSERT_EQ(0, symlink(victim.c_str(), (folder + "/file000005.pdf").c_str()));
  const struct {
    const char *counter, *extension, *name;
    int next;
  } rows[] = {
      {"0", ".pdf", "file000001.pdf", 2},  {"word", ".pdf", "file000001.pdf", 2},
      {"2", nullptr, "file000002.tmp", 3}, {"1234567", ".pdf", "file1234567.pdf", 1234568},
      {"5", ".pdf", "file000006.pdf", 7},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.counter);
    platform::DeleteFile(buf);
    platform::WritePrivateProfileStringA("Options", "LastFileIndex", row.counter,
                                         program.Config().c_str());
    CountedTempFileName(sizeof(buf), buf, row.extension);
    EXPECT_EQ(folder + "/" + row.name, buf);
    EXPECT_EQ(row.next, ReadSettingInt("Options", "LastFileIndex", 1));
    EXPECT_EQ(S_IFREG | 0600u, LinkStat(buf).st_mode);
  }
  EXPECT_FALSE(platform::PathExists(victim));

  // With a trailing separator there is still exactly one before "file".
  WriteFileText(program.Config(), "[Options]\nTempFolder=" + folder + "/\n");
  CountedTempFileName(sizeof(buf), buf, nullptr);
  EXPECT_EQ(folder + "/file000001.tmp", buf);

  // A name that does not fit is refused, not cut.
  WriteFileText(program.Config(),
                "[Options]\nTempFolder=" + folder + "/" + std::string(250, 'd') + "\n");
  EXPECT_EQ(0, CountedTempFileName(sizeof(buf), buf, ".pdf"));
  EXPECT_STREQ("", buf);
  EXPECT_EQ(0, CountedTempFileName(0, buf, ".pdf"));
}

// Each name is created as a file of its own: two runs at once make 200.
TEST(TempNamesTest, ConcurrentRunsNeverShareANumber) {
  ScopedProgramFolder program;
  WriteFileText(program.Config(), "[Options]\nTempFolder=" + program.Join("tmp") + "\n");
  pid_t children[2];
  for (pid_t& child : children) {
    child = StartChild([] {
      int failures = 0;
      char buf[260];
      for (int i = 0; i < 100; ++i) failures += CountedTempFileName(sizeof(buf), buf, ".pdf") == 0;
      return failures;
    });
  }
  for (pid_t pid : children) EXPECT_EQ(0, ChildExitCode(pid));
  using std::filesystem::directory_iterator;
  EXPECT_EQ(200, std::distance(directory_iterator(program.Join("tmp")), directory_iterator()));
  EXPECT_EQ(201, ReadSettingInt("Options", "LastFileIndex", 1));
}

// The system's temporary name, with the process id: no file is left of it.
TEST(TempNamesTest, TempFileNameLeavesNoFile) {
  ScopedProgramFolder program;
  char a[260], b[260];
  TempFileName(sizeof(a), a, ".pdf");
  TempFileName(sizeof(b), b, nullptr);
  const std::string name = a, suffix = "-" + std::to_string(platform::ProcessId()) + ".pdf";
  EXPECT_STRNE(a, b);
  EXPECT_EQ(suffix, name.substr(name.size() - suffix.size()));
  EXPECT_FALSE(platform::PathExists(name.substr(0, name.size() - suffix.size()) + ".tmp"));
}

}  // namespace
