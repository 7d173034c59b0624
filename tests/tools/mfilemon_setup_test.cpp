// The installer of the port monitor, run from a copy of the install folder
// with CUPS's server-bin folder and the registry store in a temporary folder.
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "tools/tool_run.h"

namespace fs = std::filesystem;

namespace {

const char kMonitorKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Multi File Port Monitor";

class MfilemonSetupTest : public testing::Test {
 protected:
  void SetUp() override {
    // Reachable by another account, for the run that is not root's.
    chmod(work_.path().c_str(), 0755);
    fs::create_directories(work_.Join("dist"));
    fs::create_directories(Backends());
    for (const char* name : {"mfilemon", "mfilemon-setup.exe"}) {
      fs::copy_file(std::string(TARVELIN_DIST_DIR) + "/" + name, work_.Join("dist/") + name);
    }
  }
  std::string Backends() const { return work_.Join("serverbin/backend"); }
  std::string Installed() const { return Backends() + "/mfilemon"; }
  std::string Hive() const { return work_.Join("reg/HKEY_LOCAL_MACHINE.reg"); }
  RunResult Setup(ToolLaunch launch = {}) {
    if (launch.args.empty()) launch.args = {"/VERYSILENT"};
    launch.env.push_back("CUPS_SERVERBIN=" + work_.Join("serverbin"));
    return RunTool(work_.Join("dist/mfilemon-setup.exe"), launch);
  }
  struct stat Stat(const std::string& path) const {
    struct stat st {};
    lstat(path.c_str(), &st);
    return st;
  }

  ScopedTempDir work_;
  ScopedEnv registry_{"TARVELIN_REGISTRY_DIR", work_.Join("reg").c_str()};
};

// The Windows installer's switches in any letter case install the backend
// (root's, private) and the monitor key; a second run changes nothing.
TEST_F(MfilemonSetupTest, InstallsTheBackendAndTheMonitorKeyOnce) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  ToolLaunch launch;
  launch.args = {"/verysilent", "/SuppressMsgBoxes", "/NORESTART"};
  RunResult run = Setup(launch);
  EXPECT_EQ(0, run.status) << run.stdoutText;
  struct stat backend = Stat(Installed()), hive = Stat(Hive());
  EXPECT_TRUE(S_ISREG(backend.st_mode));
  EXPECT_EQ(0700u, backend.st_mode & 07777);
  EXPECT_EQ(0u, backend.st_uid);
  EXPECT_EQ(ReadFileText(work_.Join("dist/mfilemon")), ReadFileText(Installed()));
  EXPECT_NE(std::string::npos,
            ReadFileText(Hive()).find("[HKEY_LOCAL_MACHINE\\" + std::string(kMonitorKey) +
                                      "]\n\"Driver\"=\"mfilemon.dll\"\n"));
  std::vector<std::string> names;  // no temporary file is left beside it
  for (const auto& entry : fs::directory_iterator(Backends())) {
    names.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(std::vector<std::string>{"mfilemon"}, names);

  SleepMs(20);
  EXPECT_EQ(0, Setup().status);
  EXPECT_EQ(backend.st_ino, Stat(Installed()).st_ino);
  EXPECT_EQ(backend.st_mtim.tv_nsec, Stat(Installed()).st_mtim.tv_nsec);
  EXPECT_EQ(hive.st_ino, Stat(Hive()).st_ino);
  EXPECT_EQ(hive.st_mtim.tv_nsec, Stat(Hive()).st_mtim.tv_nsec);
}

// A run that cannot install says why and changes nothing.
TEST_F(MfilemonSetupTest, RunThatCannotInstallSaysWhyAndChangesNothing) {
  const passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nullptr, nobody);
  const uid_t uid = nobody->pw_uid;
  const gid_t gid = nobody->pw_gid;
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
    if (row.withoutFolder && geteuid() != 0) continue;
    ToolLaunch launch;
    launch.args = row.args;
    if (row.asNobody && geteuid() == 0) {
      launch.inChild = [uid, gid] {
        return setgroups(0, nullptr) == 0 && setgid(gid) == 0 && setuid(uid) == 0;
      };
    }
    if (row.withoutFolder) fs::remove(Backends());
    RunResult run = Setup(launch);
    if (row.status < 0) {
      EXPECT_NE(0, run.status);
      EXPECT_NE(126, run.status);
    } else {
      EXPECT_EQ(row.status, run.status);
    }
    EXPECT_NE(std::string::npos, run.stdoutText.find(row.said)) << run.stdoutText;
    EXPECT_TRUE(!fs::exists(Backends()) || fs::is_empty(Backends()));
    EXPECT_EQ(!row.withoutFolder, fs::exists(Backends()));
    EXPECT_FALSE(fs::exists(Hive()));
  }
}

}  // namespace
