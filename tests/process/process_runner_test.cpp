#include "process/process_runner.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "platform/process.h"
#include "support/forked_child.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// True when this test process has no child, running or unreaped.
bool NoChildLeft() { return waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD; }

TEST(NTSystemCommand2Test, CollectsBothStreamsAndTheExitCode) {
  ScopedTempDir dir;
  fs::create_directory(dir.Join("dir with blanks"));
  std::string tool = dir.Join("dir with blanks/tool");
  WriteFileText(tool, "#!/bin/sh\nprintf '[%s]' \"$@\"\n");
  fs::permissions(tool, fs::perms::owner_all);
  // Give this process a readable stdin, so a child inheriting it would show.
  WriteFileText(dir.Join("input"), "parent input\n");
  ASSERT_TRUE(std::freopen(dir.Join("input").c_str(), "r", stdin));
  std::string large;  // more than the pipe holds
  for (int i = 0; i < 20000; ++i) large += "0123456789\n";
  struct {
    std::string command, output;
    int exitCode;
  } cases[] = {
      {R"(/bin/sh -c "echo out1; echo err 1>&2; echo out2")", "out1\nerr\nout2\n", 0},
      {"/bin/true", "", 0},
      {R"(/bin/sh -c "echo x; exit 3")", "x\n", 3},
      {R"(/bin/sh -c "printf 'abc\000def'")", "abc", 0},  // a chunk ends at a zero byte
      {R"(sh -c "printf hi")", "hi", 0},                  // a bare name is looked up in PATH
      {"\"" + tool + "\" \"a b\" c \"\"", "[a b][c][]", 0},
      {R"(/bin/sh -c "cat; echo end")", "end\n", 0},  // standard input is empty
      {R"(/bin/sh -c "yes 0123456789 | head -n 20000")", large, 0},
  };
  for (const auto& c : cases) {
    std::string output;
    int exitCode = -5;
    EXPECT_NE(0, NTSystemCommand2(c.command.c_str(), output, &exitCode)) << c.command;
    // Not EXPECT_EQ: a diff of the large output helps nobody.
    EXPECT_TRUE(c.output == output) << c.command << ": " << output.substr(0, 100);
    EXPECT_EQ(c.exitCode, exitCode) << c.command;
  }
  std::freopen("/dev/null", "r", stdin);
}

// A child that prints for ever is ended after its time, and only the first
// part of what it printed is kept.
TEST(NTSystemCommand2Test, LimitsEndAChildAndCapItsOutput) {
  ChildLimits limits;
  limits.timeoutSeconds = 1;
  limits.outputLimit = 1000;
  std::string output;
  int exitCode = 0;
  EXPECT_NE(0, NTSystemCommand2("/usr/bin/yes", output, &exitCode, &limits));
  EXPECT_EQ(-1, exitCode);
  EXPECT_EQ("y\ny\ny\n", output.substr(0, 6));
  EXPECT_LT(output.size(), 1100u);
  EXPECT_TRUE(Has(output, " more bytes of output dropped]"));
  EXPECT_TRUE(NoChildLeft());
}

// A held lock handed to a child stays held while the child runs, even when
// the parent has let go of it.
TEST(NTSystemCommand2Test, InheritedLockOutlivesTheParentsHold) {
  ScopedTempDir dir;
  std::string lockPath = dir.Join("out.pdf.lock");
  platform::ChildProcess child;
  {
    platform::FileLock lock(lockPath);
    ASSERT_TRUE(lock.Held());
    int error = 0;
    ASSERT_TRUE(
        platform::StartChildProcess("/bin/sleep 2", false, &child, &error, lock.NativeHandle()));
  }
  EXPECT_EQ(0, InChild([&] { return platform::FileLock(lockPath, 0).Held() ? 1 : 0; }))
      << "the lock was free";
  int exitCode = -1;
  EXPECT_EQ(1, platform::WaitChildProcess(&child, -1, &exitCode));
  EXPECT_TRUE(platform::FileLock(lockPath, 0).Held());
}

// The child's end can be seen between an empty peek and its last write
// reaching the runner; that window is narrow, so the test repeats.
TEST(NTSystemCommand2Test, LastOutputBeforeExitIsKept) {
  const char* command =
      R"(/bin/sh -c "i=0; while [ $i -lt 40 ]; do printf x; i=$((i+1)); done; printf last")";
  for (int i = 0; i < 10; ++i) {
    std::string output;
    EXPECT_NE(0, NTSystemCommand2(command, output));
    EXPECT_EQ(std::string(40, 'x') + "last", output) << i;
  }
}

