#include "pdf/process_runner.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "platform/process.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

std::string Collect(const std::string& command, int* result = nullptr) {
  std::string output;
  int r = NTSystemCommand2(command.c_str(), output);
  if (result) *result = r;
  return output;
}

// Processes whose parent is this test process, from /proc.
int CountOwnChildren() {
  int count = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator("/proc")) {
    std::string stat = ReadFileText(entry.path().string() + "/stat");
    size_t paren = stat.rfind(')');
    if (paren == std::string::npos) continue;
    std::istringstream rest(stat.substr(paren + 1));  // " <state> <ppid> ..."
    std::string state;
    int ppid = 0;
    if (rest >> state >> ppid && ppid == platform::ProcessId()) ++count;
  }
  return count;
}

bool WaitForFile(const std::string& path, int timeoutMs) {
  for (int waited = 0; waited < timeoutMs; waited += 20) {
    if (fs::exists(path)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return fs::exists(path);
}

TEST(NTSystemCommand2Test, JoinsBothStreamsInPipeOrder) {
  int result = 0;
  EXPECT_EQ("out1\nerr\nout2\n",
            Collect(R"(/bin/sh -c "echo out1; echo err 1>&2; echo out2")", &result));
  EXPECT_NE(0, result);
}

TEST(NTSystemCommand2Test, SilentChildGivesEmptyText) {
  int result = 0;
  EXPECT_EQ("", Collect("/bin/true", &result));
  EXPECT_NE(0, result);
}

TEST(NTSystemCommand2Test, CollectsOutputLargerThanThePipe) {
  std::string text = Collect(R"(/bin/sh -c "yes 0123456789 | head -c 200000")");
  std::string expected;
  while (expected.size() < 200000) expected += "0123456789\n";
  expected.resize(200000);
  ASSERT_EQ(200000u, text.size());
  EXPECT_TRUE(text == expected);  // not EXPECT_EQ: a 200 KB diff helps nobody
}

TEST(NTSystemCommand2Test, ChunkEndsAtZeroByte) {
  EXPECT_EQ("abc", Collect(R"(/bin/sh -c "printf 'abc\000def'")"));
}

// The child's end can be seen between an empty peek and its last write
// reaching the runner; that window is narrow, so the test repeats.
TEST(NTSystemCommand2Test, LastOutputBeforeExitIsKept) {
  for (int i = 0; i < 10; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(
        std::string(40, 'x') + "last",
        Collect(
            R"(/bin/sh -c "i=0; while [ $i -lt 40 ]; do printf x; i=$((i+1)); done; printf last")"));
  }
}

TEST(NTSystemCommand2Test, ReportsExitCode) {
  std::string output;
  int exitCode = 0;
  EXPECT_NE(0, NTSystemCommand2(R"(/bin/sh -c "echo x; exit 3")", output, &exitCode));
  EXPECT_EQ(3, exitCode);
  EXPECT_EQ("x\n", output);
}

TEST(NTSystemCommand2Test, MissingProgramLeavesTextAlone) {
  std::string output = "kept";
  int exitCode = 0;
  EXPECT_EQ(0, NTSystemCommand2("/nonexistent/tarvelin-no-such-tool -v", output, &exitCode));
  EXPECT_EQ("kept", output);
  EXPECT_EQ(-1, exitCode);
  EXPECT_EQ(0, NTSystemCommand2("", output));
  EXPECT_EQ("kept", output);
}

TEST(NTSystemCommand2Test, QuotedPathWithBlanks) {
  ScopedTempDir dir;
  std::string folder = dir.Join("dir with blanks");
  fs::create_directory(folder);
  std::string tool = folder + "/tool";
  WriteFileText(tool, "#!/bin/sh\nprintf '[%s]' \"$@\"\n");
  fs::permissions(tool, fs::perms::owner_all);
  EXPECT_EQ("[a b][c][]", Collect("\"" + tool + "\" \"a b\" c \"\""));
}

TEST(NTSystemCommand2Test, BareNameIsFoundInPath) {
  EXPECT_EQ("hi", Collect(R"(sh -c "printf hi")"));
}

TEST(NTSystemCommandTest, WaitReturnsExitCode) {
  EXPECT_EQ(7, NTSystemCommand(R"(/bin/sh -c "exit 7")", 1));
  EXPECT_EQ(0, NTSystemCommand("/bin/true", 1));
  EXPECT_EQ(128 + 9, NTSystemCommand(R"(/bin/sh -c "kill -9 $$")", 1));
}

TEST(NTSystemCommandTest, FailuresGiveMinusOne) {
  EXPECT_EQ(-1, NTSystemCommand(nullptr, 1));
  EXPECT_EQ(-1, NTSystemCommand("/nonexistent/tarvelin-no-such-tool", 1));
  EXPECT_EQ(-1, NTSystemCommand("/nonexistent/tarvelin-no-such-tool", 0));
  std::string longCommand = "/bin/true " + std::string(2038, 'x');
  EXPECT_EQ(2048u, longCommand.size());
  EXPECT_EQ(-1, NTSystemCommand(longCommand.c_str(), 1));
  longCommand.pop_back();
  EXPECT_EQ(0, NTSystemCommand(longCommand.c_str(), 1));
}

TEST(NTSystemCommandTest, WithoutWaitReturnsAtOnceAndLeavesNoChild) {
  ScopedTempDir dir;
  std::string done = dir.Join("done");
  EXPECT_EQ(0, NTSystemCommand(("/bin/sh -c \"sleep 1; echo ok > '" + done + "'\"").c_str(), 0));
  EXPECT_FALSE(fs::exists(done));
  EXPECT_EQ(0, CountOwnChildren());
  ASSERT_TRUE(WaitForFile(done, 10000));
}

TEST(ChildProcessTest, StartFailureGivesErrno) {
  platform::ChildProcess child;
  int error = 0;
  EXPECT_FALSE(platform::StartChildProcess("/nonexistent/tool", true, &child, &error));
  EXPECT_EQ(ENOENT, error);
  EXPECT_FALSE(platform::StartChildProcess("tarvelin-no-such-tool-in-path", true, &child, &error));
  EXPECT_EQ(ENOENT, error);
  ScopedTempDir dir;
  std::string plain = dir.Join("plain");
  WriteFileText(plain, "not a program\n");
  EXPECT_FALSE(platform::StartChildProcess(plain, false, &child, &error));
  EXPECT_EQ(EACCES, error);
  EXPECT_FALSE(platform::StartDetachedProcess(plain, &error));
  EXPECT_EQ(EACCES, error);
  EXPECT_EQ(-1, child.outputFd);
}

TEST(ChildProcessTest, StandardInputIsEmpty) {
  // Give this process a readable stdin, so an inherited one would show.
  ScopedTempDir dir;
  WriteFileText(dir.Join("input"), "parent input\n");
  ASSERT_TRUE(std::freopen(dir.Join("input").c_str(), "r", stdin));
  std::string text = Collect(R"(/bin/sh -c "cat; echo end")");
  std::freopen("/dev/null", "r", stdin);
  EXPECT_EQ("end\n", text);
}

}  // namespace
