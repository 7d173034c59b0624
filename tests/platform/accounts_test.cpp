// Accounts: becoming one for good, installing a root-only file.
#include "platform/accounts.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include "support/temp_dir.h"

namespace {

// Runs body in a forked child and returns its exit code (-1 on a signal).
template <typename Body>
int InChild(Body body) {
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Exit codes of the child: 0 all held, 1 the drop failed, 2 an id is wrong,
// 3 root came back, 4 still counted as the super-user.
TEST(AccountsTest, DropIsForGood) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  const passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nullptr, nobody);
  uid_t uid = nobody->pw_uid;
  gid_t gid = nobody->pw_gid;
  EXPECT_EQ(0, InChild([uid, gid] {
              std::string error;
              if (!platform::DropToAccount("nobody", &error)) return 1;
              uid_t r, e, s;
              gid_t rg, eg, sg;
              getresuid(&r, &e, &s);
              getresgid(&rg, &eg, &sg);
              if (r != uid || e != uid || s != uid || rg != gid || eg != gid || sg != gid) return 2;
              if (setuid(0) == 0 || setgid(0) == 0) return 3;
              return platform::IsSuperUser() ? 4 : 0;
            }));
}

class InstallFileCopyTest : public testing::Test {
 protected:
  void SetUp() override { WriteFileText(Source(), "backend program"); }
  std::string Source() const { return dir_.Join("source"); }
  std::string Target() const { return dir_.Join("target"); }
  bool Install(bool* changed) {
    std::string error;
    bool ok = platform::InstallFileCopy(Source(), Target(), 0700, changed, &error);
    EXPECT_TRUE(ok) << error;
    return ok;
  }
  struct stat Stat(const std::string& path) const {
    struct stat st {};
    lstat(path.c_str(), &st);
    return st;
  }

  ScopedTempDir dir_;
};

// A target of the wrong mode or content, or a link planted there, is
// replaced (what the link pointed to is untouched); a narrow umask does not
// narrow the mode. Installing the same again changes nothing (the installer's
// own test).
TEST_F(InstallFileCopyTest, WrongModeContentOrLinkIsReplaced) {
  std::string victim = dir_.Join("victim");
  WriteFileText(victim, "keep me");
  chmod(victim.c_str(), 0644);
  const struct {
    const char* what;
    std::function<void()> plant;
  } rows[] = {
      {"none", [] {}},
      {"mode",
       [&] {
         WriteFileText(Target(), "backend program");
         chmod(Target().c_str(), 0755);
       }},
      {"content", [&] { WriteFileText(Target(), "an older backend"); }},
      {"link", [&] { ASSERT_EQ(0, symlink(victim.c_str(), Target().c_str())); }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    std::filesystem::remove(Target());
    row.plant();
    mode_t oldMask = umask(0077);
    bool changed = false;
    bool installed = Install(&changed);
    umask(oldMask);
    EXPECT_TRUE(installed && changed);
    EXPECT_EQ(0100700u, Stat(Target()).st_mode);  // a plain file
    EXPECT_EQ("backend program", ReadFileText(Target()));
  }
  EXPECT_EQ("keep me", ReadFileText(victim));
  EXPECT_EQ(0644u, Stat(victim).st_mode & 07777);
}

}  // namespace
