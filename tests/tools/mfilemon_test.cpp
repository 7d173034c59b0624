// The CUPS backend mfilemon, run as CUPS runs it: the built program, a
// registry store in a temporary folder, the job on standard input or named
// as the last argument, real files and real commands.
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/links.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "tools/tool_run.h"

namespace fs = std::filesystem;

namespace {

const std::string kBackend = TARVELIN_DIST_DIR "/mfilemon";
const std::string kMonitorKey =
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Multi File Port Monitor";
uid_t UserId(const char* account) {
  const passwd* entry = getpwnam(account);
  return entry ? entry->pw_uid : static_cast<uid_t>(-1);
}

// The names in a folder and below it, relative to it, sorted.
std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::recursive_directory_iterator(folder, ec))
    names.push_back(fs::relative(entry.path(), folder));
  std::sort(names.begin(), names.end());
  return names;
}

class MfilemonTest : public testing::Test {
 protected:
  void SetUp() override {
    // As root the backend becomes another account, which must reach the
    // folders it writes into.
    chmod(work_.path().c_str(), 0755);
    for (const std::string& folder : kFolders) fs::create_directories(Out() + "/" + folder);
    fs::create_directories(Dest());
    ShareWith(IsRoot() ? "lp" : nullptr);
    WriteFileText(JobFile(), kJob);
    Defaults();
  }
  void Defaults() {
    SetValue("OutputPath", Out());
    SetValue("FilePattern", "QuorvelFile%i.ps");
    SetValue("UserCommand", "");
    SetValue("WaitTermination", 1u);
    SetValue("WaitTimeout", 300u);
    SetValue("User", "");
  }
  std::string Out() const { return work_.Join("out"); }
  std::string Dest() const { return work_.Join("dest"); }
  std::string JobFile() const { return work_.Join("job.ps"); }
  std::string OutFile(int n) const { return Out() + "/QuorvelFile" + std::to_string(n) + ".ps"; }

  /// Gives the output folders to the account (nullptr: keeps them).
  void ShareWith(const char* account) {
    if (!account) return;
    uid_t uid = UserId(account);
    ASSERT_NE(static_cast<uid_t>(-1), uid);
    for (const std::string& folder : {Out(), Dest(), Out() + "/sub", Out() + "/out put"})
      ASSERT_EQ(0, chown(folder.c_str(), uid, static_cast<gid_t>(-1))) << folder;
  }
  template <typename T>
  void SetValue(const char* name, const T& value, const std::string& port = "QuorvelPort") {
    SetRegistryValue(HKEY_LOCAL_MACHINE, kMonitorKey + "\\" + port, name, value);
  }
  /// Runs the backend for one job, as CUPS would, the job on standard input.
  RunResult Deliver(ToolLaunch launch = {}, const std::string& port = "QuorvelPort") {
    if (launch.args.empty()) launch.args = {"42", "alice", "Invoice", "1", ""};
    if (launch.stdinPath == "/dev/null") launch.stdinPath = JobFile();
    launch.env.push_back("DEVICE_URI=mfilemon:/" + port);
    return RunTool(kBackend, launch);
  }

  // Folders inside the OutputPath that no job may reach.
  static inline const std::vector<std::string> kFolders{"out put", "sub"};
  ScopedTempDir work_;
  ScopedEnv registry_{"TARVELIN_REGISTRY_DIR", work_.Join("reg").c_str()};
};

