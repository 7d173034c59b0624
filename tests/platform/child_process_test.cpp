#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <string>

#include "platform/platform.h"
#include "platform/process.h"

namespace {

/// True when pid is no child of this process any more (reaped, not a zombie).
bool Reaped(long pid) {
  int status = 0;
  return waitpid(static_cast<pid_t>(pid), &status, WNOHANG) == -1 && errno == ECHILD;
}

bool IsOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }

platform::ChildProcess Start(const char* commandLine) {
  platform::ChildProcess child;
  int error = 0;
  EXPECT_TRUE(platform::StartChildProcess(commandLine, true, &child, &error)) << error;
  return child;
}

TEST(ChildProcessOwnershipTest, DestroyingEndsAndReapsARunningChild) {
  auto start = std::chrono::steady_clock::now();
  long pid;
  int outputFd, writeFd;
  {
    platform::ChildProcess child = Start("/bin/sleep 30");
    pid = child.pid;
    outputFd = child.outputFd;
    writeFd = child.writeFd;
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(IsOpen(outputFd));
  }
  EXPECT_TRUE(Reaped(pid));
  EXPECT_FALSE(IsOpen(outputFd));
  EXPECT_FALSE(IsOpen(writeFd));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST(ChildProcessOwnershipTest, AnEndedChildIsReaped) {
  long pid;
  {
    platform::ChildProcess child = Start("/bin/true");
    pid = child.pid;
    for (int i = 0; i < 1000 && platform::IsProcessRunning(pid); ++i) {
      platform::SleepMilliseconds(5);
    }
  }
  EXPECT_TRUE(Reaped(pid));
}

}  // namespace
