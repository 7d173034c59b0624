// The CUPS backend quorvel, run as CUPS runs it: the built program, a
// registry store in a temporary folder, a recording script as the port's
// Command, and as root a made account as the job's owner.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/links.h"
#include "support/scoped_account.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "tools/tool_run.h"

namespace fs = std::filesystem;

namespace {

const std::string kBackend = TARVELIN_DIST_DIR "/quorvel";
const std::string kPortsKey = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Quorvel\\Ports";
const int kCancelJob = 5;

class QuorvelTest : public testing::Test {
 protected:
  void SetUp() override {
    // As root the backend becomes the owner, who must reach these folders.
    chmod(work_.path().c_str(), 0755);
    fs::create_directories(Home());
    fs::create_directories(work_.Join("calls"));
    if (IsRoot()) {
      account_ = std::make_unique<ScopedAccount>(Home());
      ASSERT_TRUE(account_->Ok());
      owner_ = account_->name();
      for (const std::string& folder : {Home(), work_.Join("calls")})
        ASSERT_EQ(0, chown(folder.c_str(), account_->uid(), account_->gid()));
    } else {
      owner_ = getpwuid(getuid())->pw_name;
    }
    authUid_ = std::to_string(OwnerUid());
    WriteFileText(JobFile(), kJob);
    SetPort("Quorvel2:", Recorder(work_.Join("bin")), "Quorvel2:");
  }
  std::string Home() const { return work_.Join("home"); }
  std::string SpoolFolder() const { return Home() + "/.cache/tarvelin/spool"; }
  std::string JobFile() const { return work_.Join("job.ps"); }
  std::string Calls() const { return ReadFileText(work_.Join("calls/argv")); }
  uid_t OwnerUid() const { return account_ ? account_->uid() : getuid(); }

  /// Writes the recording script into folder and returns its path.
  std::string Recorder(const std::string& folder) {
    fs::create_directories(folder);
    std::string script = folder + "/record";
    std::string calls = work_.Join("calls");
    WriteFileText(script,
                  "#!/bin/sh\n"
                  "{ id -u; echo \"$HOME|${XDG_CONFIG_HOME-unset}|${TMPDIR-unset}\"\n"
                  "  for a in \"$@\"; do echo \"$a\"; last=\"$a\"; done; } > '" +
                      calls + "/argv'\ncat \"$last\" > '" + calls + "/job'\necho recorded\n");
    chmod(script.c_str(), 0755);
    return script;
  }
  /// The words the command got, one a line.
  std::string Words() const {
    const std::string calls = Calls();
    const size_t second = calls.find('\n', calls.find('\n') + 1);
    return second == std::string::npos ? calls : calls.substr(second + 1);
  }
  void SetPort(const std::string& port, const std::string& command, const std::string& arguments) {
    SetRegistryValue(HKEY_LOCAL_MACHINE, kPortsKey + "\\" + port, "Command", command);
    SetRegistryValue(HKEY_LOCAL_MACHINE, kPortsKey + "\\" + port, "Arguments", arguments);
    SetRegistryValue(HKEY_LOCAL_MACHINE, kPortsKey + "\\" + port, "User", owner_);
  }
  RunResult Deliver(const std::string& owner, const std::string& uri = "quorvel:/Quorvel2%3A") {
    std::vector<std::string> env{"DEVICE_URI=" + uri, "HOME=" + Home()};
    // What cupsd gives its backends leads elsewhere than the owner's home.
    if (IsRoot()) {
      env = {env[0], "HOME=/var/spool/cups", "XDG_CONFIG_HOME=/etc/cups",
             "TMPDIR=/var/spool/cups/tmp"};
    }
    if (!authUid_.empty()) env.push_back("AUTH_UID=" + authUid_);
    return RunProgram(kBackend, {"42", owner, "Invoice", "1", "", JobFile()}, env);
  }