// A job that cannot be delivered is kept, with the reason in CUPS's log, and
// nothing is written outside the OutputPath. A file already written stays for
// whoever mends the port; a job path the command line would split is given
// up before any of the job is written; an account that cannot be taken is
// never replaced by root; a job larger than the room left (the file size
// limit stands in for a full disk) leaves no partial file.
TEST_F(MfilemonTest, JobThatCannotBeDeliveredIsKept) {
  const std::string copy = Dest() + "/copy.ps", outside = "does not name a file inside";
  using Settings = std::vector<std::pair<const char*, std::string>>;
  struct Case {
    Settings set;  ///< the port's values changed; none: a port without settings
    std::string said;
    bool fileStays = false;
    rlim_t room = 0;  ///< a job of four times this size, written under this file size limit
  } cases[] = {
      {{}, "NoSuchPort"},
      {{{"OutputPath", work_.Join("missing")}}, "No such file"},
      {{{"OutputPath", "out"}}, "no absolute OutputPath"},
      {{{"OutputPath", Out() + "/out put"}, {"UserCommand", "/bin/cp %f \"" + copy + "\""}},
       "cannot be passed as one word"},
      {{{"UserCommand", "\"" + work_.Join("no-such-program") + "\" \"%f\""}}, "Cannot start", true},
      {{{"User", "no-such-account-here"}}, "no-such-account-here"},
      {{{"User", "root"}}, "\"root\""},
      {{{"FilePattern", "../escape%i.ps"}}, outside},
      {{{"FilePattern", "sub/QuorvelFile%i.ps"}}, outside},
      {{{"FilePattern", "/tmp/escape%i.ps"}}, outside},
      {{{"FilePattern", "..\\escape%i.ps"}}, outside},
      {{{"FilePattern", ".."}}, outside},
      {{{"FilePattern", "."}}, outside},
      {{{"FilePattern", ""}}, "FilePattern"},
      {{{"UserCommand", ""}}, "partial file is removed", false, 64 * 1024},
  };
  const std::vector<std::string> before = Names(work_.path());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.said + (c.set.empty() ? "" : " " + c.set.back().second));
    if (!c.set.empty() && c.set[0].first == std::string("User") && !IsRoot()) continue;
    for (const auto& [name, value] : c.set) SetValue(name, value);
    WriteFileText(JobFile(), c.room ? std::string(4 * c.room, 'x') : kJob);
    auto sizeLimit = [&c] {  // the row's file size limit, if any
      struct rlimit limit = {c.room, c.room};
      return !c.room ||
             (signal(SIGXFSZ, SIG_IGN) != SIG_ERR && setrlimit(RLIMIT_FSIZE, &limit) == 0);
    };
    RunResult run =
        Deliver({{}, "/dev/null", {}, sizeLimit}, c.set.empty() ? "NoSuchPort" : "QuorvelPort");
    Defaults();
    EXPECT_EQ(kKeepJob, run.status);
    EXPECT_TRUE(Has(run.stderrText, "ERROR: "));
    EXPECT_TRUE(Has(run.stderrText, c.said));
    EXPECT_EQ(c.fileStays ? kJob : "", ReadFileText(OutFile(1)));
    fs::remove(OutFile(1));
    EXPECT_EQ(before, Names(work_.path()));  // the folders inside the OutputPath empty, no copy
    EXPECT_FALSE(fs::exists("/tmp/escape1.ps"));
  }
}

// Once the UserCommand has the job's path the job is delivered and its file
// stays, whatever the command does; past WaitTimeout it is ended, and
// without WaitTermination it is not awaited. No shell sees the command:
// separators, substitutions and pipes are words handed to the program.
TEST_F(MfilemonTest, CommandThatGotTheJobPathDeliveredIt) {
  // A duration no other process has, so the child can be looked for.
  const std::string sleep = "sleep 30." + std::to_string(getpid());
  const std::string copy = "/bin/cp \"%f\" \"" + Dest() + "/copy.ps\"";
  const std::string mark = work_.Join("mark"), shell = "; touch " + mark + "1 $(touch " + mark +
                                                       "2) | touch " + mark + "3 `touch " + mark +
                                                       "4` ";
  struct Case {
    std::string command;
    uint32_t waitTermination, waitTimeout;
    std::string said;
  } cases[] = {
      {copy, 1, 300, "INFO: "},
      {copy, 0, 300, ""},
      {"/bin/false \"%f\"", 1, 300, "ERROR: The UserCommand ended with exit code 1"},
      {"/bin/" + sleep, 1, 1, "did not end within 1 s"},
      {"/bin/echo " + shell + "\"%f\"", 1, 300, shell + OutFile(1)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command + " " + std::to_string(c.waitTermination));
    SetValue("UserCommand", c.command);
    SetValue("WaitTermination", c.waitTermination);
    SetValue("WaitTimeout", c.waitTimeout);
    RunResult run = Deliver();
    EXPECT_EQ(kDelivered, run.status) << run.stderrText;
    EXPECT_TRUE(Has(run.stderrText, c.said));
    EXPECT_EQ(kJob, ReadFileText(OutFile(1)));
    for (int i = 0; c.command == copy && i < 500 && ReadFileText(Dest() + "/copy.ps") != kJob; ++i)
      SleepMs(10);
    EXPECT_EQ(c.command == copy ? kJob : "", ReadFileText(Dest() + "/copy.ps"));
    EXPECT_EQ(-1, FindProcess("sleep", sleep.substr(6)));
    fs::remove(OutFile(1));
    fs::remove(Dest() + "/copy.ps");
  }
  for (int i = 1; i <= 4; ++i) EXPECT_FALSE(fs::exists(mark + std::to_string(i))) << i;
}

