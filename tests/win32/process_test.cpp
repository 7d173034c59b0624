// The process runner on CreateProcessA: hidden children started through the
// command interpreter, their joined output, exit codes, and the ownership of
// the child and its pipe.
#include "platform/process.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"

namespace {

std::string Collect(platform::ChildProcess* child, int* exitCode) {
  std::string text;
  char buffer[256];
  for (;;) {
    int waiting = platform::PeekChildOutput(*child);
    if (waiting > 0) {
      int n = platform::ReadChildOutput(*child, buffer, sizeof(buffer));
      if (n <= 0) break;
      text.append(buffer, static_cast<size_t>(n));
    } else if (waiting < 0 || platform::WaitChildProcess(child, 0, exitCode) == 1) {
      break;
    } else {
      platform::WaitChildActivity(*child, 100);
    }
  }
  return text;
}

TEST(Win32ProcessTest, JoinsOutputAndErrorAndReturnsTheExitCode) {
  platform::ChildProcess child;
  int error = 0;
  ASSERT_TRUE(platform::StartChildProcess("cmd.exe /c \"echo out& echo err>&2& exit 3\"", true,
                                          &child, &error))
      << error;
  int exitCode = -1;
  std::string text = Collect(&child, &exitCode);
  EXPECT_EQ(3, exitCode);
  EXPECT_EQ("out\r\nerr\r\n", text);
  EXPECT_EQ(-1, child.pid);
  EXPECT_TRUE(platform::CloseChildProcess(&child));
}

TEST(Win32ProcessTest, AMissingProgramIsRefusedWithItsCode) {
  platform::ChildProcess child;
  int error = 0;
  EXPECT_FALSE(platform::StartChildProcess("C:\\no\\such\\program.exe", true, &child, &error));
  EXPECT_TRUE(error == 2 || error == 3) << error;  // file or path not found
  EXPECT_EQ(-1, child.pid);
}

TEST(Win32ProcessTest, DestroyingEndsARunningChild) {
  long pid;
  {
    platform::ChildProcess child;
    int error = 0;
    ASSERT_TRUE(platform::StartChildProcess("cmd.exe /c \"for /l %i in (1,0,2) do rem\"", true,
                                            &child, &error));
    pid = child.pid;
    ASSERT_TRUE(platform::IsProcessRunning(pid));
  }
  EXPECT_FALSE(platform::IsProcessRunning(pid));
}

TEST(Win32ProcessTest, WaitingIsBoundedAndKillEnds) {
  platform::ChildProcess child;
  int error = 0;
  ASSERT_TRUE(platform::StartChildProcess("cmd.exe /c \"for /l %i in (1,0,2) do rem\"", false,
                                          &child, &error));
  int exitCode = 0;
  int64_t start = platform::MonotonicMs();
  EXPECT_EQ(0, platform::WaitChildProcess(&child, 200, &exitCode));
  EXPECT_GE(platform::MonotonicMs() - start, 150);
  EXPECT_TRUE(platform::KillChildProcess(child));
  EXPECT_EQ(1, platform::WaitChildProcess(&child, -1, &exitCode));
}

}  // namespace