  ScopedTempDir work_;
  ScopedEnv registry_{"TARVELIN_REGISTRY_DIR", work_.Join("reg").c_str()};
  std::unique_ptr<ScopedAccount> account_;
  std::string owner_;
  std::string authUid_;  ///< the sender's user id CUPS vouches for, if any
};

TEST_F(QuorvelTest, CommandGetsTheArgumentsAndAPrivateSpoolFileAsTheOwner) {
  RunResult run = Deliver(owner_);
  EXPECT_EQ(kDelivered, run.status) << run.stderrText;
  std::string spool = SpoolFolder() + "/job42.ps";
  EXPECT_EQ("Quorvel2:\n" + spool + "\n", Words());
  // As root the owner's home, and nothing of cupsd's folders.
  const std::string env = Home() + (IsRoot() ? "|unset|unset\n" : "|");
  EXPECT_EQ(0u, Calls().find(std::to_string(OwnerUid()) + "\n" + env)) << Calls();
  EXPECT_EQ(kJob, ReadFileText(work_.Join("calls/job")));
  EXPECT_TRUE(Has(run.stderrText, "DEBUG: [command] recorded"));
  EXPECT_EQ(S_IFREG | 0600u, LinkStat(spool).st_mode);
  EXPECT_EQ(S_IFDIR | 0700u, LinkStat(SpoolFolder()).st_mode);
  for (const std::string& made : {spool, SpoolFolder()})
    EXPECT_EQ(OwnerUid(), LinkStat(made).st_uid);

  // The next job of the same id takes a new name; an own folder open to
  // others is closed again.
  chmod(SpoolFolder().c_str(), 0755);
  EXPECT_EQ(kDelivered, Deliver(owner_).status);
  EXPECT_EQ(kJob, ReadFileText(SpoolFolder() + "/job42-2.ps"));
  EXPECT_EQ(S_IFDIR | 0700u, LinkStat(SpoolFolder()).st_mode);

  // No shell sees the command: separators, substitutions and pipes in the
  // Command's path or in Arguments are words handed over as they are.
  std::string mark = work_.Join("mark");
  SetPort("Quorvel2:", Recorder(work_.Join("bin;x $(y) |z")),
          "; touch " + mark + "1 $(touch " + mark + "2) | touch " + mark + "3 `touch " + mark +
              "4` \"a b\"");
  EXPECT_EQ(kDelivered, Deliver(owner_).status);
  EXPECT_EQ(";\ntouch\n" + mark + "1\n$(touch\n" + mark + "2)\n|\ntouch\n" + mark + "3\n`touch\n" +
                mark + "4`\na b\n" + SpoolFolder() + "/job42-3.ps\n",
            Words());
  for (int i = 1; i <= 4; ++i) EXPECT_FALSE(fs::exists(mark + std::to_string(i))) << i;
}

// A job that cannot be delivered is kept (CUPS stops the queue with it at
// its head); one that is not the port owner's, as CUPS authenticated it, is
// cancelled so that the owner's queue runs on. Either way nothing runs and
// no file is left. A link planted at the spool folder, or a folder of
// another user (root) there, is never written through.
TEST_F(QuorvelTest, JobThatMustNotRunIsKeptOrCancelled) {
  const std::string owner = owner_, uid = authUid_, none = " ", victim = work_.Join("victim");
  fs::create_directories(victim);
  ASSERT_TRUE(!account_ || chown(victim.c_str(), account_->uid(), account_->gid()) == 0);
  struct Case {
    int status;
    std::string command, uri, portOwner, jobUser, authUid;  ///< "": the test's; " ": none
    const char* said;
    std::function<void()> plant = nullptr;  ///< what is put at the spool folder first
    bool rootOnly = false;
  } cases[] = {
      {kKeepJob, "", "quorvel:/Quorvel9%3A", "", "", "", "\"Quorvel9:\" is not configured"},
      {kKeepJob, "", "mfilemon:/Quorvel2%3A", "", "", "", "does not name a port"},
      {kKeepJob, "", "quorvel:/Quorvel2%3A%5CUser", "", "", "", "does not name a port"},
      {kKeepJob, none, "", "", "", "", "has no Command"},
      {kKeepJob, work_.Join("no-such-program"), "", "", "", "", "Cannot start the Command"},
      {kKeepJob, work_.Join("bin/\"record"), "", "", "", "", "cannot be passed as a program"},
      {kKeepJob, "", "", none, "", "", "names no owner"},
      {kCancelJob, "", "", "", "no-such-account-here", "", "prints only for"},
      {kCancelJob, "", "", "", "root", "0", "prints only for"},
      {kCancelJob, "", "", "root", "root", "0", "super-user"},
      {kCancelJob, "", "", "no-such-account-here", "no-such-account-here", "", "not a local"},
      {kCancelJob, "", "", "", "", none, "did not authenticate"},
      {kCancelJob, "", "", "", "", "0", "authenticated the job's sender as user id 0"},
      {kKeepJob, "", "", "", "", "", "symbolic link",
       [&] {
         fs::create_directories(SpoolFolder());
         fs::remove(SpoolFolder());
         fs::create_directory_symlink(victim, SpoolFolder());
       }},
      {kKeepJob, "", "", "", "", "", "belongs to the user id 0",
       [&] { fs::remove(SpoolFolder()), fs::create_directories(SpoolFolder()); }, true},
  };
  auto given = [&none](const std::string& value, const std::string& test) {
    return value.empty() ? test : value == none ? "" : value;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.said);
    if (c.rootOnly && !IsRoot()) continue;
    if (c.plant) c.plant();
    owner_ = given(c.portOwner, owner);
    SetPort("Quorvel2:", given(c.command, Recorder(work_.Join("bin"))), "Quorvel2:");
    authUid_ = given(c.authUid, uid);
    RunResult run = Deliver(given(c.jobUser, owner), given(c.uri, "quorvel:/Quorvel2%3A"));
    EXPECT_EQ(c.status, run.status);
    EXPECT_TRUE(Has(run.stderrText, "ERROR: "));
    EXPECT_TRUE(Has(run.stderrText, c.said));
    EXPECT_EQ("", Calls());
    EXPECT_TRUE(!fs::exists(SpoolFolder()) || fs::is_empty(SpoolFolder()));
  }
  EXPECT_TRUE(fs::is_empty(victim));
}

}  // namespace