// The job from standard input takes the first free number, private to the
// port's account; a link planted at a name is a taken name: skipped, never
// written through.
TEST_F(MfilemonTest, JobTakesTheFirstFreeNumberAndNoPlantedLink) {
  std::string victim = work_.Join("victim");
  WriteFileText(victim, "keep me");
  chmod(victim.c_str(), 0666);
  WriteFileText(OutFile(1), "older job 1");
  ASSERT_EQ(0, symlink(victim.c_str(), OutFile(2).c_str()));
  ASSERT_EQ(0, symlink(work_.Join("dangling").c_str(), OutFile(3).c_str()));
  RunResult run = Deliver();
  EXPECT_EQ(kDelivered, run.status) << run.stderrText;
  EXPECT_EQ("keep me", ReadFileText(victim));
  EXPECT_FALSE(fs::exists(work_.Join("dangling")));
  EXPECT_EQ("older job 1", ReadFileText(OutFile(1)));
  EXPECT_EQ(kJob, ReadFileText(OutFile(4)));
  EXPECT_EQ(S_IFREG | 0600u, LinkStat(OutFile(4)).st_mode);
}

// Without arguments the ports are listed for CUPS, one a line; a wrong
// count of arguments shows the usage. A job named as the last argument is
// read, on a port whose name CUPS escapes; one that cannot be read to its
// end (a folder) is kept, not delivered cut.
TEST_F(MfilemonTest, PortsAreListedAndAJobNamedAsLastArgumentIsRead) {
  SetValue("OutputPath", Out(), "Other Port");
  SetValue("FilePattern", "other%i.ps", "Other Port");
  RunResult run = RunTool(kBackend, {});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(
      "file mfilemon:/Other%20Port \"Unknown\" \"Multi File Port Monitor Other Port\"\n"
      "file mfilemon:/QuorvelPort \"Unknown\" \"Multi File Port Monitor QuorvelPort\"\n",
      run.stdoutText);
  run = RunProgram(kBackend, {"42", "alice"});
  EXPECT_EQ(1, run.status);
  EXPECT_TRUE(Has(run.stderrText, "Usage:"));

  ToolLaunch launch{{"42", "alice", "Invoice", "1", "", JobFile()}, "/dev/null", {}, nullptr};
  run = Deliver(launch, "Other%20Port");
  EXPECT_EQ(kDelivered, run.status) << run.stderrText;
  EXPECT_EQ(kJob, ReadFileText(Out() + "/other1.ps"));
  launch.args.back() = Dest();
  run = Deliver(launch, "Other%20Port");
  EXPECT_EQ(kKeepJob, run.status);
  EXPECT_TRUE(Has(run.stderrText, "Cannot read the job"));
}

// As root the job and the command belong to the port's account, else lp.
TEST_F(MfilemonTest, RootBecomesThePortsAccount) {
  if (!IsRoot()) GTEST_SKIP() << "needs root";
  SetValue("UserCommand", "/usr/bin/touch \"%f.ran\"");
  for (const std::string account : {"nobody", ""}) {
    const std::string expected = account.empty() ? "lp" : account;
    SCOPED_TRACE(expected);
    SetValue("User", account);
    ShareWith(expected.c_str());
    RunResult run = Deliver();
    EXPECT_EQ(kDelivered, run.status) << run.stderrText;
    EXPECT_EQ(S_IFREG | 0600u, LinkStat(OutFile(1)).st_mode);
    EXPECT_EQ(UserId(expected.c_str()), LinkStat(OutFile(1)).st_uid);
    EXPECT_EQ(UserId(expected.c_str()), LinkStat(OutFile(1) + ".ran").st_uid);
    fs::remove(OutFile(1));
    fs::remove(OutFile(1) + ".ran");
  }
}