TEST(NTSystemCommandTest, WaitReturnsExitCodeOrMinusOneAndNoWaitLeavesNoChild) {
  EXPECT_EQ(7, NTSystemCommand(R"(/bin/sh -c "exit 7")", 1));
  EXPECT_EQ(0, NTSystemCommand("/bin/true", 1));
  EXPECT_EQ(128 + 9, NTSystemCommand(R"(/bin/sh -c "kill -9 $$")", 1));
  EXPECT_EQ(-1, NTSystemCommand(nullptr, 1));
  EXPECT_EQ(-1, NTSystemCommand("/nonexistent/tarvelin-no-such-tool", 1));
  EXPECT_EQ(-1, NTSystemCommand("/nonexistent/tarvelin-no-such-tool", 0));
  std::string longCommand = "/bin/true " + std::string(2038, 'x');  // 2048 bytes: refused
  EXPECT_EQ(-1, NTSystemCommand(longCommand.c_str(), 1));
  longCommand.pop_back();
  EXPECT_EQ(0, NTSystemCommand(longCommand.c_str(), 1));

  // Without waiting it returns at once and leaves no child.
  ScopedTempDir dir;
  std::string done = dir.Join("done");
  EXPECT_EQ(0, NTSystemCommand(("/bin/sh -c \"sleep 1; echo ok > '" + done + "'\"").c_str(), 0));
  EXPECT_FALSE(fs::exists(done));
  EXPECT_TRUE(NoChildLeft());
  for (int i = 0; i < 500 && !fs::exists(done); ++i) platform::SleepMilliseconds(20);
  EXPECT_TRUE(fs::exists(done));
}

// A program that cannot start gives its errno, and the runner leaves the
// caller's text alone.
TEST(ChildProcessTest, StartFailureGivesErrno) {
  ScopedTempDir dir;
  WriteFileText(dir.Join("plain"), "not a program\n");
  platform::ChildProcess child;
  int error = 0;
  EXPECT_FALSE(platform::StartChildProcess("tarvelin-no-such-tool-in-path", true, &child, &error));
  EXPECT_EQ(ENOENT, error);
  EXPECT_FALSE(platform::StartChildProcess(dir.Join("plain"), false, &child, &error));
  EXPECT_EQ(EACCES, error);
  EXPECT_FALSE(platform::StartDetachedProcess(dir.Join("plain"), &error));
  EXPECT_EQ(EACCES, error);
  std::string output = "kept";
  int exitCode = 0;
  EXPECT_EQ(0, NTSystemCommand2("/nonexistent/tarvelin-no-such-tool -v", output, &exitCode));
  EXPECT_EQ(0, NTSystemCommand2("", output));
  EXPECT_EQ("kept|-1", output + "|" + std::to_string(exitCode));
}

// Destroying a child's record ends a running child, reaps it and closes its
// pipe; one that ended by itself is reaped too.
TEST(ChildProcessTest, DestroyingTheRecordEndsAndReapsTheChild) {
  auto open = [](int fd) { return fcntl(fd, F_GETFD) != -1; };
  const int64_t start = platform::MonotonicMs();
  for (const auto& [command, ends] :
       {std::make_pair("/bin/sleep 30", false), {"/bin/true", true}}) {
    SCOPED_TRACE(command);
    long pid;
    int outputFd, writeFd;
    {
      platform::ChildProcess child;
      int error = 0;
      ASSERT_TRUE(platform::StartChildProcess(command, true, &child, &error)) << error;
      pid = child.pid;
      outputFd = child.outputFd;
      writeFd = child.writeFd;
      ASSERT_GT(pid, 0);
      EXPECT_TRUE(open(outputFd));
      for (int i = 0; i < 1000 && ends && platform::IsProcessRunning(pid); ++i)
        platform::SleepMilliseconds(5);
    }
    EXPECT_TRUE(NoChildLeft()) << pid;
    EXPECT_FALSE(open(outputFd) || open(writeFd));
  }
  EXPECT_LT(platform::MonotonicMs() - start, 10000);
}

}  // namespace
