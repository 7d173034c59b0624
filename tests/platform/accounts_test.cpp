// Accounts: becoming one for good, installing a root-only file.
#include "platform/accounts.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "support/forked_child.h"
#include "support/link_stat.h"
#include "support/temp_dir.h"

namespace {

// In a child: 0 all held, 1 the drop failed, 2 an id is wrong, 3 root came
// back, 4 still counted as the super-user.
TEST(AccountsTest, DropIsForGood) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  const passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nullptr, nobody);
  const uid_t uid = nobody->pw_uid;
  const gid_t gid = nobody->pw_gid;
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

// A target of the wrong mode or content, or a link planted there, is
// replaced (what the link pointed to is untouched); a narrow umask does not
// narrow the mode.
TEST(InstallFileCopyTest, WrongModeContentOrLinkIsReplaced) {
  ScopedTempDir dir;
  const std::string source = dir.Join("source"), target = dir.Join("target");
  const std::string victim = dir.Join("victim");
  WriteFileText(source, "backend program");
  WriteFileText(victim, "keep me");
  chmod(victim.c_str(), 0644);
  const struct {
    const char* what;
    std::function<void()> plant;
  } rows[] = {
      {"none", [] {}},
      {"mode",
       [&] {
         WriteFileText(target, "backend program");
         chmod(target.c_str(), 0755);
       }},
      {"content", [&] { WriteFileText(target, "an older backend"); }},
      {"link", [&] { ASSERT_EQ(0, symlink(victim.c_str(), target.c_str())); }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    std::filesystem::remove(target);
    row.plant();
    mode_t oldMask = umask(0077);
    bool changed = false;
    std::string error;
    EXPECT_TRUE(platform::InstallFileCopy(source, target, 0700, &changed, &error)) << error;
    umask(oldMask);
    EXPECT_TRUE(changed);
    EXPECT_EQ(S_IFREG | 0700u, LinkStat(target).st_mode);  // a plain file
    EXPECT_EQ("backend program", ReadFileText(target));
  }
  EXPECT_EQ("keep me", ReadFileText(victim));
  EXPECT_EQ(S_IFREG | 0644u, LinkStat(victim).st_mode);
}

}  // namespace