// The installer of the port monitor, run from a copy of the install folder
// with CUPS's server-bin folder and the registry store in a temporary folder.
class MfilemonSetupTest : public testing::Test {
 protected:
  void SetUp() override {
    // Reachable by another account, for the run that is not root's.
    chmod(work_.path().c_str(), 0755);
    fs::create_directories(work_.Join("dist"));
    fs::create_directories(Backends());
    for (const char* name : {"mfilemon", "mfilemon-setup.exe"})
      fs::copy_file(std::string(TARVELIN_DIST_DIR) + "/" + name, work_.Join("dist/") + name);
  }
  std::string Backends() const { return work_.Join("serverbin/backend"); }
  std::string Installed() const { return Backends() + "/mfilemon"; }
  std::string Hive() const { return work_.Join("reg/HKEY_LOCAL_MACHINE.reg"); }
  RunResult Setup(ToolLaunch launch = {}) {
    if (launch.args.empty()) launch.args = {"/VERYSILENT"};
    launch.env.push_back("CUPS_SERVERBIN=" + work_.Join("serverbin"));
    return RunTool(work_.Join("dist/mfilemon-setup.exe"), launch);
  }

  ScopedTempDir work_;
  ScopedEnv registry_{"TARVELIN_REGISTRY_DIR", work_.Join("reg").c_str()};
};

// The Windows installer's switches in any letter case install the backend
// (root's, private) and the monitor key; a second run changes nothing.
TEST_F(MfilemonSetupTest, InstallsTheBackendAndTheMonitorKeyOnce) {
  if (!IsRoot()) GTEST_SKIP() << "needs root";
  RunResult run = Setup({{"/verysilent", "/SuppressMsgBoxes", "/NORESTART"}, "/dev/null", {}, {}});
  EXPECT_EQ(0, run.status) << run.stdoutText;
  struct stat backend = LinkStat(Installed()), hive = LinkStat(Hive());
  EXPECT_EQ(S_IFREG | 0700u, backend.st_mode);
  EXPECT_EQ(0u, backend.st_uid);
  EXPECT_EQ(ReadFileText(work_.Join("dist/mfilemon")), ReadFileText(Installed()));
  EXPECT_TRUE(Has(ReadFileText(Hive()),
                  "[HKEY_LOCAL_MACHINE\\" + kMonitorKey + "]\n\"Driver\"=\"mfilemon.dll\"\n"));
  EXPECT_EQ(std::vector<std::string>{"mfilemon"}, Names(Backends()));  // no temporary file left

  SleepMs(20);
  EXPECT_EQ(0, Setup().status);
  EXPECT_EQ(backend.st_ino, LinkStat(Installed()).st_ino);
  EXPECT_EQ(backend.st_mtim.tv_nsec, LinkStat(Installed()).st_mtim.tv_nsec);
  EXPECT_EQ(hive.st_ino, LinkStat(Hive()).st_ino);
  EXPECT_EQ(hive.st_mtim.tv_nsec, LinkStat(Hive()).st_mtim.tv_nsec);
}

// A run that cannot install says why and changes nothing.
TEST_F(MfilemonSetupTest, RunThatCannotInstallSaysWhyAndChangesNothing) {
  const struct {
    const char* said;
    std::vector<std::string> args;
    bool asNobody, withoutFolder;
    int status;  // -1: any failure but 126
  } rows[] = {
      {"only root", {}, true, false, -1},
      {"usage:", {"/VERYSILENT", "/DIR=elsewhere"}, false, false, 2},
      {"serverbin/backend", {}, false, true, 1},  // the backend folder is missing
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.said);
    if (row.withoutFolder && !IsRoot()) continue;
    auto asNobody = [nobody = row.asNobody && IsRoot()] {
      return !nobody || (setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0);
    };
    if (row.withoutFolder) fs::remove(Backends());
    const std::vector<std::string> before = Names(work_.path());
    RunResult run = Setup({row.args, "/dev/null", {}, asNobody});
    EXPECT_TRUE(row.status < 0 ? run.status != 0 && run.status != 126 : run.status == row.status)
        << run.status;
    EXPECT_TRUE(Has(run.stdoutText, row.said));
    EXPECT_EQ(before, Names(work_.path()));  // no backend, no registry store
  }
}

}  // namespace
