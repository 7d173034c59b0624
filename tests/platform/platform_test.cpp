#include "platform/platform.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "pdf/qpdf_document.h"
#include "platform/accounts.h"
#include "platform/profile.h"
#include "support/file_size_limit.h"
#include "support/forked_child.h"
#include "support/links.h"
#include "support/make_pdf.h"
#include "support/temp_dir.h"

namespace {

// The converted job (the source of the first copy) is private to its owner;
// an output is readable like any document unless its owner narrowed it.
// Links planted at the temporary names beside the target are never followed.
TEST(AtomicWriteTest, ReplacementHasTheOldTargetsPermissionsAndNoPlantedLinkIsFollowed) {
  struct {
    bool copy;  // CopyFileAtomically of the source, else WriteFileAtomically
    unsigned source, target, expected;  // target 0: none yet
  } cases[] = {{false, 0644, 0600, 0600}, {false, 0644, 0, 0644}, {true, 0644, 0600, 0600},
               {true, 0600, 0, 0644},     {true, 0666, 0, 0644},  {true, 0600, 0640, 0640}};
  mode_t old = umask(0);
  for (const auto& c : cases) {
    char trace[64];
    snprintf(trace, sizeof(trace), "%s %o %o", c.copy ? "copy" : "write", c.source, c.target);
    SCOPED_TRACE(trace);
    ScopedTempDir dir;
    std::string source = dir.Join("source"), target = dir.Join("target");
    std::string victim = dir.Join("victim"), missing = dir.Join("missing");
    WriteFileText(source, "new");
    WriteFileText(victim, "precious");
    PlantSiblingLinks(target, {victim, missing, victim, missing});
    chmod(source.c_str(), c.source);
    if (c.target) {
      WriteFileText(target, "old");
      chmod(target.c_str(), c.target);
    }
    EXPECT_TRUE(c.copy ? platform::CopyFileAtomically(source, target)
                       : platform::WriteFileAtomically(target, "new"));
    EXPECT_EQ(S_IFREG | c.expected, LinkStat(target).st_mode);
    EXPECT_EQ("new|precious", ReadFileText(target) + "|" + ReadFileText(victim));
    EXPECT_FALSE(platform::PathExists(missing));
  }
  umask(old);
}

// A rename may only publish data that is on the disk: every rename of a file
// comes after an fsync of it that no write followed.
std::string RenamesWithoutFsync(const std::vector<std::string>& events) {
  std::string problems;
  for (size_t i = 0; i < events.size(); ++i) {
    if (events[i].compare(0, 7, "rename ") != 0) continue;
    std::string file = events[i].substr(7, events[i].find(' ', 7) - 7);
    bool synced = false;
    for (size_t j = 0; j < i; ++j) {
      if (events[j] == "fsync " + file) synced = true;
      if (events[j] == "write " + file) synced = false;
    }
    if (!synced) problems += events[i] + "\n";
  }
  return problems;
}

TEST(AtomicWriteTest, EveryRenameFollowsAnFsyncOfTheSameFile) {
  ScopedTempDir dir;
  std::string ini = dir.Join("config.ini"), a = dir.Join("a.pdf"), b = dir.Join("b.pdf");
  MakeTextPdf(a, {"a"});
  MakeTextPdf(b, {"b"});
  const struct {
    const char* name;
    std::function<bool()> write;
  } cases[] = {
      {"settings",
       [&] { return platform::WritePrivateProfileStringA("S", "k", "v", ini.c_str()); }},
      {"copy", [&] { return platform::CopyFileAtomically(a, dir.Join("copy.pdf")); }},
      {"PDF",
       [&] {
         std::vector<std::string> messages;
         return ConcatenatePdfFiles({a, b}, dir.Join("out.pdf"), &messages);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> events;
    platform::SetFileEventRecorderForTesting(&events);
    bool written = c.write();
    platform::SetFileEventRecorderForTesting(nullptr);
    EXPECT_TRUE(written);
    // The rename itself is made durable: its folder is forced out last.
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(0u, events[events.size() - 2].compare(0, 7, "rename "));
    EXPECT_EQ("fsync " + dir.path(), events.back());
    EXPECT_EQ("", RenamesWithoutFsync(events));
  }
}

// Every file operation that returns a bool says why it failed.
TEST(FileErrorTest, FailuresInAMissingFolderSayNoSuchFile) {
  ScopedTempDir dir;
  std::string source = dir.Join("source"), missing = dir.Join("missing/x");
  WriteFileText(source, "data");
  std::string content, path;
  const struct {
    const char* name;
    std::function<bool(std::string* error)> call;
  } cases[] = {
      {"CopyFileAtomically to",
       [&](std::string* e) { return platform::CopyFileAtomically(source, missing, 0644, e); }},
      {"CopyFileAtomically from",
       [&](std::string* e) { return platform::CopyFileAtomically(missing, source, 0644, e); }},
      {"WriteFileAtomically",
       [&](std::string* e) { return platform::WriteFileAtomically(missing, "x", e); }},
      {"AppendToFile",
       [&](std::string* e) { return platform::AppendToFile(missing, "x", 0644, e); }},
      {"ReadWholeFile",
       [&](std::string* e) { return platform::ReadWholeFile(missing, &content, e); }},
      {"DeleteFile", [&](std::string* e) { return platform::DeleteFile(missing, e); }},
      {"CreateOneDirectory",
       [&](std::string* e) { return platform::CreateOneDirectory(missing, e); }},
      {"ReplaceFile", [&](std::string* e) { return platform::ReplaceFile(missing, source, e); }},
      {"SyncFileToDisk", [&](std::string* e) { return platform::SyncFileToDisk(missing, e); }},
      {"CreateUniqueTempFile",
       [&](std::string* e) {
         return platform::CreateUniqueTempFile(dir.Join("missing"), "fil", &path, e);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    EXPECT_FALSE(c.call(&error));
    EXPECT_EQ("No such file or directory", error);
  }
  EXPECT_EQ("data", ReadFileText(source));
}

// A write cut short (here by the file size limit, as a full disk would)
// gives the system's reason and leaves the old target and no temporary file.
TEST(FileErrorTest, WriteCutShortSaysFileTooLargeAndKeepsTheTarget) {
  ScopedTempDir dir;
  std::string source = dir.Join("source"), target = dir.Join("target");
  WriteFileText(source, std::string(100000, 's'));
  WriteFileText(target, "old");
  std::string seen = RunWithFileSizeLimit(4096, [&] {
    std::string copyError, writeError;
    bool copied = platform::CopyFileAtomically(source, target, 0644, &copyError);
    bool written = platform::WriteFileAtomically(target, std::string(100000, 'w'), &writeError);
    return (copied ? "copied" : copyError) + " / " + (written ? "written" : writeError);
  });
  EXPECT_EQ("File too large / File too large", seen);
  EXPECT_EQ("old", ReadFileText(target));
  EXPECT_EQ(2, std::distance(std::filesystem::directory_iterator(dir.path()),
                             std::filesystem::directory_iterator()));
}

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
