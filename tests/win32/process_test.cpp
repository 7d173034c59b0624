// Processes under Wine: the process runner on CreateProcessA (hidden
// children started through the command interpreter, their joined output,
// exit codes, the ownership of the child and its pipe), the counter of
// temporary names shared by two test processes, and the output's lock kept
// by a page tool whose run was killed. The other processes are this test
// binary started as a helper (native_calls.h).
#include "platform/process.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "platform/platform.h"
#include "platform/profile.h"
#include "process/process_runner.h"
#include "support/temp_dir.h"
#include "win32/native_calls.h"

namespace {

bool StartHelper(const std::vector<std::string>& words, platform::ChildProcess* child,
                 intptr_t inherit = -1) {
  int error = 0;
  bool started =
      platform::StartChildProcess(win32test::HelperCommand(words), false, child, &error, inherit);
  EXPECT_TRUE(started) << "error " << error;
  return started;
}

TEST(Win32ProcessTest, JoinsOutputAndErrorAndReturnsTheExitCode) {
  std::string text;
  int exitCode = -1;
  EXPECT_EQ(1, NTSystemCommand2("cmd.exe /c \"echo out& echo err>&2& exit 3\"", text, &exitCode));
  EXPECT_EQ(3, exitCode);
  EXPECT_EQ("out\r\nerr\r\n", text);
}

TEST(Win32ProcessTest, AMissingProgramIsRefusedWithItsCode) {
  platform::ChildProcess child;
  int error = 0;
  EXPECT_FALSE(platform::StartChildProcess("C:\\no\\such\\program.exe", true, &child, &error));
  EXPECT_TRUE(error == 2 || error == 3) << error;  // file or path not found
  EXPECT_EQ(-1, child.pid);
}

// A wait for a running child is bounded; destroying its record ends it.
// (Killing a child: the lock test below.)
TEST(Win32ProcessTest, WaitingIsBoundedAndDestroyingEndsARunningChild) {
  long pid;
  {
    platform::ChildProcess child;
    int error = 0, exitCode = 0;
    ASSERT_TRUE(platform::StartChildProcess("cmd.exe /c \"for /l %i in (1,0,2) do rem\"", true,
                                            &child, &error));
    pid = child.pid;
    int64_t start = platform::MonotonicMs();
    EXPECT_EQ(0, platform::WaitChildProcess(&child, 200, &exitCode));
    EXPECT_GE(platform::MonotonicMs() - start, 150);
    ASSERT_TRUE(platform::IsProcessRunning(pid));
  }
  EXPECT_FALSE(platform::IsProcessRunning(pid));
}

TEST(Win32TempNamesTest, TwoProcessesNeverShareANumber) {
  ScopedTempDir program;
  std::string config = program.Join("config.ini");
  WriteFileText(config, "[Options]\r\nTempFolder=" + program.Join("tmp") + "\r\n");
  platform::ChildProcess runs[2];
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(StartHelper(
        {"counter", program.path(), program.Join("names" + std::to_string(i)), "100"}, &runs[i]));
  }
  std::set<std::string> names;
  size_t lines = 0;
  for (int i = 0; i < 2; ++i) {
    int exitCode = -1;
    ASSERT_EQ(1, platform::WaitChildProcess(&runs[i], 120000, &exitCode));
    EXPECT_EQ(0, exitCode);
    std::istringstream in(ReadFileText(program.Join("names" + std::to_string(i))));
    for (std::string name; std::getline(in, name); ++lines) {
      EXPECT_TRUE(platform::IsRegularFile(name)) << name;
      names.insert(name);
    }
  }
  EXPECT_EQ(200u, lines);
  EXPECT_EQ(200u, names.size());
  EXPECT_EQ(201, platform::GetPrivateProfileIntA("Options", "LastFileIndex", 0, config.c_str()));
}

// A page tool started with the output's lock keeps it while it runs: when
// the run lets go of it, and when the run is killed; it is free again
// within moments of the tool's end (no console host of the tool, which
// Wine starts with the tool's handles, may keep it).
TEST(Win32LockTest, APageToolKeepsTheLockOfItsRun) {
  const int kReleaseMs = 3000;
  ScopedTempDir dir;
  const std::string lock = dir.Join("out.pdf.lock");
  {
    platform::ChildProcess tool;
    {
      platform::FileLock held(lock);
      ASSERT_TRUE(held.Held()) << held.Error();
      ASSERT_TRUE(StartHelper({"sleep", "60000"}, &tool, held.NativeHandle()));
    }
    EXPECT_FALSE(platform::FileLock(lock, 0).Held()) << "free once the run let go";
    platform::KillChildProcess(tool);
    int exitCode = 0;
    platform::WaitChildProcess(&tool, -1, &exitCode);
    EXPECT_TRUE(platform::FileLock(lock, kReleaseMs).Held());
  }

  platform::ChildProcess run;
  ASSERT_TRUE(StartHelper({"hold-and-start", lock, dir.Join("tool")}, &run));
  std::string toolPid;
  ASSERT_TRUE(win32test::WaitForFile(dir.Join("tool"), 20000, &toolPid)) << "no tool started";
  ASSERT_TRUE(platform::KillChildProcess(run));
  int exitCode = 0;
  ASSERT_EQ(1, platform::WaitChildProcess(&run, -1, &exitCode));
  EXPECT_TRUE(platform::IsProcessRunning(std::stol(toolPid)));
  platform::FileLock whileToolRuns(lock, 0);
  EXPECT_FALSE(whileToolRuns.Held()) << "free once the run was killed";
  EXPECT_EQ("held by another process for 0 s", whileToolRuns.Error());
  ASSERT_TRUE(win32test::EndProcess(std::stol(toolPid)));
  platform::FileLock afterTool(lock, kReleaseMs);
  EXPECT_TRUE(afterTool.Held()) << afterTool.Error();
}

}  // namespace
